// The block solves of the multipliers and of the driven velocities against
// the straightforward dense ones.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "dynamics/dynamics.h"
#include "model/state_layout.h"
#include "reference/dense_dynamics.h"
#include "test_util.h"

using namespace orv;

namespace {

using orvtest::Outcome;

// A random state near the assembled configuration (far from it the joint
// equations degenerate and S is too ill-conditioned to compare solves on).
std::vector<double> randomState(int nb, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  const StateLayout L{nb};
  std::vector<double> Y(L.size());
  for (int b = 0; b < nb; ++b) {
    double p[4] = {1, 0.05 * u(rng), 0.05 * u(rng), 0.05 * u(rng)}, n = 0;
    for (double v : p) n += v * v;
    for (int k = 0; k < 3; ++k) Y[L.r(b) + k] = 0.01 * u(rng), Y[L.v(b) + k] = u(rng);
    for (int k = 0; k < 4; ++k) Y[L.p(b) + k] = p[k] / std::sqrt(n), Y[L.pd(b) + k] = 0.5 * u(rng);
  }
  return Y;
}

// Entries of a and b agree to tol of the largest entry of a.
template <class V>
void expectClose(const V& a, const V& b, int n, const std::string& what, double tol = 1e-10) {
  double scale = 0;
  for (int i = 0; i < n; ++i) scale = std::max(scale, std::fabs(a[i]));
  for (int i = 0; i < n; ++i) ASSERT_NEAR(a[i], b[i], tol * scale) << what << " " << i;
}

// dY, the multipliers and a velocity solve of both paths at a few states.
void expectPathsAgree(const Model& m, Histories& h, const std::string& what, int states = 3) {
  const int nb = m.body_num(), n = 14 * nb;
  const Settings s = orvtest::runSettings();
  DynamicsWork dense, block;
  orvtest::ConsoleCapture con;
  h.p_C_const.assign(10 * (m.joint_num() + m.motion_num()), 0.0);
  h.p_F_const.assign(60 * m.joint_num() + 60, 0.0);
  std::vector<double> Y0(n);
  for (DynamicsWork* w : {&dense, &block}) {
    setupDynamics(m, *w);
    initialAnalysis(m, *w, 0.0, Y0.data());  // both leave out the same redundant rows
  }
  std::mt19937 rng(11);
  for (int k = 0; k < states; ++k) {
    std::vector<double> Y = randomState(nb, rng), d1(n), d2(n);
    std::vector<int> dofs;
    const bool ok = orvref::denseStateDerivative(m, s, h, dense, 0.0, Y.data(), d1.data(), dofs);
    ASSERT_EQ(ok, computeStateDerivative(m, s, h, block, 0.0, Y.data(), d2.data(), dofs)) << what;
    if (!ok) continue;
    expectClose(d1, d2, n, what);
    ASSERT_EQ(dense.lambda.dim1(), block.lambda.dim1());
    expectClose(dense.lambda, block.lambda, dense.lambda.dim1(), what + " multiplier");
    // The velocities of the driven bodies from the blocks and from a dense Cq.
    Vec eta(block.ncon, 0.0), q1(6 * nb), q2(6 * nb);
    for (int mo = 0; mo < m.motion_num(); ++mo) eta[block.ncon - 1 - mo] = 1.0 + mo;
    for (int i = 0; i < 6 * nb; ++i) q1[i] = q2[i] = 0.1 * (i % 7);
    fillDenseJacobian(m, block);
    ASSERT_EQ(solveVelocities(m, q1, {}, eta, block.Cq), solveVelocities(m, q2, {}, eta, block));
    expectClose(q1, q2, 6 * nb, what + " velocities", 1e-9);
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
    Outcome o = orvtest::loadText(orvtest::jointedModel(3 + 4 * trial, rng, chain, 0, false),
                                  orvtest::runSettings());
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
  setupDynamics(o.m, w);
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
