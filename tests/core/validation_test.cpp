// Mechanisms with a closed-form motion, read and run as a user's model is. A
// larger error is a fault in the equations of motion, a joint, a force or the integrator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "math/vec3.h"
#include "test_util.h"

using namespace orv;
using orvtest::Outcome;

namespace {

const double kExactPi = std::acos(-1.0);
constexpr double g = kGravityAcceleration;

std::string num(double v) {  // to the last bit
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", v);
  return b;
}

// Model-file entries: a local coordinate at (x, y) in the xy plane, and a body at rest.
std::string frame(const char* nameBody, double x, double y, const char* angles = "0 0 0") {
  return std::string(nameBody) + " " + num(x) + " " + num(y) + " 0 " + angles + "\n";
}
std::string body(const char* nameCg, double mass, double Ix, double Iy, double Iz) {
  return std::string(nameCg) + " " + num(mass) + " " + num(Ix) + " " + num(Iy) + " " + num(Iz) + " 0 0 0 0 0 0\n";
}

// A grounded base body and the given entries under gravity, sampled every ms;
// `rest` goes on from the base's ground joint.
std::string model(const std::string& bodies, const std::string& frames, const std::string& rest, double end,
                  double step = 0.001) {
  return "parameter_info P %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n" + bodies + "%\nframe_info F " +
         frames + "%\njoint_info J on fix_base ground base_cg non\n" + rest +
         "gravity G on y- %\nsimulation_time T 0 " + num(step) + " " + num(end) + " %\n";
}

// Largest |error| passed through it, and when.
struct Worst {
  double v = 0.0, at = 0.0;
  double operator()(double e, double t = 0.0) { return std::fabs(e) > v ? (v = std::fabs(e), at = t, e) : e; }
};

// Runs model text to its end; without energy terms every step is d_time long.
::testing::AssertionResult runToTheEnd(const std::string& text, Outcome& r,
                                       const Settings& s = orvtest::runSettings()) {
  r = orvtest::runText(text, s);
  if (r.status == AnalysisStatus::Completed) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << r.message << r.console;
}

struct Event { double t, x; };

// Where a global cg coordinate of body b passes `level`, or (turning) where its
// rate changes sign: found on the cubic Hermite interpolant of the samples,
// fourth-order like the integrator, so locating an event costs no accuracy.
std::vector<Event> events(const Outcome& r, int b, int axis, bool turning, double level = 0.0) {
  auto y = [&](int ti, int rate) {  // the coordinate, or with rate = 1 its rate
    return (rate ? 0.0 : r.m.bodies[b].cg_pos[axis]) + r.state(ti)[3 * (rate * r.m.body_num() + b) + axis];
  };
  std::vector<Event> out;
  for (int k = 0; k + 1 < r.h.anime_num; ++k) {
    const double dt = r.h.p_time[k + 1] - r.h.p_time[k];
    const double x0 = y(k, 0), x1 = y(k + 1, 0), m0 = dt * y(k, 1), m1 = dt * y(k + 1, 1);
    auto f = [&](double s, bool deriv) {  // the interpolant at fraction s, or d/ds
      const double s2 = s * s, s3 = s2 * s;
      return deriv ? (6 * s2 - 6 * s) * x0 + (3 * s2 - 4 * s + 1) * m0 + (6 * s - 6 * s2) * x1 + (3 * s2 - 2 * s) * m1
                   : (2 * s3 - 3 * s2 + 1) * x0 + (s3 - 2 * s2 + s) * m0 + (3 * s2 - 2 * s3) * x1 + (s3 - s2) * m1;
    };
    const bool up = f(1.0, turning) > level;
    if ((f(0.0, turning) > level) == up) continue;
    double lo = 0.0, hi = 1.0;
    for (int it = 0; it < 60; ++it) ((f(0.5 * (lo + hi), turning) > level) == up ? hi : lo) = 0.5 * (lo + hi);
    out.push_back({r.h.p_time[k] + 0.5 * (lo + hi) * dt, f(0.5 * (lo + hi), false)});
  }
  return out;
}

// Complete elliptic integral of the first kind by the arithmetic-geometric mean.
double ellipticK(double k) {
  double a = 1.0, b = std::sqrt(1.0 - k * k);
  for (int it = 0; it < 30; ++it) b = std::sqrt(std::exchange(a, 0.5 * (a + b)) * b);
  return kExactPi / (2.0 * a);
}

// Physical pendulum on a revolution joint about z at (0.3, 1.2 + dy), cg
// l = 0.5 beside the pivot (released from the horizontal), mass 2, Icg 0.05.
constexpr double kPendMass = 2.0, kPendL = 0.5, kPendIcg = 0.05, kPivotX = 0.3, kPivotY = 1.2;

std::string pendulumModel(double dy, double end) {
  const double px = kPivotX, py = kPivotY + dy;
  return model(body("link link_cg", kPendMass, 0.02, kPendIcg, kPendIcg),
               frame("base_cg base", px, py) + frame("pivot_g base", px, py) + frame("pivot_l link", px, py) +
                   frame("link_cg link", px + kPendL, py),
               "on pin revolution pivot_g pivot_l %\n", end);
}

// A mass of 0.5 hanging on a spring1 (k = 80, damping c), guided vertically
// by a translation joint. The spring's free length is its length at the start,
// so the mass drops from rest and oscillates about mg/k below its start.
constexpr double kSpringMass = 0.5, kSpringK = 80.0, kMassY = -0.45;

std::string springModel(double c, double end) {
  return model(body("mass mass_cg", kSpringMass, 1e-3, 1e-3, 1e-3),
               frame("base_cg base", 0, 0) + frame("anchor base", 0, 0) + frame("guide_g base", 0, kMassY, "0 -90 0") +
                   frame("m_top mass", 0, -0.4) + frame("mass_cg mass", 0, kMassY) +
                   frame("guide_m mass", 0, kMassY, "0 -90 0"),
               "on guide translation guide_g guide_m %\nforce_info F on spring spring1 m_top anchor anchor " +
                   num(kSpringK) + " " + num(c) + " %\n",
               end);
}

// Slider-crank, crank driven at `rate` about z through the origin, slider on
// the x axis: crank and rod on revolutions, the rod's small end in_line on the
// slider pin (z already follows from the revolutions), the slider on a
// translation along x. It starts at the dead centre, where a slider at rest is
// consistent with the turning crank.
constexpr double kCrankR = 0.12, kRodL = 0.4;

std::string sliderCrankModel(double end, const std::string& rate, double step, bool crankIsI) {
  const double r = kCrankR, L = kRodL;
  return model(body("crank crank_cg", 0.5, 1e-4, 0.5 * r * r / 12, 0.5 * r * r / 12) +
                   body("rod rod_cg", 1, 1e-4, L * L / 12, L * L / 12) + body("slider slider_cg", 2, 2e-3, 2e-3, 2e-3),
               frame("base_cg base", 0, 0) + frame("main_g base", 0, 0) + frame("guide_g base", 0, 0, "90 90 0") +
                   frame("crank_o crank", 0, 0) + frame("crank_cg crank", r / 2, 0) + frame("crank_pin crank", r, 0) +
                   frame("big_end rod", r, 0) + frame("rod_cg rod", r + L / 2, 0) + frame("small_end rod", r + L, 0) +
                   frame("slider_cg slider", r + L, 0) + frame("slider_pin slider", r + L, 0) +
                   frame("guide_s slider", r + L, 0, "90 90 0"),
               std::string(crankIsI ? "on main_pin revolution crank_o main_g\n" : "on main_pin revolution main_g crank_o\n") +
               "on big_end_pin revolution crank_pin big_end\n"
               "on small_end_pin in_line slider_pin small_end\non slide translation guide_g guide_s %\n"
               // With the crank as the joint's i body its rate about +z is the
               // motion's rate; as the j body it turns at minus the rate.
               "motion_info M on drive R main_pin velocity " + (crankIsI ? rate : "0-(" + rate + ")") + " %\n",
               end, step);
}

// Two uniform links in series on revolution joints about z, released from rest
// with the upper link 20 degrees above and the lower 40 degrees below the horizontal.
constexpr double kM1 = 1.0, kL1 = 1.0, kM2 = 0.8, kL2 = 0.8;

std::string doublePendulumModel(double end) {
  const double a1 = 20 * kExactPi / 180, a2 = -40 * kExactPi / 180;
  const double ex = kL1 * std::cos(a1), ey = kL1 * std::sin(a1);
  const double I1 = kM1 * kL1 * kL1 / 12, I2 = kM2 * kL2 * kL2 / 12;
  return model(body("upper upper_cg", kM1, I1, I1, I1) + body("lower lower_cg", kM2, I2, I2, I2),
               frame("base_cg base", 0, 0) + frame("shoulder_g base", 0, 0) + frame("shoulder_u upper", 0, 0) +
                   frame("upper_cg upper", ex / 2, ey / 2) + frame("elbow_u upper", ex, ey) +
                   frame("elbow_l lower", ex, ey) +
                   frame("lower_cg lower", ex + kL2 / 2 * std::cos(a2), ey + kL2 / 2 * std::sin(a2)),
               "on shoulder revolution shoulder_g shoulder_u\non elbow revolution elbow_u elbow_l %\n", end);
}

// Kinetic plus potential energy of the moving bodies, from the state alone.
double mechanicalEnergy(const Outcome& r, int ti) {
  const int nb = r.m.body_num();
  const double* Y = r.state(ti);
  double E = 0.0;
  for (int b = 1; b < nb; ++b) {
    const Body& B = r.m.bodies[b];
    double w[3];
    omegaFromEulerRates(w, &Y[6 * nb + 4 * b], &Y[10 * nb + 4 * b]);
    E += 0.5 * B.mass * vec3Dot(&Y[3 * nb + 3 * b], &Y[3 * nb + 3 * b]) + B.mass * g * (B.cg_pos[1] + Y[3 * b + 1]);
    for (int k = 0; k < 3; ++k) E += 0.5 * B.inertia[k] * w[k] * w[k];
  }
  return E;
}

}  // namespace

