// orvaldyn-batch as a script sees it: command lines, exit codes, the files it
// writes and keeps. Each test runs the built program in a fresh folder with a
// copy of the example settings (the documented texts are checked in docs_test).
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "test_util.h"

namespace fs = std::filesystem;
using orvtest::batchFolder;
using orvtest::BatchRun;
using orvtest::readFile;
using orvtest::runBatch;

namespace {

// A mass on a guide hung from a spring (stiffness K) with a damper (force DAMPER):
// 101 samples when it runs to its end.
std::string springModel(const std::string& K, const std::string& damper = "(0-speed_y)") {
  std::string t =
      "parameter_info P k_spring K %\nbody_info B ground ground_cg 1 1 1 1 0 0 0 0 0 0\nmass "
      "mass_cg 1 0.01 0.01 0.01 0 0 0 0 0 0 %\nlocal_coordinate_info L ground_cg ground 0 0 0 0 0 "
      "0\nanchor ground 0 0 0 0 0 0\nguide_g ground 0 -0.55 0 0 -90 0\nm_top mass 0 -0.5 0 0 0 0\n"
      "mass_cg mass 0 -0.55 0 0 0 0\nguide_m mass 0 -0.55 0 0 -90 0 %\njoint_info J on fix_ground "
      "ground ground_cg non\non guide translation guide_g guide_m %\nfunction_info F speed_y "
      "(VY(m_top,anchor,anchor,anchor))\ndamper D %\nforce_info F on main_spring spring1 m_top "
      "anchor anchor k_spring 0.0\non dashpot force6 m_top anchor anchor 0.0 damper 0.0 0.0 0.0 "
      "0.0 %\noutput_info O height DY(mass_cg,anchor,anchor) %\ngravity g on y- %\nsimulation_time "
      "T 0.0 0.005 0.5 %\n";
  t.replace(t.find(" K "), 3, " " + K + " ");
  return t.replace(t.find(" D "), 3, " " + damper + " ");
}

// The sample count a result file states (-1 without a file).
int samplesIn(const std::string& path) {
  std::istringstream in(readFile(path));
  std::string tok;
  while (in >> tok)
    if (tok == "time_num" && in >> tok) return std::stoi(tok);
  return -1;
}

}  // namespace

// Usage errors: usage on standard error, nothing else done.
TEST(Batch, UsageErrorsDoNothing) {
  const std::string dir = batchFolder();
  const std::string usage = runBatch(dir, "--help").out;
  for (const char* args : {"", "--bogus m.txt", "m.txt n.txt", "m.txt --output",
                           "--import-mov x.mov", "--output a --output b m.txt", "''",
                           "--set k m.txt", "--set =1 m.txt", "--set k=1 --set k=2 m.txt"}) {
    const BatchRun r = runBatch(dir, args);
    EXPECT_TRUE(r.code == 2 && r.err == usage && r.out.empty()) << args << "\n" << r.err;
  }
  EXPECT_FALSE(fs::exists(dir + "/log"));
}

// One folder for the whole sequence: a run replaces the result (kept as .bak, so a run
// that fails at t = 0 does not cost the good one); a refusal leaves it untouched. (A
// missing model file is checked against the documents in docs_test.)
TEST(Batch, ExitCodesTellHowTheRunEnded) {
  const std::string dir = batchFolder(), result = dir + "/log/result_m.txt";
  const struct {
    const char* name;
    std::string model;
    int code, samples;  // samples written: -2 some before the stop, -1 none (result untouched)
    const char* says;
  } cases[] = {
      {"runs to its end", springModel("100.0"), 0, 101, ""},
      {"not finite after t = 0: failed", springModel("100.0", "(speed_y*sqrt(0-time))"), 1, 1,
       "orvaldyn-batch: The constraint equations cannot be solved at t=0.000000"},
      {"unstable, without contact: stopped by the energy rule", springModel("-1.0e5"), 3, -2,
       "orvaldyn-batch: the run stopped early: The energy changed by more than ten times the "
       "run's energy scale"},
      {"refused model", "body_info\n%\n", 1, -1, "orvaldyn-batch: "}};
  for (const auto& c : cases) {
    const std::string before = readFile(result);
    orvtest::writeFile(dir + "/m.txt", c.model);
    const BatchRun r = runBatch(dir, "m.txt");
    EXPECT_EQ(r.code, c.code) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err.rfind(c.says, 0), 0u) << c.name << "\n" << r.err;
    const int n = samplesIn(result);
    if (c.samples == -1) {
      EXPECT_EQ(readFile(result), before) << c.name;
      continue;
    }
    EXPECT_TRUE(c.samples == -2 ? n >= 1 && n < 101 : n == c.samples) << c.name << " " << n;
    EXPECT_EQ(readFile(result + ".bak"), before) << c.name;
  }
}

