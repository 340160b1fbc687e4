// orvaldyn-batch as a script sees it: command lines, exit codes, the files it
// writes and keeps. Each test runs the built program in a fresh folder with a
// copy of the example settings.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int code;
  std::string out, err;
};

// A fresh folder holding setting/ and the given example files.
std::string workFolder(const std::vector<std::string>& examples = {}) {
  const std::string dir = fs::canonical(orvtest::makeTempDir()).string();
  const std::string ex = ORVALDYN_EXAMPLES;
  fs::copy(ex + "/setting", dir + "/setting", fs::copy_options::recursive);
  for (const std::string& e : examples)
    fs::copy(ex + "/" + e, dir + "/" + e, fs::copy_options::recursive);
  return dir;
}

// Runs the program in `dir` with `args` (shell words), after `prefix` (e.g. a ulimit).
Outcome batch(const std::string& dir, const std::string& args, const std::string& prefix = "") {
  const std::string cmd = "cd '" + dir + "' && " + prefix + "'" + ORVALDYN_BATCH + "' " + args +
                          " >.out 2>.err";
  const int st = std::system(cmd.c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, orvtest::readFile(dir + "/.out"),
          orvtest::readFile(dir + "/.err")};
}

// A mass on a guide hung from a spring (stiffness K) with a damper (force DAMPER):
// 101 samples when it runs to its end.
std::string springModel(const std::string& K, const std::string& damper = "(0-speed_y)") {
  return "parameter_info  name_value\n  k_spring  " + K + "\n%\n"
         "body_info  name_cg_mass_Ixx_Iyy_Izz_vx_vy_vz_wx_wy_wz\n"
         "  ground  ground_cg  1.0  1.0   1.0   1.0   0.0 0.0 0.0  0.0 0.0 0.0\n"
         "  mass    mass_cg    1.0  0.01  0.01  0.01  0.0 0.0 0.0  0.0 0.0 0.0\n%\n"
         "local_coordinate_info  name_body_x_y_z_a1_a2_a3\n"
         "  ground_cg  ground  0.0  0.0    0.0  0.0  0.0    0.0\n"
         "  anchor     ground  0.0  0.0    0.0  0.0  0.0    0.0\n"
         "  guide_g    ground  0.0  -0.55  0.0  0.0  -90.0  0.0\n"
         "  m_top      mass    0.0  -0.5   0.0  0.0  0.0    0.0\n"
         "  mass_cg    mass    0.0  -0.55  0.0  0.0  0.0    0.0\n"
         "  guide_m    mass    0.0  -0.55  0.0  0.0  -90.0  0.0\n%\n"
         "joint_info  flag_name_type_i_j\n"
         "  on  fix_ground  ground       ground_cg  non\n"
         "  on  guide       translation  guide_g    guide_m\n%\n"
         "function_info  name_expression\n"
         "  speed_y  (VY(m_top,anchor,anchor,anchor))\n  damper   " + damper + "\n%\n"
         "force_info  flag_name_type_i_j_r_values\n"
         "  on  main_spring  spring1  m_top  anchor  anchor  k_spring  0.0\n"
         "  on  dashpot      force6   m_top  anchor  anchor  0.0  damper  0.0  0.0  0.0  0.0\n%\n"
         "output_info  name_expression\n  height  DY(mass_cg,anchor,anchor)\n%\n"
         "gravity  g  on  y-  %\nsimulation_time  start_step_end  0.0  0.005  0.5  %\n";
}

// The sample count a result file states (-1 without a file).
int samplesIn(const std::string& path) {
  std::istringstream in(orvtest::readFile(path));
  std::string tok;
  while (in >> tok)
    if (tok == "time_num" && in >> tok) return std::stoi(tok);
  return -1;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != text.npos; }

}  // namespace

TEST(Batch, CommandLines) {
  const std::string dir = workFolder();
  const Outcome help = batch(dir, "--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("usage: orvaldyn-batch [--output FILE] MODELFILE\n", 0), 0u) << help.out;
  EXPECT_TRUE(has(help.out, "exit codes: 0 success; 1 refused or failed") && help.err.empty());
  // Usage errors: usage on standard error, nothing else done.
  for (const char* args : {"", "--bogus m.txt", "m.txt n.txt", "m.txt --output",
                           "--import-mov x.mov", "--output a --output b m.txt", "''"}) {
    const Outcome r = batch(dir, args);
    EXPECT_EQ(r.code, 2) << args;
    EXPECT_EQ(r.err, help.out) << args;
    EXPECT_TRUE(r.out.empty()) << args;
  }
  EXPECT_FALSE(fs::exists(dir + "/log"));
}

// One folder for the whole sequence: a run replaces the result (kept as .bak, so a run
// that fails at t = 0 does not cost the good one); a refusal leaves it untouched.
TEST(Batch, ExitCodesTellHowTheRunEnded) {
  const std::string dir = workFolder(), result = dir + "/log/result_m.txt";
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
      {"refused model", "body_info\n%\n", 1, -1, "orvaldyn-batch: "},
      {"no model file", "", 1, -1, "orvaldyn-batch: cannot open m.txt\n"}};
  for (const auto& c : cases) {
    const std::string before = orvtest::readFile(result);
    if (c.model.empty())
      fs::remove(dir + "/m.txt");
    else
      orvtest::writeFile(dir + "/m.txt", c.model);
    const Outcome r = batch(dir, "m.txt");
    EXPECT_EQ(r.code, c.code) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err.rfind(c.says, 0), 0u) << c.name << "\n" << r.err;
    const int n = samplesIn(result);
    if (c.samples == -1) {
      EXPECT_EQ(orvtest::readFile(result), before) << c.name;
      continue;
    }
    EXPECT_TRUE(c.samples == -2 ? n >= 1 && n < 101 : n == c.samples) << c.name << " " << n;
    EXPECT_EQ(orvtest::readFile(result + ".bak"), before) << c.name;
  }
}

