// Inputs the fuzz targets once failed on (tests/data/fuzz-regressions/<target>/<file>),
// replayed through the same harnesses: each must now keep every invariant and print
// the text listed for it in EXPECTED there.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "fuzz_util.h"
#include "harness.h"
#include "test_util.h"

namespace fs = std::filesystem;

TEST(FuzzRegressions, EveryFindingKeepsItsInvariantsAndMessage) {
  const fs::path dir = fs::path(ORVALDYN_TEST_DATA) / "fuzz-regressions";
  std::map<std::string, std::string> expected;
  std::ifstream manifest(dir / "EXPECTED");
  for (std::string line; std::getline(manifest, line);)
    if (!line.empty() && line[0] != '#')
      expected[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
  ASSERT_FALSE(expected.empty()) << dir;
  orvfuzz::makeScratch();
  for (const auto& [name, want] : expected) {
    const orvfuzz::Harness run = orvfuzz::harnessNamed(name.substr(0, name.find('/')));
    ASSERT_NE(run, nullptr) << name;
    const std::string input = orvtest::readFile(dir / name);
    orvtest::ConsoleCapture con;
    EXPECT_EQ(run(reinterpret_cast<const uint8_t*>(input.data()), input.size()), "") << name;
    EXPECT_TRUE(orvtest::has(con.text(), want)) << name << "\n" << con.text();
  }
  // Every finding kept is listed.
  size_t files = 0;
  for (const auto& f : fs::recursive_directory_iterator(dir)) files += f.is_regular_file();
  EXPECT_EQ(files, expected.size() + 1);
}
