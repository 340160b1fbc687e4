#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "files/motion_import.h"
#include "files/result_file.h"
#include "math/vec3.h"
#include "test_util.h"

using namespace orv;
using orvtest::has;
using orvtest::placeOf;

namespace {

// Ground and an arm; a "revolution_" joint (19 values) on the arm and a "ground"
// joint (12); a motion and a force element, so the widths of the zeroed stores show.
Model makeModel() {
  Model m;
  m.bodies.resize(2);
  m.bodies[0].name = "ground", m.bodies[1].name = "arm";
  m.joints.resize(2);
  m.joints[0].name = "pin", m.joints[0].type = "revolution_", m.joints[0].i_body = 1;
  m.joints[1].name = "fix", m.joints[1].type = "ground", m.joints[1].i_body = 0;
  m.motions.resize(1), m.forces.resize(1);
  m.outputs = {{0, "old", "DX(a,b,c)"}};
  return m;
}

using Values = std::function<double(int k, int row, int v)>;
const char* const kFiles[] = {"header.txt", "run.mov", "run.jnt"};

// Node "base" keeps its angles; node "tip" turns and carries 3 extra values.
struct MotionSet {
  std::string t0 = "0", dt = "0.01", t_end = "1";
  std::vector<int> columns{12, 15}, cg{1, 2}, jointCols{19, 12};
  std::vector<std::string> names{"base", "tip"};
  Values node = [](int k, int n, int v) {
    if (v >= 12) return 999.0;
    if (v >= 3 && v < 6) return n == 0 ? 30.0 - 25.0 * (v - 3) : 7.0 * k * (v - 1) - 40.0;
    return 0.001 * k + 0.1 * n + 0.01 * v;
  };
  Values joint = [](int k, int j, int v) { return (j + 1) * 10.0 - v + 0.5 * k; };

  std::string header() const {
    auto list = [](std::string s, const std::vector<int>& v) {
      for (int x : v) s += " " + std::to_string(x);
      return s + "\n";
    };
    std::string s = "time " + t0 + " " + dt + " " + t_end + "\n" +
                    list("node_num", {int(columns.size())}) + list("node_column", columns) +
                    "node_name";
    for (const std::string& n : names) s += " " + n;
    return s + "\n" + list("cg_node_index", cg);
  }
  std::string rows(const std::vector<int>& cols, const Values& f) const {
    // Sets with a header the import refuses (dt 0 or nan) still get one row.
    const double span = std::stod(t_end) / std::stod(dt);
    const int N = span >= 0 && span < 1e6 ? static_cast<int>(span + 1e-9) + 1 : 1;
    std::string s;
    char num[40];
    for (int k = 0; k < N; ++k)
      for (size_t r = 0; r < cols.size(); ++r) {
        s += std::to_string(r + 1);
        for (int v = 0; v < cols[r]; ++v)
          s += std::string(num, std::snprintf(num, sizeof num, " %.17g", f(k, int(r), v)));
        s += "\n";
      }
    return s;
  }
  std::string text(int f) const {
    return f == 0 ? header() : f == 1 ? rows(columns, node) : rows(jointCols, joint);
  }
  void write(const std::string& dir) const {
    for (int f = 0; f < 3; ++f) orvtest::writeFile(dir + "/" + kFiles[f], text(f));
  }
};

std::vector<std::tuple<int, std::string, std::string>> channels(const Model& m) {
  std::vector<std::tuple<int, std::string, std::string>> v;
  for (const OutputRequest& o : m.outputs) v.emplace_back(o.id, o.name, o.equ);
  return v;
}

// Rx(a) Ry(b) Rz(c) of angles in degrees, row-major, as the product of the three turns.
double* rotationXYZ(double* R, double a, double b, double c) {
  a = degToRad(a), b = degToRad(b), c = degToRad(c);
  const double x[9] = {1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a)};
  const double y[9] = {std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b)};
  const double z[9] = {std::cos(c), -std::sin(c), 0, std::sin(c), std::cos(c), 0, 0, 0, 1};
  return mat3Mul(R, mat3Mul(R, x, y), z);
}

}  // namespace

