#include <gtest/gtest.h>

#include <cmath>

#include "joints/constraints.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "solver/analysis.h"
#include "solver/dynamics.h"
#include "solver/vec3.h"
#include "test_util.h"

using namespace orv;
using orvtest::ConsoleCapture;

namespace {

Settings settings(const char* energy = "PTR") {
  Settings s;
  std::string e = energy;
  s.energy_flag[0] = e.find('P') != std::string::npos;
  s.energy_flag[1] = e.find('T') != std::string::npos;
  s.energy_flag[2] = e.find('R') != std::string::npos;
  s.minimum_limit_energy = 1e-12;
  s.Energy_variation = 1e-3;
  s.contact_time_step_coefficient = 0.1;
  return s;
}

struct RunResult {
  AnalysisStatus status;
  std::string message;
  std::string console;
};

// Reads `model` (a model file text) and runs it without pauses; the result
// file goes to a temporary directory.
RunResult analyse(const std::string& model, Model& m, Histories& h, const Settings& s = settings()) {
  std::string dir = orvtest::makeTempDir();
  orvtest::writeFile(dir + "/model.txt", model);
  RunResult r;
  ConsoleCapture con;
  ReadStatus rs = readModelFile(dir + "/model.txt", s, m, h, r.message);
  EXPECT_EQ(rs, ReadStatus::Ok) << r.message << con.text();
  AnalysisOptions opt;
  opt.pauses = false;
  opt.resultDir = dir;
  r.status = runAnalysis(m, s, h, r.message, opt);
  r.console = con.text();
  return r;
}

const double* state(const Histories& h, const Model& m, int ti) {
  return &h.p_YYY[static_cast<size_t>(ti) * 14 * m.body_num()];
}

// A ground body and a link on a pivot 2 m above the origin (so the potential
// energy the step control compares is well away from zero); the link's
// centre of gravity starts at `cg` (default: 1 m beside the pivot).
std::string pendulum(const std::string& joint, const char* time = "0 0.01 2",
                     const char* cg = "1 2 0") {
  return std::string(
             "parameter_info P L 1 %\n"
             "body_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n"
             "link link_cg 2 0.1 0.1 0.1 0 0 0 0 0 0 %\n"
             "frame_info F base_cg base 0 2 0 0 0 0\n"
             "pivot_base base 0 2 0 0 0 0\n"
             "link_cg link ") + cg + " 0 0 0\n"
         "pivot_link link 0 2 0 0 0 0 %\n"
         "joint_info J on fix_base ground base_cg non\n" +
         joint +
         " %\n"
         "gravity G on y- %\n"
         "simulation_time T " + time + " %\n";
}

}  // namespace

TEST(Analysis, ThrownBodyFollowsTheParabola) {
  Model m;
  Histories h;
  RunResult r = analyse(
      "parameter_info P %\n"
      "body_info B ball cg 1 1 1 1 1 5 0 0 0 0 %\n"
      "frame_info F cg ball 0 0 0 0 0 0 %\n"
      "gravity G on y- %\n"
      "simulation_time T 0 0.05 1 %\n",
      m, h);
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  ASSERT_EQ(h.anime_num, 21);
  for (int ti = 0; ti < 21; ++ti) {
    const double t = h.p_time[ti];
    EXPECT_NEAR(t, 0.05 * ti, 1e-12);
    if (ti == 0) continue;
    const double* Y = state(h, m, ti);
    EXPECT_NEAR(Y[0], t, 1e-9);
    EXPECT_NEAR(Y[1], 5 * t - 0.5 * 9.81 * t * t, 1e-9);
    EXPECT_NEAR(Y[4], 5 - 9.81 * t, 1e-9);
  }
  // Progress every tenth sample, from sample 10 on.
  EXPECT_NE(r.console.find("ti=10\n"), std::string::npos);
  EXPECT_NE(r.console.find("ti=20\n"), std::string::npos);
  EXPECT_EQ(r.console.find("ti=5\n"), std::string::npos);
  EXPECT_NE(r.console.find("Time=1.000000e+00, h=5.000000e-02, ti=20\n"), std::string::npos);
  EXPECT_NE(r.console.find("   anime_num=21\n   ti=21\n"), std::string::npos);
}

