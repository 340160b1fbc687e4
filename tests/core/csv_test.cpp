// The output channels as CSV: the writer's format, and orvaldyn-batch --csv
// after a run, an import and a result read with --result.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "files/csv_writer.h"
#include "files/motion_import.h"
#include "files/result_file.h"
#include "model/histories.h"
#include "test_util.h"

namespace fs = std::filesystem;
using orvtest::BatchRun;
using orvtest::readFile;
using orvtest::runBatch;

namespace {

// Every channel of h, time first, each value the very double held (names
// unquoted as written here: none of the examples' names needs quotes).
void expectChannelsOf(const std::string& text, const orv::Model& m, const orv::Histories& h,
                      const std::string& what) {
  const int no = orv::channelCount(m, h);
  std::string line, header = "time";
  for (int k = 0; k < no; ++k) header += "," + orv::channelName(m, h, k);
  std::istringstream in(text);
  std::getline(in, line);
  EXPECT_EQ(line, header) << what;
  ASSERT_GT(h.anime_num, 10) << what;
  int i = 0;
  for (; std::getline(in, line); ++i) {
    ASSERT_LT(i, h.anime_num) << what;
    std::istringstream cells(line);
    std::vector<double> row;
    for (std::string cell; std::getline(cells, cell, ',');)
      row.push_back(std::strtod(cell.c_str(), nullptr));
    ASSERT_EQ(row.size(), no + 1u) << what << " row " << i;
    for (int k = 0; k <= no; ++k)
      ASSERT_EQ(row[k], k ? h.p_output[i * static_cast<size_t>(no) + k - 1] : h.p_time[i])
          << what << " row " << i << " column " << k;
  }
  EXPECT_EQ(i, h.anime_num) << what;
}

}  // namespace

// Names that need quoting, the digits that read back to the same double, and
// never more rows than every column holds.
TEST(Csv, FormatReadsBackExactly) {
  orv::Model m;
  orv::Histories h;
  h.channel_names = {"a,b", "say \"hi\""};
  h.p_time = {0.1, 1e-300, 2.0};
  h.p_output = {1.0 / 3.0, -0.0, 12345678.901234567, 6.02214076e23};  // two samples only
  h.anime_num = 3;
  EXPECT_EQ(orv::channelsCsv(m, h), "time,\"a,b\",\"say \"\"hi\"\"\"\n"
                                    "0.10000000000000001,0.33333333333333331,-0\n"
                                    "1e-300,12345678.901234567,6.0221407599999999e+23\n");
  EXPECT_EQ(orv::channelsCsv(m, h, {1, 7}), "time,\"say \"\"hi\"\"\"\n0.10000000000000001,-0\n"
                                            "1e-300,6.0221407599999999e+23\n");
}

// --csv writes the histories the run, the import or the result read left, to the last bit.
TEST(Csv, BatchWritesEveryChannelAfterARunAnImportAndAResultRead) {
  const std::string dir =
      orvtest::batchFolder({"setting", "pendulum.txt", "double_pendulum.txt", "motion"});
  const BatchRun run = runBatch(dir, "--csv run.csv pendulum.txt");
  ASSERT_EQ(run.code, 0) << run.err;
  const orvtest::Outcome& ran = orvtest::exampleRun("pendulum.txt");
  expectChannelsOf(readFile(dir + "/run.csv"), ran.m, ran.h, "run");

  // The result file holds fewer digits than the run: --result plots what it holds.
  const BatchRun read =
      runBatch(dir, "--result log/result_pendulum.txt pendulum.txt --csv out/read.csv");
  ASSERT_EQ(read.code, 0) << read.err;
  EXPECT_EQ(read.err, "");
  orvtest::Outcome o = orvtest::loadFile(dir + "/pendulum.txt", orvtest::exampleSettings());
  ASSERT_TRUE(orv::readResultFile(dir + "/log/result_pendulum.txt", o.m, o.h));
  expectChannelsOf(readFile(dir + "/out/read.csv"), o.m, o.h, "result read");

  const BatchRun imp =
      runBatch(dir, "--csv imp.csv --import-mov motion/double_pendulum.mov double_pendulum.txt");
  ASSERT_EQ(imp.code, 0) << imp.err;
  o = orvtest::loadFile(dir + "/double_pendulum.txt", orvtest::exampleSettings());
  ASSERT_TRUE(orv::importMotion(dir + "/motion/double_pendulum.mov", o.m, o.h));
  expectChannelsOf(readFile(dir + "/imp.csv"), o.m, o.h, "import");
}

// A result file the reader refuses, or a CSV that cannot be written, is exit
// code 1 with the reason, and no CSV; --result writes nothing else, so it
// takes neither --output nor --import-mov.
TEST(Csv, RefusalsAndUsage) {
  const std::string dir = orvtest::batchFolder({"setting", "pendulum.txt"});
  orvtest::writeFile(dir + "/bad.txt", "version 1.00\ntime_num many\n");
  const std::pair<const char*, std::string> cases[] = {
      {"--result bad.txt pendulum.txt --csv x.csv",
       "orvaldyn-batch: bad.txt:1: Result file not read: "},
      {"--result none.txt pendulum.txt --csv x.csv",
       "orvaldyn-batch: none.txt: Result file not read: the file cannot be opened\n"},
      {"--csv setting pendulum.txt",
       "orvaldyn-batch: The CSV file setting cannot be written: Is a directory\n"}};
  for (const auto& [args, says] : cases) {
    const BatchRun r = runBatch(dir, args);
    // The reason in one line.
    EXPECT_TRUE(r.code == 1 && r.err.rfind(says, 0) == 0 && r.err.find('\n') == r.err.size() - 1)
        << args << ": " << r.code << " " << r.err;
    EXPECT_FALSE(fs::exists(dir + "/x.csv") || orvtest::has(r.out, "Simulation Start")) << args;
  }
  const std::string usage = runBatch(dir, "--help").out;
  for (const char* args : {"--result r.txt --output o.txt pendulum.txt",
                           "--result r.txt --import-mov m.mov pendulum.txt", "pendulum.txt --csv",
                           "--csv a --csv b pendulum.txt"}) {
    const BatchRun r = runBatch(dir, args);
    EXPECT_TRUE(r.code == 2 && r.err == usage) << args;
  }
}
