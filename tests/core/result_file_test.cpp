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

Model makeModel(int nb, int nj, int nm, int nf, int nc, int no, int samples,
                const std::string& path = "models/rig.txt") {
  Model m;
  m.bodies.resize(nb), m.joints.resize(nj), m.motions.resize(nm);
  m.forces.resize(nf), m.contacts.resize(nc), m.outputs.resize(no);
  m.sample_num = samples, m.path = path;
  return m;
}

// Histories as an analysis leaves them after N samples (stores longer than N rows), with
// contact records at samples 1, 1 and 3; every value one the file's 7 digits keep exactly.
Histories makeHistories(const Model& m, int N) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> d(-2e3, 2e3);
  auto fill = [&](std::vector<double>& v, size_t n) {
    v.resize(n);
    char s[32];
    for (double& x : v) {
      std::snprintf(s, sizeof s, "%.6e", d(rng) * std::pow(10.0, int(rng() % 9) - 4));
      x = std::strtod(s, nullptr);
    }
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

std::set<std::string> listDir(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename());
  return names;
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
  // Only the joint entry of each C_const row (nm + nj = 2 per row in memory).
  const size_t cs = c.good.find("C_const\n") + 8;
  std::string rows;
  char row[40];
  for (int k = 0; k < 5; ++k)
    rows += std::string(row, std::snprintf(row, sizeof row, "%e  \n", c.h.p_C_const[2 * k]));
  EXPECT_EQ(c.good.substr(cs, c.good.find("%\n", cs) - cs), rows);

  // Read back: N rows of each store, no C_const motion entries.
  Histories want = c.h;
  want.p_time.resize(5), want.p_YYY.resize(5 * 28), want.p_F_const.resize(5 * 6);
  want.p_C_const.resize(5 * 2), want.p_F_force.resize(5 * 6), want.p_output.resize(5 * 2);
  want.stl_cont_ti_st.resize(5), want.stl_cont_ti_num.resize(5);
  for (int k = 0; k < 5; ++k) want.p_C_const[2 * k + 1] = 0.0;
  want.analysis_finished = 1, want.result_shape = resultShapeOf(c.m);
  Histories r;
  r.current_frame = 4;
  ASSERT_TRUE(readResultFile(c.path, c.m, r));
  EXPECT_TRUE(orvtest::resultStores(r) == orvtest::resultStores(want));
  EXPECT_TRUE(orvtest::has(c.log.text(), "Version:1.25\ntime_num=5\n%\ntime\n%\nmotion\n"));
  EXPECT_EQ(c.log.text().substr(c.log.text().size() - 23), "output\n%\nFILE CLOSE !!\n");
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
  struct Place {
    std::string text;
    size_t at;
    std::string found, expected;
  };
  std::vector<Place> places = {{good + "extra\n", good.size(), "'extra'", "the end of the file"},
                               {good.substr(0, good.size() - 2), good.size() - 2,
                                "the end of the file", "`%`"}};
  for (const auto& [label, k, tok, expected] : edits) {
    size_t at = 0;
    const std::string text = withToken(good, label, k, tok, &at);
    if (!expected) {
      EXPECT_TRUE(refused(text, c.m)) << label;
      continue;
    }
    std::string shown = std::string(tok).substr(0, std::string(tok).find(' '));
    std::replace(shown.begin(), shown.end(), '\x01', '?');
    places.push_back({text, at, "'" + shown + "'", expected});
  }
  for (const Place& p : places) {
    ConsoleCapture con;
    EXPECT_TRUE(refused(p.text, c.m)) << p.found << " " << p.expected;
    const std::string text = con.text();
    const size_t error = text.find("RESULT FILE ERROR: " + bad + ": ");
    ASSERT_NE(error, std::string::npos) << p.found;
    EXPECT_EQ(text.substr(text.find('\n', error) + 1), placeOf(bad, p.text, p.at) + ": found " +
                                                           p.found + ", expected " + p.expected +
                                                           "\n");
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
}

// Counts near 2^31 are refused from the file size, never tried (a file larger than the
// memory left too, where the cap works: not under AddressSanitizer).
TEST(ResultFile, HugeCountsAreRefusedWithoutAllocating) {
  FullCase c;
  const std::string bad = c.dir + "/huge.txt";
  auto refused = [&](const char* label, const char* count, const Model& m, const std::string& why) {
    if (label) orvtest::writeFile(bad, withToken(c.good, label, 0, count));
    return orvtest::refusedWithCappedMemory(
        512,
        [&] {
          Histories h;
          return readResultFile(bad, m, h);
        },
        why);
  };
  EXPECT_TRUE(refused("position", "2147483646", c.m, "exceeds"));
  EXPECT_TRUE(refused("time_index", "2147483647", c.m, "exceeds"));
  EXPECT_TRUE(
      refused("time_num", "2000000000", makeModel(2, 1, 1, 1, 1, 2, 2147483647), "cannot fit"));
#ifndef __SANITIZE_ADDRESS__
  ASSERT_EQ(truncate(bad.c_str(), off_t(1) << 30), 0);  // sparse: no disk used
  EXPECT_TRUE(
      refused(nullptr, "", c.m,
              "RESULT FILE ERROR: " + bad + ": Not enough memory to read the result file\n"));
#endif
}

// Without contact pairs every sample still has its (empty) record table.
TEST(ResultFile, ContactFreeResultsHaveEmptyRecordTables) {
  ConsoleCapture log;
  const std::string dir = orvtest::makeTempDir();
  const Model m = makeModel(2, 1, 1, 1, 0, 2, 8);
  ASSERT_TRUE(writeResultFileAt(resultFilePath(m, dir), m, makeHistories(m, 5)));
  Histories r;
  ASSERT_TRUE(readResultFile(dir + "/log/result_rig.txt", m, r));
  EXPECT_TRUE(r.stl_cont_ti_num == std::vector<int>(5, 0) && r.stl_cont_ti_st == r.stl_cont_ti_num);
}

// Values a run may leave (NaN, infinities, the extremes) read back as written, with one
// warning naming the first place.
TEST(ResultFile, NonFiniteValuesReadBackWithAWarning) {
  FullCase c;
  using Store = std::vector<double> Histories::*;
  const std::tuple<Store, size_t, double> values[] = {
      {&Histories::p_YYY, 31, -std::nan("")}, {&Histories::p_F_force, 0, -HUGE_VAL},
      {&Histories::p_output, 0, 4.9e-324},    {&Histories::cont_value, 4, HUGE_VAL},
      {&Histories::p_time, 3, std::nan("")},  {&Histories::p_F_const, 7, 1.797693e308}};
  for (const auto& [store, i, v] : values) (c.h.*store)[i] = v;
  ASSERT_TRUE(writeResultFileAt(resultFilePath(c.m, c.dir), c.m, c.h));
  const std::string text = readFile(c.path);
  Histories r;
  ConsoleCapture con;
  ASSERT_TRUE(readResultFile(c.path, c.m, r)) << con.text();
  for (const auto& [store, i, v] : values) {  // same bits, or both NaN of the same sign
    const double a = (r.*store)[i];
    EXPECT_TRUE(std::memcmp(&a, &v, sizeof a) == 0 ||
                (std::isnan(a) && std::isnan(v) && std::signbit(a) == std::signbit(v)))
        << i;
  }
  EXPECT_TRUE(orvtest::has(con.text(), placeOf(c.path, text, text.find("nan")) +
                                           ": warning: 4 values are not finite numbers; the first "
                                           "is 'nan' (time: row 3, value 0); read as written\n"))
      << con.text();
}

// Contact records as a run leaves them: one at sample N (the step past the last sample
// time, as a run that ends in contact records it), out of order, or outside every sample.
TEST(ResultFile, ContactRecordsAreWrittenSoThatTheyReadBack) {
  const std::pair<std::vector<int>, std::vector<int>> cases[] = {{{1, 1, 3, 5}, {1, 1, 3, 5}},
                                                                 {{3, 1, 1}, {1, 1, 3}},
                                                                 {{-1, 1, 7}, {1}}};
  for (const auto& [held, back] : cases) {
    FullCase c;
    c.h.cont_time_index = held;
    c.h.cont_position.resize(3 * held.size());
    c.h.cont_value.resize(3 * held.size());
    for (size_t i = 0; i < held.size(); ++i) c.h.cont_position[3 * i] = held[i];
    ConsoleCapture con;
    ASSERT_TRUE(writeResultFileAt(resultFilePath(c.m, c.dir), c.m, c.h));
    Histories r;
    ASSERT_TRUE(readResultFile(c.path, c.m, r)) << con.text();
    EXPECT_EQ(r.cont_time_index, back);
    for (size_t i = 0; i < back.size(); ++i) EXPECT_EQ(r.cont_position[3 * i], back[i]);
    for (int k = 0; k < 5; ++k) {  // the records of each stored sample, where the view looks
      const int n = static_cast<int>(std::count(back.begin(), back.end(), k));
      EXPECT_EQ(r.stl_cont_ti_num[k], n);
      for (int j = 0; j < n; ++j) EXPECT_EQ(r.cont_time_index[r.stl_cont_ti_st[k] + j], k);
    }
  }
}

// A writer killed before its rename leaves ".result_<pid>_<n>.tmp" behind: the next write
// in that folder removes those of ended processes and keeps the rest.
TEST(ResultFile, StaleTemporariesOfEndedWritersAreRemoved) {
  FullCase c;
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);  // an ended process's id
  const std::string dead = ".result_" + std::to_string(child) + "_0.tmp";
  const std::string live = ".result_" + std::to_string(getpid()) + "_999.tmp";
  for (const std::string& f : {dead, live, std::string(".result_x_1.tmp"), std::string("a.tmp")})
    orvtest::writeFile(c.dir + "/log/" + f, "partial");
  ConsoleCapture con;
  ASSERT_TRUE(writeResultFileAt(resultFilePath(c.m, c.dir), c.m, c.h));
  EXPECT_EQ(listDir(c.dir + "/log"),
            (std::set<std::string>{live, ".result_x_1.tmp", "a.tmp", "result_rig.txt",
                                   "result_rig.txt.bak"}));
}

