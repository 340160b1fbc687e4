// Models read and run as a user's are, against closed-form motions. A larger
// error is a fault in the equations of motion, a joint, a force or the integrator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "dynamics/dynamics.h"
#include "math/vec3.h"
#include "model/state_layout.h"
#include "test_util.h"

using namespace orv;
using orvtest::Outcome;

namespace {

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
  return std::string(nameCg) + " " + num(mass) + " " + num(Ix) + " " + num(Iy) + " " + num(Iz) +
         " 0 0 0 0 0 0\n";
}

// A grounded base body and the given entries under gravity, sampled every
// `step`; `rest` goes on from the base's ground joint.
std::string model(const std::string& bodies, const std::string& frames, const std::string& rest,
                  double end, double step = 0.001, double start = 0.0) {
  return "parameter_info P %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n" + bodies +
         "%\nframe_info F " + frames + "%\njoint_info J on fix_base ground base_cg non\n" + rest +
         "gravity G on y- %\nsimulation_time T " + num(start) + " " + num(step) + " " + num(end) +
         " %\n";
}

// Runs model text to its end; without energy terms every step is d_time long.
::testing::AssertionResult runToTheEnd(const std::string& text, Outcome& r,
                                       const Settings& s = orvtest::runSettings()) {
  r = orvtest::runText(text, s);
  if (r.status == AnalysisStatus::Completed) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << r.message << r.console;
}

// A pendulum of mass 2 on `joint` at (0.3, 1.2 + dy), cg l = 0.5 beside the
// pivot (released from the horizontal), Icg 0.05 about global z.
constexpr double kPendMass = 2.0, kPendL = 0.5, kPendIcg = 0.05, kPivotX = 0.3, kPivotY = 1.2;

std::string pendulumModel(double dy, double end, const std::string& joint,
                          const char* cgAngles = "0 0 0", double Iz = kPendIcg, double step = 0.001,
                          double start = 0.0) {
  const double px = kPivotX, py = kPivotY + dy;
  return model(body("link link_cg", kPendMass, 0.02, kPendIcg, Iz),
               frame("base_cg base", 0, 0) + frame("pivot_g base", px, py) +
                   frame("pivot_l link", px, py) + frame("link_cg link", px + kPendL, py, cgAngles),
               joint, end, step, start);
}

// Slider-crank driven at `rate` about z (revolutions, the rod's end in_line on
// the slider's pin, a translation along x), from the dead centre: at rest there.
constexpr double kCrankR = 0.12, kRodL = 0.4;

std::string sliderCrankModel(double end, const std::string& rate, double step, bool crankIsI) {
  const double r = kCrankR, L = kRodL;
  return model(
      body("crank crank_cg", 0.5, 1e-4, 0.5 * r * r / 12, 0.5 * r * r / 12) +
          body("rod rod_cg", 1, 1e-4, L * L / 12, L * L / 12) +
          body("slider slider_cg", 2, 2e-3, 2e-3, 2e-3),
      frame("base_cg base", 0, 0) + frame("main_g base", 0, 0) +
          frame("guide_g base", 0, 0, "90 90 0") + frame("crank_o crank", 0, 0) +
          frame("crank_cg crank", r / 2, 0) + frame("crank_pin crank", r, 0) +
          frame("big_end rod", r, 0) + frame("rod_cg rod", r + L / 2, 0) +
          frame("small_end rod", r + L, 0) + frame("slider_cg slider", r + L, 0) +
          frame("slider_pin slider", r + L, 0) + frame("guide_s slider", r + L, 0, "90 90 0"),
      std::string(crankIsI ? "on main_pin revolution crank_o main_g\n"
                           : "on main_pin revolution main_g crank_o\n") +
          "on big_end_pin revolution crank_pin big_end\n"
          "on small_end_pin in_line slider_pin small_end\non slide translation guide_g guide_s %\n"
          // As the joint's j body the crank turns at minus the motion's rate.
          "motion_info M on drive R main_pin velocity " +
          (crankIsI ? rate : "0-(" + rate + ")") + " %\n",
      end, step);
}

}  // namespace

