#include <gtest/gtest.h>

#include <cmath>

#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "solver/analysis.h"
#include "solver/redundancy.h"
#include "test_util.h"

using namespace orv;

namespace {

// S = A A^T of rows given row by row.
Mat gram(const std::vector<std::vector<double>>& rows) {
  const int n = static_cast<int>(rows.size());
  Mat S(n, n, 0.0);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (size_t k = 0; k < rows[i].size(); ++k) S[i][j] += rows[i][k] * rows[j][k];
  return S;
}

std::vector<char> drop(const std::vector<std::vector<double>>& rows) {
  return findDependentRows(gram(rows), kRedundancyTolerance);
}

// Fixed step: no energy term, so every step is accepted at d_time.
Settings fixedStep() {
  Settings s;
  s.minimum_limit_energy = 1e-9;
  s.Energy_variation = 1e-3;
  s.contact_time_step_coefficient = 0.1;
  for (const char* c : {"gray", "orange", "blue", "green", "red"}) s.colors.push_back(Color{c, {1, 1, 1}});
  return s;
}

struct Example {
  Model m;
  Histories h;
  AnalysisStatus status;
  std::string message;
};

void runExample(const char* name, Example& e) {
  const Settings s = fixedStep();
  orvtest::ConsoleCapture con;
  std::string msg;
  ASSERT_EQ(readModelFile(std::string(ORVALDYN_EXAMPLES) + "/" + name, s, e.m, e.h, msg), ReadStatus::Ok);
  AnalysisOptions opt;
  opt.pauses = false;
  opt.writeResult = false;
  e.status = runAnalysis(e.m, s, e.h, e.message, opt);
}

// Angle turned about z by body b at sample ti, unwrapped against `previous`.
double turn(const Example& e, int b, int ti, double previous) {
  const int nb = e.m.body_num();
  const double* p = &e.h.p_YYY[static_cast<size_t>(ti) * 14 * nb + 6 * nb + 4 * b];
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
  Example e;
  runExample("four_bar.txt", e);
  ASSERT_EQ(e.status, AnalysisStatus::Completed) << e.message;
  EXPECT_EQ(e.message.rfind("Redundant constraints: 3 rows dropped\n", 0), 0u) << e.message;
  EXPECT_NE(e.message.find("one valid set among many"), std::string::npos);
  ASSERT_EQ(e.h.anime_num, 2001);

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
  RecordProperty("worst_rocker_error_rad", std::to_string(worst));
}

TEST(Redundancy, RevoluteSliderCrankFollowsTheClosedForm) {
  Example e;
  runExample("slider_crank_revolute.txt", e);
  ASSERT_EQ(e.status, AnalysisStatus::Completed) << e.message;
  EXPECT_EQ(e.message.rfind("Redundant constraints: 3 rows dropped\n", 0), 0u) << e.message;
  const double r = 0.1, L = 0.35;
  const int nb = e.m.body_num();
  double crank = 0, worst = 0;
  for (int ti = 1; ti < e.h.anime_num; ++ti) {
    crank = turn(e, 1, ti, crank);
    const double x = (r + L) + e.h.p_YYY[static_cast<size_t>(ti) * 14 * nb + 3 * 3];
    const double expected = r * std::cos(crank) + std::sqrt(L * L - r * r * std::sin(crank) * std::sin(crank));
    worst = std::max(worst, std::fabs(x - expected));
  }
  EXPECT_LT(worst, 1e-6 * r);
  RecordProperty("worst_slider_error_over_r", std::to_string(worst / r));
}

TEST(Redundancy, ModelsWithoutRedundancyReportNone) {
  Example e;
  runExample("pendulum.txt", e);
  ASSERT_EQ(e.status, AnalysisStatus::Completed);
  EXPECT_EQ(e.message, "");
}
