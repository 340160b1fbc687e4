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
  struct Case {
    int n;
    bool chain;
    int closures;
  };
  std::mt19937 rng(5);
  int corrected = 0, large = 0, dropped = 0;
  for (const Case c : {Case{8, false, 3}, Case{10, true, 2}, Case{40, true, 0}, Case{45, false, 0},
                       Case{30, true, 4}, Case{30, false, 12}, Case{45, false, 8}}) {
    for (int trial = 0; trial < 3; ++trial) {
      const std::string what = "n=" + std::to_string(c.n) +
                               " closures=" + std::to_string(c.closures) + " trial " +
                               std::to_string(trial);
      orvtest::Outcome o =
          orvtest::loadText(orvtest::jointedModel(c.n, rng, c.chain, c.closures, true),
                            orvtest::runSettings());
      ASSERT_TRUE(o.read) << o.message;
      const StateLayout L{o.m.body_num()};
      DynamicsWork w, d;
      std::vector<double> Y(L.size()), Yd(L.size());
      std::string console, reference;
      {
        orvtest::ConsoleCapture con;
        setupDynamics(o.m, w);
        initialAnalysis(o.m, w, 0.0, Y.data());
        console = con.text();
      }
      {
        orvtest::ConsoleCapture con;
        setupDynamics(o.m, d);
        orvref::denseInitialAnalysis(o.m, d, 0.0, Yd.data());
        reference = con.text();
      }
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
        EXPECT_NE(jacobianText(console).find("(not printed: more than 20000 entries)"),
                  std::string::npos)
            << what;
      }
    }
  }
  // The cases reach what they are for: redundant rows, corrected velocities
  // and models past the dense print.
  EXPECT_GT(dropped, 40);
  EXPECT_GT(corrected, 8);
  EXPECT_GT(large, 10);
}