// (Channel names, magnitudes and a planar swing are checked against the documented
// example in docs_test.)
TEST(MotionImport, FillsStoresAndChannelsFromAllThreeFiles) {
  orvtest::ConsoleCapture log;
  const std::string dir = orvtest::makeTempDir();
  MotionSet s;
  s.write(dir);
  const Model m = makeModel();
  Histories h;
  h.cont_time_index = {0};
  ASSERT_TRUE(importMotion(dir + "/run.mov", m, h)) << log.text();
  // The channels are the result's; the model keeps its own output requests.
  EXPECT_EQ(channels(m), channels(makeModel()));
  const int N = 101, no = 24 + 23 + 16;  // 12 per node; 4 + 19 and 4 + 12 for the joints
  ASSERT_TRUE(h.anime_num == N && h.p_time.size() == size_t(N) && h.p_time.back() == 1.0);
  ASSERT_EQ(channelCount(m, h), no);
  EXPECT_EQ(channelName(m, h, 62), "fix_Tmag_Global");
  ASSERT_TRUE(h.p_output.size() == size_t(N) * no && h.p_YYY.size() == size_t(N) * 28);
  for (int k = 0; k < N; k += 7) {
    const double* out = &h.p_output[size_t(k) * no];
    // The tip's three extra values are skipped; its 12 and the joints' stay aligned.
    for (int v = 0; v < 24; ++v) EXPECT_EQ(out[v], s.node(k, v / 12, v % 12)) << k;
    for (int e = 0; e < 7; ++e) EXPECT_EQ(out[40 + e], s.joint(k, 0, 12 + e));
    const double* Y = &h.p_YYY[size_t(k) * 28];
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Y[i], s.node(k, i / 3, i % 3));
    for (int i : {6, 7, 8, 9, 10, 11, 20, 21, 22, 23, 24, 25, 26, 27}) EXPECT_EQ(Y[i], 0.0);  // no rates
    const double identity[4] = {1, 0, 0, 0};  // ground's node keeps its sample-0 angles
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(Y[12 + i], identity[i], 1e-15);
    // The arm turns by R(angles) R(sample-0 angles)^T, with the solver's own Rx Ry Rz.
    double Rk[9], R0[9], A[9];
    rotationXYZ(Rk, out[15], out[16], out[17]);
    rotationXYZ(R0, -40, -40, -40);
    mat3FromEulerParameters(A, &Y[16]);
    for (int i = 0; i < 9; ++i) {
      double want = 0;
      for (int c = 0; c < 3; ++c) want += Rk[3 * (i / 3) + c] * R0[3 * (i % 3) + c];
      EXPECT_NEAR(A[i], want, 1e-12) << k;
    }
    // Reactions: global force as given, torque into the arm's axes.
    const double* F = &h.p_F_const[size_t(k) * 12];
    double back[3];
    mat3MulVec(back, A, F + 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(F[i], s.joint(k, 0, 6 + i));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], s.joint(k, 0, 9 + i), 1e-12);
  }
  EXPECT_TRUE(h.p_C_const == std::vector<double>(size_t(N) * 3, 0.0) &&
              h.p_F_force == std::vector<double>(size_t(N) * 6, 0.0));
  EXPECT_TRUE(h.stl_cont_ti_st == std::vector<int>(N, 0) && h.stl_cont_ti_num == std::vector<int>(N, 0) &&
              h.cont_time_index.empty());
  EXPECT_EQ(h.p_Yi, std::vector<double>(h.p_YYY.begin(), h.p_YYY.begin() + 28));
  EXPECT_EQ(h.p_F_const_i, std::vector<double>(h.p_F_const.begin(), h.p_F_const.begin() + 12));
  EXPECT_TRUE(h.analysis_finished == 1 && h.result_shape == resultShapeOf(m));
  // Progress into a log is one short line per file, not an entry per sample.
  EXPECT_EQ(log.text(), "  " + dir + "/header.txt\nMOV FILE OPEN !!\ntime_num=101\nnode_num=2\n"
                        "node_column:\n  12  15\nnode_name:\n  base  tip\ncg_node_index:\n  1  2\n"
                        "MOV FILE OPEN !!\np_YYY\ntime=101/101\nFILE CLOSE !!\n  " + dir +
                        "/run.jnt\nJNT FILE OPEN !!\ntime=101/101\nJNT FILE CLOSE !!\n");

  // 0.3 / 0.1 is 2.9999999999999996: the rounding must not lose the last sample.
  s.dt = "0.1", s.t_end = "0.3";
  s.write(dir);
  ASSERT_TRUE(importMotion(dir + "/run.mov", m, h));
  EXPECT_EQ(h.anime_num, 4);
}

