// The rules that stop a run going wrong, the ones that must not stop a sound
// run, and the warning about contacts too stiff for their step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dynamics/model_check.h"
#include "test_util.h"

using namespace orv;
using orvtest::Outcome;

namespace {

const std::string kExamples = ORVALDYN_EXAMPLES;
constexpr auto npos = std::string::npos;

// Runs model text with the step controlled on the energy terms named, as the shipped settings do.
Outcome analyse(const std::string& text, const std::string& energy = "PTR") {
  return orvtest::runText(text, orvtest::runSettings(energy, 1e-6));
}

// contact_drop.txt with a cube of `mass` at rest, its lower face `depth`
// into the plate, for 0.3 s.
std::string cubeInPlate(const char* mass, double depth) {
  std::string t = orvtest::readFile(kExamples + "/contact_drop.txt");
  auto replace = [&](const std::string& from, const std::string& to) {
    const size_t at = t.find(from);
    EXPECT_NE(at, npos) << from;
    if (at != npos) t.replace(at, from.size(), to);
  };
  replace("m_block   1.0", std::string("m_block   ") + mass);
  replace("0.2 0.0 0.0  0.0 3.0 0.0", "0 0 0 0 0 0");
  replace("-0.1  drop_y  0.0  30.0  20.0  0.0", "0 " + std::to_string(0.05 - depth) + " 0 0 0 0");
  replace("0.0  0.001  1.5", "0 0.001 0.3");
  return t;
}

}  // namespace

TEST(RunRules, ContactThatBlowsUpStopsAndSaysWhy) {
  // A light cube 0.1 mm into the plate: its four corners' damping is far too
  // stiff for the contact step, and it would leave at hundreds of m/s.
  // Without energy terms to judge, the speed rule stops it.
  const Outcome r = analyse(cubeInPlate("0.01", 1e-4), "");
  EXPECT_EQ(r.status, AnalysisStatus::Stopped);
  EXPECT_EQ(r.message.rfind("Body block reached", 0), 0u) << r.message;
  EXPECT_NE(r.message.find("from t="), npos) << r.message;
  EXPECT_NE(r.message.find("; the run stops with the samples stored so far"), npos) << r.message;
  EXPECT_NE(r.console.find("  " + r.message + "\n"), npos);
  EXPECT_LT(r.h.anime_num, 10);
}

TEST(RunRules, ForceElementWorkDoesNotStopARun) {
  // 1000 N on 1 kg for 0.5 s in contact with nothing: much more work than
  // gravity could do in the span.
  const Outcome pushed = analyse("parameter_info P %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n"
                                 "ball cg 1 1 1 1 0 0 0 0 0 0 %\n"
                                 "frame_info F base_cg base 0 0 0 0 0 0\ncg ball 0 0 0 0 0 0 %\n"
                                 "joint_info J on fix ground base_cg non %\n"
                                 "force_info F on push force6 cg base_cg base_cg 1000 0 0 0 0 0 %\n"
                                 "gravity G on y- %\nsimulation_time T 0 0.01 0.5 %\n");
  ASSERT_EQ(pushed.status, AnalysisStatus::Completed) << pushed.message;
  EXPECT_NEAR(pushed.state(50)[3 * 2 + 3 * 1], 500.0, 1e-6);
}

TEST(RunRules, DivergedOrientationsStopTheRun) {
  // Ten 1 cm, 1 g links in a chain at steps of 10 ms: a stage leaves the
  // links' orientations far off the unit sphere before the energy of a
  // whole step can be judged. That is a run that blew up, not constraint
  // rows that cannot be solved (nor redundant ones).
  const std::string chain = orvtest::chainModel(10, 0.01, "0.001 5e-10 8.3e-9 8.3e-9", false);
  const Outcome blown = analyse(chain);
  EXPECT_EQ(blown.status, AnalysisStatus::Stopped);
  EXPECT_EQ(blown.message.rfind("The integration diverged in the step from t=", 0), 0u) << blown.message;
  EXPECT_EQ(blown.console.find("Redundant"), npos);
}

TEST(RunRules, ContactTooStiffForItsStepIsWarned) {
  // Body 0 held by a ground joint, bodies 1 and 2 free; one contact between
  // `a` and `b`. The contact step is 0.1 x 1 ms.
  const struct {
    int a, b;
    double k, c, mass;  // of each free body
    const char* largest;  // stable d_time in the warning, or null: none
  } cases[] = {
      {1, 0, 1e8, 0, 0.01, "0.000283"},     // omega = 1e5: omega h = 2.83 at 2.83e-5
      {1, 2, 1e8, 0, 0.02, "0.000283"},     // two free bodies: half their mass moves
      {1, 0, 1e5, 150, 1.0, nullptr},        // the dropped cube
      {1, 0, 1e5, 150, 0.001, "0.000187"},  // stable spring, damping too stiff
      {0, 0, 1e9, 0, 1e-6, nullptr},         // nothing moves
  };
  for (const auto& c : cases) {
    Model m;
    m.path = "model.txt";
    m.d_time = 1e-3;
    m.bodies.resize(3);
    for (Body& b : m.bodies) b.mass = c.mass;
    m.frames.resize(1);
    m.frames[0].body = 0;
    m.joints.resize(1);
    m.joints[0].type = "ground", m.joints[0].i_lc = 0;
    resolveTypesAndAxes(m);
    Contact& k = m.contacts.emplace_back();
    k.name = "touch", k.line = 7, k.i_body = c.a, k.j_body = c.b, k.k = c.k, k.c = c.c;
    const std::vector<std::string> lines = contactStepWarnings(m, orvtest::runSettings());
    if (!c.largest) {
      EXPECT_TRUE(lines.empty()) << c.k << " " << c.mass;
      continue;
    }
    ASSERT_EQ(lines.size(), 1u) << c.k << " " << c.mass;
    EXPECT_EQ(lines[0].rfind("model.txt:7: Warning: contact touch: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(std::string("the largest stable d_time is ") + c.largest + " s"), npos) << lines[0];
  }
  // Before a run, on the console; the run goes on.
  const Outcome r = analyse(cubeInPlate("0.001", 0.0));
  EXPECT_NE(r.status, AnalysisStatus::Refused);
  EXPECT_NE(r.console.find(":34: Warning: contact block_on_plate: "), npos);
}