// A write that cannot open its file, or finds a folder where the result belongs at the
// rename, says why and leaves no temporary. (checkResultPath is checked in batch_test.)
TEST(ResultFile, WriteErrorsSayWhy) {
  FullCase c;
  const std::string d = orvtest::makeTempDir(),
                    want = "cannot use " + d + "/log as a folder: Not a directory";
  orvtest::writeFile(d + "/log", "x");
  ConsoleCapture con;
  std::string why;
  EXPECT_FALSE(writeResultFileAt(d + "/log/result_rig.txt", c.m, c.h, &why));
  EXPECT_EQ(why, want);
  EXPECT_TRUE(orvtest::has(con.text(), "FILE OPEN ERROR\n  " + want + "\n"));
  std::filesystem::remove(c.path);
  std::filesystem::create_directory(c.path);
  EXPECT_FALSE(writeResultFileAt(c.path, c.m, c.h, &why));
  EXPECT_EQ(why, "cannot replace " + c.path + ": Is a directory");
  EXPECT_TRUE(orvtest::has(con.text(), "FILE CLOSE ERROR\n  " + why + "\n"));
  EXPECT_EQ(listDir(c.dir + "/log"), std::set<std::string>{"result_rig.txt"});
}

// A write that fails part way (at the file-size limit, as on a full disk) says why and
// leaves the result that was there.
[[noreturn]] static void writeWithSizeLimit(const FullCase& c) {
  signal(SIGXFSZ, SIG_IGN);
  const rlimit lim{1000, 1000};
  setrlimit(RLIMIT_FSIZE, &lim);
  ConsoleCapture con;
  std::string why;
  const bool ok = writeResultFileAt(c.path, c.m, c.h, &why);
  const bool said = why == "cannot write " + c.path + ": File too large" &&
                    orvtest::has(con.text(), "FILE CLOSE ERROR\n  " + why + "\n");
  std::_Exit(!ok && said && readFile(c.path) == c.good ? 0 : 1);
}

TEST(ResultFileDeathTest, FailedWriteSaysWhyAndKeepsTheResult) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FullCase c;
  ASSERT_TRUE(c.written && c.good.size() > 1000);
  EXPECT_EXIT(writeWithSizeLimit(c), ::testing::ExitedWithCode(0), "");
}
