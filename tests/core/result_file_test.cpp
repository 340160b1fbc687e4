#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <tuple>

#include "model/histories.h"
#include "model/model.h"
#include "results/result_file.h"
#include "test_util.h"

using namespace orv;

namespace {

Model makeModel(int nb, int nj, int nm, int nf, int nc, int no, int samples,
                const std::string& path = "models/rig.txt") {
  Model m;
  m.bodies.resize(nb), m.joints.resize(nj), m.motions.resize(nm);
  m.forces.resize(nf), m.contacts.resize(nc), m.outputs.resize(no);
  m.sample_num = samples, m.path = path;
  return m;
}

// A value the seven significant digits of the file keep exactly.
double sevenDigits(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.6e", v);
  return std::strtod(s, nullptr);
}

// Histories as an analysis leaves them after N samples (stores longer than N rows),
// with contact records at samples 1, 1 and 3.
Histories makeHistories(const Model& m, int N) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> d(-2e3, 2e3);
  auto fill = [&](std::vector<double>& v, size_t n) {
    v.resize(n);
    for (double& x : v) x = sevenDigits(d(rng) * std::pow(10.0, int(rng() % 9) - 4));
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

// Everything the reader replaces.
auto stores(const Histories& h) {
  return std::tie(h.p_time, h.p_YYY, h.p_Yi, h.p_F_const, h.p_F_const_i, h.p_C_const, h.p_F_force,
                  h.p_output, h.cont_time_index, h.cont_position, h.cont_value, h.stl_cont_ti_st,
                  h.stl_cont_ti_num, h.version, h.anime_num, h.current_frame, h.analysis_finished,
                  h.result_shape);
}

std::set<std::string> listDir(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename());
  return names;
}

// Replaces the k-th token after the line `label` of a result text.
std::string withToken(const std::string& text, const std::string& label, int k,
                      const std::string& tok) {
  std::string t = "\n" + text;
  size_t p = t.find_first_not_of(" \n", t.find("\n" + label + "\n") + label.size() + 2);
  while (k-- > 0) p = t.find_first_not_of(" \n", t.find_first_of(" \n", p));
  return t.replace(p, t.find_first_of(" \n", p) - p, tok).substr(1);
}

// The 2-body model with every block, an analysis that stopped at 5 of 8 samples, written.
struct FullCase {
  orvtest::ConsoleCapture log;
  std::string dir = orvtest::makeTempDir();
  Model m = makeModel(2, 1, 1, 1, 1, 2, 8);
  Histories h = makeHistories(m, 5);
  std::string path = dir + "/log/result_rig.txt";
  bool written = writeResultFile(m, h, dir);
  std::string good = orvtest::readFile(path);
};

}  // namespace

TEST(ResultFile, RoundTripKeepsEveryStore) {
  FullCase c;
  ASSERT_TRUE(c.written);
  EXPECT_EQ(c.log.text(), "  rig.txt\n  " + c.path + "\nRESULT FILE OPEN !!\nFILE CLOSE !!\n");
  const std::string& text = c.good;
  // Only the joint entry of each C_const row (nm + nj = 2 per row in memory).
  const size_t cs = text.find("C_const\n") + 8;
  std::string rows;
  char row[40];
  for (int k = 0; k < 5; ++k)
    rows += std::string(row, std::snprintf(row, sizeof row, "%e  \n", c.h.p_C_const[2 * k]));
  EXPECT_EQ(text.substr(cs, text.find("%\n", cs) - cs), rows);

  // Read back: N rows of each store, no C_const motion entries, row 0 as the current state.
  Histories want = c.h;
  want.p_time.resize(5), want.p_YYY.resize(5 * 28), want.p_F_const.resize(5 * 6);
  want.p_C_const.resize(5 * 2), want.p_F_force.resize(5 * 6), want.p_output.resize(5 * 2);
  want.stl_cont_ti_st.resize(5), want.stl_cont_ti_num.resize(5);
  for (int k = 0; k < 5; ++k) want.p_C_const[2 * k + 1] = 0.0;
  want.p_Yi.assign(want.p_YYY.begin(), want.p_YYY.begin() + 28);
  want.p_F_const_i.assign(want.p_F_const.begin(), want.p_F_const.begin() + 6);
  want.analysis_finished = 1;
  want.result_shape = resultShapeOf(c.m);
  Histories r;
  r.current_frame = 4;
  ASSERT_TRUE(readResultFile(c.path, c.m, r));
  EXPECT_TRUE(stores(r) == stores(want));
  EXPECT_NE(c.log.text().find("Version:1.25\ntime_num=5\n%\ntime\n%\nmotion\n"), std::string::npos);
  EXPECT_EQ(c.log.text().substr(c.log.text().size() - 23), "output\n%\nFILE CLOSE !!\n");
}

