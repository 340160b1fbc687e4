// The constraint rows in block form against the dense references, the
// redundant rows a closed loop repeats, and the rows that must not be taken
// for redundant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>

#include "dynamics/dynamics.h"
#include "dynamics/redundancy.h"
#include "model/state_layout.h"
#include "reference/dense_dynamics.h"
#include "test_util.h"

using namespace orv;
using orvtest::Outcome;

namespace {

// The work of a run of m, its rows assembled at state Y (every body at its
// start when Y is empty).
struct Rows {
  DynamicsWork w;
  Rows(const Model& m, std::vector<double> Y = {}) {
    const StateLayout L{m.body_num()};
    if (Y.empty()) {
      Y.assign(L.size(), 0.0);
      for (int b = 0; b < L.nb; ++b) Y[L.p(b)] = 1.0;
    }
    orvtest::ConsoleCapture con;
    setupDynamics(m, w);
    setKinematics(w.kin, L.nb, Y.data());
    assembleConstraints(m, w, Y.data(), 0.0);
  }
};

// Entries of a and b agree to 1e-10 of the largest entry of a.
void expectClose(const Vec& a, const Vec& b, int n, const std::string& what) {
  double scale = 0;
  for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(a[i]));
  for (int i = 0; i < n; ++i) ASSERT_NEAR(a[i], b[i], 1e-10 * scale) << what << " " << i;
}

// The multipliers and accelerations of the block and dense forms at random
// states near the assembled configuration (far from it the joint equations
// degenerate and S is too ill-conditioned to compare on).
void expectDenseAgrees(const Model& m, Histories& h, const std::string& what) {
  const StateLayout L{m.body_num()};
  DynamicsWork w;
  orvtest::ConsoleCapture con;
  std::vector<double> Y(L.size()), dY(L.size());
  setupDynamics(m, w);
  initialAnalysis(m, w, 0.0, Y.data());  // the redundant rows are left out
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int k = 0; k < 2; ++k) {
    for (int b = 0; b < L.nb; ++b) {
      double p[4] = {1, 0.05 * u(rng), 0.05 * u(rng), 0.05 * u(rng)}, norm = 0;
      for (double v : p) norm += v * v;
      for (int c = 0; c < 3; ++c) Y[L.r(b) + c] = 0.01 * u(rng), Y[L.v(b) + c] = u(rng);
      for (int c = 0; c < 4; ++c)
        Y[L.p(b) + c] = p[c] / std::sqrt(norm), Y[L.pd(b) + c] = 0.5 * u(rng);
    }
    std::vector<int> dofs;
    Vec lambda, acc;
    const bool ok =
        computeStateDerivative(m, orvtest::runSettings(), h, w, 0.0, Y.data(), dY.data(), dofs);
    ASSERT_EQ(ok, orvref::denseMultipliers(m, w, lambda, acc)) << what;
    if (!ok) continue;
    expectClose(acc, Vec(6 * L.nb, w.acc.data()), 6 * L.nb, what);
    ASSERT_EQ(lambda.dim1(), w.lambda.dim1());
    expectClose(lambda, w.lambda, lambda.dim1(), what + " multiplier");
  }
}

// The rows the structural test drops against those a test of the whole S in
// row order drops, and each against the kept rows it is said to equal.
int expectSameRowsAsTheWholeS(const Model& m, const std::string& what) {
  Rows r(m);
  RowDependence dep;
  EXPECT_TRUE(findRedundantRows(m, r.w, {}, dep, true)) << what;
  const Mat S = multiplierMatrix(m, r.w);
  EXPECT_EQ(dep.dropped, orvref::dependentRows(S, kRedundancyTolerance)) << what;
  const int dropped = static_cast<int>(std::count(dep.dropped.begin(), dep.dropped.end(), 1));
  EXPECT_EQ(static_cast<int>(dep.combinations.size()), dropped) << what;
  for (const RowCombination& rc : dep.combinations) {
    std::vector<double> c(S.dim1(), 0.0);  // |row - sum c_k row_k|^2 in the metric of S
    c[rc.row] = 1.0;
    for (const auto& [k, a] : rc.terms) {
      EXPECT_FALSE(dep.dropped[k]) << what;
      c[k] -= a;
    }
    double rest = 0.0;
    for (int i = 0; i < S.dim1(); ++i)
      for (int j = 0; j < S.dim1(); ++j) rest += c[i] * S[i][j] * c[j];
    // (Large weights on nearly dependent kept rows carry their round-off.)
    EXPECT_LE(rest, 1e-8 * S[rc.row][rc.row]) << what << " row " << rc.row;
  }
  return dropped;
}

// Angle turned about z by body b at sample ti, unwrapped against `previous`.
double turn(const Outcome& e, int b, int ti, double previous) {
  const double* p = &e.state(ti)[StateLayout{e.m.body_num()}.p(b)];
  return previous + std::remainder(2.0 * std::atan2(p[3], p[0]) - previous, 2 * M_PI);
}

}  // namespace

