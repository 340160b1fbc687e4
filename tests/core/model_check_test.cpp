// Checks at the start of a run: models that used to run to a wrong result
// with success are refused, naming the record; sound ones run as before.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "joints/constraints.h"
#include "dynamics/dynamics.h"
#include "test_util.h"

using namespace orv;
using orvtest::Outcome;

namespace {

const std::string kCases = std::string(ORVALDYN_TEST_DATA) + "/wrong-success/";
constexpr auto npos = std::string::npos;

// Runs a case file with the first `from` in it changed to `to`.
Outcome runVariant(const std::string& file, const std::string& from, const std::string& to) {
  std::string text = orvtest::readFile(kCases + file);
  text.replace(text.find(from), from.size(), to);
  return orvtest::runText(text, orvtest::runSettings());
}

}  // namespace

// A frame that is not a number makes its joint's rows look dependent on the
// others; they were dropped and the link fell freely.
TEST(StartChecks, NonFiniteFrameRefusesItsJoint) {
  const Outcome r = orvtest::runFile(kCases + "joint_gap.txt", orvtest::runSettings(), [](Model& m) {
    m.frames[2].pos[0] = std::numeric_limits<double>::quiet_NaN();  // pivot_l
  });
  EXPECT_EQ(r.status, AnalysisStatus::Refused);
  EXPECT_NE(r.message.find("Joint pin (revolution): constraint row 1 is not finite at the start "
                           "(local coordinate pivot_l is not finite)"),
            npos)
      << r.message;
  EXPECT_EQ(r.console.find("Redundant"), npos);
}

// Gaps against their limits (model size 1 m): warned, or refused.
TEST(StartChecks, GapsAndAnglesAtTheStart) {
  struct Case {
    const char* x;    // pivot_l x
    const char* a2;   // pivot_l second angle, degrees
    bool refused;
    const char* text;
  } cases[] = {
      {"1e-10", "0.0", false, nullptr},
      {"0.009", "0.0", false, "Warning: Joint pin (revolution) is not assembled at the start: gap 0.009 m"},
      {"0.011", "0.0", true, "gap 0.011 m, above 1% of the model size (0.01 m)"},
      {"0.0", "0.05", false,
       "Warning: Joint pin (revolution) is not assembled at the start: angle 0.000873 rad"},
      {"0.0", "0.06", true, "angle 0.00105 rad, above 0.001 rad"},
  };
  for (const Case& c : cases) {
    const Outcome r = runVariant("joint_gap.txt", "pivot_l    link    0.7       0.0  0.0  0.0   0.0   0.0",
                                 std::string("pivot_l    link    ") + c.x + "  0.0  0.0  0.0  " + c.a2 + "  0.0");
    SCOPED_TRACE(std::string(c.x) + " " + c.a2);
    EXPECT_EQ(r.status, c.refused ? AnalysisStatus::Refused : AnalysisStatus::Completed) << r.message;
    if (c.text)
      EXPECT_NE((c.refused ? r.message : r.console).find(c.text), npos) << r.message << r.console;
    else
      EXPECT_EQ(r.console.find("Warning: Joint"), npos);
  }
}

// Rows that repeat others and agree with them are dropped and reported as
// before: two motions at one rate, two hinges on one axis.
TEST(StartChecks, ConsistentRepeatedRowsAreDropped) {
  const Outcome motions = runVariant("two_motions.txt", "velocity  2.0", "velocity  1.0");
  ASSERT_EQ(motions.status, AnalysisStatus::Completed) << motions.message;
  EXPECT_EQ(motions.message,
            "Redundant constraints: 1 rows dropped\n  motion overdrive\n"
            "  The joint reactions are one valid set among many.\n");

  const Outcome hinges = runVariant("double_hinge_offset.txt", "0.101", "0.1  ");
  ASSERT_EQ(hinges.status, AnalysisStatus::Completed) << hinges.message;
  EXPECT_EQ(hinges.message.rfind("Redundant constraints: 5 rows dropped\n", 0), 0u) << hinges.message;
  EXPECT_EQ(hinges.console.find("Warning"), npos);
}

// The start check reads a row as a distance exactly when it has entries on
// the translational columns (ground rows act on velocities alone).
TEST(StartChecks, RowLevelsFollowTheEvaluatorsRows) {
  Model m;
  m.bodies.resize(2), m.frames.resize(2), m.joints.resize(1);
  const double cg[2][3] = {{0, 0, 0}, {1, 0.5, 0.2}};
  for (int b = 0; b < 2; ++b) {
    for (int k = 0; k < 3; ++k) m.bodies[b].cg_pos[k] = cg[b][k];
    m.frames[b].body = b;
    m.frames[b].pos[0] = 0.3 + 0.1 * b, m.frames[b].pos[1] = 0.1;
    m.frames[b].ang[0] = 20, m.frames[b].ang[1] = 30 + b, m.frames[b].ang[2] = 40;
  }
  Histories h;
  std::vector<double> Y(28, 0.0);
  const double p1[4] = {0.9, 0.1, -0.2, 0.3};
  const double n = std::sqrt(0.81 + 0.01 + 0.04 + 0.09);
  Y[12] = 1.0;
  for (int k = 0; k < 4; ++k) Y[16 + k] = p1[k] / n;
  publishKinematics(m, h, Y.data());
  for (const char* type :
       {"sphere", "revolution", "cylinder", "translation", "in_line", "prismatic", "fix"}) {
    m.joints[0].type = type;
    m.joints[0].i_lc = 0, m.joints[0].j_lc = 1, m.joints[0].i_body = 0, m.joints[0].j_body = 1;
    resolveTypesAndAxes(m);
    ConstraintRows rows;
    ASSERT_TRUE(evaluateJoint(m, h, Y.data(), 0.0, 0, rows));
    for (int k = 0; k < rows.nrows; ++k) {
      bool translational = false;
      for (int c = 0; c < 3; ++c) translational |= rows.Bri[k][c] != 0.0 || rows.Brj[k][c] != 0.0;
      EXPECT_EQ(translational, jointRowLevel(m.joints[0].kind, k) == RowLevel::Length)
          << type << " row " << k;
    }
  }
}
