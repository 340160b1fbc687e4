// Inputs the fuzz targets once failed on, replayed through the same
// harnesses: each must now keep every invariant and print its message.
// tests/data/fuzz-regressions/<target>/<file>, listed with the console text
// in tests/data/fuzz-regressions/EXPECTED.
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
  ASSERT_TRUE(manifest) << dir;
  for (std::string line; std::getline(manifest, line);)
    if (!line.empty() && line[0] != '#' && line.find('\t') != std::string::npos)
      expected[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
  orvfuzz::makeScratch();
  int count = 0;
  for (const auto& target : fs::directory_iterator(dir)) {
    if (!target.is_directory()) continue;
    const orvfuzz::Harness run = orvfuzz::harnessNamed(target.path().filename());
    ASSERT_NE(run, nullptr) << "no fuzz target " << target.path();
    for (const auto& file : fs::directory_iterator(target.path())) {
      const std::string name =
          target.path().filename().string() + "/" + file.path().filename().string();
      const auto want = expected.find(name);
      ASSERT_NE(want, expected.end()) << name << " is not listed in EXPECTED";
      const std::string input = orvtest::readFile(file.path());
      orvtest::ConsoleCapture con;
      EXPECT_EQ(run(reinterpret_cast<const uint8_t*>(input.data()), input.size()), "") << name;
      EXPECT_NE(con.text().find(want->second), std::string::npos) << name << "\n" << con.text();
      expected.erase(want), ++count;
    }
  }
  EXPECT_TRUE(expected.empty()) << expected.begin()->first << " is listed but missing";
  EXPECT_GT(count, 0);
}
