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

struct Csv {
  std::vector<std::string> names;
  std::vector<std::vector<double>> rows;
};

// Names unquoted as written here (none of the examples' names needs quotes).
Csv parseCsv(const std::string& text) {
  Csv c;
  std::istringstream in(text);
  std::string line, cell;
  for (bool header = true; std::getline(in, line); header = false) {
    std::istringstream cells(line);
    std::vector<double> row;
    while (std::getline(cells, cell, ','))
      header ? c.names.push_back(cell) : row.push_back(std::strtod(cell.c_str(), nullptr));
    if (!header) c.rows.push_back(row);
  }
  return c;
}

// Every channel of h, time first, each value the very double held.
void expectChannelsOf(const std::string& text, const orv::Model& m, const orv::Histories& h,
                      const std::string& what) {
  const Csv c = parseCsv(text);
  const int no = orv::channelCount(m, h);
  std::vector<std::string> names{"time"};
  for (int k = 0; k < no; ++k) names.push_back(orv::channelName(m, h, k));
  EXPECT_EQ(c.names, names) << what;
  ASSERT_EQ(c.rows.size(), static_cast<size_t>(h.anime_num)) << what;
  ASSERT_GT(h.anime_num, 10) << what;
  for (size_t i = 0; i < c.rows.size(); ++i) {
    ASSERT_EQ(c.rows[i].size(), names.size()) << what << " row " << i;
    ASSERT_EQ(c.rows[i][0], h.p_time[i]) << what << " row " << i;
    for (size_t k = 0; k < static_cast<size_t>(no); ++k)
      ASSERT_EQ(c.rows[i][k + 1], h.p_output[i * static_cast<size_t>(no) + k])
          << what << " row " << i << " " << names[k + 1];
  }
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
    EXPECT_EQ(r.code, 1) << args;
    EXPECT_EQ(r.err.substr(0, says.size()), says) << args;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
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
