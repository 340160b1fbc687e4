// The block solve of the multipliers against the straightforward dense one.
#include <gtest/gtest.h>

#include <cmath>
#include <dirent.h>
#include <random>

#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "solver/dynamics.h"
#include "test_util.h"

using namespace orv;

namespace {

Settings colours() {
  Settings s;
  for (const char* c : {"red", "green", "blue", "yellow", "cyan", "magenta", "orange", "white",
                        "gray", "silver", "black", "brown"})
    s.colors.push_back(Color{c, {0.5, 0.5, 0.5}});
  return s;
}

bool load(const std::string& path, Model& m, Histories& h) {
  std::string message;
  orvtest::ConsoleCapture con;
  return readModelFile(path, colours(), m, h, message) == ReadStatus::Ok;
}

// A random state near the assembled configuration: bodies turned and moved a
// little, moving. (Far from it the joint equations themselves degenerate and
// S becomes ill-conditioned, which no solve can be compared on.)
std::vector<double> randomState(int nb, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> Y(14 * nb);
  for (int b = 0; b < nb; ++b) {
    double p[4] = {1, 0.05 * u(rng), 0.05 * u(rng), 0.05 * u(rng)}, n = 0;
    for (double v : p) n += v * v;
    for (int k = 0; k < 3; ++k) {
      Y[3 * b + k] = 0.01 * u(rng);
      Y[3 * nb + 3 * b + k] = u(rng);
    }
    for (int k = 0; k < 4; ++k) Y[6 * nb + 4 * b + k] = p[k] / std::sqrt(n);
    for (int k = 0; k < 4; ++k) Y[10 * nb + 4 * b + k] = 0.5 * u(rng);
  }
  return Y;
}

// dY and the multipliers of both paths at a few states; relative to the
// largest entry of each vector.
void expectPathsAgree(const Model& m, Histories& h, const std::string& what, int states = 3) {
  const int nb = m.body_num();
  Settings s = colours();
  DynamicsWork dense, block;
  dense.densePath = true;
  orvtest::ConsoleCapture con;
  setupDynamics(m, h, dense);
  setupDynamics(m, h, block);
  h.p_C_const.assign(10 * (m.joint_num() + m.motion_num()), 0.0);
  // Both leave out the same redundant rows, found at the initial configuration.
  std::vector<double> Y0(14 * nb);
  initialAnalysis(m, h, dense, 0.0, Y0.data());
  initialAnalysis(m, h, block, 0.0, Y0.data());
  h.p_F_const.assign(60 * m.joint_num() + 60, 0.0);
  std::mt19937 rng(11);
  for (int k = 0; k < states; ++k) {
    std::vector<double> Y = randomState(nb, rng), d1(14 * nb), d2(14 * nb);
    h.p_Yi = Y;
    std::vector<int> dofs;
    const bool ok1 = computeStateDerivative(m, s, h, dense, 0.0, Y.data(), d1.data(), dofs);
    const bool ok2 = computeStateDerivative(m, s, h, block, 0.0, Y.data(), d2.data(), dofs);
    ASSERT_EQ(ok1, ok2) << what;
    if (!ok1) continue;
    double scale = 0;
    for (double v : d1) scale = std::max(scale, std::fabs(v));
    for (int i = 0; i < 14 * nb; ++i) ASSERT_NEAR(d1[i], d2[i], 1e-10 * scale) << what << " " << i;
    ASSERT_EQ(dense.lambda.dim1(), block.lambda.dim1());
    double lscale = 0;
    for (int i = 0; i < dense.lambda.dim1(); ++i) lscale = std::max(lscale, std::fabs(dense.lambda[i]));
    for (int i = 0; i < dense.lambda.dim1(); ++i)
      ASSERT_NEAR(dense.lambda[i], block.lambda[i], 1e-10 * lscale) << what << " row " << i;
  }
}

// n bodies, each joined to a random earlier one (a tree), or to the previous
// one (a chain), by joints of mixed types at random places and angles.
std::string treeModel(int n, bool chain, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  const char* types[] = {"revolution", "sphere", "cylinder", "translation", "fix", "in_line",
                         "prismatic", "revolution_"};
  auto num = [](double v) { return std::to_string(v); };
  std::string s = "parameter_info P %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n";
  for (int i = 0; i < n; ++i)
    s += "b" + std::to_string(i) + " c" + std::to_string(i) + " " + num(1.5 + u(rng)) + " " +
         num(0.3 + 0.2 * u(rng)) + " " + num(0.4 + 0.2 * u(rng)) + " " + num(0.5 + 0.2 * u(rng)) +
         " 0 0 0 0 0 0\n";
  s += "%\nframe_info F base_cg base 0 0 0 0 0 0\n";
  std::string joints = "joint_info J on g ground base_cg non\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    const int parent = chain ? i - 1 : static_cast<int>((u(rng) + 1) / 2 * i) - 1;
    const std::string pb = parent < 0 ? "base" : "b" + std::to_string(parent);
    const double x = i + 0.3 * u(rng), y = 0.3 * u(rng), z = 0.3 * u(rng);
    const double a = 40 * u(rng), b = 40 * u(rng), c = 40 * u(rng);
    s += "c" + k + " b" + k + " " + num(x + 0.5) + " " + num(y) + " " + num(z) + " " + num(a) + " 0 0\n";
    const std::string at = num(x) + " " + num(y) + " " + num(z) + " " + num(a) + " " + num(b) + " " + num(c);
    s += "a" + k + " b" + k + " " + at + "\n";
    s += "p" + k + " " + pb + " " + at + "\n";
    joints += "on j" + k + " " + types[(i + (chain ? 0 : 3)) % 8] + " a" + k + " p" + k + "\n";
  }
  s += "%\n" + joints + "%\ngravity G on y- %\nsimulation_time T 0 0.01 1 %\n";
  return s;
}

}  // namespace