TEST(ValidationPendulum, LargeSwingHasTheEllipticPeriod) {
  const double Ip = kPendIcg + kPendMass * kPendL * kPendL;
  const double T = 4.0 * std::sqrt(Ip / (kPendMass * g * kPendL)) * ellipticK(std::sin(kExactPi / 4));
  Outcome r;
  ASSERT_TRUE(runToTheEnd(pendulumModel(0.0, 3.4 * T), r));

  // The cg passes below the pivot at T/4, 3T/4, ...: the swing angle's zeros.
  const std::vector<Event> c = events(r, 1, 0, false, kPivotX);
  ASSERT_EQ(c.size(), 7u);
  EXPECT_NEAR(4.0 * c[0].t / T - 1.0, 0.0, 1e-4) << "first quarter swing";
  for (size_t k = 0; k + 2 < c.size(); ++k) EXPECT_NEAR((c[k + 2].t - c[k].t) / T - 1.0, 0.0, 1e-4) << k;

  // Energy kept: the cg turns at pivot height on either side, l below it at the bottom.
  const std::vector<Event> turns = events(r, 1, 1, true);
  ASSERT_EQ(turns.size(), 13u);
  for (const Event& e : turns) {
    const double expected = e.x > kPivotY - kPendL / 2 ? kPivotY : kPivotY - kPendL;
    EXPECT_NEAR((e.x - expected) / kPendL, 0.0, 1e-4) << "at t=" << e.t;
  }
}

