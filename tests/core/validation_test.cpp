// Physics validation: mechanisms whose motion is known in closed form, run
// through the model reader and the analysis exactly as a user's model is, and
// compared with the exact answer. The tolerances are the accuracies a user
// may expect of a fixed-step run; a larger error is a fault in the equations
// of motion, a joint, a force element or the integrator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "solver/analysis.h"
#include "solver/vec3.h"
#include "test_util.h"

using namespace orv;

namespace {

const double kExactPi = std::acos(-1.0);
constexpr double g = kGravityAcceleration;

// Every step taken with h = d_time: with no energy terms selected the step
// control sees zero energy, below the limit, and resets the step each time.
Settings fixedStep() {
  Settings s;
  s.minimum_limit_energy = 1e-12;
  s.Energy_variation = 1e-3;
  s.contact_time_step_coefficient = 0.1;
  return s;
}

// The energy-controlled step of the shipped setting.txt.
Settings energyControlled() {
  Settings s = fixedStep();
  s.energy_flag[0] = s.energy_flag[1] = s.energy_flag[2] = 1;
  s.minimum_limit_energy = 1e-6;
  return s;
}

// A number as a model-file token, to the last bit.
std::string num(double v) {
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

// An achieved accuracy, as recorded with the test result.
std::string sci(double v) {
  char b[40];
  std::snprintf(b, sizeof b, "%.3e", v);
  return b;
}

std::string point(double x, double y, double z = 0.0) {
  return num(x) + " " + num(y) + " " + num(z);
}

struct Result {
  Model m;
  Histories h;
};

// Reads model text and runs it to the end without pauses or result file.
void analyse(const std::string& text, Result& r, const Settings& s = fixedStep()) {
  const std::string dir = orvtest::makeTempDir();
  ASSERT_TRUE(orvtest::writeFile(dir + "/model.txt", text));
  orvtest::ConsoleCapture con;
  std::string msg;
  const ReadStatus read = readModelFile(dir + "/model.txt", s, r.m, r.h, msg);
  std::filesystem::remove_all(dir);  // nothing else is written there
  ASSERT_EQ(read, ReadStatus::Ok) << msg << con.text();
  AnalysisOptions opt;
  opt.pauses = false;
  opt.writeResult = false;
  ASSERT_EQ(runAnalysis(r.m, s, r.h, msg, opt), AnalysisStatus::Completed) << msg;
  ASSERT_EQ(r.h.anime_num, r.m.sample_num);
}

const double* state(const Result& r, int ti) {
  return &r.h.p_YYY[static_cast<size_t>(ti) * 14 * r.m.body_num()];
}

// One global coordinate of a body's centre of gravity and its rate at every
// sample.
struct Track {
  std::vector<double> t, x, v;
};

Track cgTrack(const Result& r, int b, int axis) {
  const int nb = r.m.body_num();
  Track tr;
  for (int ti = 0; ti < r.h.anime_num; ++ti) {
    const double* Y = state(r, ti);
    tr.t.push_back(r.h.p_time[ti]);
    tr.x.push_back(r.m.bodies[b].cg_pos[axis] + Y[3 * b + axis]);
    tr.v.push_back(Y[3 * nb + 3 * b + axis]);
  }
  return tr;
}

// Cubic Hermite interpolant of positions and rates on sample interval k, at
// fraction s, and its derivative with respect to s. Fourth-order accurate,
// like the integrator, so locating an event costs no accuracy.
double hermite(const Track& tr, size_t k, double s, double* ds = nullptr) {
  const double dt = tr.t[k + 1] - tr.t[k];
  const double x0 = tr.x[k], x1 = tr.x[k + 1], m0 = dt * tr.v[k], m1 = dt * tr.v[k + 1];
  const double s2 = s * s, s3 = s2 * s;
  if (ds)
    *ds = (6 * s2 - 6 * s) * x0 + (3 * s2 - 4 * s + 1) * m0 + (6 * s - 6 * s2) * x1 +
          (3 * s2 - 2 * s) * m1;
  return (2 * s3 - 3 * s2 + 1) * x0 + (s3 - 2 * s2 + s) * m0 + (3 * s2 - 2 * s3) * x1 +
         (s3 - s2) * m1;
}

// Root in [0, 1] of f, which changes sign there.
template <class F>
double bisect(F f) {
  double lo = 0.0, hi = 1.0;
  const bool up = f(hi) > 0.0;
  for (int it = 0; it < 60; ++it) {
    const double mid = 0.5 * (lo + hi);
    ((f(mid) > 0.0) == up ? hi : lo) = mid;
  }
  return 0.5 * (lo + hi);
}

// Times at which x passes `level`.
std::vector<double> crossings(const Track& tr, double level) {
  std::vector<double> out;
  for (size_t k = 0; k + 1 < tr.t.size(); ++k) {
    if ((tr.x[k] > level) == (tr.x[k + 1] > level)) continue;
    const double s = bisect([&](double u) { return hermite(tr, k, u) - level; });
    out.push_back(tr.t[k] + s * (tr.t[k + 1] - tr.t[k]));
  }
  return out;
}

// Turning points of x: where its rate changes sign, with the value there.
struct Turn {
  double t, x;
};
std::vector<Turn> turningPoints(const Track& tr) {
  std::vector<Turn> out;
  for (size_t k = 0; k + 1 < tr.t.size(); ++k) {
    if ((tr.v[k] > 0.0) == (tr.v[k + 1] > 0.0)) continue;
    const double s = bisect([&](double u) {
      double d;
      hermite(tr, k, u, &d);
      return d;
    });
    out.push_back({tr.t[k] + s * (tr.t[k + 1] - tr.t[k]), hermite(tr, k, s)});
  }
  return out;
}

// Complete elliptic integral of the first kind by the arithmetic-geometric mean.
double ellipticK(double k) {
  double a = 1.0, b = std::sqrt(1.0 - k * k);
  for (int it = 0; it < 30; ++it) {
    const double an = 0.5 * (a + b);
    b = std::sqrt(a * b);
    a = an;
  }
  return kExactPi / (2.0 * a);
}

// Physical pendulum: body 1 on a revolution joint about the global z axis at
// (0.3, 1.2, 0) + (0, dy, 0), centre of gravity l = 0.5 beside the pivot, so
// released from the horizontal. Mass 2, 0.05 about the cg.
constexpr double kPendMass = 2.0, kPendL = 0.5, kPendIcg = 0.05;
constexpr double kPivotX = 0.3, kPivotY = 1.2;

std::string pendulumModel(double dy, double end) {
  const double px = kPivotX, py = kPivotY + dy;
  return "parameter_info P %\n"
         "body_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n"
         "  link link_cg " + num(kPendMass) + " 0.02 " + num(kPendIcg) + " " + num(kPendIcg) +
         " 0 0 0 0 0 0 %\n"
         "frame_info F base_cg base " + point(px, py) + " 0 0 0\n"
         "  pivot_g base " + point(px, py) + " 0 0 0\n"
         "  pivot_l link " + point(px, py) + " 0 0 0\n"
         "  link_cg link " + point(px + kPendL, py) + " 0 0 0 %\n"
         "joint_info J on fix_base ground base_cg non\n"
         "  on pin revolution pivot_g pivot_l %\n"
         "gravity G on y- %\n"
         "simulation_time T 0 0.001 " + num(end) + " %\n";
}

}  // namespace

TEST(ValidationPendulum, LargeSwingHasTheEllipticPeriod) {
  const double Ip = kPendIcg + kPendMass * kPendL * kPendL;
  const double T =
      4.0 * std::sqrt(Ip / (kPendMass * g * kPendL)) * ellipticK(std::sin(kExactPi / 4));
  Result r;
  analyse(pendulumModel(0.0, 3.4 * T), r);
  if (HasFatalFailure()) return;

  // The cg passes below the pivot at T/4, 3T/4, ...: the swing angle's zeros.
  const std::vector<double> c = crossings(cgTrack(r, 1, 0), kPivotX);
  ASSERT_EQ(c.size(), 7u);
  double worst = std::fabs(4.0 * c[0] / T - 1.0);
  EXPECT_NEAR(c[0], T / 4, 1e-4 * T / 4) << "first quarter swing";
  for (size_t k = 0; k + 2 < c.size(); ++k) {
    const double period = c[k + 2] - c[k];
    EXPECT_NEAR(period / T, 1.0, 1e-4) << "period from crossing " << k;
    worst = std::max(worst, std::fabs(period / T - 1.0));
  }
  RecordProperty("worst_relative_period_error", sci(worst));

  // Energy kept: the cg comes back up to pivot height on either side, and
  // passes l below the pivot at the bottom.
  const std::vector<Turn> turns = turningPoints(cgTrack(r, 1, 1));
  ASSERT_EQ(turns.size(), 13u);
  double worstHeight = 0.0;
  for (const Turn& tp : turns) {
    const double expected = tp.x > kPivotY - kPendL / 2 ? kPivotY : kPivotY - kPendL;
    EXPECT_NEAR(tp.x, expected, 1e-4 * kPendL) << "at t=" << tp.t;
    worstHeight = std::max(worstHeight, std::fabs(tp.x - expected) / kPendL);
  }
  RecordProperty("worst_turning_height_error_over_l", sci(worstHeight));
}

TEST(ValidationPendulum, MotionDoesNotDependOnTheOrigin) {
  // Both step controls. The energy-controlled one sees another potential
  // energy after the shift; with the pivot at height 0 the total energy is 0,
  // so its step judgement must not be relative to the energy alone.
  for (const Settings& s : {fixedStep(), energyControlled()}) {
    Result a, b;
    analyse(pendulumModel(-kPivotY, 2.0), a, s);
    analyse(pendulumModel(5.0 - kPivotY, 2.0), b, s);
    if (HasFatalFailure()) return;
    ASSERT_EQ(a.h.anime_num, b.h.anime_num);
    const size_t n = 14 * static_cast<size_t>(a.m.body_num());
    double worst = 0.0;
    for (int ti = 0; ti < a.h.anime_num; ++ti) {
      ASSERT_EQ(a.h.p_time[ti], b.h.p_time[ti]) << ti;
      for (size_t i = 0; i < n; ++i)
        worst = std::max(worst, std::fabs(state(a, ti)[i] - state(b, ti)[i]));
    }
    // Displacements, velocities and attitudes alike.
    EXPECT_LT(worst, 1e-9) << "energy control " << s.energy_flag[0];
    RecordProperty(s.energy_flag[0] ? "worst_difference_energy_controlled"
                                    : "worst_difference_fixed_step",
                   sci(worst));
  }
}

namespace {

// A mass of 0.5 hanging from the ceiling on a spring1 (k = 80, damping c),
// guided vertically by a translation joint. The spring's free length is its
// length at the start, so the mass drops from rest and oscillates about
// mg/k below its start.
constexpr double kSpringMass = 0.5, kSpringK = 80.0, kMassY = -0.45;

std::string springModel(double c, double end) {
  return "parameter_info P %\n"
         "body_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n"
         "  mass mass_cg " + num(kSpringMass) + " 1e-3 1e-3 1e-3 0 0 0 0 0 0 %\n"
         "frame_info F base_cg base 0 0 0 0 0 0\n"
         "  anchor base 0 0 0 0 0 0\n"
         "  guide_g base 0 " + num(kMassY) + " 0 0 -90 0\n"
         "  m_top mass 0 -0.4 0 0 0 0\n"
         "  mass_cg mass 0 " + num(kMassY) + " 0 0 0 0\n"
         "  guide_m mass 0 " + num(kMassY) + " 0 0 -90 0 %\n"
         "joint_info J on fix_base ground base_cg non\n"
         "  on guide translation guide_g guide_m %\n"
         "force_info F on spring spring1 m_top anchor anchor " + num(kSpringK) + " " + num(c) +
         " %\n"
         "gravity G on y- %\n"
         "simulation_time T 0 0.001 " + num(end) + " %\n";
}

}  // namespace

TEST(ValidationSpring, UndampedPeriodAndAmplitude) {
  const double wn = std::sqrt(kSpringK / kSpringMass);
  const double T = 2 * kExactPi / wn;
  const double u0 = kSpringMass * g / kSpringK;  // start above equilibrium
  Result r;
  analyse(springModel(0.0, 6.2 * T), r);
  if (HasFatalFailure()) return;
  const Track y = cgTrack(r, 1, 1);
  const double yeq = kMassY - u0;

  const std::vector<double> c = crossings(y, yeq);
  ASSERT_EQ(c.size(), 12u);
  double worst = std::fabs(4.0 * c[0] / T - 1.0);
  EXPECT_NEAR(c[0], T / 4, 1e-4 * T / 4);
  for (size_t k = 0; k + 2 < c.size(); ++k) {
    EXPECT_NEAR((c[k + 2] - c[k]) / T, 1.0, 1e-4) << k;
    worst = std::max(worst, std::fabs((c[k + 2] - c[k]) / T - 1.0));
  }
  RecordProperty("worst_relative_period_error", sci(worst));

  // No damping: every swing reaches the same amplitude.
  const std::vector<Turn> turns = turningPoints(y);
  ASSERT_GE(turns.size(), 11u);
  double worstAmplitude = 0.0;
  for (const Turn& tp : turns) {
    EXPECT_NEAR(std::fabs(tp.x - yeq), u0, 1e-4 * u0) << tp.t;
    worstAmplitude = std::max(worstAmplitude, std::fabs(std::fabs(tp.x - yeq) / u0 - 1.0));
  }
  RecordProperty("worst_relative_amplitude_error", sci(worstAmplitude));
  // The guide keeps it on its line.
  double offLine = 0.0;
  for (int ti = 0; ti < r.h.anime_num; ++ti)
    offLine = std::max(offLine, std::hypot(state(r, ti)[3], state(r, ti)[5]));
  EXPECT_LT(offLine, 1e-9);
}

TEST(ValidationSpring, DampedDecayAndPeriod) {
  const double wn = std::sqrt(kSpringK / kSpringMass);
  const double zeta = 0.05;
  const double c = 2 * zeta * std::sqrt(kSpringK * kSpringMass);
  const double wd = wn * std::sqrt(1 - zeta * zeta);
  const double Td = 2 * kExactPi / wd;
  const double decay = zeta * wn;
  const double u0 = kSpringMass * g / kSpringK;
  Result r;
  analyse(springModel(c, 6.2 * Td), r);
  if (HasFatalFailure()) return;
  const Track y = cgTrack(r, 1, 1);
  const double yeq = kMassY - u0;

  // u = u0 exp(-zeta wn t) (cos wd t + zeta wn / wd sin wd t): its zeros are
  // Td/2 apart, its turning points at multiples of Td/2 with |u| on the envelope.
  const std::vector<double> z = crossings(y, yeq);
  ASSERT_EQ(z.size(), 12u);
  double worstPeriod = 0.0;
  for (size_t k = 0; k + 2 < z.size(); ++k) {
    EXPECT_NEAR((z[k + 2] - z[k]) / Td, 1.0, 1e-3) << k;
    worstPeriod = std::max(worstPeriod, std::fabs((z[k + 2] - z[k]) / Td - 1.0));
  }
  const std::vector<Turn> turns = turningPoints(y);
  ASSERT_GE(turns.size(), 11u);
  double worstDecay = 0.0, worstEnvelope = 0.0;
  for (size_t k = 0; k < turns.size(); ++k) {
    const double env = u0 * std::exp(-decay * turns[k].t);
    EXPECT_NEAR(std::fabs(turns[k].x - yeq) / env, 1.0, 1e-3) << turns[k].t;
    worstEnvelope = std::max(worstEnvelope, std::fabs(std::fabs(turns[k].x - yeq) / env - 1.0));
    EXPECT_NEAR(turns[k].t / (Td / 2), k + 1.0, 1e-3 * (k + 1)) << k;
    if (k == 0) continue;
    // Log decrement of successive half swings gives the decay rate.
    const double rate = std::log(std::fabs(turns[k - 1].x - yeq) / std::fabs(turns[k].x - yeq)) /
                        (turns[k].t - turns[k - 1].t);
    EXPECT_NEAR(rate / decay, 1.0, 1e-3) << k;
    worstDecay = std::max(worstDecay, std::fabs(rate / decay - 1.0));
  }
  RecordProperty("worst_relative_damped_period_error", sci(worstPeriod));
  RecordProperty("worst_relative_decay_rate_error", sci(worstDecay));
  RecordProperty("worst_relative_envelope_error", sci(worstEnvelope));
}

namespace {

// Slider-crank with the crank turning at a constant rate about the global z
// axis through the origin, the slider on the x axis. Crank on a revolution to
// the ground, rod on a revolution to the crank pin, its small end in_line on
// the slider pin (only x and y held, since z already follows from the two
// revolutions) and the slider on a translation joint along x:
// 6 + 5 + 5 + 2 + 5 joint rows and one motion row for 4 x 6 unknowns.
// It starts at the dead centre, where a slider at rest is consistent with the
// crank already turning.
constexpr double kCrankR = 0.12, kRodL = 0.4, kCrankRate = 2 * 3.14159265358979323846;

std::string sliderCrankModel(double end) {
  const double r = kCrankR, L = kRodL;
  return "parameter_info P %\n"
         "body_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n"
         "  crank crank_cg 0.5 1e-4 " + num(0.5 * r * r / 12) + " " + num(0.5 * r * r / 12) +
         " 0 0 0 0 0 0\n"
         "  rod rod_cg 1 1e-4 " + num(L * L / 12) + " " + num(L * L / 12) + " 0 0 0 0 0 0\n"
         "  slider slider_cg 2 2e-3 2e-3 2e-3 0 0 0 0 0 0 %\n"
         "frame_info F base_cg base 0 0 0 0 0 0\n"
         "  main_g base 0 0 0 0 0 0\n"
         "  guide_g base 0 0 0 90 90 0\n"
         "  crank_o crank 0 0 0 0 0 0\n"
         "  crank_cg crank " + point(r / 2, 0) + " 0 0 0\n"
         "  crank_pin crank " + point(r, 0) + " 0 0 0\n"
         "  big_end rod " + point(r, 0) + " 0 0 0\n"
         "  rod_cg rod " + point(r + L / 2, 0) + " 0 0 0\n"
         "  small_end rod " + point(r + L, 0) + " 0 0 0\n"
         "  slider_cg slider " + point(r + L, 0) + " 0 0 0\n"
         "  slider_pin slider " + point(r + L, 0) + " 0 0 0\n"
         "  guide_s slider " + point(r + L, 0) + " 90 90 0 %\n"
         "joint_info J on fix_base ground base_cg non\n"
         "  on main_pin revolution crank_o main_g\n"
         "  on big_end_pin revolution crank_pin big_end\n"
         "  on small_end_pin in_line slider_pin small_end\n"
         "  on slide translation guide_g guide_s %\n"
         // The crank is the joint's i body: its rate about +z is the motion's rate.
         "motion_info M on drive R main_pin velocity " + num(kCrankRate) + " %\n"
         "gravity G on y- %\n"
         "simulation_time T 0 0.001 " + num(end) + " %\n";
}

}  // namespace

TEST(ValidationSliderCrank, SliderFollowsTheCrankAngle) {
  Result r;
  analyse(sliderCrankModel(3.0), r);  // three turns
  if (HasFatalFailure()) return;
  const int nb = r.m.body_num();
  const double R = kCrankR, L = kRodL;
  double worst = 0.0, worstAt = 0.0, worstRate = 0.0;
  for (int ti = 0; ti < r.h.anime_num; ++ti) {
    const double* Y = state(r, ti);
    // The crank turns about z only: e0 = cos(theta/2), e3 = sin(theta/2).
    const double* p = &Y[6 * nb + 4 * 1];
    const double theta = 2 * std::atan2(p[3], p[0]);
    const double x = r.m.bodies[3].cg_pos[0] + Y[3 * 3 + 0];
    const double s = std::sin(theta);
    const double exact = R * std::cos(theta) + std::sqrt(L * L - R * R * s * s);
    if (std::fabs(x - exact) / R > worst) {
      worst = std::fabs(x - exact) / R;
      worstAt = r.h.p_time[ti];
    }
    // The driven rate: the angle advances uniformly.
    const double lag = std::remainder(theta - kCrankRate * r.h.p_time[ti], 2 * kExactPi);
    worstRate = std::max(worstRate, std::fabs(lag));
  }
  EXPECT_LT(worst, 1e-6) << "slider off x(theta) by that many crank radii at t=" << worstAt;
  EXPECT_LT(worstRate, 1e-6);
  RecordProperty("worst_slider_error_over_crank_radius", sci(worst));
  RecordProperty("worst_crank_angle_error", sci(worstRate));
}

namespace {

// Two uniform links in series on revolution joints about z, released from
// rest with the upper link 20 degrees above and the lower one 40 degrees below
// the horizontal.
constexpr double kM1 = 1.0, kL1 = 1.0, kM2 = 0.8, kL2 = 0.8;

std::string doublePendulumModel(double end) {
  const double a1 = 20 * kExactPi / 180, a2 = -40 * kExactPi / 180;
  const double ex = kL1 * std::cos(a1), ey = kL1 * std::sin(a1);
  const double I1 = kM1 * kL1 * kL1 / 12, I2 = kM2 * kL2 * kL2 / 12;
  return "parameter_info P %\n"
         "body_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n"
         "  upper upper_cg " + num(kM1) + " " + num(I1) + " " + num(I1) + " " + num(I1) +
         " 0 0 0 0 0 0\n"
         "  lower lower_cg " + num(kM2) + " " + num(I2) + " " + num(I2) + " " + num(I2) +
         " 0 0 0 0 0 0 %\n"
         "frame_info F base_cg base 0 0 0 0 0 0\n"
         "  shoulder_g base 0 0 0 0 0 0\n"
         "  shoulder_u upper 0 0 0 0 0 0\n"
         "  upper_cg upper " + point(ex / 2, ey / 2) + " 0 0 0\n"
         "  elbow_u upper " + point(ex, ey) + " 0 0 0\n"
         "  elbow_l lower " + point(ex, ey) + " 0 0 0\n"
         "  lower_cg lower " + point(ex + kL2 / 2 * std::cos(a2), ey + kL2 / 2 * std::sin(a2)) +
         " 0 0 0 %\n"
         "joint_info J on fix_base ground base_cg non\n"
         "  on shoulder revolution shoulder_g shoulder_u\n"
         "  on elbow revolution elbow_u elbow_l %\n"
         "gravity G on y- %\n"
         "simulation_time T 0 0.001 " + num(end) + " %\n";
}

// Kinetic plus potential energy of the moving bodies, from the state alone.
double mechanicalEnergy(const Result& r, int ti) {
  const int nb = r.m.body_num();
  const double* Y = state(r, ti);
  double E = 0.0;
  for (int b = 1; b < nb; ++b) {
    const Body& B = r.m.bodies[b];
    const double* v = &Y[3 * nb + 3 * b];
    double w[3];
    omegaFromEulerRates(w, &Y[6 * nb + 4 * b], &Y[10 * nb + 4 * b]);
    E += 0.5 * B.mass * vec3Dot(v, v);
    for (int k = 0; k < 3; ++k) E += 0.5 * B.inertia[k] * w[k] * w[k];
    E += B.mass * g * (B.cg_pos[1] + Y[3 * b + 1]);
  }
  return E;
}

}  // namespace

TEST(ValidationDoublePendulum, KeepsItsMechanicalEnergy) {
  Result r;
  analyse(doublePendulumModel(5.0), r);
  if (HasFatalFailure()) return;
  const double scale = (kM1 + kM2) * g * (kL1 + kL2);
  const double E0 = mechanicalEnergy(r, 0);
  double worst = 0.0, worstAt = 0.0, fastest = 0.0;
  for (int ti = 1; ti < r.h.anime_num; ++ti) {
    const double dE = std::fabs(mechanicalEnergy(r, ti) - E0) / scale;
    if (dE > worst) {
      worst = dE;
      worstAt = r.h.p_time[ti];
    }
    fastest = std::max(fastest, std::fabs(state(r, ti)[3 * r.m.body_num() + 3 * 2 + 1]));
  }
  EXPECT_LT(worst, 1e-6) << "energy change over m g L, largest at t=" << worstAt;
  // It really swings: the lower link's cg moves fast at some point.
  EXPECT_GT(fastest, 2.0);
  RecordProperty("worst_energy_error_over_mgL", sci(worst));
}