TEST(Analysis, FreeRotationKeepsEnergyAndMomentum) {
  // About a principal axis the rate stays and the attitude turns uniformly.
  {
    Model m;
    Histories h;
    RunResult r = analyse(
        "parameter_info P %\n"
        "body_info B top cg 1 1 2 3 0 0 0 0 0 2 %\n"
        "frame_info F cg top 0 0 0 0 0 0 %\n"
        "simulation_time T 0 0.01 1 %\n",
        m, h, settings(""));
    ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
    const double* Y = state(h, m, 100);
    EXPECT_NEAR(Y[6], std::cos(1.0), 1e-8);
    EXPECT_NEAR(Y[9], std::sin(1.0), 1e-8);
    double w[3];
    omegaFromEulerRates(w, &Y[6], &Y[10]);
    EXPECT_NEAR(w[2], 2.0, 1e-8);
  }
  // Near the intermediate axis it flips over and over; energy and the size of
  // the angular momentum stay.
  Model m;
  Histories h;
  RunResult r = analyse(
      "parameter_info P %\n"
      "body_info B tumbler cg 1 1 2 3 0 0 0 0.01 2 0.01 %\n"
      "frame_info F cg tumbler 0 0 0 0 0 0 %\n"
      "simulation_time T 0 0.002 30 %\n",
      m, h, settings(""));
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  auto invariants = [&](int ti, double& E, double& L) {
    const double* Y = state(h, m, ti);
    double w[3], A[9], Jw[3], l[3];
    omegaFromEulerRates(w, &Y[6], &Y[10]);
    const double J[9] = {1, 0, 0, 0, 2, 0, 0, 0, 3};
    mat3MulVec(Jw, J, w);
    E = 0.5 * vec3Dot(w, Jw);
    mat3FromEulerParameters(A, &Y[6]);
    mat3MulVec(l, A, Jw);
    L = std::sqrt(vec3Dot(l, l));
  };
  double E0, L0;
  invariants(0, E0, L0);
  int flips = 0;
  double prev = 1;
  for (int ti = 1; ti < h.anime_num; ++ti) {
    double E, L;
    invariants(ti, E, L);
    ASSERT_NEAR(E / E0, 1.0, 1e-6) << ti;
    ASSERT_NEAR(L / L0, 1.0, 1e-6) << ti;
    double w[3];
    omegaFromEulerRates(w, &state(h, m, ti)[6], &state(h, m, ti)[10]);
    if (w[1] * prev < 0) ++flips;
    prev = w[1];
  }
  EXPECT_GE(flips, 3);
}

TEST(Analysis, SpherePendulumSwingsAndHangs) {
  // Released horizontally: energy kept, pivot held.
  Model m;
  Histories h;
  RunResult r = analyse(pendulum("on pin sphere pivot_link pivot_base"), m, h);
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  const Settings s = settings();
  const double E0 = totalEnergy(m, s, h, state(h, m, 0));
  double lowest = 0;
  for (int ti = 1; ti < h.anime_num; ++ti) {
    const double* Y = state(h, m, ti);
    EXPECT_NEAR(totalEnergy(m, s, h, Y) / E0, 1.0, 1e-3) << ti;
    // The link's pivot stays at the origin: cg at (1 + rx, ry) is 1 away.
    EXPECT_NEAR(std::hypot(1 + Y[3], Y[4]), 1.0, 1e-4) << ti;
    lowest = std::min(lowest, Y[4]);
    EXPECT_LT(h.p_C_const[ti * 2 + 1], 1e-4);
  }
  EXPECT_NEAR(lowest, -1.0, 2e-3);

  // Hanging at rest: the reaction on the link balances its weight.
  Model m2;
  Histories h2;
  r = analyse(pendulum("on pin sphere pivot_link pivot_base", "0 0.01 0.2", "0 1 0"), m2, h2);
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  const double* f = &h2.p_F_const[10 * 12 + 6];
  EXPECT_NEAR(f[0], 0.0, 1e-9);
  EXPECT_NEAR(f[1], 2 * 9.81, 1e-6);
  // The ground joint reports six zeros whatever its multipliers.
  for (int k = 0; k < 6; ++k) EXPECT_EQ(h2.p_F_const[10 * 12 + k], 0.0);
  EXPECT_NEAR(state(h2, m2, 20)[4], 0.0, 1e-9);
}

TEST(Analysis, FixedPairMovesAsOneBody) {
  Model m;
  Histories h;
  RunResult r = analyse(
      "parameter_info P %\n"
      "body_info B a a_cg 1 1 1 1 1 0 0 0 0 0 b b_cg 3 1 1 1 1 0 0 0 0 0 %\n"
      "frame_info F a_cg a 0 0 0 0 0 0 b_cg b 1 0 0 0 0 0 weld a 0.5 0 0 0 0 0\n"
      "weld_b b 0.5 0 0 0 0 0 %\n"
      "joint_info J on w fix weld weld_b %\n"
      "gravity G on y- %\n"
      "simulation_time T 0 0.01 0.5 %\n",
      m, h, settings("TR"));
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  // Free fall of the pair: the same vertical motion, and the joint carries no weight.
  const double* Y = state(h, m, 50);
  EXPECT_NEAR(Y[1], Y[4], 1e-6);
  EXPECT_NEAR(h.p_C_const[50], 0.0, 1e-5);
}