TEST(BlockSystem, AgreesWithTheDenseSolveOnEveryExample) {
  const std::string dir = ORVALDYN_EXAMPLES;
  DIR* d = opendir(dir.c_str());
  ASSERT_NE(d, nullptr);
  int count = 0;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() < 5 || name.substr(name.size() - 4) != ".txt") continue;
    Model m;
    Histories h;
    ASSERT_TRUE(load(dir + "/" + name, m, h)) << name;
    expectPathsAgree(m, h, name);
    ++count;
  }
  closedir(d);
  EXPECT_GE(count, 7);
}

TEST(BlockSystem, AgreesWithTheDenseSolveOnRandomChainsAndTrees) {
  std::mt19937 rng(3);
  const std::string dir = orvtest::makeTempDir();
  for (int trial = 0; trial < 8; ++trial) {
    const bool chain = trial % 2 == 0;
    orvtest::writeFile(dir + "/m.txt", treeModel(3 + 4 * trial, chain, rng));
    Model m;
    Histories h;
    ASSERT_TRUE(load(dir + "/m.txt", m, h));
    expectPathsAgree(m, h, (chain ? "chain " : "tree ") + std::to_string(trial), 2);
  }
}

TEST(BlockSystem, DependentRowsFoundDuringARunAreLeftOut) {
  // Two ground joints on one body repeat six rows exactly.
  const std::string dir = orvtest::makeTempDir();
  orvtest::writeFile(dir + "/m.txt",
                     "parameter_info P %\nbody_info B a ca 1 1 1 1 0 0 0 0 0 0 %\n"
                     "frame_info F ca a 0 0 0 0 0 0 %\n"
                     "joint_info J on g1 ground ca non on g2 ground ca non %\n"
                     "simulation_time T 0 0.1 1 %\n");
  Model m;
  Histories h;
  ASSERT_TRUE(load(dir + "/m.txt", m, h));
  DynamicsWork w;
  orvtest::ConsoleCapture con;
  setupDynamics(m, h, w);
  std::vector<double> Y(14, 0.0), dY(14);
  Y[6] = 1;
  std::vector<int> dofs;
  // S cannot be factored; the rows of the second joint are found and left out.
  ASSERT_TRUE(computeStateDerivative(m, colours(), h, w, 0.0, Y.data(), dY.data(), dofs));
  EXPECT_NE(w.notice.find("Redundant constraints at t=0.000000e+00: 6 rows dropped"), std::string::npos)
      << w.notice;
  EXPECT_NE(w.notice.find("joint g2 (ground), row 6 of 6"), std::string::npos);
  for (int k = 6; k < 12; ++k) EXPECT_EQ(w.lambda[k], 0.0);
}
