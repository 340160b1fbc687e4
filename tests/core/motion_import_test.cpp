#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <tuple>

#include "model/histories.h"
#include "model/model.h"
#include "files/motion_import.h"
#include "math/vec3.h"
#include "test_util.h"

using namespace orv;
using orvtest::has;

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

// Node "base" turns 45 degrees a sample about z; node "tip" turns about changing axes
// and carries 3 extra values.
struct MotionSet {
  std::string dt = "0.01", t_end = "1";
  Values node = [](int k, int n, int v) {
    if (v >= 12) return 999.0;
    if (v >= 3 && v < 6) return n == 0 ? (v == 5) * 45.0 * k : 7.0 * k * (v - 1) - 40.0;
    return 0.001 * k + 0.1 * n + 0.01 * v;
  };
  Values joint = [](int k, int j, int v) { return (j + 1) * 10.0 - v + 0.5 * k; };

  std::string rows(const std::vector<int>& cols, const Values& f) const {
    const int N = static_cast<int>(std::stod(t_end) / std::stod(dt) + 1e-9) + 1;
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
    return f == 0 ? "time 0 " + dt + " " + t_end +
                        "\nnode_num 2\nnode_column 12 15\nnode_name base tip\ncg_node_index 1 2\n"
           : f == 1 ? rows({12, 15}, node)
                    : rows({19, 12}, joint);
  }
  void write(const std::string& dir) const {
    for (int f = 0; f < 3; ++f) orvtest::writeFile(dir + "/" + kFiles[f], text(f));
  }
};

