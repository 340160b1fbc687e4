#include <gtest/gtest.h>

#include <cmath>

#include "joints/constraints.h"
#include "math/vec3.h"
#include "test_util.h"

using namespace orv;
using orvtest::Outcome;

namespace {

// Runs model text, the step controlled on the energy terms named.
Outcome analyse(const std::string& text, const std::string& energy = "PTR") {
  return orvtest::runText(text, orvtest::runSettings(energy));
}

// A link on a pivot 2 m above the origin (so the potential energy the step
// control compares is well away from zero), cg at `cg` (1 m beside the pivot).
std::string pendulum(const std::string& joint, const char* time = "0 0.01 2", const char* cg = "1 2 0") {
  return std::string("parameter_info P L 1 %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n"
                     "link link_cg 2 0.1 0.1 0.1 0 0 0 0 0 0 %\n"
                     "frame_info F base_cg base 0 2 0 0 0 0\npivot_base base 0 2 0 0 0 0\n"
                     "link_cg link ") + cg + " 0 0 0\npivot_link link 0 2 0 0 0 0 %\n"
         "joint_info J on fix_base ground base_cg non\n" + joint + " %\n"
         "gravity G on y- %\nsimulation_time T " + time + " %\n";
}

constexpr auto npos = std::string::npos;

}  // namespace

TEST(Analysis, ThrownBodyFollowsTheParabola) {
  const Outcome r = analyse("parameter_info P %\nbody_info B ball cg 1 1 1 1 1 5 0 0 0 0 %\n"
                            "frame_info F cg ball 0 0 0 0 0 0 %\ngravity G on y- %\nsimulation_time T 0 0.05 1 %\n");
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  ASSERT_EQ(r.h.anime_num, 21);
  for (int ti = 0; ti < 21; ++ti) {  // without contact every step is d_time long
    const double t = r.h.p_time[ti], *Y = r.state(ti);
    EXPECT_NEAR(t, 0.05 * ti, 1e-12);
    EXPECT_NEAR(Y[0], t, 1e-9);
    EXPECT_NEAR(Y[1], 5 * t - 0.5 * 9.81 * t * t, 1e-9);
    EXPECT_NEAR(Y[4], 5 - 9.81 * t, 1e-9);
  }
  // Progress every tenth sample, from sample 10 on.
  for (const char* line : {"ti=10\n", "Time=1.000000e+00, h=5.000000e-02, ti=20\n", "   anime_num=21\n   ti=21\n"})
    EXPECT_NE(r.console.find(line), npos) << line;
  EXPECT_EQ(r.console.find("ti=5\n"), npos);
}

TEST(Analysis, FreeRotationKeepsEnergyAndMomentum) {
  // Principal moments 1, 2, 3. About the third axis the rate stays and the attitude turns
  // uniformly; near the second it flips over and over. Energy and |L| stay either way.
  const char* const runs[][2] = {{"0 0 2", "0 0.01 1"}, {"0.01 2 0.01", "0 0.002 30"}};
  for (const auto& run : runs) {
    const Outcome r = analyse(std::string("parameter_info P %\nbody_info B top cg 1 1 2 3 0 0 0 ") + run[0] +
                                  " %\nframe_info F cg top 0 0 0 0 0 0 %\nsimulation_time T " + run[1] + " %\n",
                              "");
    ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
    double E0 = 0, L0 = 0, prev = 1, w[3];
    int flips = 0;
    for (int ti = 0; ti < r.h.anime_num; ++ti) {
      const double* Y = r.state(ti);
      double Jw[3], A[9], l[3];
      omegaFromEulerRates(w, &Y[6], &Y[10]);
      for (int k = 0; k < 3; ++k) Jw[k] = (k + 1) * w[k];
      mat3FromEulerParameters(A, &Y[6]);
      mat3MulVec(l, A, Jw);
      const double E = 0.5 * vec3Dot(w, Jw), L = std::sqrt(vec3Dot(l, l));
      if (ti == 0) E0 = E, L0 = L;
      ASSERT_NEAR(E / E0, 1.0, 1e-6) << run[0] << " at " << ti;
      ASSERT_NEAR(L / L0, 1.0, 1e-6) << run[0] << " at " << ti;
      flips += w[1] * prev < 0;
      prev = w[1];
    }
    if (&run == &runs[1]) {
      EXPECT_GE(flips, 3);
    } else {  // at t = 1
      EXPECT_NEAR(r.state(100)[6], std::cos(1.0), 1e-8);
      EXPECT_NEAR(r.state(100)[9], std::sin(1.0), 1e-8);
      EXPECT_NEAR(w[2], 2.0, 1e-8);
    }
  }
}

TEST(Analysis, SpherePendulumSwingsAndHangs) {
  // Released horizontally: energy kept, pivot held.
  const Outcome r = analyse(pendulum("on pin sphere pivot_link pivot_base"));
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  const Settings s = orvtest::runSettings("PTR");
  const double E0 = totalEnergy(r.m, s, r.h, r.state(0));
  double lowest = 0;
  for (int ti = 1; ti < r.h.anime_num; ++ti) {
    const double* Y = r.state(ti);
    EXPECT_NEAR(totalEnergy(r.m, s, r.h, Y) / E0, 1.0, 1e-3) << ti;
    // The link's pivot stays at the origin: cg at (1 + rx, ry) is 1 away.
    EXPECT_NEAR(std::hypot(1 + Y[3], Y[4]), 1.0, 1e-4) << ti;
    EXPECT_LT(r.h.p_C_const[ti * 2 + 1], 1e-4);
    lowest = std::min(lowest, Y[4]);
  }
  EXPECT_NEAR(lowest, -1.0, 2e-3);

  // Hanging at rest: the reaction on the link balances its weight, and the
  // ground joint reports six zeros whatever its multipliers.
  const Outcome hang = analyse(pendulum("on pin sphere pivot_link pivot_base", "0 0.01 0.2", "0 1 0"));
  ASSERT_EQ(hang.status, AnalysisStatus::Completed) << hang.message;
  const double* f = &hang.h.p_F_const[10 * 12];
  for (int k = 0; k < 6; ++k) EXPECT_EQ(f[k], 0.0);
  EXPECT_NEAR(f[6], 0.0, 1e-9);
  EXPECT_NEAR(f[7], 2 * 9.81, 1e-6);
  EXPECT_NEAR(hang.state(20)[4], 0.0, 1e-9);
}

