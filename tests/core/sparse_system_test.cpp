// The block solve of the multipliers against the straightforward dense one.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "dynamics/dynamics.h"
#include "test_util.h"

using namespace orv;

namespace {

using orvtest::Outcome;

// A random state near the assembled configuration (far from it the joint
// equations degenerate and S is too ill-conditioned to compare solves on).
std::vector<double> randomState(int nb, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> Y(14 * nb);
  for (int b = 0; b < nb; ++b) {
    double p[4] = {1, 0.05 * u(rng), 0.05 * u(rng), 0.05 * u(rng)}, n = 0;
    for (double v : p) n += v * v;
    for (int k = 0; k < 3; ++k) Y[3 * b + k] = 0.01 * u(rng), Y[3 * nb + 3 * b + k] = u(rng);
    for (int k = 0; k < 4; ++k) Y[6 * nb + 4 * b + k] = p[k] / std::sqrt(n), Y[10 * nb + 4 * b + k] = 0.5 * u(rng);
  }
  return Y;
}

// Entries of a and b agree to 1e-10 of the largest entry of a.
template <class V>
void expectClose(const V& a, const V& b, int n, const std::string& what) {
  double scale = 0;
  for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(a[i]));
  for (int i = 0; i < n; ++i) ASSERT_NEAR(a[i], b[i], 1e-10 * scale) << what << " " << i;
}

// dY and the multipliers of both paths at a few states.
void expectPathsAgree(const Model& m, Histories& h, const std::string& what, int states = 3) {
  const int nb = m.body_num();
  const Settings s = orvtest::runSettings();
  DynamicsWork dense, block;
  dense.densePath = true;
  orvtest::ConsoleCapture con;
  setupDynamics(m, h, dense);
  setupDynamics(m, h, block);
  h.p_C_const.assign(10 * (m.joint_num() + m.motion_num()), 0.0);
  // Both leave out the same redundant rows, found at the initial configuration.
  std::vector<double> Y0(14 * nb);
  initialAnalysis(m, h, dense, 0.0, Y0.data());
  initialAnalysis(m, h, block, 0.0, Y0.data());
  h.p_F_const.assign(60 * m.joint_num() + 60, 0.0);
  std::mt19937 rng(11);
  for (int k = 0; k < states; ++k) {
    std::vector<double> Y = randomState(nb, rng), d1(14 * nb), d2(14 * nb);
    h.p_Yi = Y;
    std::vector<int> dofs;
    const bool ok = computeStateDerivative(m, s, h, dense, 0.0, Y.data(), d1.data(), dofs);
    ASSERT_EQ(ok, computeStateDerivative(m, s, h, block, 0.0, Y.data(), d2.data(), dofs)) << what;
    if (!ok) continue;
    expectClose(d1, d2, 14 * nb, what);
    ASSERT_EQ(dense.lambda.dim1(), block.lambda.dim1());
    expectClose(dense.lambda, block.lambda, dense.lambda.dim1(), what + " multiplier");
  }
}

}  // namespace

TEST(BlockSystem, AgreesWithTheDenseSolveOnEveryExampleAndRandomChainsAndTrees) {
  int count = 0;  // the examples include closed loops
  for (const auto& e : std::filesystem::directory_iterator(ORVALDYN_EXAMPLES)) {
    if (e.path().extension() != ".txt") continue;
    Outcome o = orvtest::loadFile(e.path().string(), orvtest::runSettings());
    ASSERT_TRUE(o.read) << o.message;
    expectPathsAgree(o.m, o.h, e.path().filename().string());
    ++count;
  }
  EXPECT_GE(count, 7);
  std::mt19937 rng(3);
  for (int trial = 0; trial < 8; ++trial) {
    const bool chain = trial % 2 == 0;
    Outcome o = orvtest::loadText(orvtest::jointedModel(3 + 4 * trial, rng, chain, 0, false), orvtest::runSettings());
    ASSERT_TRUE(o.read) << o.message;
    expectPathsAgree(o.m, o.h, (chain ? "chain " : "tree ") + std::to_string(trial), 2);
  }
}

TEST(BlockSystem, DependentRowsFoundDuringARunAreLeftOut) {
  // Two ground joints on one body repeat six rows exactly.
  Outcome o = orvtest::loadText("parameter_info P %\nbody_info B a ca 1 1 1 1 0 0 0 0 0 0 %\n"
                                "frame_info F ca a 0 0 0 0 0 0 %\n"
                                "joint_info J on g1 ground ca non on g2 ground ca non %\n"
                                "simulation_time T 0 0.1 1 %\n",
                                orvtest::runSettings());
  ASSERT_TRUE(o.read) << o.message;
  DynamicsWork w;
  orvtest::ConsoleCapture con;
  setupDynamics(o.m, o.h, w);
  std::vector<double> Y(14, 0.0), dY(14);
  Y[6] = 1;
  std::vector<int> dofs;
  // S cannot be factored; the rows of the second joint are found and left out.
  ASSERT_TRUE(computeStateDerivative(o.m, orvtest::runSettings(), o.h, w, 0.0, Y.data(), dY.data(), dofs));
  EXPECT_NE(w.notice.find("Redundant constraints at t=0.000000e+00: 6 rows dropped"), std::string::npos)
      << w.notice;
  EXPECT_NE(w.notice.find("joint g2 (ground), row 6 of 6"), std::string::npos);
  for (int k = 6; k < 12; ++k) EXPECT_EQ(w.lambda[k], 0.0);
}
