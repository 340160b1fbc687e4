// The checks at the start of a run and the rules that stop a run going wrong:
// models that used to end in a wrong "success" are refused or stopped, naming
// the record or the rule; sound ones run as before.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dynamics/model_check.h"
#include "joints/constraints.h"
#include "model/kinematics.h"
#include "test_util.h"

using namespace orv;
using orvtest::has;
using orvtest::Outcome;

namespace {

const std::string kCases = std::string(ORVALDYN_TEST_DATA) + "/wrong-success/";
constexpr auto npos = std::string::npos;

// Runs file (a case of the corpus, or an example) with the first `from` of each
// edit changed to `to`.
Outcome runEdited(const std::string& file,
                  const std::vector<std::pair<std::string, std::string>>& edits,
                  const Settings& s = orvtest::runSettings("", 1e-6)) {
  std::string t = orvtest::readFile(file[0] == '/' ? file : kCases + file);
  for (const auto& [from, to] : edits) {
    EXPECT_NE(t.find(from), npos) << from;
    if (t.find(from) != npos) t.replace(t.find(from), from.size(), to);
  }
  return orvtest::runText(t, s);
}

// contact_drop.txt with a cube of `mass` at rest, its lower face `depth`
// into the plate, for 0.3 s.
Outcome cubeInPlate(const char* mass, double depth, const std::string& energy) {
  return runEdited(std::string(ORVALDYN_EXAMPLES) + "/contact_drop.txt",
                   {{"m_block   1.0", std::string("m_block   ") + mass},
                    {"0.2 0.0 0.0  0.0 3.0 0.0", "0 0 0 0 0 0"},
                    {"-0.1  drop_y  0.0  30.0  20.0  0.0",
                     "0 " + std::to_string(0.05 - depth) + " 0 0 0 0"},
                    {"0.0  0.001  1.5", "0 0.001 0.3"}},
                   orvtest::runSettings(energy, 1e-6));
}

}  // namespace

// Gaps against their limits (model size 1 m): warned, or refused. A frame
// that is not a number made its joint's rows look dependent on the others;
// they were dropped and the link fell freely.
TEST(StartChecks, JointsNotAssembledAtTheStart) {
  const Outcome nan =
      orvtest::runFile(kCases + "joint_gap.txt", orvtest::runSettings(), [](Model& m) {
        m.frames[2].pos[0] = std::numeric_limits<double>::quiet_NaN();  // pivot_l
      });
  EXPECT_EQ(nan.status, AnalysisStatus::Refused);
  EXPECT_TRUE(has(nan.message, "Joint pin (revolution): constraint row 1 is not finite at the "
                               "start (local coordinate pivot_l is not finite)"))
      << nan.message;
  EXPECT_FALSE(has(nan.console, "Redundant"));
  const Outcome unusable =
      runEdited("joint_gap.txt", {{"pivot_g    pivot_l", "pivot_g    nowhere"}});
  EXPECT_TRUE(unusable.status == AnalysisStatus::Refused &&
              has(unusable.message, "Joint pin: j local coordinate nowhere"))
      << unusable.message;
  const struct {
    const char *x, *a2;  // pivot_l x and second angle (degrees)
    bool refused;
    const char* text;
  } cases[] = {
      {"1e-10", "0.0", false, nullptr},
      {"0.009", "0.0", false,
       "Warning: Joint pin (revolution) is not assembled at the start: gap 0.009 m"},
      {"0.011", "0.0", true, "gap 0.011 m, above 1% of the model size (0.01 m)"},
      {"0.0", "0.05", false,
       "Warning: Joint pin (revolution) is not assembled at the start: angle 0.000873 rad"},
      {"0.0", "0.06", true, "angle 0.00105 rad, above 0.001 rad"},
  };
  for (const auto& c : cases) {
    const std::string pivot =
        std::string("pivot_l    link    ") + c.x + "  0.0  0.0  0.0  " + c.a2 + "  0.0";
    const Outcome r =
        runEdited("joint_gap.txt",
                  {{"pivot_l    link    0.7       0.0  0.0  0.0   0.0   0.0", pivot}});
    SCOPED_TRACE(std::string(c.x) + " " + c.a2);
    EXPECT_EQ(r.status, c.refused ? AnalysisStatus::Refused : AnalysisStatus::Completed)
        << r.message;
    EXPECT_TRUE(c.text ? has(c.refused ? r.message : r.console, c.text)
                       : !has(r.console, "Warning: Joint"))
        << r.message << r.console;
  }
}