TEST(Validation, FreeBodiesFlyAndSpin) {
  // A ball thrown at (1, 5) m/s, and a body with principal moments 1, 2, 3
  // spinning near its second axis: it flips over and over, energy and |L| kept.
  Outcome r;
  ASSERT_TRUE(
      runToTheEnd("parameter_info P %\nbody_info B ball cg 1 1 1 1 1 5 0 0 0 0\n"
                  "flip flip_cg 1 1 2 3 0 0 0 0.01 2 0.01 %\nframe_info F cg ball 0 0 0 0 0 0\n"
                  "flip_cg flip 0 0 0 0 0 0 %\ngravity G on y- %\nsimulation_time T 0 0.002 30 %\n",
                  r));
  const StateLayout L{2};
  double E0 = 0, L0 = 0, prev = 1, w[3], Jw[3], A[9], l[3];
  int flips = 0;
  for (int ti = 0; ti < r.h.anime_num; ++ti) {
    const double t = r.h.p_time[ti], *Y = r.state(ti);
    ASSERT_NEAR(t, 0.002 * ti, 1e-12);
    ASSERT_NEAR(Y[L.r(0) + 1], 5 * t - 0.5 * g * t * t, 1e-9 * (1 + t * t));
    omegaFromEulerRates(w, &Y[L.p(1)], &Y[L.pd(1)]);
    for (int k = 0; k < 3; ++k) Jw[k] = (k + 1) * w[k];
    mat3MulVec(l, mat3FromEulerParameters(A, &Y[L.p(1)]), Jw);  // L in global axes
    const double E = 0.5 * vec3Dot(w, Jw), Lg = std::sqrt(vec3Dot(l, l));
    if (ti == 0) E0 = E, L0 = Lg;
    ASSERT_NEAR(E / E0, 1.0, 1e-6) << ti;
    ASSERT_NEAR(Lg / L0, 1.0, 1e-6) << ti;
    flips += w[1] * std::exchange(prev, w[1]) < 0;
  }
  EXPECT_GE(flips, 3);
}