TEST(ValidationPendulum, MotionDoesNotDependOnTheOrigin) {
  // With the pivot at height 0 the total energy is 0: the energy-controlled
  // step must not judge a step relative to the energy alone.
  for (const char* energy : {"", "PTR"}) {
    const Settings s = orvtest::runSettings(energy, 1e-6);
    Outcome a, b;
    ASSERT_TRUE(runToTheEnd(pendulumModel(-kPivotY, 2.0), a, s));
    ASSERT_TRUE(runToTheEnd(pendulumModel(5.0 - kPivotY, 2.0), b, s));
    Worst worst;  // in displacements, velocities and attitudes alike
    for (int ti = 0; ti < a.h.anime_num; ++ti) {
      ASSERT_EQ(a.h.p_time[ti], b.h.p_time[ti]) << ti;
      for (int i = 0; i < 14 * a.m.body_num(); ++i) worst(a.state(ti)[i] - b.state(ti)[i]);
    }
    EXPECT_LT(worst.v, 1e-9) << "energy terms " << energy;
  }
}

TEST(ValidationSpring, PeriodAmplitudeAndDecay) {
  // Undamped to 1e-4, then 5% of critical damping to 1e-3.
  for (const auto& [zeta, tol] : {std::pair{0.0, 1e-4}, std::pair{0.05, 1e-3}}) {
    SCOPED_TRACE(zeta);
    const double wn = std::sqrt(kSpringK / kSpringMass), decay = zeta * wn;
    const double wd = wn * std::sqrt(1 - zeta * zeta), Td = 2 * kExactPi / wd;
    const double u0 = kSpringMass * g / kSpringK, yeq = kMassY - u0;  // start u0 above equilibrium
    Outcome r;
    ASSERT_TRUE(runToTheEnd(springModel(2 * zeta * std::sqrt(kSpringK * kSpringMass), 6.2 * Td), r));

    // u = u0 exp(-decay t) (cos wd t + decay / wd sin wd t): its zeros are Td/2
    // apart, its turning points on the envelope.
    const std::vector<Event> z = events(r, 1, 1, false, yeq);
    ASSERT_EQ(z.size(), 12u);
    EXPECT_NEAR(z[0].t / ((kExactPi - std::atan2(wd, decay)) / wd), 1.0, tol) << "first zero";
    for (size_t k = 0; k + 2 < z.size(); ++k) EXPECT_NEAR((z[k + 2].t - z[k].t) / Td - 1.0, 0.0, tol) << k;
    const std::vector<Event> turns = events(r, 1, 1, true);
    ASSERT_GE(turns.size(), 11u);
    for (const Event& e : turns)
      EXPECT_NEAR(std::fabs(e.x - yeq) / (u0 * std::exp(-decay * e.t)) - 1.0, 0.0, tol) << e.t;
    // The guide keeps it on its line.
    double offLine = 0.0;
    for (int ti = 0; ti < r.h.anime_num; ++ti) offLine = std::max(offLine, std::hypot(r.state(ti)[3], r.state(ti)[5]));
    EXPECT_LT(offLine, 1e-9);
  }
}