// Rows that repeat others and agree with them are dropped and reported as
// before: two motions at one rate, two hinges on one axis.
TEST(StartChecks, ConsistentRepeatedRowsAreDropped) {
  const Outcome motions = runEdited("two_motions.txt", {{"velocity  2.0", "velocity  1.0"}});
  EXPECT_EQ(motions.message, "Redundant constraints: 1 rows dropped\n  motion overdrive\n"
                             "  The joint reactions are one valid set among many.\n");
  const Outcome hinges = runEdited("double_hinge_offset.txt", {{"0.101", "0.1  "}});
  EXPECT_EQ(hinges.message.rfind("Redundant constraints: 5 rows dropped\n", 0), 0u)
      << hinges.message;
  EXPECT_FALSE(has(hinges.console, "Warning"));
}

// The start check reads a row as a distance exactly when it has entries on
// the translational columns. A ground joint's violation is its body's move.
TEST(StartChecks, RowLevelsFollowTheEvaluatorsRows) {
  Model m;
  m.bodies.resize(2), m.frames.resize(2), m.joints.resize(1);
  m.bodies[1].cg_pos[0] = 1, m.bodies[1].cg_pos[1] = 0.5, m.bodies[1].cg_pos[2] = 0.2;
  for (int b = 0; b < 2; ++b) {
    m.frames[b].body = b, m.frames[b].pos[0] = 0.3 + 0.1 * b, m.frames[b].pos[1] = 0.1;
    m.frames[b].ang[0] = 20, m.frames[b].ang[1] = 30 + b, m.frames[b].ang[2] = 40;
  }
  std::vector<double> Y(28, 0.0);
  const double p1[4] = {0.9, 0.1, -0.2, 0.3}, n = std::sqrt(0.81 + 0.01 + 0.04 + 0.09);
  Y[12] = 1.0, Y[3] = 0.3;
  for (int k = 0; k < 4; ++k) Y[16 + k] = p1[k] / n;
  Kinematics kin;
  setKinematics(kin, 2, Y.data());
  m.joints[0].type = "ground", m.joints[0].i_lc = 1;
  resolveTypesAndAxes(m);
  ConstraintRows ground;
  ASSERT_TRUE(evaluateJoint(m, kin, Y.data(), 0.0, 0, ground));
  const double* A1 = &kin.A[9];  // the turn of a unit diagonal plus the displacement
  EXPECT_NEAR(ground.violation,
              std::hypot(A1[0] + A1[1] + A1[2] + 0.3 - 1, A1[3] + A1[4] + A1[5] - 1,
                         A1[6] + A1[7] + A1[8] - 1),
              1e-12);
  for (const char* type :
       {"sphere", "revolution", "cylinder", "translation", "in_line", "prismatic", "fix"}) {
    m.joints[0].type = type;
    m.joints[0].i_lc = 0, m.joints[0].j_lc = 1, m.joints[0].i_body = 0, m.joints[0].j_body = 1;
    resolveTypesAndAxes(m);
    ConstraintRows rows;
    ASSERT_TRUE(evaluateJoint(m, kin, Y.data(), 0.0, 0, rows));
    for (int k = 0; k < rows.nrows; ++k) {
      bool translational = false;
      for (int c = 0; c < 3; ++c) translational |= rows.Bri[k][c] != 0.0 || rows.Brj[k][c] != 0.0;
      EXPECT_EQ(translational, jointRowLevel(m.joints[0].kind, k) == RowLevel::Length)
          << type << " row " << k;
    }
  }
}

