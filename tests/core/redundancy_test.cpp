#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>

#include "dynamics/dynamics.h"
#include "dynamics/redundancy.h"
#include "model/state_layout.h"
#include "reference/dense_dynamics.h"
#include "test_util.h"

using namespace orv;

namespace {

using orvtest::Outcome;

// The rows the dense reference drops from S = A A^T, A given row by row.
std::vector<char> drop(const std::vector<std::vector<double>>& rows) {
  const int n = static_cast<int>(rows.size());
  Mat S(n, n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (size_t k = 0; k < rows[i].size(); ++k) S[i][j] += rows[i][k] * rows[j][k];
  return orvref::dependentRows(S, kRedundancyTolerance);
}

// The work of a run of m, its rows assembled at state Y (positions and
// Euler parameters; every body at its start when Y is empty).
struct Rows {
  DynamicsWork w;
  std::vector<double> Y;
  Rows(const Model& m, std::vector<double> state = {}) : Y(std::move(state)) {
    const StateLayout L{m.body_num()};
    if (Y.empty()) {
      Y.assign(L.size(), 0.0);
      for (int b = 0; b < L.nb; ++b) Y[L.p(b)] = 1.0;
    }
    orvtest::ConsoleCapture con;
    setupDynamics(m, w);
    setKinematics(w.kin, L.nb, Y.data());
    assembleConstraints(m, w, Y.data(), 0.0);
  }
};

int countOf(const std::vector<char>& mask) {
  return static_cast<int>(mask.size() - std::count(mask.begin(), mask.end(), 0));
}

// The structural test against the dense one on the whole S, and each
// dropped row against the combination of kept rows it is said to equal.
void expectSameRowsAsTheWholeS(const Model& m, const std::string& what) {
  Rows r(m);
  RowDependence dep;
  ASSERT_TRUE(findRedundantRows(m, r.w, {}, dep, true)) << what;
  const Mat S = multiplierMatrix(m, r.w);
  EXPECT_EQ(dep.dropped, orvref::dependentRows(S, kRedundancyTolerance)) << what;
  EXPECT_EQ(static_cast<int>(dep.combinations.size()), countOf(dep.dropped)) << what;
  for (const RowCombination& rc : dep.combinations) {
    // |row - sum c_k row_k|^2 in the metric of S, against |row|^2.
    std::vector<double> c(S.dim1(), 0.0);
    c[rc.row] = 1.0;
    for (const auto& [k, a] : rc.terms) {
      EXPECT_FALSE(dep.dropped[k]) << what;
      c[k] -= a;
    }
    double rest = 0.0;
    for (int i = 0; i < S.dim1(); ++i)
      for (int j = 0; j < S.dim1(); ++j) rest += c[i] * S[i][j] * c[j];
    // (Large weights on nearly dependent kept rows carry their round-off.)
    EXPECT_LE(rest, 1e-8 * S[rc.row][rc.row]) << what << " row " << rc.row;
  }
}

// Angle turned about z by body b at sample ti, unwrapped against `previous`.
double turn(const Outcome& e, int b, int ti, double previous) {
  const double* p = &e.state(ti)[StateLayout{e.m.body_num()}.p(b)];
  double a = 2.0 * std::atan2(p[3], p[0]);
  while (a - previous > M_PI) a -= 2 * M_PI;
  while (a - previous < -M_PI) a += 2 * M_PI;
  return a;
}

}  // namespace

TEST(Redundancy, HandBuiltJacobians) {
  // A repeated row, and a row that is the sum of two others: the later ones go.
  EXPECT_EQ(drop({{1, 0, 0, 0}, {0, 1, 0, 0}, {1, 0, 0, 0}}), (std::vector<char>{0, 0, 1}));
  EXPECT_EQ(drop({{1, 2, 0, 0}, {0, 1, 3, 0}, {1, 3, 3, 0}, {0, 0, 0, 1}}),
            (std::vector<char>{0, 0, 1, 0}));
  // Nearly dependent: kept above the tolerance, dropped below it.
  EXPECT_EQ(drop({{1, 0, 0, 0}, {1, 1e-3, 0, 0}}), (std::vector<char>{0, 0}));
  EXPECT_EQ(drop({{1, 0, 0, 0}, {1, 1e-9, 0, 0}}), (std::vector<char>{0, 1}));
  // A zero row has nothing to keep.
  EXPECT_EQ(drop({{0, 0, 0, 0}, {0, 0, 1, 0}}), (std::vector<char>{1, 0}));
  // Independent rows of very different sizes all stay.
  EXPECT_EQ(drop({{1e6, 0, 0, 0}, {0, 1e-6, 0, 0}}), (std::vector<char>{0, 0}));
}

TEST(Redundancy, FourBarDropsThreeRowsAndFollowsTheClosedForm) {
  const Outcome& e = orvtest::exampleRun("four_bar.txt");
  ASSERT_EQ(e.status, AnalysisStatus::Completed) << e.message;
  EXPECT_EQ(e.message.rfind("Redundant constraints: 3 rows dropped\n", 0), 0u) << e.message;

  const double a = 0.1, b = 0.35, c = 0.3, d = 0.4;
  const double span = d - a, x0 = (span * span + b * b - c * c) / (2 * span);
  const double rocker0 = std::atan2(std::sqrt(b * b - x0 * x0), a + x0 - d);
  double crank = 0, rocker = 0, worst = 0;
  for (int ti = 1; ti < e.h.anime_num; ++ti) {
    crank = turn(e, 1, ti, crank);
    rocker = turn(e, 3, ti, rocker);
    // Closed form: B where circles about A (radius b) and O4 (radius c) meet,
    // on the side of the line A-O4 the linkage was assembled on.
    const double Ax = a * std::cos(crank), Ay = a * std::sin(crank);
    const double ux = d - Ax, uy = -Ay, D = std::hypot(ux, uy);
    const double x = (D * D + b * b - c * c) / (2 * D), y = std::sqrt(b * b - x * x);
    const double Bx = Ax + (x * ux - y * uy) / D, By = Ay + (x * uy + y * ux) / D;
    double expected = std::atan2(By, Bx - d) - rocker0;
    while (expected - rocker > M_PI) expected -= 2 * M_PI;
    while (expected - rocker < -M_PI) expected += 2 * M_PI;
    worst = std::max(worst, std::fabs(expected - rocker));
  }
  EXPECT_GT(crank, 4 * M_PI - 0.01);  // two turns
  EXPECT_LT(worst, 1e-6);
}

TEST(Redundancy, RevoluteSliderCrankFollowsTheClosedForm) {
  const Outcome& e = orvtest::exampleRun("slider_crank_revolute.txt");
  ASSERT_EQ(e.status, AnalysisStatus::Completed) << e.message;
  EXPECT_EQ(e.message.rfind("Redundant constraints: 3 rows dropped\n", 0), 0u) << e.message;
  const double r = 0.1, L = 0.35;
  double crank = 0, worst = 0;
  for (int ti = 1; ti < e.h.anime_num; ++ti) {
    crank = turn(e, 1, ti, crank);
    const double x = (r + L) + e.state(ti)[3 * 3];
    const double expected = r * std::cos(crank) + std::sqrt(L * L - r * r * std::sin(crank) * std::sin(crank));
    worst = std::max(worst, std::fabs(x - expected));
  }
  EXPECT_GT(crank, 2 * M_PI);
  EXPECT_LT(worst, 1e-6 * r);
}

TEST(Redundancy, StructureFindsTheRowsTheWholeSWouldOnExamplesAndRandomLoops) {
  int count = 0;
  for (const auto& e : std::filesystem::directory_iterator(ORVALDYN_EXAMPLES)) {
    if (e.path().extension() != ".txt") continue;
    Outcome o = orvtest::loadFile(e.path().string(), orvtest::runSettings());
    ASSERT_TRUE(o.read) << o.message;
    expectSameRowsAsTheWholeS(o.m, e.path().filename().string());
    ++count;
  }
  EXPECT_GE(count, 7);
  std::mt19937 rng(7);
  int dropped = 0;
  for (int trial = 0; trial < 12; ++trial) {
    Outcome o = orvtest::loadText(orvtest::jointedModel(2 + trial, rng, false, 3, true), orvtest::runSettings());
    ASSERT_TRUE(o.read) << o.message;
    expectSameRowsAsTheWholeS(o.m, "loops " + std::to_string(trial));
    RowDependence dep;
    Rows r(o.m);
    ASSERT_TRUE(findRedundantRows(o.m, r.w, {}, dep));
    dropped += countOf(dep.dropped);
  }
  EXPECT_GT(dropped, 12);  // the loops do repeat rows
}

// An open chain of 1000 thin links, its joints listed from the free end to
// the base: S's pivots fall to 3e-9 of its diagonal, under the tolerance
// that grew with the size of the system (8e-9 on the squared sine), which
// dropped a row of the base's ground joint at the start. A chain never
// repeats a row, however long.
TEST(Redundancy, LongOpenChainKeepsEveryRow) {
  const std::string s = orvtest::chainModel(1000, 1.0, "1 0.0002 0.0833 0.0833", true);
  Outcome o = orvtest::loadText(s, orvtest::runSettings());
  ASSERT_TRUE(o.read) << o.message;
  const Model& m = o.m;
  const StateLayout L{m.body_num()};

  // At the start, as the initial analysis sees it.
  {
    Rows r(m);
    RowDependence dep;
    ASSERT_TRUE(findRedundantRows(m, r.w, {}, dep));
    EXPECT_EQ(countOf(dep.dropped), 0);
  }
  // Bent and moving, and a state of a step that diverged (Euler parameters
  // far off the unit sphere, as where the run used to report 38 dropped
  // rows): nothing is reported, the bent state is solved and the diverged
  // one fails rather than go on with rows left out.
  std::vector<double> bent(L.size(), 0.0), diverged;
  for (int b = 0; b < L.nb; ++b) {
    const double a = 0.3 * std::sin(0.05 * b);
    bent[L.p(b)] = std::cos(a / 2), bent[L.p(b) + 3] = std::sin(a / 2), bent[L.pd(b) + 3] = 0.05;
  }
  diverged = bent;
  for (int b = 0; b < L.nb; b += 3)
    for (int k = 0; k < 4; ++k) diverged[L.p(b) + k] *= 1e3;
  for (const std::vector<double>* Y : {&bent, &diverged}) {
    Rows r(m, *Y);
    std::vector<char> here;
    orvtest::ConsoleCapture con;
    EXPECT_EQ(runtimeDroppedRows(m, r.w, Y->data(), 0.1, here), Y == &bent);
    EXPECT_TRUE(r.w.notice.empty() && con.text().find("Redundant") == std::string::npos)
        << (Y == &bent ? "bent" : "diverged");
    if (Y != &bent) continue;
    EXPECT_EQ(countOf(here), 0);
    std::vector<double> dY(Y->size());
    std::vector<int> dofs;
    EXPECT_TRUE(computeStateDerivative(m, orvtest::runSettings(), o.h, r.w, 0.1, Y->data(), dY.data(), dofs));
  }
}

// A link 1e-13 as heavy as the one it carries: a row of the second hinge is
// independent of the others by 1e-13 of its size in S, which the test on
// the pivots of S took for a dependence (3 rows dropped, then the run
// failed). The decision does not depend on how the masses compare.
TEST(Redundancy, LightLinkKeepsItsRows) {
  const std::string model =
      "parameter_info P %\nbody_info B ground ground_cg 1 1 1 1 0 0 0 0 0 0\n"
      "light light_cg 1e-13 1e-13 1e-13 1e-13 0 0 0 0 0 0\nheavy heavy_cg 1 0.01 0.1 0.1 0 0 0 0 0 0\n"
      "%\nframe_info F ground_cg ground 0 0 0 0 0 0\no_g ground 0 0 0 0 0 0\no_l light 0 0 0 0 0 0\n"
      "light_cg light 0.5 0 0 0 0 0\na_l light 1 0 0 0 0 0\na_h heavy 1 0 0 0 0 0\n"
      "heavy_cg heavy 1.5 0 0 0 0 0\n"
      "%\njoint_info J on fix_ground ground ground_cg non\non hinge1 revolution o_g o_l\n"
      "on hinge2 revolution a_l a_h\n%\ngravity G on y- %\nsimulation_time T 0 0.001 0.5 %\n";
  const Outcome e = orvtest::runText(model, orvtest::runSettings());
  ASSERT_EQ(e.status, AnalysisStatus::Completed) << e.message;
  EXPECT_EQ(e.message, "");
  // The heavy link swings down, its energy kept (to 1e-5 of m g L: S is as
  // badly conditioned as the masses are far apart).
  const Settings s = orvtest::runSettings("PTR");
  const double* end = e.state(e.h.anime_num - 1);
  const std::vector<double> J = inertiaTensors(e.m);
  EXPECT_NEAR(totalEnergy(e.m, s, J, end), totalEnergy(e.m, s, J, e.state(0)), 1e-5 * 9.81 * 1.5);
  EXPECT_LT(end[3 * 2 + 1], -0.5);
}