TEST(Batch, MissingSettingsNameThePathLookedFor) {
  const std::string dir = workFolder();
  fs::remove_all(dir + "/setting");
  orvtest::writeFile(dir + "/m.txt", springModel("100.0"));
  const Outcome r = batch(dir, "m.txt");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.out, "SETTING FILE OPEN ERROR\n  cannot open " + dir +
                             "/setting/setting.txt: the program reads setting/ from its working "
                             "directory\n")) << r.out;
}

// The import has a file of its own: the analysis result stays as it was, byte for byte.
TEST(Batch, ImportLeavesTheAnalysisResult) {
  const std::string dir = workFolder({"double_pendulum.txt", "motion"});
  ASSERT_EQ(batch(dir, "double_pendulum.txt").code, 0);
  const std::string result = dir + "/log/result_double_pendulum.txt";
  const std::string analysed = orvtest::readFile(result);
  ASSERT_EQ(samplesIn(result), 2001);

  const struct {
    const char* args;
    const char* written;
  } cases[] = {{"--import-mov motion/double_pendulum.mov double_pendulum.txt",
                "log/import_double_pendulum.txt"},
               {"--output imp.txt --import-mov motion/double_pendulum.mov double_pendulum.txt",
                "imp.txt"},
               {"--import-mov motion/double_pendulum.mov double_pendulum.txt --output out/imp.txt",
                "out/imp.txt"}};
  for (const auto& c : cases) {
    const Outcome r = batch(dir, c.args);
    EXPECT_EQ(r.code, 0) << c.args << "\n" << r.err;
    EXPECT_EQ(samplesIn(dir + "/" + c.written), 501) << c.args;
    EXPECT_EQ(orvtest::readFile(result), analysed) << c.args;
    EXPECT_FALSE(fs::exists(result + ".bak")) << c.args;
  }

  // An analysis to a file of the caller's choosing.
  const Outcome r = batch(dir, "--output mine.txt double_pendulum.txt");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(orvtest::readFile(dir + "/mine.txt"), analysed);
  EXPECT_EQ(orvtest::readFile(result), analysed);
}

// A result that cannot be written is found before the run, not after it.
TEST(Batch, UnwritableOutputIsRefusedBeforeTheRun) {
  const struct {
    const char* name;
    const char* args;
    const char* says;  // after "orvaldyn-batch: The result file "
  } cases[] = {
      {"log/ is a file", "m.txt",
       "log/result_m.txt cannot be written: cannot use log as a folder: Not a directory\n"},
      {"no such folder", "--output no/such/r.txt m.txt",
       "no/such/r.txt cannot be written: cannot create the folder no/such: No such file or "
       "directory\n"},
      {"import into a folder", "--import-mov x.mov m.txt --output setting",
       "setting cannot be written: Is a directory\n"}};
  for (const auto& c : cases) {
    const std::string dir = workFolder();
    orvtest::writeFile(dir + "/m.txt", springModel("100.0"));
    orvtest::writeFile(dir + "/log", "");
    const Outcome r = batch(dir, c.args);
    EXPECT_EQ(r.code, 1) << c.name;
    EXPECT_EQ(r.err, std::string("orvaldyn-batch: The result file ") + c.says) << c.name;
    EXPECT_FALSE(has(r.out, "Simulation Start") || has(r.out, "MOV FILE")) << c.name;
  }
}

#ifndef __SANITIZE_ADDRESS__
// Memory running out while reading is a message and exit code 1, not an abort. A sparse
// file larger than the address space allowed makes the loader's allocation fail.
TEST(Batch, OutOfMemoryIsAMessage) {
  const std::string dir = workFolder();
  const int fd = open((dir + "/big.txt").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_TRUE(fd >= 0 && ftruncate(fd, off_t(1) << 30) == 0);
  close(fd);
  const Outcome r = batch(dir, "big.txt", "ulimit -v 400000 && OMP_NUM_THREADS=1 ");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "orvaldyn-batch: Not enough memory to read the model file big.txt\n");
}
#endif
