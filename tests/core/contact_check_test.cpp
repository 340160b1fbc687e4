// Contacts that cannot be evaluated are refused before the run, one line per
// problem naming the contact's record, the shape and the mesh file.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "dynamics/model_check.h"
#include "files/model_reader.h"
#include "test_util.h"

using namespace orv;

namespace {

const std::string kTriangle =
    "solid t\nfacet normal 0 0 1\n outer loop\n  vertex 0 0 0\n  vertex 0 0.1 0\n"
    "  vertex 0.1 0 0\n endloop\nendfacet\nendsolid t\n";
const std::string kRule = ": the contact constants k, c, d, e and myu must be finite and not negative";

// A block over a floor, in contact through the block's shape record and the
// contact lines (the first contact record on line 17), with an empty mesh
// beside the model; read and checked. `place` starts each problem's line.
struct CheckCase {
  orvtest::ConsoleCapture quiet;
  std::string dir = orvtest::makeTempDir(), message, place;
  Model m;
  bool ok = false;

  CheckCase(const std::string& blockShape, const std::string& contacts, const std::string& name) {
    orvtest::writeFile(dir + "/tri.stl", kTriangle);
    orvtest::writeFile(dir + "/empty.stl", "solid e endsolid e");
    orvtest::writeFile(
        dir + "/model.txt",
        "parameter_info n\n%\n"
        "body_info n\n ground g_cg 1 1 1 1 0 0 0 0 0 0\n block b_cg 1 1e-3 1e-3 1e-3 0 0 0 0 0 0\n%\n"
        "local_coordinate_info n\n g_cg ground 0 0 0 0 0 0\n b_cg block 0 0.2 0 0 0 0\n%\n"
        "shape_info n\n floor STL g_cg red 1 1 + tri.stl\n " + blockShape +
            "\n other STL b_cg red 1 1 + tri.stl\n%\n" + contacts +
            "%\ngravity g on y- %\nsimulation_time s 0 0.001 0.01 %\n");
    Histories h;
    if (readModelFile(dir + "/model.txt", Settings(), m, h, message) == ReadStatus::Ok)
      ok = checkModelForAnalysis(m, message);
    place = dir + "/model.txt:17: Contact " + name + ": ";
  }
};

}  // namespace

TEST(ContactCheck, RefusesWhatCannotBeEvaluated) {
  CheckCase empty("block STL b_cg red 1 1 + empty.stl",
                  "contact_info n\n on touch block floor 1e5 100 0.005 1 0.3\n", "touch");
  EXPECT_FALSE(empty.ok);
  EXPECT_EQ(empty.message, empty.place + "shape block has no mesh: mesh file " + empty.dir +
                               "/empty.stl: no triangles");
  // Every constant on its own line.
  CheckCase negative("block STL b_cg red 1 1 + tri.stl",
                     "contact_info n\n on touch block floor -1e5 -1 -0.005 -2 -0.3\n", "touch");
  std::string want;
  for (const char* c : {"k = -100000", "c = -1", "d = -0.005", "e = -2", "myu = -0.3"})
    want += (want.empty() ? "" : "\n") + negative.place + c + kRule;
  EXPECT_FALSE(negative.ok);
  EXPECT_EQ(negative.message, want);
  // Constants that are not finite.
  CheckCase c("block STL b_cg red 1 1 + tri.stl",
              "contact_info n\n on touch block floor 1e5 100 0.005 1 0.3\n", "touch");
  ASSERT_TRUE(c.ok) << c.message;
  c.m.contacts[0].k = NAN, c.m.contacts[0].myu = HUGE_VAL;
  EXPECT_FALSE(checkModelForAnalysis(c.m, c.message));
  EXPECT_EQ(c.message, c.place + "k = nan" + kRule + "\n" + c.place + "myu = inf" + kRule);
}

// A group's pairs share its line: a member without a mesh is told once, and
// each further problem once.
TEST(ContactCheck, GroupProblemsAreToldOncePerLine) {
  CheckCase c("block sphere b_cg red 1 0.05",
              "contact_group_info n\n on g -1 100 0.005 1 0.3 3 floor block other\n", "CNT_floor_block");
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.message, c.place + "shape block is of type sphere, not an STL mesh\n" + c.place + "k = -1" + kRule);
}