TEST(ValidationDoublePendulum, KeepsItsMechanicalEnergy) {
  Outcome r;
  ASSERT_TRUE(runToTheEnd(doublePendulumModel(5.0), r));
  const double scale = (kM1 + kM2) * g * (kL1 + kL2), E0 = mechanicalEnergy(r, 0);
  Worst energy;
  double fastest = 0.0;
  for (int ti = 1; ti < r.h.anime_num; ++ti) {
    energy((mechanicalEnergy(r, ti) - E0) / scale, r.h.p_time[ti]);
    fastest = std::max(fastest, std::fabs(r.state(ti)[3 * r.m.body_num() + 3 * 2 + 1]));
  }
  EXPECT_LT(energy.v, 1e-6) << "energy change over m g L, largest at t=" << energy.at;
  EXPECT_GT(fastest, 2.0);  // it really swings
}

TEST(ValidationPendulum, PinReactionFollowsTheSwingAtEverySample) {
  // The pendulum above with the base's cg away from the pin, at the origin.
  // Swing equation I_p alpha = -m g r_x with r = cg - pin; the pin's force on
  // the link is f = m (alpha z x r - w^2 r) + m g y, its moment about the
  // link's cg (-r) x f. F_JOINT side 0 is the i body: the force on it and its
  // moment about that body's own cg; the stored reaction is that force too.
  // In the second case the link's cg system is turned so that its Iyy, not
  // Izz, is the moment about global z.
  struct Case {
    const char* what;
    bool linkFirst;
    const char* cgAngles;
    double Iy, Iz;
  } cases[] = {{"link first", true, "0 0 0", kPendIcg, kPendIcg}, {"ground first", false, "30 90 0", kPendIcg, 0.3}};
  const double px = kPivotX, py = kPivotY, l = kPendL, m = kPendMass, Ip = kPendIcg + m * l * l;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome r;
    ASSERT_TRUE(runToTheEnd(model(body("link link_cg", m, 0.02, c.Iy, c.Iz),
                              frame("base_cg base", 0, 0) + frame("pivot_g base", px, py) +
                                  frame("pivot_l link", px, py) + frame("link_cg link", px + l, py, c.cgAngles),
                              std::string(c.linkFirst ? "on pin revolution pivot_l pivot_g %\n"
                                                      : "on pin revolution pivot_g pivot_l %\n") +
                                  "output_info O fx F_JOINT(pin,0,0,0)\nfy F_JOINT(pin,1,0,0)\ntz0 F_JOINT(pin,5,0,0)\n"
                                  "tz1 F_JOINT(pin,5,1,0)\nfx0f F_JOINT(pin,0,0,1)\nfy1f F_JOINT(pin,1,1,1) %\n",
                              1.5),
                        r));
    Worst force, torque, stored;
    for (int ti = 0; ti < r.h.anime_num; ++ti) {
      const double* Y = r.state(ti);
      const double rx = l + Y[3], ry = Y[4], t = r.h.p_time[ti];
      double w[3];
      omegaFromEulerRates(w, &Y[6 * 2 + 4], &Y[10 * 2 + 4]);
      const double alpha = -m * g * rx / Ip, ww = w[2] * w[2];
      const double f[2] = {m * (-alpha * ry - ww * rx), m * (alpha * rx - ww * ry) + m * g};  // on the link
      const double tauLink = -(rx * f[1] - ry * f[0]);
      const double ex[2] = {rx / l, ry / l}, ey[2] = {-ry / l, rx / l};  // the link's x and y axes
      const double* o = &r.h.p_output[6 * static_cast<size_t>(ti)];
      // fx, fy, tz on side 0, tz on side 1, then fx of side 0 and fy of side 1
      // in their bodies' axes (the ground's are the global ones). With the
      // ground first, side 0 is the pin's pull at (px, py) on the ground, and
      // its moment is about the ground's cg at the origin.
      const double tauGround = -(px * f[1] - py * f[0]);
      const double expect[2][6] = {{f[0], f[1], tauLink, -tauLink, f[0] * ex[0] + f[1] * ex[1], -f[1]},
                                   {-f[0], -f[1], tauGround, -tauGround, -f[0], f[0] * ey[0] + f[1] * ey[1]}};
      const double* e = expect[c.linkFirst ? 0 : 1];
      for (int k = 0; k < 6; ++k) (k == 2 || k == 3 ? torque : force)(o[k] - e[k], t);
      const double* F = &r.h.p_F_const[static_cast<size_t>(ti) * 12 + 6];  // joint pin
      stored(std::hypot(F[0] - e[0], F[1] - e[1]) / std::hypot(f[0], f[1]), t);
    }
    EXPECT_LT(force.v, 1e-5 * m * g) << "at t=" << force.at;
    EXPECT_LT(torque.v, 1e-5 * m * g * l) << "at t=" << torque.at;
    EXPECT_LT(stored.v, 1e-4) << "relative, at t=" << stored.at;
  }
}

