// Every shipped example run with the shipped settings: where its samples lie,
// what its results must agree with, and that the thread count changes none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "math/vec3.h"
#include "test_util.h"

using namespace orv;
using orvtest::Outcome;

TEST(Examples, SamplesLieOnTheirTimes) {
  int models = 0;
  for (const auto& e : std::filesystem::directory_iterator(ORVALDYN_EXAMPLES)) {
    if (e.path().extension() != ".txt") continue;
    const std::string file = e.path().filename().string();
    SCOPED_TRACE(file);
    ++models;
    const Outcome& r = orvtest::exampleRun(file);
    ASSERT_TRUE(r.status == AnalysisStatus::Completed && r.h.anime_num == r.m.sample_num)
        << r.message;
    const double D = r.m.d_time;
    for (int ti = 0; ti < r.h.anime_num; ++ti) {
      const double want = r.m.start_time + ti * D;
      ASSERT_NEAR(r.h.p_time[ti], want, 1e-12 * std::max(std::fabs(want), D)) << ti;
    }
    EXPECT_NEAR(r.h.p_time[r.h.anime_num - 1], r.m.end_time, 1e-12 * r.m.end_time);
    if (file == "contact_drop.txt") {  // the cube has come to rest on the plate, which carries it
      const int last = r.h.anime_num - 1, first = r.h.stl_cont_ti_st[last];
      double lift = 0.0;
      for (int k = first; k < first + r.h.stl_cont_ti_num[last]; ++k)
        lift += r.h.cont_value[3 * k + 1];
      EXPECT_NEAR(lift, 9.81, 0.01 * 9.81);
    }
    // The tilted arm's bearing: moment w^2 |Jxy| and force, as docs/model-file.md works out.
    if (file == "tilted_rod.txt")
      for (int ti = 0; ti < r.h.anime_num; ++ti) {
        ASSERT_NEAR(r.out(ti, 0), 0.76883216589, 1e-8) << ti;
        ASSERT_NEAR(r.out(ti, 4), 29.5642112947, 1e-6) << ti;
      }
  }
  EXPECT_GE(models, 10);
}

TEST(Examples, FirstSampleIsTheConsistentStart) {
  // four_bar.txt: the crank starts at rest in the file and is driven at
  // omega; the stored start turns already, and the stored reactions are the
  // ones the b_force channel shows.
  const Outcome& r = orvtest::exampleRun("four_bar.txt");
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  const int nb = r.m.body_num(), nj = r.m.joint_num();
  for (int ti : {0, 1, r.h.anime_num - 1}) {
    const double* Y = r.state(ti);
    double w[3];
    omegaFromEulerRates(w, &Y[6 * nb + 4], &Y[10 * nb + 4]);  // body 1: the crank
    EXPECT_NEAR(w[2], 6.2831853, 1e-9) << ti;
    const double* F = &r.h.p_F_const[static_cast<size_t>(ti) * 6 * nj + 6 * 3];  // joint b
    EXPECT_NEAR(r.out(ti, 3), vec3Norm(F[0], F[1], F[2]), 1e-12) << ti;
    EXPECT_GT(r.out(ti, 3), 0.1) << ti;
  }
}

TEST(Examples, ContactRunStartingLateLandsOnTheSameSamples) {
  // contact_drop.txt started at 0 and at 1e5 s (or -1): the same samples,
  // each at start + i d_time, though contact shortens the steps. (At 1e5 s a
  // contact step of 1e-4 s is known to 1.5e-7 of itself only, and a corner
  // that lands right at a step's end may get its stiction anchor a step
  // later: 3.4e-5 apart at most.)
  const std::string text = orvtest::readFile(std::string(ORVALDYN_EXAMPLES) + "/contact_drop.txt");
  const size_t at = text.find("simulation_time");
  auto from = [&](double t0) {
    return orvtest::runText(text.substr(0, at) + "simulation_time T " + std::to_string(t0) +
                                " 0.001 " + std::to_string(t0 + 0.35) + " %\n",
                            orvtest::exampleSettings());
  };
  const Outcome early = from(0);
  ASSERT_TRUE(early.h.anime_num == 351 && !early.h.cont_time_index.empty()) << early.message;
  for (const double t0 : {100000.0, -1.0}) {
    const Outcome late = from(t0);
    ASSERT_EQ(late.h.anime_num, 351) << t0 << late.message;
    for (int ti = 0; ti < 351; ++ti) {
      ASSERT_NEAR(late.h.p_time[ti], t0 + ti * 0.001, 1e-12 * std::fabs(t0)) << t0 << " " << ti;
      for (int k = 0; k < 28; ++k)
        ASSERT_NEAR(late.state(ti)[k], early.state(ti)[k],
                    1e-4 * std::max(1.0, std::fabs(early.state(ti)[k])))
            << ti << " " << k;
    }
  }
}

