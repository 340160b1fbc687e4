// Every file of the broken corpus is refused (or read) with its message and
// never crashes the reader; the sanitizer build runs the same test.
#include <gtest/gtest.h>

#include <fstream>

#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "test_util.h"

using namespace orv;

TEST(BrokenInput, EveryFileGivesItsMessage) {
  const std::string dir = std::string(ORVALDYN_TEST_DATA) + "/broken";
  std::ifstream manifest(dir + "/EXPECTED");
  ASSERT_TRUE(manifest) << dir;
  Settings s;
  s.colors.push_back(Color{"red", {1, 0, 0}});
  int count = 0;
  std::string line;
  while (std::getline(manifest, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const std::string file = line.substr(0, tab), expect = line.substr(tab + 1);
    Model m;
    Histories h;
    std::string message;
    orvtest::ConsoleCapture con;
    readModelFile(dir + "/" + file, s, m, h, message);
    EXPECT_NE(con.text().find(expect), std::string::npos) << file << "\n" << con.text();
    // Whatever was read is consistent: one gravity load per body, one-sample arrays.
    EXPECT_TRUE(m.gravity.empty() || m.gravity.size() == m.bodies.size()) << file;
    EXPECT_EQ(h.p_YYY.size(), 14 * m.bodies.size()) << file;
    ++count;
  }
  EXPECT_GE(count, 30);
}