TEST(ResultFile, DamagedOrForeignFilesLeaveHistoriesUntouched) {
  FullCase c;
  ASSERT_TRUE(c.written);
  const std::string& good = c.good;
  std::string bad;
  int serial = 0;
  Histories before = makeHistories(c.m, 3);
  auto refused = [&](const std::string& text, const Model& m) {
    bad = c.dir + "/bad" + std::to_string(serial++);
    orvtest::writeFile(bad, text);
    Histories h = before;
    return !readResultFile(bad, m, h) && stores(h) == stores(before);
  };

  // Every cut before the closing "%" is refused with the file's message.
  for (size_t cut = 0; cut + 1 < good.size(); ++cut) {
    orvtest::ConsoleCapture con;
    EXPECT_TRUE(refused(good.substr(0, cut), c.m)) << "cut at " << cut;
    EXPECT_NE(con.text().find("RESULT FILE ERROR: " + bad + ": "), std::string::npos)
        << "cut at " << cut;
  }

  // (label, token index, replacement): wrong label, time_num above the samples and 0, nan,
  // overflow, bad number, extra value, control byte, contact records out of order or range,
  // and counts that are negative, not 3k or disagree.
  const std::tuple<const char*, int, const char*> edits[] = {
      {"%", 0, "time_numX"},  {"time_num", 0, "9"}, {"time_num", 0, "0"},  {"time", 2, "nan"},
      {"motion", 3, "1e999"}, {"F_force", 2, "1.0.0"}, {"output", 0, "1 2"},
      {"Version", 0, "1\x01"}, {"time_index", 1, "5"}, {"ti_num", 1, "4"}, {"ti_st", 3, "1"},
      {"ti_st", 0, "-1"},     {"position", 0, "10"},  {"value", 0, "-9"},  {"value", 0, "6"},
      {"time_index", 0, "2"}};
  for (const auto& [label, k, tok] : edits)
    EXPECT_TRUE(refused(withToken(good, label, k, tok), c.m)) << label << " " << k << " " << tok;
  EXPECT_TRUE(refused(withToken(withToken(good, "time_index", 3, "0"), "ti_num", 3, "0"), c.m));
  EXPECT_TRUE(refused(good + "extra\n", c.m));
  const std::string log = c.log.text();
  const size_t at = log.find(": time_index: entry 0: sample 5 outside 0..4\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.rfind("\nRESULT FILE ERROR: " + c.dir + "/bad", at), log.rfind('\n', at));

  // Other models: every size comes from the loaded model (a contact block where none
  // belongs, more samples than the model has).
  for (const Model& other : {makeModel(3, 1, 1, 1, 1, 2, 8), makeModel(1, 1, 1, 1, 1, 2, 8),
                             makeModel(2, 1, 1, 1, 1, 3, 8), makeModel(2, 1, 1, 1, 0, 2, 8),
                             makeModel(2, 1, 1, 1, 1, 2, 4)})
    EXPECT_TRUE(refused(good, other));
  EXPECT_TRUE(readResultFile(c.path, makeModel(2, 1, 3, 1, 1, 2, 5), before));

  Histories h = before;
  EXPECT_FALSE(readResultFile(c.dir + "/missing.txt", c.m, h));
  EXPECT_FALSE(readResultFile(c.dir, c.m, h));
  EXPECT_TRUE(stores(h) == stores(before));
  EXPECT_NE(c.log.text().find("RESULT FILE OPEN ERROR\n"), std::string::npos);
}

// Counts near 2^31 must be refused from the file size, never tried: the child's
// address space is capped so that an attempt shows as "out of memory".
[[noreturn]] static void readWithCappedMemory(const std::string& path, const Model& m,
                                              const char* why) {
#ifndef __SANITIZE_ADDRESS__
  long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  const rlim_t cap = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(512) << 20);
  rlimit lim{cap, cap};
  setrlimit(RLIMIT_AS, &lim);
#endif
  orvtest::ConsoleCapture out;
  Histories h;
  const bool ok = readResultFile(path, m, h);
  std::_Exit(!ok && out.text().find(why) != std::string::npos ? 0 : 1);
}