TEST(RunRules, RunsThatGoWrongStopAndSayWhySoundOnesGoOn) {
  // A light cube 0.1 mm into the plate: its four corners' damping is far too
  // stiff for the contact step, and it would leave at hundreds of m/s.
  // Without energy terms to judge, the speed rule stops it.
  const Outcome r = cubeInPlate("0.01", 1e-4, "");
  EXPECT_EQ(r.status, AnalysisStatus::Stopped);
  EXPECT_TRUE(r.message.rfind("Body block reached", 0) == 0 && has(r.message, " from t="))
      << r.message;
  EXPECT_TRUE(has(r.console, "  " + r.message + "\n"));
  EXPECT_LT(r.h.anime_num, 10);
  // Ten 1 cm, 1 g links at steps of 10 ms: a stage leaves their orientations
  // far off the unit sphere before a step's energy can be judged. The run blew
  // up; its rows are neither unsolvable nor redundant.
  const Outcome blown =
      orvtest::runText(orvtest::chainModel(10, 0.01, "0.001 5e-10 8.3e-9 8.3e-9", false),
                       orvtest::runSettings("PTR", 1e-6));
  EXPECT_EQ(blown.status, AnalysisStatus::Stopped);
  EXPECT_EQ(blown.message.rfind("The integration diverged in the step from t=", 0), 0u)
      << blown.message;
  EXPECT_FALSE(has(blown.console, "Redundant"));
  // 1000 N on 1 kg for 0.5 s, touching nothing: far more work than gravity
  // could do in the span, yet no rule stops it.
  const Outcome pushed = orvtest::runText(
      "parameter_info P %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\nball cg 1 1 1 1 0 0 0 0 0 "
      "0 %\nframe_info F base_cg base 0 0 0 0 0 0\ncg ball 0 0 0 0 0 0 %\njoint_info J on fix "
      "ground base_cg non %\nforce_info F on push force6 cg base_cg base_cg 1000 0 0 0 0 0 %\n"
      "gravity G on y- %\nsimulation_time T 0 0.01 0.5 %\n",
      orvtest::runSettings("PTR", 1e-6));
  ASSERT_EQ(pushed.status, AnalysisStatus::Completed) << pushed.message;
  EXPECT_NEAR(pushed.state(50)[3 * 2 + 3 * 1], 500.0, 1e-6);
}

TEST(RunRules, ContactSteps) {
  // Without a step coefficient a contact run keeps d_time as its contact step.
  Settings s = orvtest::runSettings("PTR", 1e-6);
  s.contact_time_step_coefficient = 0.0;  // would retry a contact step at h = 0 forever
  const Outcome drop = runEdited(std::string(ORVALDYN_EXAMPLES) + "/contact_drop.txt",
                                 {{"0.0  0.001  1.5", "0 0.001 0.3"}}, s);
  ASSERT_EQ(drop.status, AnalysisStatus::Completed) << drop.message;
  EXPECT_EQ(drop.h.anime_num, 301);
  EXPECT_GT(drop.h.cont_time_index.size(), 0u) << "the cube reached the plate";
  EXPECT_TRUE(has(drop.console, "contact_time_step_coefficient is not positive"));
  // A contact too stiff for its step is warned of. Body 0 held by a ground
  // joint, bodies 1 and 2 free; one contact between `a` and `b`; the contact
  // step 0.1 x 1 ms.
  const struct {
    int a, b;
    double k, c, mass;    // of each free body
    const char* largest;  // stable d_time in the warning, or null: none
  } cases[] = {
      {1, 0, 1e8, 0, 0.01, "0.000283"},     // omega = 1e5: omega h = 2.83 at 2.83e-5
      {1, 2, 1e8, 0, 0.02, "0.000283"},     // two free bodies: half their mass moves
      {1, 0, 1e5, 150, 1.0, nullptr},       // the dropped cube
      {1, 0, 1e5, 150, 0.001, "0.000187"},  // stable spring, damping too stiff
      {0, 0, 1e9, 0, 1e-6, nullptr},        // nothing moves
  };
  for (const auto& c : cases) {
    Model m;
    m.path = "model.txt", m.d_time = 1e-3;
    m.bodies.resize(3), m.frames.resize(1), m.joints.resize(1);
    for (Body& b : m.bodies) b.mass = c.mass;
    m.frames[0].body = 0;
    m.joints[0].type = "ground", m.joints[0].i_lc = 0;
    resolveTypesAndAxes(m);
    Contact& k = m.contacts.emplace_back();
    k.name = "touch", k.line = 7, k.i_body = c.a, k.j_body = c.b, k.k = c.k, k.c = c.c;
    const std::vector<std::string> lines = contactStepWarnings(m, orvtest::runSettings());
    ASSERT_EQ(lines.size(), c.largest ? 1u : 0u) << c.k << " " << c.mass;
    if (!c.largest) continue;
    EXPECT_TRUE(lines[0].rfind("model.txt:7: Warning: contact touch: ", 0) == 0 &&
                has(lines[0], std::string("the largest stable d_time is ") + c.largest + " s"))
        << lines[0];
  }
  // Before a run, on the console; the run goes on.
  const Outcome r = cubeInPlate("0.001", 0.0, "PTR");
  EXPECT_NE(r.status, AnalysisStatus::Refused);
  EXPECT_TRUE(has(r.console, ":34: Warning: contact block_on_plate: "));
}