// True when the import of the set in `dir` is refused with `why` printed, in a child
// process whose memory is capped: a huge allocation fails there.
bool refusedCapped(const std::string& dir, const std::string& why) {
  Histories h;
  auto read = [&] { return importMotion(dir + "/run.mov", makeModel(), h); };
  return orvtest::refusedWithCappedMemory(256, read, why);
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
// example in docs_test.) The set lies in a folder with a dot, so the joint-force file
// that the first-dot rule names is looked for first.
TEST(MotionImport, FillsStoresAndChannelsFromAllThreeFiles) {
  orvtest::ConsoleCapture log;
  const std::string top = orvtest::makeTempDir(), dir = top + "/a.b";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  MotionSet s;
  s.write(dir);
  const Model m = makeModel();
  Histories h;
  h.cont_time_index = {0};
  ASSERT_TRUE(importMotion(dir + "/run.mov", m, h)) << log.text();
  const int N = 101, no = 24 + 23 + 16;  // 12 per node; 4 + 19 and 4 + 12 for the joints
  ASSERT_TRUE(h.anime_num == N && h.p_time.size() == size_t(N) && h.p_time.back() == 1.0);
  ASSERT_TRUE(channelCount(m, h) == no && h.p_output.size() == size_t(N) * no &&
              h.p_YYY.size() == size_t(N) * 28);
  EXPECT_EQ(channelName(m, h, 62), "fix_Tmag_Global");
  for (int k = 0; k < N; k += 7) {
    const double* out = &h.p_output[size_t(k) * no];
    // The tip's three extra values are skipped; its 12 and the joints' stay aligned.
    for (int v = 0; v < 24; ++v) EXPECT_EQ(out[v], s.node(k, v / 12, v % 12)) << k;
    for (int e = 0; e < 7; ++e) EXPECT_EQ(out[40 + e], s.joint(k, 0, 12 + e));
    const double* Y = &h.p_YYY[size_t(k) * 28];
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Y[i], s.node(k, i / 3, i % 3));
    for (int i : {6, 7, 8, 9, 10, 11, 20, 21, 22, 23, 24, 25, 26, 27})
      EXPECT_EQ(Y[i], 0.0);  // no rates
    // The base's Euler parameters are (cos, 0, 0, sin) of half its turn, the first kept
    // positive; at sample 56, a half turn, only the last one is not 0.
    const double half = degToRad(22.5 * k), e0 = std::cos(half) < 0 ? -1 : 1;
    for (int i = 0; i < 4; ++i)
      EXPECT_NEAR(Y[12 + i], e0 * (i == 0 ? std::cos(half) : i == 3 ? std::sin(half) : 0), 1e-14);
    // The arm turns by R(angles) R(sample-0 angles)^T, with the solver's own Rx Ry Rz.
    double Rk[9], R0[9], T[9], W[9], A[9];
    rotationXYZ(Rk, out[15], out[16], out[17]);
    mat3Mul(W, Rk, mat3Transpose(T, rotationXYZ(R0, -40, -40, -40)));
    mat3FromEulerParameters(A, &Y[16]);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(A[i], W[i], 1e-12) << k;
    // Reactions: global force as given, torque into the arm's axes.
    const double* F = &h.p_F_const[size_t(k) * 12];
    double back[3];
    mat3MulVec(back, A, F + 3);
    for (int i = 0; i < 3; ++i)
      EXPECT_TRUE(F[i] == s.joint(k, 0, 6 + i) &&
                  std::fabs(back[i] - s.joint(k, 0, 9 + i)) < 1e-12);
  }
  EXPECT_TRUE(h.p_C_const == std::vector<double>(size_t(N) * 3, 0.0) &&
              h.p_F_force == std::vector<double>(size_t(N) * 6, 0.0) &&
              h.stl_cont_ti_st == std::vector<int>(N, 0) &&
              h.stl_cont_ti_num == std::vector<int>(N, 0) && h.cont_time_index.empty());
  EXPECT_TRUE(h.analysis_finished == 1 && h.result_shape == resultShapeOf(m));
  // Progress into a log is one short line per file, not an entry per sample.
  EXPECT_EQ(log.text(),
            "  " + dir +
                "/header.txt\nMOV FILE OPEN !!\ntime_num=101\nnode_num=2\n"
                "node_column:\n  12  15\nnode_name:\n  base  tip\ncg_node_index:\n  1  2\n"
                "MOV FILE OPEN !!\np_YYY\ntime=101/101\nFILE CLOSE !!\n  " +
                top + "/a.jnt\n  not there; trying " + dir +
                "/run.jnt\nJNT FILE OPEN !!\ntime=101/101\nJNT FILE CLOSE !!\n");

  // 0.3 / 0.1 is 2.9999999999999996: the rounding must not lose the last sample. The
  // joint-force file the first-dot rule names wins when it is there.
  s.dt = "0.1", s.t_end = "0.3";
  s.write(dir);
  s.joint = [](int, int, int) { return 4.0; };
  orvtest::writeFile(top + "/a.jnt", s.text(2));
  ASSERT_TRUE(importMotion(dir + "/run.mov", m, h));
  EXPECT_TRUE(h.anime_num == 4 && h.p_output[24] == 4.0);
}

TEST(MotionImport, JointForcePathCutsAtTheFirstDotThenTriesTheOwnExtension) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"runs/a.b/run.mov", "runs/a.jnt", "runs/a.b/run.jnt"},
      {"/d/run.mov", "/d/run.jnt", ""},
      {"./x/run.mov", ".jnt", "./x/run.jnt"},
      {"run.v2.mov", "run.jnt", "run.v2.jnt"},
      {"d.x/noext", "d.jnt", "d.x/noext.jnt"},
      {"noext", "noext.jnt", ""}};
  for (const auto& [mov, first, second] : cases) {
    std::string f, s;
    jointForcePaths(mov, f, s);
    EXPECT_TRUE(f == first && s == second) << mov << ": " << f << ", " << s;
  }
}