TEST(MotionImport, EulerParametersAreRecoveredUpToHalfTurns) {
  const double r3 = 1.0 / 3.0;
  const double axes[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {r3, 2 * r3, -2 * r3}};
  for (const auto& u : axes)
    for (double deg : {0.0, 30.0, 90.0, 150.0, 179.9, 180.0, -179.9, -90.0}) {
      const double c = std::cos(deg * M_PI / 360), s = std::sin(deg * M_PI / 360);
      const double want[4] = {c, u[0] * s, u[1] * s, u[2] * s};
      double A[9], p[4];
      mat3FromEulerParameters(A, want);
      eulerParametersFromMatrix(A, p);
      EXPECT_GE(p[0], 0.0);
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(p[i], c < 0 ? -want[i] : want[i], 1e-14) << deg;
    }
}

TEST(MotionImport, JointForcePathCutsAtTheFirstDotThenTriesTheOwnExtension) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"runs/a.b/run.mov", "runs/a.jnt", "runs/a.b/run.jnt"}, {"/d/run.mov", "/d/run.jnt", ""},
      {"./x/run.mov", ".jnt", "./x/run.jnt"}, {"run.v2.mov", "run.jnt", "run.v2.jnt"},
      {"d.x/noext", "d.jnt", "d.x/noext.jnt"}, {"noext", "noext.jnt", ""}};
  for (const auto& [mov, first, second] : cases) {
    std::string f, s;
    jointForcePaths(mov, f, s);
    EXPECT_TRUE(f == first && s == second) << mov << ": " << f << ", " << s;
  }

  const std::string top = orvtest::makeTempDir(), dir = top + "/a.b";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  MotionSet s;
  s.t_end = "0.05";
  s.write(dir);
  const Model m = makeModel();
  Histories h;
  orvtest::ConsoleCapture log;  // only run.jnt beside the motion: the fallback is used
  ASSERT_TRUE(importMotion(dir + "/run.mov", m, h)) << log.text();
  EXPECT_TRUE(has(log.text(), "  " + top + "/a.jnt\n  not there; trying " + dir +
                                  "/run.jnt\nJNT FILE OPEN !!\n"));
  // The file the first-dot rule names wins when it exists.
  s.joint = [](int, int, int) { return 4.0; };
  orvtest::writeFile(top + "/a.jnt", s.text(2));
  ASSERT_TRUE(importMotion(dir + "/run.mov", m, h));
  EXPECT_TRUE(has(log.text(), "  " + top + "/a.jnt\nJNT FILE OPEN !!\n"));
  EXPECT_EQ(h.p_output[24], 4.0);
}

TEST(MotionImport, BadInputLeavesModelAndStoresUnchanged) {
  orvtest::ConsoleCapture log;
  const std::string dir = orvtest::makeTempDir(), mov = dir + "/run.mov";
  MotionSet good, held;  // a held import of another set is what must survive
  good.t_end = "0.02", held.t_end = "0.04";
  held.write(dir);
  Model m = makeModel();
  Histories h;
  ASSERT_TRUE(importMotion(mov, m, h));
  const Model m0 = m;
  const Histories h0 = h;
  auto unchanged = [&] {
    return orvtest::resultStores(h) == orvtest::resultStores(h0) && channels(m) == channels(m0);
  };
  int serial = 0;
  std::string d;
  // Writes the good set into a new directory d, file f replaced; true when refused cleanly.
  auto refused = [&](int f, const std::string& text) {
    d = dir + "/case" + std::to_string(serial++);
    mkdir(d.c_str(), 0755);
    good.write(d);
    orvtest::writeFile(d + "/" + kFiles[f], text);
    return !importMotion(d + "/run.mov", m, h) && unchanged();
  };
  // Every cut up to the start of the last token (a cut inside it leaves a valid number)
  // is refused with the message of the file that was cut.
  for (int f = 0; f < 3; ++f) {
    const std::string t = good.text(f);
    const size_t last = t.find_last_of(" \n", t.size() - 2) + 1;
    for (size_t cut = 0; cut <= last; ++cut) {
      orvtest::ConsoleCapture con;
      EXPECT_TRUE(refused(f, t.substr(0, cut))) << kFiles[f] << " cut at " << cut;
      EXPECT_TRUE(has(con.text(), "MOTION IMPORT ERROR: " + d + "/" + kFiles[f] + ": "))
          << kFiles[f] << " cut at " << cut;
    }
  }

  // Missing files, then pipes nobody writes to (must not block), and a directory.
  for (int f = 0; f < 3; ++f) {
    refused(f, "");  // a fresh folder d
    const std::string file = d + "/" + kFiles[f];
    ASSERT_EQ(std::remove(file.c_str()), 0);
    EXPECT_TRUE(!importMotion(d + "/run.mov", m, h) && unchanged()) << file;
    ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
    EXPECT_TRUE(!importMotion(d + "/run.mov", m, h) && unchanged()) << file;
  }
  EXPECT_TRUE(!importMotion(dir, m, h) && unchanged());

  // Models the files cannot describe are refused before anything is read.
  Model odd = m, empty;
  odd.joints[1].type = "hinge";
  EXPECT_TRUE(!importMotion(mov, odd, h) && !importMotion(mov, empty, h) && unchanged());
  EXPECT_TRUE(channels(odd) == channels(m0) && empty.outputs.empty());

  for (const char* text : {"joint fix has type hinge", "no model is open", "MOV FILE OPEN ERROR\n",
                           "JNT FILE OPEN ERROR\n"})
    EXPECT_TRUE(has(log.text(), text)) << text;
}