TEST(ValidationDrivenMotions, AcceleratingCrankIsFourthOrder) {
  // Driven at 2 t rad/s the crank has turned t^2; the slider stands where
  // that angle puts it. With the crank as the motion's i body its velocities
  // are solved from the motion; as the j body they are integrated.
  const double R = kCrankR, L = kRodL;
  for (bool crankIsI : {true, false}) {
    SCOPED_TRACE(crankIsI ? "crank is i" : "crank is j");
    double slider[3], angle[3];
    const double steps[3] = {0.001, 0.01, 0.005};
    for (int k = 0; k < 3; ++k) {
      Outcome r;
      ASSERT_TRUE(runToTheEnd(sliderCrankModel(2.0, "2*time", steps[k], crankIsI), r));
      slider[k] = angle[k] = 0.0;
      for (int ti = 0; ti < r.h.anime_num; ++ti) {
        const double* Y = r.state(ti);
        const double* p = &Y[6 * r.m.body_num() + 4 * 1];
        const double t = r.h.p_time[ti], theta = t * t, s = std::sin(theta);
        const double exact = R * std::cos(theta) + std::sqrt(L * L - R * R * s * s);
        slider[k] = std::max(slider[k], std::fabs(r.m.bodies[3].cg_pos[0] + Y[9] - exact));
        angle[k] = std::max(angle[k], std::fabs(std::remainder(2 * std::atan2(p[3], p[0]) - theta, 2 * kExactPi)));
      }
    }
    EXPECT_LT(angle[0], 1e-7);
    EXPECT_LT(slider[0], 1e-7);
    // Fourth order: halving h divides the error by about 16.
    EXPECT_GT(slider[1] / slider[2], 12.0) << slider[1] << " " << slider[2];
    EXPECT_GT(angle[1] / angle[2], 12.0) << angle[1] << " " << angle[2];
  }
}