TEST(MotionImport, BadInputLeavesTheStoresUnchanged) {
  orvtest::ConsoleCapture log;
  const std::string dir = orvtest::makeTempDir(), mov = dir + "/run.mov";
  MotionSet good, held;  // a held import of another set is what must survive
  good.t_end = "0.02", held.t_end = "0.04";
  held.write(dir);
  Model m = makeModel();
  Histories h;
  ASSERT_TRUE(importMotion(mov, m, h));
  const Histories h0 = h;
  auto unchanged = [&] { return orvtest::resultStores(h) == orvtest::resultStores(h0); };
  // Writes the good set into a new folder d, file f replaced (or, for null, removed);
  // true when refused cleanly.
  int serial = 0;
  std::string d;
  auto refused = [&](int f, const char* text) {
    d = dir + "/case" + std::to_string(serial++);
    mkdir(d.c_str(), 0755);
    good.write(d);
    const std::string file = d + "/" + kFiles[f];
    if (text ? !orvtest::writeFile(file, text) : std::remove(file.c_str()) != 0) return false;
    return !importMotion(d + "/run.mov", m, h) && unchanged();
  };
  // Every cut up to the start of the last token (a cut inside it leaves a valid number)
  // is refused with the message of the file that was cut; a missing file too.
  for (int f = 0; f < 3; ++f) {
    const std::string t = good.text(f);
    for (size_t cut = 0; cut <= t.find_last_of(" \n", t.size() - 2) + 1; ++cut) {
      orvtest::ConsoleCapture con;
      EXPECT_TRUE(refused(f, t.substr(0, cut).c_str()) &&
                  has(con.text(), "MOTION IMPORT ERROR: " + d + "/" + kFiles[f] + ": "))
          << kFiles[f] << " cut at " << cut;
    }
    EXPECT_TRUE(refused(f, nullptr)) << kFiles[f];
  }

  // Models the files cannot describe are refused before anything is read.
  Model odd = m, empty;
  odd.joints[1].type = "hinge";
  EXPECT_TRUE(!importMotion(mov, odd, h) && !importMotion(mov, empty, h) && unchanged());

  for (const char* text : {"joint fix has type hinge", "no model is open", "MOV FILE OPEN ERROR\n",
                           "JNT FILE OPEN ERROR\n"})
    EXPECT_TRUE(has(log.text(), text)) << text;
}

// Every refusal of a motion set says what is wrong, then names the file, line and column of
// the token at fault, what stands there and what was expected: the corpus of
// tests/data/motion-broken, one folder per case, its lines in EXPECTED. None tries a large
// allocation first (counts the files cannot hold are refused from the file sizes), and a
// motion larger than the memory left is a message too (where the cap works: not under
// AddressSanitizer).
TEST(MotionImport, BrokenFilesNameThePlaceWithoutAllocating) {
  const std::string data = std::string(ORVALDYN_TEST_DATA) + "/motion-broken";
  std::ifstream manifest(data + "/EXPECTED");
  std::map<std::string, std::string> expected;
  for (std::string line; std::getline(manifest, line);)
    if (!line.empty() && line[0] != '#')
      expected[line.substr(0, line.find('\t'))] += line.substr(line.find('\t') + 1) + "\n";
  MotionSet good;
  good.t_end = "0.02";
  for (auto [name, text] : expected) {
    const std::string d = orvtest::makeTempDir();
    good.write(d);
    for (const auto& f : std::filesystem::directory_iterator(data + "/" + name))
      std::filesystem::copy_file(f.path(), d + "/" + f.path().filename().string(),
                                 std::filesystem::copy_options::overwrite_existing);
    for (size_t at = text.find("DIR/"); at != std::string::npos; at = text.find("DIR/", at))
      text.replace(at, 3, d);
    EXPECT_TRUE(refusedCapped(d, text)) << name << ":\n" << text;
  }
  EXPECT_EQ(expected.size(), 19u);
#ifndef __SANITIZE_ADDRESS__
  const std::string d = orvtest::makeTempDir();
  MotionSet().write(d);
  ASSERT_EQ(truncate((d + "/run.mov").c_str(), off_t(1) << 30), 0);  // sparse: no disk used
  EXPECT_TRUE(refusedCapped(d, "MOTION IMPORT ERROR: " + d +
                                   "/run.mov: Not enough memory to import the motion\n"));
#endif
}