TEST(Validation, PendulumHasTheEllipticPeriodAndItsPinReaction) {
  // I_p alpha = -m g r_x with r = cg - pin; the pin pulls the link with
  // f = m (alpha z x r - w^2 r) + m g y, about its cg with (-r) x f.
  const double px = kPivotX, l = kPendL, m = kPendMass, Ip = kPendIcg + m * l * l;
  double K = 1.0, b = std::sqrt(0.5);  // K(sin 45 deg) by the arithmetic-geometric mean
  for (int it = 0; it < 30; ++it) b = std::sqrt(std::exchange(K, 0.5 * (K + b)) * b);
  const double T = 4.0 * std::sqrt(Ip / (m * g * l)) * M_PI / (2.0 * K);
  // The link first, pivot at height 0 and the step controlled on the energy,
  // whose total is then 0 and must not be what a step is judged against: 5 m
  // up it moves the same. The ground first, its cg axes turned (Iyy about z).
  for (const bool linkFirst : {true, false}) {
    SCOPED_TRACE(linkFirst ? "link first" : "ground first");
    const double dy = linkFirst ? -kPivotY : 0.0, py = kPivotY + dy;
    auto run = [&](double shift, Outcome& r) {
      return runToTheEnd(
          pendulumModel(dy + shift, 3.4 * T,
                        std::string(linkFirst ? "on pin revolution pivot_l pivot_g %\n"
                                              : "on pin revolution pivot_g pivot_l %\n") +
                            "output_info O fx F_JOINT(pin,0,0,0)\nfy F_JOINT(pin,1,0,0)\n"
                            "tz0 F_JOINT(pin,5,0,0)\ntz1 F_JOINT(pin,5,1,0)\n"
                            "fx0f F_JOINT(pin,0,0,1)\nfy1f F_JOINT(pin,1,1,1) %\n",
                        linkFirst ? "0 0 0" : "30 90 0", linkFirst ? kPendIcg : 0.3),
          r, orvtest::runSettings(linkFirst ? "PTR" : "", 1e-6));
    };
    Outcome r, up;
    ASSERT_TRUE(run(0.0, r));
    if (linkFirst) {
      ASSERT_TRUE(run(5.0, up));
      for (int ti = 0; ti < r.h.anime_num; ++ti) {
        ASSERT_EQ(r.h.p_time[ti], up.h.p_time[ti]) << ti;
        for (int i = 0; i < 28; ++i) ASSERT_NEAR(r.state(ti)[i], up.state(ti)[i], 1e-9) << ti;
      }
    }
    // The cg passes below the pivot at T/4, 3T/4, ... (found between samples, as
    // it moves straight), turning at pivot height, l below it at the bottom.
    std::vector<double> below;
    double top = -1e9, bottom = 1e9;
    for (int ti = 1; ti < r.h.anime_num; ++ti) {
      const double x0 = r.state(ti - 1)[3], x1 = r.state(ti)[3], y = py + r.state(ti)[4];
      if ((x0 + l) * (x1 + l) <= 0)
        below.push_back(r.h.p_time[ti - 1] + 0.001 * (x0 + l) / (x0 - x1));
      if (r.h.p_time[ti] > 3 * T) top = std::max(top, y), bottom = std::min(bottom, y);
    }
    ASSERT_EQ(below.size(), 7u);
    EXPECT_NEAR(4.0 * below[0] / T - 1.0, 0.0, 1e-4) << "first quarter swing";
    for (size_t k = 0; k + 2 < below.size(); ++k)
      EXPECT_NEAR((below[k + 2] - below[k]) / T - 1.0, 0.0, 1e-4) << k;
    EXPECT_NEAR(top, py, 1e-4 * l);
    EXPECT_NEAR(bottom, py - l, 1e-4 * l);

    double force = 0, torque = 0, stored = 0;
    for (int ti = 0; ti < r.h.anime_num; ++ti) {
      const double *Y = r.state(ti), rx = l + Y[3], ry = Y[4];
      double w[3];
      omegaFromEulerRates(w, &Y[6 * 2 + 4], &Y[10 * 2 + 4]);
      const double alpha = -m * g * rx / Ip, ww = w[2] * w[2];
      const double f[2] = {m * (-alpha * ry - ww * rx),
                           m * (alpha * rx - ww * ry) + m * g};  // on the link
      const double tauLink = -(rx * f[1] - ry * f[0]), tauGround = -(px * f[1] - py * f[0]);
      // F_JOINT fx, fy, tz of side 0 (the i body; moments about its own cg), tz
      // of side 1, fx of side 0 and fy of side 1 in their own axes; then the
      // stored reaction, the force on the i body.
      const double expect[2][6] = {
          {f[0], f[1], tauLink, -tauLink, (f[0] * rx + f[1] * ry) / l, -f[1]},
          {-f[0], -f[1], tauGround, -tauGround, -f[0], (f[1] * rx - f[0] * ry) / l}};
      const double *e = expect[linkFirst ? 0 : 1], *o = &r.h.p_output[6 * static_cast<size_t>(ti)];
      for (int k = 0; k < 6; ++k) {
        double& worst = k == 2 || k == 3 ? torque : force;
        worst = std::max(worst, std::fabs(o[k] - e[k]));
      }
      const double* F = &r.h.p_F_const[static_cast<size_t>(ti) * 12];
      for (int k = 0; k < 6; ++k) ASSERT_EQ(F[k], 0.0);  // "ground", whatever its multipliers
      stored = std::max(stored, std::hypot(F[6] - e[0], F[7] - e[1]) / std::hypot(f[0], f[1]));
    }
    EXPECT_LT(force, 1e-5 * m * g);
    EXPECT_LT(torque, 1e-5 * m * g * l);
    EXPECT_LT(stored, 1e-4);
  }
}

// TURN counts whole turns, however far apart the samples are (here 0.5 s, more
// than half a turn of both bodies): a wheel spinning free at 7 rad/s, and a
// rod (m = L = 1, pinned at its end) thrown up from the horizontal at 8 rad/s,
// which loops over the top with psi'^2 = 64 - (m g L / I) sin psi, psi its
// turn from the horizontal: it reaches psi at t = integral of dpsi / psi'.
TEST(Validation, TurnCountsWholeTurns) {
  std::string text =
      model("wheel wheel_cg 1 1 1 1 0 0 0 0 0 7\nrod rod_cg 1 0.01 " + num(1.0 / 12) + " " +
                num(1.0 / 12) + " 0 4 0 0 0 8\n",
            frame("base_cg base", 0, 0) + frame("wheel_cg wheel", 3, 0) +
                frame("rod_cg rod", 0.5, 0) + frame("pin_r rod", 0, 0) + frame("pin_g base", 0, 0) +
                frame("pin_90 base", 0, 0, "90 0 0"),
            "on pin revolution pin_r pin_g %\noutput_info O spin TURN(base_cg,wheel_cg)\n"
            "loop TURN(pin_g,pin_r)\nfrom_y TURN(pin_90,pin_r) %\n",
            5.0);
  Outcome r;
  ASSERT_TRUE(runToTheEnd(text.insert(text.rfind('%'), "500 "), r));
  ASSERT_EQ(r.h.anime_num, 11);
  const double c = g / (1.0 / 3);
  auto timeTo = [c](double psi) {  // Simpson's rule
    const int n = 2 + 2 * static_cast<int>(psi / 0.002);
    double sum = 0;
    for (int k = 0; k <= n; ++k)
      sum += (k == 0 || k == n ? 1 : k % 2 ? 4 : 2) / std::sqrt(64 - c * std::sin(psi * k / n));
    return sum * psi / (3 * n);
  };
  for (int ti = 0; ti < r.h.anime_num; ++ti) {
    const double t = r.h.p_time[ti], loop = r.out(ti, 1);
    EXPECT_NEAR(r.out(ti, 0), 7 * t, 1e-6) << t;
    EXPECT_NEAR(timeTo(loop), t, 1e-6) << t << " " << loop;
    EXPECT_NEAR(r.out(ti, 2), loop - M_PI / 2, 1e-9) << t;
  }
  EXPECT_GT(r.out(10, 1), 5 * 2 * M_PI);
}

