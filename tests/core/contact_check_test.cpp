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

TEST(ContactCheck, RefusesWhatCannotBeEvaluatedTellingEachProblemOncePerLine) {
  const std::string dir = orvtest::makeTempDir(), mesh = "block STL b red 1 1 + tri.stl",
                    on = "contact_info C on touch block floor ",
                    rule = ": the contact constants k, c, d, e and myu must be finite and not "
                           "negative";
  orvtest::writeFile(dir + "/tri.stl",
                     "solid t facet normal 0 0 1 outer loop vertex 0 0 0 vertex 0 0.1 0 "
                     "vertex 0.1 0 0 endloop endfacet endsolid t\n");
  orvtest::writeFile(dir + "/empty.stl", "solid e endsolid e");
  // The block's shape record, the contact record and what it is refused for.
  const struct {
    std::string shape, contact, name;
    std::vector<std::string> problems;
    bool nonFinite = false;  // k and myu set to nan and inf after reading
  } cases[] = {
      {"block STL b red 1 1 + empty.stl",
       on + "1e5 100 0.005 1 0.3",
       "touch",
       {"shape block has no mesh: mesh file " + dir + "/empty.stl: no triangles"}},
      {mesh,
       on + "-1e5 -1 -0.005 -2 -0.3",
       "touch",
       {"k = -100000" + rule, "c = -1" + rule, "d = -0.005" + rule, "e = -2" + rule,
        "myu = -0.3" + rule}},
      // A group's pairs share its line.
      {"block sphere b red 1 0.05",
       "contact_group_info G on g -1 100 0.005 1 0.3 3 floor block other",
       "CNT_floor_block",
       {"shape block is of type sphere, not an STL mesh", "k = -1" + rule}},
      {mesh, on + "1e5 100 0.005 1 0.3", "touch", {"k = nan" + rule, "myu = inf" + rule}, true}};
  for (const auto& c : cases) {
    // A block over a floor, the contact record on line 12.
    orvtest::writeFile(dir + "/model.txt",
                       "parameter_info P %\nbody_info B ground g 1 1 1 1 0 0 0 0 0 0\n"
                       " block b 1 1e-3 1e-3 1e-3 0 0 0 0 0 0\n%\n"
                       "frame_info F g ground 0 0 0 0 0 0\n b block 0 0.2 0 0 0 0\n%\n"
                       "shape_info S floor STL g red 1 1 + tri.stl\n " +
                           c.shape + "\n other STL b red 1 1 + tri.stl\n%\n" + c.contact +
                           " %\nsimulation_time T 0 0.001 0.01 %\n");
    orvtest::ConsoleCapture quiet;
    Model m;
    Histories h;
    std::string message, want;
    ASSERT_EQ(readModelFile(dir + "/model.txt", Settings(), m, h, message), ReadStatus::Ok);
    if (c.nonFinite) m.contacts[0].k = NAN, m.contacts[0].myu = HUGE_VAL;
    EXPECT_FALSE(checkModelForAnalysis(m, message));
    for (const std::string& p : c.problems)
      want += (want.empty() ? "" : "\n") + dir + "/model.txt:12: Contact " + c.name + ": " + p;
    EXPECT_EQ(message, want);
  }
}