TEST(ValidationDrivenMotions, SliderFollowsItsTranslationRate) {
  // A slider on a translation joint along x, driven at sin(t) m/s from rest:
  // it stands at 1 - cos t. The row drives d/dt (z_i . (P_j - P_i)) at minus
  // the rate, so with the base as i body the rate is given negated.
  for (bool sliderIsI : {true, false}) {
    SCOPED_TRACE(sliderIsI ? "slider is i" : "slider is j");
    Outcome r;
    ASSERT_TRUE(runToTheEnd(model(body("slider slider_cg", 1.5, 1e-3, 1e-3, 1e-3),
                              frame("base_cg base", 0, 0) + frame("guide_g base", 0, 0, "90 90 0") +
                                  frame("slider_cg slider", 0.2, 0.1) + frame("guide_s slider", 0, 0, "90 90 0"),
                              std::string(sliderIsI ? "on slide translation guide_s guide_g %\n"
                                                    : "on slide translation guide_g guide_s %\n") +
                                  "motion_info M on drive T slide velocity " +
                                  (sliderIsI ? "sin(time)" : "0-sin(time)") + " %\n",
                              6.0),
                        r));
    for (int ti = 0; ti < r.h.anime_num; ++ti) {
      const double t = r.h.p_time[ti], *Y = r.state(ti);
      EXPECT_NEAR(Y[3], 1 - std::cos(t), 1e-7) << "t=" << t;
      EXPECT_NEAR(Y[3 * 2 + 3], std::sin(t), 1e-7) << "t=" << t;
      EXPECT_NEAR(std::hypot(Y[4], Y[5]), 0.0, 1e-9);
    }
  }
}
