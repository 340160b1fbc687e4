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
  m.sample_num = samples;
  m.path = path;
  return m;
}

// A value the seven significant digits of the file keep exactly.
double sevenDigits(double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.6e", v);
  return std::strtod(s, nullptr);
}

// Histories as an analysis leaves them after N samples (stores longer than
// N rows), with contact records at samples 1, 1 and 3.
Histories makeHistories(const Model& m, int N) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> d(-2e3, 2e3);
  auto fill = [&](std::vector<double>& v, size_t n) {
    v.resize(n);
    for (double& x : v) x = sevenDigits(d(rng) * std::pow(10.0, int(rng() % 9) - 4));
  };
  const size_t nb = m.body_num(), nj = m.joint_num(), nm = m.motion_num();
  Histories h;
  fill(h.p_time, N + 1);
  fill(h.p_YYY, (N + 1) * 14 * nb);
  fill(h.p_F_const, (N + 10) * 6 * nj);
  fill(h.p_C_const, (N + 10) * (nm + nj));
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

// The 2-body model with every block, an analysis that stopped at 5 of 8 samples.
struct FullCase {
  orvtest::ConsoleCapture log;
  std::string dir = orvtest::makeTempDir();
  Model m = makeModel(2, 1, 1, 1, 1, 2, 8);
  Histories h = makeHistories(m, 5);
  std::string path = dir + "/log/result_rig.txt";
};

}  // namespace

TEST(ResultFile, RoundTripKeepsEveryStore) {
  FullCase c;
  ASSERT_TRUE(writeResultFile(c.m, c.h, c.dir));
  EXPECT_EQ(c.log.text(), "  rig.txt\n  " + c.path + "\nRESULT FILE OPEN !!\nFILE CLOSE !!\n");
  const std::string text = orvtest::readFile(c.path);
  // Only the joint entry of each C_const row (nm + nj = 2 per row in memory).
  const size_t cs = text.find("C_const\n") + 8;
  std::string rows;
  for (int k = 0; k < 5; ++k) {
    char row[40];
    std::snprintf(row, sizeof row, "%e  \n", c.h.p_C_const[2 * k]);
    rows += row;
  }
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

TEST(ResultFile, TinyModelTextIsExact) {
  orvtest::ConsoleCapture log;
  const std::string dir = orvtest::makeTempDir();
  Model m = makeModel(1, 0, 0, 0, 0, 0, 2, "tiny.txt");  // no "/": the whole path names it
  Histories h;
  h.p_time = {0.0, 0.01};
  h.p_YYY.assign(28, 0.0);
  const double row0[14] = {1, -0.5, 1e-310, 123456789.0, 0.1, -0.0, 2.5e-7,
                           1e300, 9.9999996, -1.0 / 3, 0, 0, 0, 42};
  std::copy(row0, row0 + 14, h.p_YYY.begin());
  h.p_YYY[14 + 6] = 1.0;
  h.anime_num = 2;
  ASSERT_TRUE(writeResultFile(m, h, dir));
  const std::string zeros5 = "0.000000e+00  0.000000e+00  0.000000e+00  0.000000e+00  0.000000e+00  ";
  EXPECT_EQ(orvtest::readFile(dir + "/log/result_tiny.txt"),
            "Version\n0.00\n%\ntime_num\n2\n%\ntime\n0.000000e+00\n1.000000e-02\n%\nmotion\n"
            "1.000000e+00  -5.000000e-01  1.000000e-310  1.234568e+08  1.000000e-01  "
            "-0.000000e+00  2.500000e-07  1.000000e+300  1.000000e+01  -3.333333e-01  "
            "0.000000e+00  0.000000e+00  0.000000e+00  4.200000e+01  \n" +
                zeros5 + "0.000000e+00  1.000000e+00  " + zeros5 + "0.000000e+00  0.000000e+00  \n" +
                "%\nF_const\n%\nC_const\n%\nF_force\n%\nF_contact\n%\noutput\n%\n");
  EXPECT_NE(log.text().find("  tiny.txt\n  " + dir + "/log/result_tiny.txt\n"), std::string::npos);

  Histories r;
  ASSERT_TRUE(readResultFile(dir + "/log/result_tiny.txt", m, r));
  EXPECT_EQ(r.p_YYY[3], 123456800.0);
  EXPECT_TRUE(r.p_F_const.empty() && r.p_C_const.empty() && r.cont_time_index.empty());
  EXPECT_EQ(r.stl_cont_ti_num, std::vector<int>({0, 0}));
  EXPECT_EQ(r.p_Yi.size(), 14u);
}

TEST(ResultFile, DamagedOrForeignFilesLeaveHistoriesUntouched) {
  FullCase c;
  ASSERT_TRUE(writeResultFile(c.m, c.h, c.dir));
  const std::string good = orvtest::readFile(c.path);
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

  const std::pair<std::string, std::string> edits[] = {
      {"wrong label", withToken(good, "%", 0, "time_numX")},
      {"time_num 9 > samples", withToken(good, "time_num", 0, "9")},
      {"time_num 0", withToken(good, "time_num", 0, "0")},
      {"nan", withToken(good, "time", 2, "nan")},
      {"overflow", withToken(good, "motion", 3, "1e999")},
      {"garbage number", withToken(good, "F_force", 2, "1.0.0")},
      {"extra value", withToken(good, "output", 0, "1 2")},
      {"control byte in version", withToken(good, "Version", 0, "1\x01")},
      {"index past N", withToken(good, "time_index", 1, "5")},
      {"index decreasing", withToken(withToken(good, "time_index", 3, "0"), "ti_num", 3, "0")},
      {"records past the end", withToken(good, "ti_num", 1, "4")},
      {"records of another sample", withToken(good, "ti_st", 3, "1")},
      {"negative start", withToken(good, "ti_st", 0, "-1")},
      {"position count not 3k", withToken(good, "position", 0, "10")},
      {"negative count", withToken(good, "value", 0, "-9")},
      {"value count differs", withToken(good, "value", 0, "6")},
      {"record count differs", withToken(good, "time_index", 0, "2")},
      {"trailing text", good + "extra\n"},
  };
  for (const auto& e : edits) EXPECT_TRUE(refused(e.second, c.m)) << e.first;
  const std::string log = c.log.text();
  const size_t at = log.find(": time_index: entry 0: sample 5 outside 0..4\n");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.rfind("\nRESULT FILE ERROR: " + c.dir + "/bad", at), log.rfind('\n', at));

  // Other models: every size comes from the loaded model.
  EXPECT_TRUE(refused(good, makeModel(3, 1, 1, 1, 1, 2, 8)));
  EXPECT_TRUE(refused(good, makeModel(1, 1, 1, 1, 1, 2, 8)));
  EXPECT_TRUE(refused(good, makeModel(2, 1, 1, 1, 1, 3, 8)));
  EXPECT_TRUE(refused(good, makeModel(2, 1, 1, 1, 0, 2, 8)));  // contact block where none belongs
  EXPECT_TRUE(refused(good, makeModel(2, 1, 1, 1, 1, 2, 4)));  // more samples than the model has
  EXPECT_TRUE(readResultFile(c.path, makeModel(2, 1, 3, 1, 1, 2, 5), before));

  Histories h = before;
  EXPECT_FALSE(readResultFile(c.dir + "/missing.txt", c.m, h));
  EXPECT_FALSE(readResultFile(c.dir, c.m, h));
  EXPECT_TRUE(stores(h) == stores(before));
  EXPECT_NE(c.log.text().find("RESULT FILE OPEN ERROR\n"), std::string::npos);
}