TEST(Validation, SphereAndFixedJointsHoldAndOneSampleRuns) {
  // The pendulum on a sphere joint: energy kept, pivot held.
  Outcome r;
  const Settings s = orvtest::runSettings("PTR");
  const std::string sphere = "on pin sphere pivot_l pivot_g %\n";
  ASSERT_TRUE(runToTheEnd(pendulumModel(0.0, 2.0, sphere), r, s));
  const std::vector<double> J = inertiaTensors(r.m);
  double lowest = kPivotY;
  for (int ti = 1; ti < r.h.anime_num; ++ti) {
    const double* Y = r.state(ti);
    ASSERT_NEAR(totalEnergy(r.m, s, J, Y) / totalEnergy(r.m, s, J, r.state(0)), 1.0, 1e-5) << ti;
    ASSERT_NEAR(std::hypot(kPendL + Y[3], Y[4], Y[5]), kPendL, 1e-6) << ti;
    EXPECT_LT(r.h.p_C_const[ti * 2 + 1], 1e-6);
    lowest = std::min(lowest, kPivotY + Y[4]);
  }
  EXPECT_NEAR(lowest, kPivotY - kPendL, 1e-3);
  // A span of one sample: the start only.
  ASSERT_TRUE(runToTheEnd(pendulumModel(0.0, 1.0, sphere, "0 0 0", kPendIcg, 0.01, 1.0), r));
  EXPECT_TRUE(r.h.anime_num == 1 && r.h.p_time[0] == 1.0) << r.h.anime_num;
  // A welded pair falls as one body, the joint held and carrying no weight.
  ASSERT_TRUE(runToTheEnd(
      "parameter_info P %\nbody_info B a a_cg 1 1 1 1 1 0 0 0 0 0 b b_cg 3 1 1 1 1 0 0 0 0 0 %\n"
      "frame_info F a_cg a 0 0 0 0 0 0 b_cg b 1 0 0 0 0 0 weld a 0.5 0 0 0 0 0\n"
      "weld_b b 0.5 0 0 0 0 0 %\njoint_info J on w fix weld weld_b %\n"
      "gravity G on y- %\nsimulation_time T 0 0.01 0.5 %\n",
      r, orvtest::runSettings("TR")));
  EXPECT_NEAR(r.state(50)[1], r.state(50)[4], 1e-6);
  EXPECT_NEAR(r.h.p_C_const[50], 0.0, 1e-5);
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(r.h.p_F_const[50 * 6 + k], 0.0, 1e-6) << k;
}

