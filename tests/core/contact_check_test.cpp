// Contacts that cannot be evaluated are refused before the run, one line per
// problem naming the contact's record, the shape and the mesh file.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "solver/model_check.h"
#include "test_util.h"

using namespace orv;

namespace {

std::string facet(const char* a, const char* b, const char* c) {
  return std::string("facet normal 0 0 1\n outer loop\n  vertex ") + a + "\n  vertex " + b +
         "\n  vertex " + c + "\n endloop\nendfacet\n";
}
const std::string kTet = "solid t\n" + facet("0 0 0", "0 0.1 0", "0.1 0 0") +
                         facet("0 0 0", "0.1 0 0", "0 0 0.1") + facet("0 0 0", "0 0 0.1", "0 0.1 0") +
                         facet("0.1 0 0", "0 0.1 0", "0 0 0.1") + "endsolid t\n";

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
    orvtest::writeFile(dir + "/tet.stl", kTet);
    if (!file.empty()) orvtest::writeFile(dir + "/" + file, fileText);
    const std::string text =
        "parameter_info n\n%\n"
        "body_info n\n ground g_cg 1 1 1 1 0 0 0 0 0 0\n block b_cg 1 1e-3 1e-3 1e-3 0 0 0 0 0 0\n%\n"
        "local_coordinate_info n\n g_cg ground 0 0 0 0 0 0\n b_cg block 0 0.2 0 0 0 0\n%\n"
        "shape_info n\n floor STL g_cg red 1 1 + tet.stl\n " + blockShape +
        "\n other STL b_cg red 1 1 + tet.stl\n%\n" + contacts +
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

const std::string kPair = "contact_info n\n on touch block floor 1e5 100 0.005 1 0.3\n";

}  // namespace

TEST(ContactCheck, RefusesWhatCannotBeEvaluated) {
  std::string many = "solid m\n";
  for (int i = 0; i <= kStlMaxTriangles; ++i) many += facet("0 0 0", "1 0 0", "0 1 0");
  many += "endsolid m\n";
  // The block's shape record and mesh file, and the contact constants.
  const struct {
    std::string shape, file, text, constants, line;
  } cases[] = {
      {"block STL b_cg red 1 1 + no_such.stl", "", "", "1e5 100 0.005 1 0.3",
       "shape block has no mesh: mesh file no_such.stl: cannot be opened (No such file or "
       "directory; looked for no_such.stl and DIR/no_such.stl)"},
      {"block STL b_cg red 1 1 + bad.stl", "bad.stl",
       "solid t\n" + facet("0 0 0", "0 nan 0", "0.1 0 0") + "endsolid t\n", "1e5 100 0.005 1 0.3",
       "shape block has no mesh: mesh file DIR/bad.stl: facet 1: coordinate not finite or beyond "
       "1e+60"},
      {"block STL b_cg red 1 1 + many.stl", "many.stl", many, "1e5 100 0.005 1 0.3",
       "shape block has no mesh: mesh file DIR/many.stl: more than 33333 triangles"},
      {"block STL b_cg red 1 1 + empty.stl", "empty.stl", "solid e endsolid e", "1e5 100 0.005 1 0.3",
       "shape block has no mesh: mesh file DIR/empty.stl: no triangles"},
      {"block sphere b_cg red 1 0.05", "", "", "1e5 100 0.005 1 0.3",
       "shape block is of type sphere, not an STL mesh"},
      {"block STL b_cg red 1 1 + tet.stl", "", "", "-1e5 100 0.005 1 0.3",
       "k = -100000: the contact constants k, c, d, e and myu must be finite and not negative"},
      {"block STL b_cg red 1 1 + tet.stl", "", "", "1e5 -1 0.005 1 0.3", "c = -1: the contact"},
      {"block STL b_cg red 1 1 + tet.stl", "", "", "1e5 100 -0.005 1 0.3", "d = -0.005: the contact"},
      {"block STL b_cg red 1 1 + tet.stl", "", "", "1e5 100 0.005 -1 0.3", "e = -1: the contact"},
      {"block STL b_cg red 1 1 + tet.stl", "", "", "1e5 100 0.005 1 -0.3", "myu = -0.3: the contact"},
  };
  for (const auto& k : cases) {
    CheckCase c(k.shape, "contact_info n\n on touch block floor " + k.constants + "\n", k.file,
                k.text);
    std::string line = k.line;
    for (size_t at; (at = line.find("DIR")) != std::string::npos;) line.replace(at, 3, c.dir);
    EXPECT_FALSE(c.ok) << k.line;
    EXPECT_EQ(c.message.rfind(c.dir + "/model.txt:17: Contact touch: " + line, 0), 0u) << c.message;
    EXPECT_EQ(c.message.find('\n'), std::string::npos) << c.message;
  }

  // Constants that are not finite: one line each.
  CheckCase c("block STL b_cg red 1 1 + tet.stl", kPair);
  ASSERT_TRUE(c.ok) << c.message;
  c.m.contacts[0].k = NAN, c.m.contacts[0].myu = HUGE_VAL;
  EXPECT_FALSE(checkModelForAnalysis(c.m, c.message));
  EXPECT_EQ(c.message, c.dir + "/model.txt:17: Contact touch: k = nan: the contact constants k, c, "
                               "d, e and myu must be finite and not negative\n" +
                           c.dir + "/model.txt:17: Contact touch: myu = inf: the contact constants "
                                   "k, c, d, e and myu must be finite and not negative");
}

// A group's pairs share its line: a member without a mesh is told once, and
// each further problem once.
TEST(ContactCheck, GroupProblemsAreToldOncePerLine) {
  CheckCase c("block sphere b_cg red 1 0.05",
              "contact_group_info n\n on g -1 100 0.005 1 0.3 3 floor block other\n");
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.message,
            c.dir + "/model.txt:17: Contact CNT_floor_block: shape block is of type sphere, not "
                    "an STL mesh\n" +
                c.dir + "/model.txt:17: Contact CNT_floor_block: k = -1: the contact constants k, "
                        "c, d, e and myu must be finite and not negative");
}
