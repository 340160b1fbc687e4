// Contacts that cannot be evaluated are refused before the run, one line per
// problem naming the contact's record, the shape and the mesh file.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dynamics/model_check.h"
#include "files/model_reader.h"
#include "test_util.h"

using namespace orv;

namespace {

// A block over a floor, in contact through the block's shape record and the
// contact lines (the first contact record on line 17), read in `dir` and checked.
bool readAndCheck(const std::string& dir, const std::string& blockShape,
                  const std::string& contacts, Model& m, std::string& message) {
  orvtest::ConsoleCapture quiet;
  orvtest::writeFile(
      dir + "/model.txt",
      "parameter_info n\n%\n"
      "body_info n\n ground g_cg 1 1 1 1 0 0 0 0 0 0\n block b_cg 1 1e-3 1e-3 1e-3 0 0 0 0 0 0\n%\n"
      "local_coordinate_info n\n g_cg ground 0 0 0 0 0 0\n b_cg block 0 0.2 0 0 0 0\n%\n"
      "shape_info n\n floor STL g_cg red 1 1 + tri.stl\n " +
          blockShape + "\n other STL b_cg red 1 1 + tri.stl\n%\n" + contacts +
          "%\ngravity g on y- %\nsimulation_time s 0 0.001 0.01 %\n");
  Histories h;
  return readModelFile(dir + "/model.txt", Settings(), m, h, message) == ReadStatus::Ok &&
         checkModelForAnalysis(m, message);
}

}  // namespace

TEST(ContactCheck, RefusesWhatCannotBeEvaluatedTellingEachProblemOncePerLine) {
  const std::string dir = orvtest::makeTempDir(), mesh = "block STL b_cg red 1 1 + tri.stl";
  orvtest::writeFile(dir + "/tri.stl",
                     "solid t facet normal 0 0 1 outer loop vertex 0 0 0 vertex 0 0.1 0 "
                     "vertex 0.1 0 0 endloop endfacet endsolid t\n");
  orvtest::writeFile(dir + "/empty.stl", "solid e endsolid e");
  const std::string rule =
      ": the contact constants k, c, d, e and myu must be finite and not negative";
  const struct {
    std::string shape, contacts, name;
    std::vector<std::string> problems;
    bool nonFinite = false;  // k and myu set to nan and inf after reading
  } cases[] = {{"block STL b_cg red 1 1 + empty.stl",
                "contact_info n\n on touch block floor 1e5 100 0.005 1 0.3\n",
                "touch",
                {"shape block has no mesh: mesh file " + dir + "/empty.stl: no triangles"}},
               {mesh,
                "contact_info n\n on touch block floor -1e5 -1 -0.005 -2 -0.3\n",
                "touch",
                {"k = -100000" + rule, "c = -1" + rule, "d = -0.005" + rule, "e = -2" + rule,
                 "myu = -0.3" + rule}},
               // A group's pairs share its line.
               {"block sphere b_cg red 1 0.05",
                "contact_group_info n\n on g -1 100 0.005 1 0.3 3 floor block other\n",
                "CNT_floor_block",
                {"shape block is of type sphere, not an STL mesh", "k = -1" + rule}},
               {mesh,
                "contact_info n\n on touch block floor 1e5 100 0.005 1 0.3\n",
                "touch",
                {"k = nan" + rule, "myu = inf" + rule},
                true}};
  for (const auto& c : cases) {
    Model m;
    std::string message, want;
    const bool ok = readAndCheck(dir, c.shape, c.contacts, m, message);
    if (c.nonFinite) {
      ASSERT_TRUE(ok) << message;
      m.contacts[0].k = NAN, m.contacts[0].myu = HUGE_VAL;
      EXPECT_FALSE(checkModelForAnalysis(m, message));
    } else {
      EXPECT_FALSE(ok);
    }
    for (const std::string& p : c.problems)
      want += (want.empty() ? "" : "\n") + dir + "/model.txt:17: Contact " + c.name + ": " + p;
    EXPECT_EQ(message, want);
  }
}