// Claims near 2^31 must be refused from the file sizes, never tried: the child's
// address space is capped so that an attempt shows as "out of memory".
[[noreturn]] static void importWithCappedMemory(const std::string& mov, const char* why) {
  orvtest::capMemory(256);
  orvtest::ConsoleCapture out;
  Model m = makeModel();
  Histories h;
  const bool ok = importMotion(mov, m, h);
  std::_Exit(!ok && has(out.text(), why) ? 0 : 1);
}

TEST(MotionImportDeathTest, HugeClaimsAreRefusedWithoutAllocating) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string dir = orvtest::makeTempDir();
  MotionSet s;
  s.t_end = "0.02";
  s.write(dir);
  auto check = [&](const std::string& header, const char* why) {
    orvtest::writeFile(dir + "/header.txt", header);
    EXPECT_EXIT(importWithCappedMemory(dir + "/run.mov", why), ::testing::ExitedWithCode(0), "")
        << header;
  };
  check("t 0 1 2147483648 n 2 c 12 15 n a b cg 1 2", "more than 10000000 samples");
  check("t 0 1 9999998 n 2 c 12 15 n a b cg 1 2", "too short");
  check("t 0 0.01 0.02 n 2147483647 c 12 15 n a b cg 1 2", "cannot fit");
  check("t 0 0.01 0.02 n 2 c 2147483647 2147483647 n a b cg 1 2", "too short");
#ifndef __SANITIZE_ADDRESS__  // (the cap needs the plain allocator)
  // A motion file larger than the memory left: refused, saying what it could not do.
  const int fd = open((dir + "/run.mov").c_str(), O_WRONLY | O_TRUNC);
  ASSERT_TRUE(fd >= 0 && ftruncate(fd, off_t(1) << 30) == 0);  // sparse: no disk used
  close(fd);
  const std::string why =
      "MOTION IMPORT ERROR: " + dir + "/run.mov: Not enough memory to import the motion\n";
  check(s.header(), why.c_str());
#endif
}

// A file written from an import (what orvaldyn-batch --import-mov writes) opens again with
// "Open Result File" for the same model, though its channels and time span are not the
// model's (the GUI tests open it again after the model was opened anew).
TEST(MotionImport, ImportWrittenAsAResultOpensAgain) {
  orvtest::ConsoleCapture log;
  const std::string dir = orvtest::makeTempDir();
  MotionSet s;
  s.write(dir);
  Model m = makeModel();  // one sample of its own, the motion has 101
  Histories imported;
  ASSERT_TRUE(importMotion(dir + "/run.mov", m, imported));
  const std::string path = importFilePath(m, dir);
  EXPECT_EQ(path, dir + "/log/import_");  // the model has no file name
  ASSERT_TRUE(writeResultFileAt(path, m, imported));
  Histories back;
  ASSERT_TRUE(readResultFile(path, m, back)) << log.text();
  EXPECT_EQ(back.channel_names, imported.channel_names);
  EXPECT_EQ(back.anime_num, 101);
  EXPECT_EQ(back.p_output.size(), imported.p_output.size());
  for (size_t i = 0; i < back.p_output.size(); i += 97)
    EXPECT_NEAR(back.p_output[i], imported.p_output[i],
                1e-6 * (1 + std::fabs(imported.p_output[i])));
  const std::string text = orvtest::readFile(path);
  orvtest::writeFile(dir + "/cut.txt", text.substr(0, text.find("tip_dx")));
  EXPECT_FALSE(readResultFile(dir + "/cut.txt", m, back));
  EXPECT_TRUE(has(log.text(), "RESULT FILE ERROR: " + dir + "/cut.txt: channels: "));
}

