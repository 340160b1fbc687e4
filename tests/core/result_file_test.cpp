#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>

#include "files/result_file.h"
#include "model/histories.h"
#include "model/model.h"
#include "test_util.h"

using namespace orv;
using orvtest::ConsoleCapture;
using orvtest::placeOf;
using orvtest::readFile;

namespace {

Model makeModel(int nb, int nj, int nm, int nf, int nc, int no, int samples) {
  Model m;
  m.bodies.resize(nb), m.joints.resize(nj), m.motions.resize(nm);
  m.forces.resize(nf), m.contacts.resize(nc), m.outputs.resize(no);
  m.sample_num = samples, m.path = "models/rig.txt";
  return m;
}

// Histories as an analysis leaves them after N samples (stores longer than N rows), with
// contact records at samples 1, 1 and 3; every value one the file's 7 digits keep exactly.
Histories makeHistories(const Model& m, int N) {
  std::mt19937 rng(11);
  auto fill = [&](std::vector<double>& v, size_t n) {
    v.resize(n);
    for (double& x : v)
      x = std::stod(std::to_string(int(rng() % 2000001) - 1000000) + "e" +
                    std::to_string(int(rng() % 9) - 9));
  };
  const size_t nj = m.joint_num();
  Histories h;
  fill(h.p_time, N + 1);
  fill(h.p_YYY, (N + 1) * 14 * m.body_num());
  fill(h.p_F_const, (N + 10) * 6 * nj);
  fill(h.p_C_const, (N + 10) * (m.motion_num() + nj));
  fill(h.p_F_force, (N + 10) * 6 * m.force_num());
  fill(h.p_output, (N + 1) * m.output_num());
  if (m.contact_num() > 0) {
    h.cont_time_index = {1, 1, 3};
    fill(h.cont_position, 9);
    fill(h.cont_value, 9);
    h.stl_cont_ti_st = {0, 0, 2, 2, 3, 3};
    h.stl_cont_ti_num = {0, 2, 0, 1, 0, 0};
  }
  h.anime_num = N;
  h.version = "1.25";
  return h;
}

// Replaces the k-th token after the line `label` of a result text; `at` receives the
// offset of the new token.
std::string withToken(const std::string& text, const std::string& label, int k,
                      const std::string& tok, size_t* at = nullptr) {
  std::string t = "\n" + text;
  size_t p = t.find_first_not_of(" \n", t.find("\n" + label + "\n") + label.size() + 2);
  while (k-- > 0) p = t.find_first_not_of(" \n", t.find_first_of(" \n", p));
  if (at) *at = p - 1;
  return t.replace(p, t.find_first_of(" \n", p) - p, tok).substr(1);
}

// The 2-body model with every block, an analysis that stopped at 5 of 8 samples, written.
struct FullCase {
  ConsoleCapture log;
  std::string dir = orvtest::makeTempDir();
  Model m = makeModel(2, 1, 1, 1, 1, 2, 8);
  Histories h = makeHistories(m, 5);
  std::string path = dir + "/log/result_rig.txt";
  bool written = writeResultFileAt(resultFilePath(m, dir), m, h);
  std::string good = readFile(path);
};

}  // namespace

TEST(ResultFile, RoundTripKeepsEveryStore) {
  FullCase c;
  ASSERT_TRUE(c.written);
  EXPECT_EQ(c.log.text(), "  rig.txt\n  " + c.path + "\nRESULT FILE OPEN !!\nFILE CLOSE !!\n");
  // Values a run may leave (NaN, infinities, the extremes) read back as written, with one
  // warning naming the first place.
  c.h.p_time[3] = -std::nan(""), c.h.p_F_force[0] = -HUGE_VAL, c.h.cont_value[7] = HUGE_VAL;
  c.h.p_output[0] = 4.9e-324, c.h.p_F_const[7] = 1.797693e308;
  // Contact records as a run leaves them: out of order, outside every sample, and one at
  // sample N (the step past the last sample time, as a run that ends in contact records it).
  c.h.cont_time_index = {3, -1, 1, 5, 1, 7};
  for (int i = 9; i < 18; ++i) c.h.cont_position.push_back(i), c.h.cont_value.push_back(-i);
  ASSERT_TRUE(writeResultFileAt(c.path, c.m, c.h));
  const std::string text = readFile(c.path);

  // Read back: N rows of each store; of each C_const row (nm + nj = 2 in memory) only
  // the joint entry is kept.
  Histories want = c.h;
  want.p_time.resize(5), want.p_YYY.resize(5 * 28), want.p_F_const.resize(5 * 6);
  want.p_C_const.resize(5 * 2), want.p_F_force.resize(5 * 6), want.p_output.resize(5 * 2);
  want.stl_cont_ti_st.resize(5), want.stl_cont_ti_num.resize(5);
  for (int k = 0; k < 5; ++k) want.p_C_const[2 * k + 1] = 0.0;
  auto kept = [](const std::vector<double>& v) {  // the records kept, in sample order
    std::vector<double> out;
    for (int i : {2, 4, 0, 3}) out.insert(out.end(), v.begin() + 3 * i, v.begin() + 3 * i + 3);
    return out;
  };
  want.cont_time_index = {1, 1, 3, 5}, want.cont_position = kept(c.h.cont_position);
  want.cont_value = kept(c.h.cont_value);
  want.analysis_finished = 1, want.result_shape = resultShapeOf(c.m);
  Histories r;
  r.current_frame = 4;
  ASSERT_TRUE(readResultFile(c.path, c.m, r));
  EXPECT_TRUE(std::isnan(r.p_time[3]) && std::signbit(r.p_time[3]));
  r.p_time[3] = want.p_time[3] = 0.0;
  EXPECT_TRUE(orvtest::resultStores(r) == orvtest::resultStores(want));
  EXPECT_TRUE(orvtest::has(c.log.text(), "Version:1.25\ntime_num=5\n%\ntime\n%\nmotion\n"));
  EXPECT_TRUE(orvtest::has(c.log.text(),
                           "output\n%\n" + placeOf(c.path, text, text.find("-nan")) +
                               ": warning: 3 values are not finite numbers; the first is '-nan' "
                               "(time: row 3, value 0); read as written\nFILE CLOSE !!\n"))
      << c.log.text();

  // Without contact pairs every sample still has its (empty) record table.
  const Model free = makeModel(2, 1, 1, 1, 0, 2, 8);
  ASSERT_TRUE(writeResultFileAt(c.dir + "/free.txt", free, c.h));
  ASSERT_TRUE(readResultFile(c.dir + "/free.txt", free, r));
  EXPECT_TRUE(r.stl_cont_ti_num == std::vector<int>(5, 0) && r.stl_cont_ti_st == r.stl_cont_ti_num);
}