TEST(Validation, DrivenMotionsAreFollowed) {
  // Driven at 2 t rad/s the crank has turned t^2, the slider where that puts
  // it, to fourth order in the step; as the motion's i body the crank's
  // velocities are solved from the motion, as the j body integrated.
  const double R = kCrankR, L = kRodL;
  for (bool crankIsI : {true, false}) {
    SCOPED_TRACE(crankIsI ? "crank is i" : "crank is j");
    double slider[3] = {0, 0, 0}, angle[3] = {0, 0, 0};
    const double steps[3] = {0.001, 0.01, 0.005};
    for (int k = 0; k < 3; ++k) {
      Outcome r;
      ASSERT_TRUE(runToTheEnd(sliderCrankModel(2.0, "2*time", steps[k], crankIsI), r));
      for (int ti = 0; ti < r.h.anime_num; ++ti) {
        const double *Y = r.state(ti), *p = &Y[StateLayout{4}.p(1)];
        const double t = r.h.p_time[ti], theta = t * t, s = std::sin(theta);
        const double exact = R * std::cos(theta) + std::sqrt(L * L - R * R * s * s);
        slider[k] = std::max(slider[k], std::fabs(r.m.bodies[3].cg_pos[0] + Y[9] - exact));
        angle[k] =
            std::max(angle[k],
                     std::fabs(std::remainder(2 * std::atan2(p[3], p[0]) - theta, 2 * M_PI)));
      }
    }
    EXPECT_TRUE(angle[0] < 1e-7 && slider[0] < 1e-7) << angle[0] << " " << slider[0];
    // Halving h divides the error by 16.
    EXPECT_TRUE(slider[1] / slider[2] > 12.0 && angle[1] / angle[2] > 12.0)
        << slider[1] << " " << slider[2] << " " << angle[1] << " " << angle[2];
  }
  // A slider driven along x at sin(t) m/s from rest stands at 1 - cos t. The
  // row drives d/dt (z_i . (P_j - P_i)) at minus the rate.
  for (bool sliderIsI : {true, false}) {
    SCOPED_TRACE(sliderIsI ? "slider is i" : "slider is j");
    Outcome r;
    ASSERT_TRUE(runToTheEnd(
        model(body("slider slider_cg", 1.5, 1e-3, 1e-3, 1e-3),
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
      ASSERT_NEAR(Y[3], 1 - std::cos(t), 1e-7) << "t=" << t;
      ASSERT_NEAR(Y[3 * 2 + 3], std::sin(t), 1e-7) << "t=" << t;
      ASSERT_NEAR(std::hypot(Y[4], Y[5]), 0.0, 1e-9) << "t=" << t;
    }
  }
}

namespace {

// A benchmark of examples/benchmarks with its simulation_time line replaced.
Outcome benchmark(const std::string& file, const std::string& from, const std::string& to) {
  std::string t = orvtest::readFile(std::string(ORVALDYN_EXAMPLES) + "/benchmarks/" + file);
  EXPECT_NE(t.find(from), std::string::npos);
  if (t.find(from) != std::string::npos) t.replace(t.find(from), from.size(), to);
  return orvtest::runText(t, orvtest::runSettings());
}

}  // namespace

// Andrews' squeezer against the reference solution at t = 0.03 s of the test
// set for IVP solvers (Hairer and Wanner): within 5e-6 rad at h = 5e-5, and
// 16 times closer at half the step, as a fourth-order method is.
TEST(Validation, AndrewsSqueezerReachesTheReferenceAtFourthOrder) {
  const double ref[7] = {15.81077119629904,   -15.75637105984298, 0.04082224013073101,
                         -0.5347301163226948, 0.5244099658805304, 0.5347301163226948,
                         1.048080741042263};
  const char* at = "0.0  5e-5  0.03  30";
  double err[2] = {0.0, 0.0};
  for (int half = 0; half < 2; ++half) {
    const Outcome r = benchmark("andrews_squeezer.txt", at, half ? "0.0  2.5e-5  0.03  60" : at);
    ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
    ASSERT_EQ(r.h.anime_num, 21);
    for (int c = 0; c < 7; ++c) err[half] = std::max(err[half], std::fabs(r.out(20, c) - ref[c]));
  }
  EXPECT_LT(err[0], 5e-6);
  EXPECT_LT(err[1], err[0] / 10.0);
}

// The flyball governor's spring of 8e5 N/m and 4e4 N s/m on its 4 kg sleeve:
// below the 2.7e-4 s that a run at 1 ms names, at 2.5e-4 s, it runs to the
// same motion as at half that step, the spin slowing as the balls swing out.
// (Kept short: past a second its hinges drift without constraint projection,
// docs/model-file.md.)
TEST(Validation, FlyballGovernorIsStableBelowTheStepNamed) {
  const char* at = "0.0  2.5e-4  1.0  40";
  const Outcome a = benchmark("flyball_governor.txt", at, "0.0  2.5e-4  0.2  40");
  const Outcome b = benchmark("flyball_governor.txt", at, "0.0  1.25e-4  0.2  80");
  ASSERT_EQ(a.status, AnalysisStatus::Completed) << a.message;
  ASSERT_EQ(b.status, AnalysisStatus::Completed) << b.message;
  EXPECT_NEAR(a.out(20, 0), b.out(20, 0), 1e-9);  // sleeve height
  EXPECT_NEAR(a.out(20, 1), b.out(20, 1), 1e-7);  // spin
  EXPECT_GT(a.out(20, 0), a.out(0, 0) + 5e-5);    // the balls lift the sleeve
  EXPECT_LT(a.out(20, 1), a.out(0, 1) - 5e-3);    // and slow the spin
}

// The implicit integrator on the flyball at 1 ms, four times the explicit
// method's stable step, against the explicit run at an eighth of it: the
// sleeve height and the spin at every sample of 2 s. Gravity is along the
// spin axis and every other force internal, so the angular momentum about
// the axis is kept, and with the balls' swing alike the spin is its measure.
// Too loose a Newton tolerance once let the spin drift by 1.4e-6 over 10 s.
TEST(Validation, ImplicitFlyballFollowsTheFineExplicitRun) {
  const char* at = "0.0  2.5e-4  1.0  40";
  const Outcome fine = benchmark("flyball_governor.txt", at, "0.0  1.25e-4  2.0  800");
  Settings s = orvtest::runSettings();
  s.integrator = Integrator::Implicit;
  s.constraint_projection = 1;
  std::string t =
      orvtest::readFile(std::string(ORVALDYN_EXAMPLES) + "/benchmarks/flyball_governor.txt");
  t.replace(t.find(at), std::string(at).size(), "0.0  1e-3  2.0  100");
  const Outcome r = orvtest::runText(t, s);
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  ASSERT_EQ(fine.status, AnalysisStatus::Completed) << fine.message;
  ASSERT_EQ(r.h.anime_num, 21);
  double height = 0.0, spin = 0.0;
  for (int ti = 0; ti < 21; ++ti) {
    height = std::max(height, std::fabs(r.out(ti, 0) - fine.out(ti, 0)));
    spin = std::max(spin, std::fabs(r.out(ti, 1) / fine.out(ti, 1) - 1.0));
  }
  EXPECT_LT(height, 1e-6);  // the target is 1e-4 m over 10 s
  EXPECT_LT(spin, 1e-7);    // the target is 1e-6 over 10 s
  const size_t rows = static_cast<size_t>(r.m.motion_num() + r.m.joint_num());
  for (size_t i = 20 * rows; i < 21 * rows; ++i) EXPECT_LT(std::fabs(r.h.p_C_const[i]), 1e-10);
}

// The implicit integrator: spring_mass.txt with a spring of 8e5 N/m and
// 4e4 N s/m on its 1 kg block, 14 times the explicit method's stable step,
// follows the explicit run at a stable step; on the soft spring its steps
// follow the tolerance, and the error with them.
TEST(Validation, ImplicitIntegratorHoldsAStiffSpringAtLongSteps) {
  auto run = [](const char* k, const char* c, const char* step, const char* end, double tol) {
    Settings s = orvtest::runSettings();
    if (tol > 0.0) s.integrator = Integrator::Implicit, s.implicit_tolerance = tol;
    std::string t = orvtest::readFile(std::string(ORVALDYN_EXAMPLES) + "/spring_mass.txt");
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"k_spring  100.0", std::string("k_spring  ") + k},
          {"k_spring  0.0", std::string("k_spring  ") + c},
          {"0.0  0.005  5.0", std::string("0.0  ") + step + "  " + end}})
      t.replace(t.find(from), from.size(), to);
    return orvtest::runText(t, s);
  };
  const Outcome stiff = run("8e5", "4e4", "1e-3", "0.1", 1e-6);
  const Outcome fine = run("8e5", "4e4", "5e-5", "0.1", 0.0);
  ASSERT_EQ(stiff.status, AnalysisStatus::Completed) << stiff.message;
  ASSERT_EQ(fine.status, AnalysisStatus::Completed) << fine.message;
  double worst = 0.0;
  for (int ti = 0; ti <= 100; ++ti)
    worst = std::max(worst, std::fabs(stiff.out(ti, 0) - fine.out(ti * 20, 0)));
  EXPECT_LT(worst, 1e-8);  // of a sag of 1.2e-5 m
  double err[2] = {0.0, 0.0};
  const Outcome exact = run("100.0", "0.0", "1e-4", "1.0", 0.0);
  for (int tight = 0; tight < 2; ++tight) {
    const Outcome r = run("100.0", "0.0", "0.05", "1.0", tight ? 1e-8 : 1e-4);
    ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
    for (int ti = 0; ti < r.h.anime_num; ++ti)
      err[tight] = std::max(err[tight], std::fabs(r.out(ti, 0) - exact.out(ti * 500, 0)));
  }
  EXPECT_GT(err[0] / err[1], 100.0) << err[0] << " " << err[1];
  EXPECT_LT(err[1], 1e-6);
}