// The import has a file of its own: the analysis result stays as it was, byte for byte.
TEST(Batch, ImportLeavesTheAnalysisResult) {
  const std::string dir = batchFolder({"setting", "double_pendulum.txt", "motion"});
  ASSERT_EQ(runBatch(dir, "double_pendulum.txt").code, 0);
  const std::string result = dir + "/log/result_double_pendulum.txt", analysed = readFile(result);
  ASSERT_EQ(samplesIn(result), 2001);
  const std::pair<const char*, const char*> cases[] = {
      // arguments, file written
      {"--import-mov motion/double_pendulum.mov double_pendulum.txt",
       "log/import_double_pendulum.txt"},
      {"--output imp.txt --import-mov motion/double_pendulum.mov double_pendulum.txt", "imp.txt"},
      {"--import-mov motion/double_pendulum.mov double_pendulum.txt --output out/imp.txt",
       "out/imp.txt"}};
  for (const auto& [args, written] : cases) {
    const BatchRun r = runBatch(dir, args);
    EXPECT_EQ(r.code, 0) << args << "\n" << r.err;
    EXPECT_EQ(samplesIn(dir + "/" + written), 501) << args;
    EXPECT_EQ(readFile(result), analysed) << args;
    EXPECT_FALSE(fs::exists(result + ".bak")) << args;
  }
  // An analysis to a file of the caller's choosing.
  EXPECT_EQ(runBatch(dir, "--output mine.txt double_pendulum.txt").code, 0);
  EXPECT_EQ(readFile(dir + "/mine.txt"), analysed);
  EXPECT_EQ(readFile(result), analysed);
}

// A result that cannot be written is found before the run, not after it.
TEST(Batch, UnwritableOutputIsRefusedBeforeTheRun) {
  const std::pair<const char*, const char*> cases[] = {
      // arguments, after "The result file "
      {"m.txt",
       "log/result_m.txt cannot be written: cannot use log as a folder: Not a directory\n"},
      {"--output no/such/r.txt m.txt",
       "no/such/r.txt cannot be written: cannot create the folder no/such: No such file or "
       "directory\n"},
      {"--import-mov x.mov m.txt --output setting", "setting cannot be written: Is a directory\n"}};
  for (const auto& [args, says] : cases) {
    const std::string dir = batchFolder();
    orvtest::writeFile(dir + "/m.txt", springModel("100.0"));
    orvtest::writeFile(dir + "/log", "");
    const BatchRun r = runBatch(dir, args);
    EXPECT_EQ(r.code, 1) << args;
    EXPECT_EQ(r.err, std::string("orvaldyn-batch: The result file ") + says);
    EXPECT_FALSE(orvtest::has(r.out, "Simulation Start") || orvtest::has(r.out, "MOV FILE"))
        << args;
  }
}

#ifndef __SANITIZE_ADDRESS__
// Memory running out while reading is a message and exit code 1, not an abort. A sparse
// file larger than the address space allowed makes the loader's allocation fail.
TEST(Batch, OutOfMemoryIsAMessage) {
  const std::string dir = batchFolder();
  const int fd = open((dir + "/big.txt").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_TRUE(fd >= 0 && ftruncate(fd, off_t(1) << 30) == 0);
  close(fd);
  const BatchRun r = runBatch(dir, "big.txt", "ulimit -v 400000 && OMP_NUM_THREADS=1 ");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "orvaldyn-batch: Not enough memory to read the model file big.txt\n");
}
#endif