// contact_group.txt on 1 and 2 threads (its pairs searched in parallel): the
// same histories, to the bit.
TEST(Examples, ContactGroupRunIsTheSameOnAnyThreadCount) {
  Settings one = orvtest::exampleSettings(), two = one;
  one.N_THREADS = 1, two.N_THREADS = 2;
  const std::string path = std::string(ORVALDYN_EXAMPLES) + "/contact_group.txt";
  const Outcome a = orvtest::runFile(path, one), b = orvtest::runFile(path, two);
  ASSERT_EQ(a.status, AnalysisStatus::Completed) << a.message;
  EXPECT_GT(a.h.cont_value.size(), 0u);
  EXPECT_TRUE(b.status == a.status && b.h.p_YYY == a.h.p_YYY &&
              b.h.cont_position == a.h.cont_position && b.h.cont_value == a.h.cont_value);
}

// Steps per sample k store what the run storing every step stores at every
// k-th step, to the bit: with contact (steps shortened and grown again), a
// driven motion with reactions, and force elements. 7 divides none of the
// spans, so the last few steps are not run.
TEST(Examples, StepsPerSampleStoreEveryKthSampleToTheBit) {
  const int k = 7;
  for (const char* file : {"contact_drop.txt", "four_bar.txt", "spring_mass.txt"}) {
    SCOPED_TRACE(file);
    const Outcome& all = orvtest::exampleRun(file);
    std::string text = orvtest::readFile(std::string(ORVALDYN_EXAMPLES) + "/" + file);
    const size_t at = text.find('%', text.find("simulation_time"));
    const Outcome some =
        orvtest::runText(text.insert(at, std::to_string(k) + " "), orvtest::exampleSettings());
    ASSERT_EQ(some.status, AnalysisStatus::Completed) << some.message;
    const int n = some.h.anime_num;
    ASSERT_EQ(n, (all.h.anime_num - 1) / k + 1);
    const Model& m = all.m;
    const std::pair<std::vector<double> Histories::*, size_t> rows[] = {
        {&Histories::p_YYY, 14 * m.body_num()},
        {&Histories::p_output, m.output_num()},
        {&Histories::p_F_const, 6 * m.joint_num()},
        {&Histories::p_F_force, 6 * m.force_num()},
        {&Histories::p_C_const, m.joint_num() + m.motion_num()}};
    auto contacts = [](const Outcome& r, int ti) {
      const auto first = r.h.cont_value.begin() + 3 * r.h.stl_cont_ti_st[ti];
      return std::vector<double>(first, first + 3 * r.h.stl_cont_ti_num[ti]);
    };
    for (int ti = 0; ti < n; ++ti) {
      ASSERT_EQ(some.h.p_time[ti], all.h.p_time[ti * k]);
      for (const auto& [v, w] : rows)
        ASSERT_TRUE(std::equal((some.h.*v).begin() + ti * w, (some.h.*v).begin() + (ti + 1) * w,
                               (all.h.*v).begin() + ti * k * w))
            << ti;
      ASSERT_EQ(contacts(some, ti), contacts(all, ti * k)) << ti;
    }
    EXPECT_TRUE(std::string(file) != "contact_drop.txt" || !some.h.cont_value.empty());
  }
}