TEST(ResultFile, DamagedOrForeignFilesLeaveHistoriesUntouched) {
  FullCase c;
  ASSERT_TRUE(c.written);
  const std::string& good = c.good;
  std::string bad;
  int serial = 0;
  const Histories before = makeHistories(c.m, 3);
  auto refused = [&](const std::string& text, const Model& m) {
    bad = c.dir + "/bad" + std::to_string(serial++);
    orvtest::writeFile(bad, text);
    Histories h = before;
    return !readResultFile(bad, m, h) && orvtest::resultStores(h) == orvtest::resultStores(before);
  };

  // Every cut before the closing "%" is refused with the file's message.
  for (size_t cut = 0; cut + 1 < good.size(); ++cut) {
    ConsoleCapture con;
    EXPECT_TRUE(refused(good.substr(0, cut), c.m)) << "cut at " << cut;
    EXPECT_TRUE(orvtest::has(con.text(), "RESULT FILE ERROR: " + bad + ": ")) << "cut at " << cut;
  }

  // (label, token index, replacement, what the place line says was expected): wrong label,
  // time_num above the samples and 0, overflow, bad number, extra value, control byte,
  // contact records out of order or range (5 is the step past the last sample, allowed),
  // and counts that are negative, not 3k or disagree.
  const std::tuple<const char*, int, const char*, const char*> edits[] = {
      {"%", 0, "time_numX", "`time_num`"},
      {"time_num", 0, "9", "an integer from 1 to 8"},
      {"time_num", 0, "0", "an integer from 1 to 8"},
      {"motion", 3, "1e999", "a number"},
      {"F_force", 2, "1.0.0", "a number"},
      {"output", 0, "1 2", nullptr},  // the place is where the extra value pushes "%"
      {"Version", 0, "1\x01", "a version text without control characters"},
      {"time_index", 1, "6", "an integer from 0 to 5"},
      {"ti_num", 1, "4", "an integer from 0 to 3"},
      {"ti_st", 3, "1", "the first record of sample 3"},
      {"ti_st", 0, "-1", "an integer from 0 to 3"},
      {"position", 0, "10", "a multiple of 3"},
      {"value", 0, "-9", "a count of 0 or more"},
      {"value", 0, "6", "9"},
      {"time_index", 0, "2", "3"}};
  auto says = [&](const std::string& text, size_t at, const std::string& found,
                  const std::string& expected) {
    ConsoleCapture con;
    EXPECT_TRUE(refused(text, c.m)) << found << " " << expected;
    const std::string t = con.text();
    const size_t error = t.find("RESULT FILE ERROR: " + bad + ": ");
    ASSERT_NE(error, std::string::npos) << found;
    EXPECT_EQ(t.substr(t.find('\n', error) + 1),
              placeOf(bad, text, at) + ": found " + found + ", expected " + expected + "\n");
  };
  says(good + "extra\n", good.size(), "'extra'", "the end of the file");
  says(good.substr(0, good.size() - 2), good.size() - 2, "the end of the file", "`%`");
  for (const auto& [label, k, tok, expected] : edits) {
    size_t at = 0;
    const std::string text = withToken(good, label, k, tok, &at);
    std::string shown = std::string(tok).substr(0, std::string(tok).find(' '));
    std::replace(shown.begin(), shown.end(), '\x01', '?');
    if (expected)
      says(text, at, "'" + shown + "'", expected);
    else
      EXPECT_TRUE(refused(text, c.m)) << label;
  }
  EXPECT_TRUE(refused(withToken(withToken(good, "time_index", 3, "0"), "ti_num", 3, "0"), c.m));

  // Other models: every size comes from the loaded model (a contact block where none
  // belongs, more samples than the model has).
  for (const Model& other : {makeModel(3, 1, 1, 1, 1, 2, 8), makeModel(1, 1, 1, 1, 1, 2, 8),
                             makeModel(2, 1, 1, 1, 1, 3, 8), makeModel(2, 1, 1, 1, 0, 2, 8),
                             makeModel(2, 1, 1, 1, 1, 2, 4)})
    EXPECT_TRUE(refused(good, other));
  Histories h = before;
  EXPECT_TRUE(readResultFile(c.path, makeModel(2, 1, 3, 1, 1, 2, 5), h));
  h = before;
  EXPECT_FALSE(readResultFile(c.dir + "/missing.txt", c.m, h) || readResultFile(c.dir, c.m, h));
  EXPECT_TRUE(orvtest::resultStores(h) == orvtest::resultStores(before));
  EXPECT_TRUE(orvtest::has(c.log.text(), "RESULT FILE OPEN ERROR\n"));

  // Counts near 2^31 are refused from the file size, never tried (a file larger than the
  // memory left too, where the cap works: not under AddressSanitizer).
  const std::string huge = c.dir + "/huge.txt";
  auto capped = [&](const char* label, const char* count, const Model& m, const std::string& why) {
    if (label) orvtest::writeFile(huge, withToken(c.good, label, 0, count));
    Histories into;
    return orvtest::refusedWithCappedMemory(
        512, [&] { return readResultFile(huge, m, into); }, why);
  };
  EXPECT_TRUE(capped("position", "2147483646", c.m, "exceeds"));
  EXPECT_TRUE(
      capped("time_num", "2000000000", makeModel(2, 1, 1, 1, 1, 2, 2147483647), "cannot fit"));
#ifndef __SANITIZE_ADDRESS__
  ASSERT_EQ(truncate(huge.c_str(), off_t(1) << 30), 0);  // sparse: no disk used
  EXPECT_TRUE(
      capped(nullptr, "", c.m,
             "RESULT FILE ERROR: " + huge + ": Not enough memory to read the result file\n"));
#endif
}

