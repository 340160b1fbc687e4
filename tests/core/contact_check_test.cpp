// Contacts that cannot be evaluated are refused before the run, one line per
// problem naming the contact's record, the shape and the mesh file.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "files/model_reader.h"
#include "model/settings.h"
#include "dynamics/model_check.h"
#include "test_util.h"

using namespace orv;

namespace {

// A mesh of one triangle whose second corner is `b`.
std::string triangle(const std::string& b) {
  return "solid t\nfacet normal 0 0 1\n outer loop\n  vertex 0 0 0\n  vertex " + b +
         "\n  vertex 0.1 0 0\n endloop\nendfacet\nendsolid t\n";
}

// A block over a floor, in contact through the given shape and contact
// lines (the first contact record on line 17), a mesh file `file` with
// `text` beside the model; read and checked.
struct CheckCase {
  orvtest::ConsoleCapture quiet;
  std::string dir = orvtest::makeTempDir();
  Model m;
  std::string message;
  bool ok = false;

  CheckCase(const std::string& blockShape, const std::string& contacts,
            const std::string& file = "", const std::string& fileText = "") {
    orvtest::writeFile(dir + "/tri.stl", triangle("0 0.1 0"));
    if (!file.empty()) orvtest::writeFile(dir + "/" + file, fileText);
    const std::string text =
        "parameter_info n\n%\n"
        "body_info n\n ground g_cg 1 1 1 1 0 0 0 0 0 0\n block b_cg 1 1e-3 1e-3 1e-3 0 0 0 0 0 0\n%\n"
        "local_coordinate_info n\n g_cg ground 0 0 0 0 0 0\n b_cg block 0 0.2 0 0 0 0\n%\n"
        "shape_info n\n floor STL g_cg red 1 1 + tri.stl\n " + blockShape +
        "\n other STL b_cg red 1 1 + tri.stl\n%\n" + contacts +
        "%\ngravity g on y- %\nsimulation_time s 0 0.001 0.01 %\n";
    orvtest::writeFile(dir + "/model.txt", text);
    Histories h;
    std::string read;
    if (readModelFile(dir + "/model.txt", Settings(), m, h, read) == ReadStatus::Ok)
      ok = checkModelForAnalysis(m, message);
    else
      message = read;
  }
};

const std::string kRule =
    ": the contact constants k, c, d, e and myu must be finite and not negative";

}  // namespace

TEST(ContactCheck, RefusesWhatCannotBeEvaluated) {
  // The block's shape record and mesh file, the contact constants, the problems told
  // (DIR: the model's folder).
  const struct {
    std::string shape, file, text, constants;
    std::vector<std::string> problems;
  } cases[] = {
      {"block STL b_cg red 1 1 + bad.stl", "bad.stl", triangle("0 nan 0"), "1e5 100 0.005 1 0.3",
       {"shape block has no mesh: mesh file DIR/bad.stl: facet 1: coordinate not finite or "
        "beyond 1e+60"}},
      {"block STL b_cg red 1 1 + empty.stl", "empty.stl", "solid e endsolid e",
       "1e5 100 0.005 1 0.3",
       {"shape block has no mesh: mesh file DIR/empty.stl: no triangles"}},
      {"block STL b_cg red 1 1 + tri.stl", "", "", "-1e5 -1 -0.005 -2 -0.3",
       {"k = -100000" + kRule, "c = -1" + kRule, "d = -0.005" + kRule, "e = -2" + kRule,
        "myu = -0.3" + kRule}},
  };
  for (const auto& k : cases) {
    CheckCase c(k.shape, "contact_info n\n on touch block floor " + k.constants + "\n", k.file,
                k.text);
    std::string want;
    for (std::string p : k.problems) {
      if (p.find("DIR") != std::string::npos) p.replace(p.find("DIR"), 3, c.dir);
      want += (want.empty() ? "" : "\n") + c.dir + "/model.txt:17: Contact touch: " + p;
    }
    EXPECT_FALSE(c.ok) << want;
    EXPECT_EQ(c.message, want);
  }

  // Constants that are not finite.
  CheckCase c("block STL b_cg red 1 1 + tri.stl",
              "contact_info n\n on touch block floor 1e5 100 0.005 1 0.3\n");
  ASSERT_TRUE(c.ok) << c.message;
  c.m.contacts[0].k = NAN, c.m.contacts[0].myu = HUGE_VAL;
  EXPECT_FALSE(checkModelForAnalysis(c.m, c.message));
  const std::string place = c.dir + "/model.txt:17: Contact touch: ";
  EXPECT_EQ(c.message, place + "k = nan" + kRule + "\n" + place + "myu = inf" + kRule);
}

// A group's pairs share its line: a member without a mesh is told once, and
// each further problem once.
TEST(ContactCheck, GroupProblemsAreToldOncePerLine) {
  CheckCase c("block sphere b_cg red 1 0.05",
              "contact_group_info n\n on g -1 100 0.005 1 0.3 3 floor block other\n");
  EXPECT_FALSE(c.ok);
  const std::string place = c.dir + "/model.txt:17: Contact CNT_floor_block: ";
  EXPECT_EQ(c.message,
            place + "shape block is of type sphere, not an STL mesh\n" + place + "k = -1" + kRule);
}