// Counts near 2^31 must be refused from the file size, never tried: the
// child's address space is capped so that an attempt shows as "out of memory".
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
  ASSERT_TRUE(writeResultFile(c.m, c.h, c.dir));
  const std::string good = orvtest::readFile(c.path);
  const std::string bad = c.dir + "/huge.txt";
  auto check = [&](const std::string& text, const Model& m, const char* why) {
    orvtest::writeFile(bad, text);
    EXPECT_EXIT(readWithCappedMemory(bad, m, why), ::testing::ExitedWithCode(0), "");
  };
  check(withToken(good, "position", 0, "2147483646"), c.m, "exceeds");
  check(withToken(good, "time_index", 0, "2147483647"), c.m, "exceeds");
  check(withToken(good, "time_num", 0, "2000000000"), makeModel(2, 1, 1, 1, 1, 2, 2147483647),
        "cannot fit");
}

TEST(ResultFile, WriterCreatesLogReplacesAtomicallyAndCleansUp) {
  orvtest::ConsoleCapture log;
  const std::string dir = orvtest::makeTempDir();
  Model m = makeModel(1, 1, 0, 1, 1, 1, 3, "/abs/path/short.txt");
  Histories h;  // stores far shorter than 3 samples: written as zeros
  h.anime_num = 3;
  ASSERT_TRUE(writeResultFile(m, h, dir + "/"));
  ASSERT_TRUE(writeResultFile(m, h, dir + "/"));
  EXPECT_EQ(listDir(dir + "/log"), std::set<std::string>{"result_short.txt"});
  Histories r;
  ASSERT_TRUE(readResultFile(dir + "/log/result_short.txt", m, r));
  EXPECT_EQ(r.p_YYY, std::vector<double>(42, 0.0));
  EXPECT_EQ(r.p_output, std::vector<double>(3, 0.0));

  // The result path taken by a directory: the rename fails, nothing is left.
  std::filesystem::remove(dir + "/log/result_short.txt");
  std::filesystem::create_directory(dir + "/log/result_short.txt");
  EXPECT_FALSE(writeResultFile(m, h, dir));
  EXPECT_EQ(log.text().substr(log.text().size() - 17), "FILE CLOSE ERROR\n");
  EXPECT_EQ(listDir(dir + "/log"), std::set<std::string>{"result_short.txt"});

  // "log" is a file: nothing can be opened there.
  const std::string other = orvtest::makeTempDir();
  orvtest::writeFile(other + "/log", "x");
  EXPECT_FALSE(writeResultFile(m, h, other));
  EXPECT_EQ(log.text().substr(log.text().size() - 16), "FILE OPEN ERROR\n");
}