TEST(ResultFileDeathTest, HugeCountsAreRefusedWithoutAllocating) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FullCase c;
  ASSERT_TRUE(c.written);
  const std::string bad = c.dir + "/huge.txt";
  auto check = [&](const char* label, const char* count, const Model& m, const char* why) {
    orvtest::writeFile(bad, withToken(c.good, label, 0, count));
    EXPECT_EXIT(readWithCappedMemory(bad, m, why), ::testing::ExitedWithCode(0), "") << label;
  };
  check("position", "2147483646", c.m, "exceeds");
  check("time_index", "2147483647", c.m, "exceeds");
  check("time_num", "2000000000", makeModel(2, 1, 1, 1, 1, 2, 2147483647), "cannot fit");
}

// One body and one channel; stores that end early are written as zeros.
TEST(ResultFile, TinyModelTextIsExactAndReplacedAtomically) {
  orvtest::ConsoleCapture log;
  const std::string dir = orvtest::makeTempDir(), path = dir + "/log/result_tiny.txt";
  Model m = makeModel(1, 0, 0, 0, 0, 1, 2, "tiny.txt");  // no "/": the whole path names it
  Histories h;
  h.p_time = {0.0, 0.01};
  h.p_YYY = {1, -0.5, 1e-310, 123456789.0, 0.1, -0.0, 2.5e-7, 1e300, 9.9999996, -1.0 / 3,
             0, 0,    0,      42,          0,   0,    0,      0,    0,         0,        1};
  h.anime_num = 2;
  ASSERT_TRUE(writeResultFile(m, h, dir + "/"));
  ASSERT_TRUE(writeResultFile(m, h, dir));  // replaces it, leaving nothing else behind
  EXPECT_EQ(listDir(dir + "/log"), std::set<std::string>{"result_tiny.txt"});
  const std::string z = "0.000000e+00  ", z3 = z + z + z, z6 = z3 + z3;
  EXPECT_EQ(orvtest::readFile(path),
            "Version\n0.00\n%\ntime_num\n2\n%\ntime\n0.000000e+00\n1.000000e-02\n%\nmotion\n"
            "1.000000e+00  -5.000000e-01  1.000000e-310  1.234568e+08  1.000000e-01  "
            "-0.000000e+00  2.500000e-07  1.000000e+300  1.000000e+01  -3.333333e-01  " +
                z3 + "4.200000e+01  \n" + z6 + "1.000000e+00  " + z6 + z +
                "\n%\nF_const\n%\nC_const\n%\nF_force\n%\nF_contact\n%\noutput\n" + z + "\n" + z +
                "\n%\n");
  Histories r;
  ASSERT_TRUE(readResultFile(path, m, r));
  EXPECT_EQ(r.p_YYY[3], 123456800.0);
  EXPECT_EQ(r.p_output, std::vector<double>(2, 0.0));
  EXPECT_TRUE(r.p_F_const.empty() && r.p_C_const.empty() && r.cont_time_index.empty());
  EXPECT_EQ(r.stl_cont_ti_num, std::vector<int>({0, 0}));
  EXPECT_EQ(r.p_Yi.size(), 14u);

  // The result path taken by a directory: the rename fails, nothing is left.
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_FALSE(writeResultFile(m, h, dir));
  EXPECT_EQ(log.text().substr(log.text().size() - 17), "FILE CLOSE ERROR\n");
  EXPECT_EQ(listDir(dir + "/log"), std::set<std::string>{"result_tiny.txt"});

  // "log" is a file: nothing can be opened there.
  const std::string other = orvtest::makeTempDir();
  orvtest::writeFile(other + "/log", "x");
  EXPECT_FALSE(writeResultFile(m, h, other));
  EXPECT_EQ(log.text().substr(log.text().size() - 16), "FILE OPEN ERROR\n");
}