TEST(Analysis, FixedPairMovesAsOneBody) {
  const Outcome r = analyse("parameter_info P %\n"
                            "body_info B a a_cg 1 1 1 1 1 0 0 0 0 0 b b_cg 3 1 1 1 1 0 0 0 0 0 %\n"
                            "frame_info F a_cg a 0 0 0 0 0 0 b_cg b 1 0 0 0 0 0 weld a 0.5 0 0 0 0 0\n"
                            "weld_b b 0.5 0 0 0 0 0 %\njoint_info J on w fix weld weld_b %\n"
                            "gravity G on y- %\nsimulation_time T 0 0.01 0.5 %\n",
                            "TR");
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  // Free fall of the pair: the same vertical motion, the joint held and carrying no weight.
  EXPECT_NEAR(r.state(50)[1], r.state(50)[4], 1e-6);
  EXPECT_NEAR(r.h.p_C_const[50], 0.0, 1e-5);
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(r.h.p_F_const[50 * 6 + k], 0.0, 1e-6) << k;
}

TEST(Analysis, SingleSampleRefusalsAndFailures) {
  const Outcome one = analyse(pendulum("on pin sphere pivot_link pivot_base", "1 0.01 1"));
  ASSERT_EQ(one.status, AnalysisStatus::Completed) << one.message;
  EXPECT_EQ(one.h.anime_num, 1);
  EXPECT_EQ(one.h.p_time[0], 1.0);

  const Outcome refused = analyse(pendulum("on pin sphere pivot_link nowhere"));
  EXPECT_EQ(refused.status, AnalysisStatus::Refused);
  EXPECT_NE(refused.message.find("Joint pin: j local coordinate nowhere"), npos) << refused.message;

  const Outcome twice = analyse(pendulum("on twice ground base_cg non"));
  EXPECT_EQ(twice.status, AnalysisStatus::Completed);
  EXPECT_EQ(twice.message.rfind("Redundant constraints: 6 rows dropped\n", 0), 0u) << twice.message;
  EXPECT_NE(twice.console.find("  joint twice (ground), row 1 of 6\n"), npos);

  // A force that stops being a number after the start cannot be balanced:
  // the run stops at once and keeps the initial sample.
  std::string bad = pendulum("on pin sphere pivot_link pivot_base");
  bad.insert(bad.find("gravity"), "force_info F on bad force6 link_cg pivot_base pivot_base sqrt(0-time) 0 0 0 0 0 %\n");
  const Outcome r = analyse(bad);
  EXPECT_EQ(r.status, AnalysisStatus::Failed);
  EXPECT_NE(r.message.find("cannot be solved at t="), npos);
  EXPECT_EQ(r.h.anime_num, 1);
  EXPECT_EQ(r.h.analysis_finished, 1);
}

TEST(Constraints, GroundRowsAndSampleRows) {
  Model m;
  m.start_time = 0, m.d_time = 0.1;
  // A time's sample row is the nearest one.
  EXPECT_EQ(sampleRow(m, 0.049), 0);
  EXPECT_EQ(sampleRow(m, 0.05), 1);
  EXPECT_EQ(sampleRow(m, 0.149), 1);

  // A ground joint on body 1, moved by 0.3: unit rows wherever it is, the move as violation.
  m.bodies.resize(2), m.frames.resize(1), m.joints.resize(1);
  m.frames[0].body = 1;
  m.joints[0].type = "ground", m.joints[0].i_lc = 0;
  resolveTypesAndAxes(m);
  Histories h;
  h.A.assign(18, 0.0), h.omega.assign(6, 0.0);
  mat3Identity(&h.A[0]), mat3Identity(&h.A[9]);
  std::vector<double> Y(28, 0.0);
  Y[12] = Y[16] = 1.0, Y[3] = 0.3;
  ConstraintRows rows;
  ASSERT_TRUE(evaluateJoint(m, h, Y.data(), 0.0, 0, rows));
  ASSERT_EQ(rows.nrows, 6);
  EXPECT_EQ(rows.bi, 1);
  for (int e = 0; e < 6; ++e)
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(rows.Bri[e][c], e == c ? 1.0 : 0.0);
      EXPECT_EQ(rows.Bpi[e][c], e == c + 3 ? 1.0 : 0.0);
    }
  EXPECT_NEAR(rows.violation, 0.3, 1e-12);
}

TEST(Analysis, ContactWithoutAStepCoefficientStillAdvances) {
  std::string model = orvtest::readFile(std::string(ORVALDYN_EXAMPLES) + "/contact_drop.txt");
  model = model.substr(0, model.find("simulation_time")) + "simulation_time T 0 0.001 0.3 %\n";
  Settings s = orvtest::runSettings("PTR");
  s.contact_time_step_coefficient = 0.0;  // would retry a contact step at h = 0 forever
  const Outcome r = orvtest::runText(model, s);
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  EXPECT_EQ(r.h.anime_num, 301);
  EXPECT_GT(r.h.cont_time_index.size(), 0u) << "the cube reached the plate";
  EXPECT_NE(r.console.find("contact_time_step_coefficient is not positive"), npos);
}