// A write that cannot open its file, or finds a folder where the result belongs at the
// rename, says why and leaves no temporary. A writer killed before its rename leaves
// ".result_<pid>_<n>.tmp": the next write in that folder removes those of ended processes
// and keeps the rest. (checkResultPath is checked in batch_test.)
TEST(ResultFile, WriteErrorsSayWhyAndStaleTemporariesGo) {
  FullCase c;
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);  // an ended process's id
  const std::string live = ".result_" + std::to_string(getpid()) + "_999.tmp";
  for (const std::string& f : {".result_" + std::to_string(child) + "_0.tmp", live,
                               std::string(".result_x_1.tmp"), std::string("a.tmp")})
    orvtest::writeFile(c.dir + "/log/" + f, "partial");
  const std::string d = orvtest::makeTempDir(),
                    want = "cannot use " + d + "/log as a folder: Not a directory";
  orvtest::writeFile(d + "/log", "x");
  std::string why;
  EXPECT_FALSE(writeResultFileAt(d + "/log/result_rig.txt", c.m, c.h, &why));
  EXPECT_EQ(why, want);
  EXPECT_TRUE(orvtest::has(c.log.text(), "FILE OPEN ERROR\n  " + want + "\n"));
  std::filesystem::remove(c.path);
  std::filesystem::create_directory(c.path);
  EXPECT_FALSE(writeResultFileAt(c.path, c.m, c.h, &why));
  EXPECT_EQ(why, "cannot replace " + c.path + ": Is a directory");
  EXPECT_TRUE(orvtest::has(c.log.text(), "FILE CLOSE ERROR\n  " + why + "\n"));
  std::set<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(c.dir + "/log"))
    left.insert(e.path().filename());
  EXPECT_EQ(left, (std::set<std::string>{live, ".result_x_1.tmp", "a.tmp", "result_rig.txt"}));
}

// A write that fails part way (at the file-size limit, as on a full disk) says why and
// leaves the result that was there.
TEST(ResultFileDeathTest, FailedWriteSaysWhyAndKeepsTheResult) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FullCase c;
  ASSERT_TRUE(c.written && c.good.size() > 1000);
  EXPECT_EXIT(
      {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim;
        lim.rlim_cur = lim.rlim_max = 1000;
        setrlimit(RLIMIT_FSIZE, &lim);
        std::string why;
        const bool ok = writeResultFileAt(c.path, c.m, c.h, &why);
        const bool said = why == "cannot write " + c.path + ": File too large" &&
                          orvtest::has(c.log.text(), "FILE CLOSE ERROR\n  " + why + "\n");
        std::_Exit(!ok && said && readFile(c.path) == c.good ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