TEST(Redundancy, BlockFormsAgreeWithTheDenseOnesOnExamplesAndRandomModels) {
  for (const auto& e : std::filesystem::directory_iterator(ORVALDYN_EXAMPLES)) {
    if (e.path().extension() != ".txt") continue;
    Outcome o = orvtest::loadFile(e.path().string(), orvtest::runSettings());
    ASSERT_TRUE(o.read) << o.message;
    expectDenseAgrees(o.m, o.h, e.path().filename().string());
    expectSameRowsAsTheWholeS(o.m, e.path().filename().string());  // closed loops among them
  }
  // Chains and trees, then loops with motions (random states of those may need
  // rows left out at run time, which the dense form does not do).
  std::mt19937 rng(3);
  int dropped = 0;
  for (int trial = 0; trial < 20; ++trial) {
    const std::string what = "random " + std::to_string(trial);
    const std::string text =
        trial < 8 ? orvtest::jointedModel(3 + 4 * trial, rng, trial % 2 == 0, 0, false)
                  : orvtest::jointedModel(trial - 6, rng, false, 3, true);
    Outcome o = orvtest::loadText(text, orvtest::runSettings());
    ASSERT_TRUE(o.read) << o.message;
    if (trial < 8) expectDenseAgrees(o.m, o.h, what);
    dropped += expectSameRowsAsTheWholeS(o.m, what);
  }
  EXPECT_GT(dropped, 12);  // the loops do repeat rows
}

TEST(Redundancy, FourBarDropsThreeRowsAndFollowsTheClosedForm) {
  const Outcome& e = orvtest::exampleRun("four_bar.txt");
  ASSERT_EQ(e.status, AnalysisStatus::Completed) << e.message;
  EXPECT_EQ(e.message.rfind("Redundant constraints: 3 rows dropped\n", 0), 0u) << e.message;
  // Crank a, coupler b, rocker c, ground d: B where circles about A (radius b)
  // and O4 (radius c) meet, on the side of the line A-O4 it was assembled on.
  const double a = 0.1, b = 0.35, c = 0.3, d = 0.4,
               x0 = ((d - a) * (d - a) + b * b - c * c) / (2 * (d - a));
  const double rocker0 = std::atan2(std::sqrt(b * b - x0 * x0), a + x0 - d);
  double crank = 0, rocker = 0, worst = 0;
  for (int ti = 1; ti < e.h.anime_num; ++ti) {
    crank = turn(e, 1, ti, crank);
    rocker = turn(e, 3, ti, rocker);
    const double Ax = a * std::cos(crank), Ay = a * std::sin(crank);
    const double ux = d - Ax, uy = -Ay, D = std::hypot(ux, uy);
    const double x = (D * D + b * b - c * c) / (2 * D), y = std::sqrt(b * b - x * x);
    const double Bx = Ax + (x * ux - y * uy) / D, By = Ay + (x * uy + y * ux) / D;
    worst =
        std::max(worst,
                 std::fabs(std::remainder(std::atan2(By, Bx - d) - rocker0 - rocker, 2 * M_PI)));
  }
  EXPECT_GT(crank, 4 * M_PI - 0.01);  // two turns
  EXPECT_LT(worst, 1e-6);
}

TEST(Redundancy, RowsLeftOutAtRunTimeAreRepeatsOnly) {
  // Two ground joints on one body repeat six rows: found when S cannot be factored.
  Outcome o = orvtest::loadText(
      "parameter_info P %\nbody_info B a ca 1 1 1 1 0 0 0 0 0 0 %\nframe_info F ca a 0 0 0 0 0 0 "
      "%\njoint_info J on g1 ground ca non on g2 ground ca non %\nsimulation_time T 0 0.1 1 %\n",
      orvtest::runSettings());
  std::vector<double> Y(14, 0.0), dY(14);
  Y[6] = 1;
  Rows r(o.m);
  std::vector<int> dofs;
  orvtest::ConsoleCapture con;
  ASSERT_TRUE(computeStateDerivative(o.m, orvtest::runSettings(), o.h, r.w, 0.0, Y.data(),
                                     dY.data(), dofs));
  EXPECT_TRUE(orvtest::has(r.w.notice, "Redundant constraints at t=0.000000e+00: 6 rows dropped") &&
              orvtest::has(r.w.notice, "joint g2 (ground), row 6 of 6"))
      << r.w.notice;
  for (int k = 6; k < 12; ++k) EXPECT_EQ(r.w.lambda[k], 0.0);
  // A diverged step's state (Euler parameters far off the unit sphere): the
  // evaluation fails rather than go on with rows left out, and says nothing.
  Y[6] = 1e3;
  Rows diverged(o.m, Y);
  std::vector<char> here;
  EXPECT_FALSE(runtimeDroppedRows(o.m, diverged.w, Y.data(), 0.1, here));
  EXPECT_TRUE(diverged.w.notice.empty());
}