// Every refusal of a motion set says what is wrong, then names the file, line and column of
// the token at fault, what stands there and what was expected.
TEST(MotionImport, BrokenFilesNameThePlace) {
  const std::string dir = orvtest::makeTempDir();
  MotionSet good, shortJoint, longName;
  good.t_end = shortJoint.t_end = longName.t_end = "0.02";
  shortJoint.jointCols[0] = 18;  // short rows shift every later value
  longName.names[0] = std::string(64, 'n');
  const std::string header = good.header(), mov = good.text(1), jnt = good.text(2);
  const std::string rest = header.substr(header.find('\n'));
  const size_t lastValue = mov.find_last_of(' ') + 1, cg = header.rfind('2');
  const size_t cgEnd = header.rfind("cg_node_index") + 14;
  struct Case {
    int file;
    std::string text;
    size_t at;  // offset of the token at fault
    std::string found, expected, what;
  };
  const Case cases[] = {
      {0, "time 0 0 0.02" + rest, 7, "'0'", "a positive number", "dt must be positive"},
      {0, "time 0 nan 0.02" + rest, 7, "'nan'", "a number", "dt: 'nan' is not a finite number"},
      {0, "time 0 0.01 -1" + rest, 12, "'-1'", "a time not before t0", "t_end lies before t0"},
      {0, "time 0 0.01 0.02 node_num 0 nc nn cg 1 1", 26, "'0'", "an integer of 1 or more",
       "node_num is 0"},
      {0, header.substr(0, header.find("12")) + "11" + header.substr(header.find("12") + 2),
       header.find("12"), "'11'", "an integer of 12 or more", "node_column of node 1 is 11"},
      {0, longName.header(), longName.header().find("nnn"), "'" + std::string(24, 'n') + "...'",
       "a name of at most 63 characters", "node_name of node 1 is longer than 63 characters"},
      {0, header.substr(0, cg) + "3\n", cg, "'3'", "an integer from 1 to 2",
       "cg_node_index of body 2 (arm) is 3, outside 1..2"},
      {0, header.substr(0, cg) + "0\n", cg, "'0'", "an integer from 1 to 2", ""},
      {0, header.substr(0, cgEnd), cgEnd, "the end of the file", "an integer", ""},
      {1, "1.5" + mov.substr(1), 0, "'1.5'", "an integer row label",
       "sample 1 of 3, node 1 (base), row label: '1.5' is not an integer"},
      {1, "1 1e999" + mov.substr(mov.find(' ', 2)), 2, "'1e999'", "a number", ""},
      {1, mov.substr(0, lastValue), lastValue, "the end of the file", "a number",
       "sample 3 of 3, node 2 (tip), value 15 of 15: file ends"},
      {1, mov.substr(0, 10), 10, "the end of the file", "3 samples of 29 values", ""},
      {2, "1 x" + jnt.substr(jnt.find(' ', 2)), 2, "'x'", "a number", ""},
      {2, shortJoint.text(2), shortJoint.text(2).find(" 10.5") + 1, "'10.5'",
       "an integer row label", "sample 2 of 3, joint 1 (pin), row label"}};
  int serial = 0;
  for (const Case& c : cases) {
    const std::string d = dir + "/case" + std::to_string(serial++);
    mkdir(d.c_str(), 0755);
    good.write(d);
    const std::string file = d + "/" + kFiles[c.file];
    orvtest::writeFile(file, c.text);
    Model m = makeModel();
    Histories h;
    orvtest::ConsoleCapture con;
    EXPECT_FALSE(importMotion(d + "/run.mov", m, h));
    const std::string text = con.text();
    const size_t error = text.find("MOTION IMPORT ERROR: " + file + ": " + c.what);
    ASSERT_NE(error, std::string::npos) << text;
    EXPECT_EQ(text.substr(text.find('\n', error) + 1),
              placeOf(file, c.text, c.at) + ": found " + c.found + ", expected " + c.expected +
                  "\n")
        << c.file << " " << c.at;
  }
}