TEST(Analysis, SingleSampleAndRefusals) {
  Model m;
  Histories h;
  RunResult r = analyse(pendulum("on pin sphere pivot_link pivot_base", "1 0.01 1"), m, h);
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  EXPECT_EQ(h.anime_num, 1);
  EXPECT_EQ(h.p_time[0], 1.0);
  EXPECT_EQ(r.console.find("Time=1.000000e+00, h="), std::string::npos);

  r = analyse(pendulum("on pin sphere pivot_link nowhere"), m, h);
  EXPECT_EQ(r.status, AnalysisStatus::Refused);
  EXPECT_NE(r.message.find("Joint pin: j local coordinate nowhere"), std::string::npos);

  std::string model = pendulum("on pin revolution pivot_link pivot_base");
  model.replace(model.find("gravity"), 0, "motion_info M on spin X pin vel 1 %\n");
  r = analyse(model, m, h);
  EXPECT_EQ(r.status, AnalysisStatus::Refused);
  EXPECT_NE(r.message.find("Motion spin: type X is not supported"), std::string::npos);
}

TEST(Analysis, RepeatedRowsAreLeftOutAndAFailedSolveStopsTheRun) {
  Model m;
  Histories h;
  RunResult r = analyse(pendulum("on twice ground base_cg non"), m, h);
  EXPECT_EQ(r.status, AnalysisStatus::Completed);
  EXPECT_EQ(r.message.rfind("Redundant constraints: 6 rows dropped\n", 0), 0u) << r.message;
  EXPECT_NE(r.console.find("  joint twice (ground), row 1 of 6\n"), std::string::npos);

  // A force that is not a number cannot be balanced: the run stops at once
  // and keeps the initial sample.
  std::string model = pendulum("on pin sphere pivot_link pivot_base");
  model.replace(model.find("gravity"), 0,
                "force_info F on bad force6 link_cg pivot_base pivot_base sqrt(0-1) 0 0 0 0 0 %\n");
  r = analyse(model, m, h);
  EXPECT_EQ(r.status, AnalysisStatus::Failed);
  EXPECT_NE(r.message.find("cannot be solved at t="), std::string::npos);
  EXPECT_EQ(h.anime_num, 1);
  EXPECT_EQ(h.analysis_finished, 1);
}

TEST(Constraints, GroundRowsAndSampleRows) {
  Model m;
  m.start_time = 0;
  m.d_time = 0.1;
  EXPECT_EQ(sampleRow(m, 0.049), 0);
  EXPECT_EQ(sampleRow(m, 0.05), 1);
  EXPECT_EQ(sampleRow(m, 0.149), 1);

  m.bodies.resize(2);
  m.frames.resize(1);
  m.frames[0].body = 1;
  Joint g;
  g.type = "ground";
  g.i_lc = 0;
  m.joints = {g};
  Histories h;
  std::vector<double> Y(28, 0.0);
  Y[12] = Y[16] = 1.0;
  Y[3] = 0.3;  // body 1 has moved: the rows do not care
  h.A.assign(18, 0.0);
  h.omega.assign(6, 0.0);
  mat3Identity(&h.A[0]);
  mat3Identity(&h.A[9]);
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
  for (size_t at = model.find("meshes/"); at != std::string::npos; at = model.find("meshes/", at + 60))
    model.replace(at, 7, std::string(ORVALDYN_EXAMPLES) + "/meshes/");
  model = model.substr(0, model.find("simulation_time")) + "simulation_time T 0 0.001 0.3 %\n";
  Settings s = settings("PTR");
  s.contact_time_step_coefficient = 0.0;
  for (const char* c : {"gray", "red", "blue", "green", "silver", "orange", "brown", "white"})
    s.colors.push_back(Color{c, {1, 1, 1}});
  Model m;
  Histories h;
  RunResult r = analyse(model, m, h, s);
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  EXPECT_EQ(h.anime_num, 301);
  EXPECT_GT(h.cont_time_index.size(), 0u) << "the cube reached the plate";
  EXPECT_NE(r.console.find("contact_time_step_coefficient is not positive"), std::string::npos);
}
