// The initial analysis on Cq by rows and S in block form against the dense
// one it replaced, on chains, trees, closed loops and overconstrained models
// with motions, small (printed and corrected densely) and large.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "dynamics/dynamics.h"
#include "dynamics/redundancy.h"
#include "model/state_layout.h"
#include "reference/dense_dynamics.h"
#include "test_util.h"

using namespace orv;

namespace {

// The console's Cq block: from "Cq" to the blank line after the matrix.
std::string jacobianText(const std::string& console) {
  const size_t at = console.find("Cq\n");
  return at == std::string::npos ? "" : console.substr(at, console.find("\n\n", at) - at);
}

}  // namespace

TEST(SparseStart, SameRowsVelocitiesAndPrintAsTheDenseInitialAnalysis) {
  std::mt19937 rng(5);
  int corrected = 0, large = 0, dropped = 0;
  const int cases[][3] = {{8, 0, 3},  {10, 1, 2},  {40, 1, 0}, {45, 0, 0},
                          {30, 1, 4}, {30, 0, 12}, {45, 0, 8}};  // n, chain, closures
  for (const auto& [n, chain, closures] : cases) {
    for (int trial = 0; trial < 3; ++trial) {
      const std::string what = "n=" + std::to_string(n) + " closures=" + std::to_string(closures) +
                               " trial " + std::to_string(trial);
      orvtest::Outcome o = orvtest::loadText(orvtest::jointedModel(n, rng, chain, closures, true),
                                             orvtest::runSettings());
      ASSERT_TRUE(o.read) << o.message;
      const StateLayout L{o.m.body_num()};
      DynamicsWork w, d;
      std::vector<double> Y(L.size()), Yd(L.size());
      orvtest::ConsoleCapture con;
      setupDynamics(o.m, w);
      initialAnalysis(o.m, w, 0.0, Y.data());
      const std::string console = con.text();
      setupDynamics(o.m, d);
      orvref::denseInitialAnalysis(o.m, d, 0.0, Yd.data());
      const std::string reference = con.text().substr(console.size());
      EXPECT_EQ(w.dropped, d.dropped) << what;
      dropped += static_cast<int>(std::count(w.dropped.begin(), w.dropped.end(), 1));

      // Closures make S ill-conditioned: its LU and its block Cholesky agree
      // to about cond(S) times the round-off.
      double scale = 1.0;
      for (double v : Yd) scale = std::max(scale, std::fabs(v));
      for (size_t k = 0; k < Y.size(); ++k)
        ASSERT_NEAR(Y[k], Yd[k], 1e-7 * scale) << what << " " << k;
      corrected += console.find("made consistent") != std::string::npos;

      const bool small = static_cast<long long>(w.ncon) * 6 * L.nb <= 20000;
      large += !small;
      if (small) {
        EXPECT_EQ(Y, Yd) << what;  // the dense forms as ever, to the bit
        EXPECT_EQ(jacobianText(console), jacobianText(reference)) << what;
      } else {
        EXPECT_TRUE(orvtest::has(jacobianText(console), "(not printed: more than 20000 entries)"));
      }
    }
  }
  // The cases reach what they are for: redundant rows, corrected velocities
  // and models past the dense print.
  EXPECT_GT(dropped, 40);
  EXPECT_GT(corrected, 8);
  EXPECT_GT(large, 10);
}
