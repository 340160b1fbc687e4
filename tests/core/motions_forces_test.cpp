// The rotation motion's row, the rate derivative behind every motion (the
// translation row is checked with the axial joints), force elements' loads.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "forces/force_elements.h"
#include "joints/motions.h"
#include "expr/evaluator.h"
#include "model/histories.h"
#include "model/kinematics.h"
#include "model/model.h"
#include "math/vec3.h"

using namespace orv;

namespace {

// Body 0 at the origin, body 1 at (1, 0, 0), at rest and unturned; LC 0 and
// LC 1 on their cgs; joint 0 between them.
struct Rig : ::testing::Test {
  void SetUp() override {
    m.bodies.resize(2), m.frames.resize(2), m.joints.resize(1);
    m.bodies[1].cg_pos[0] = m.frames[1].pos[0] = 1;
    m.frames[0].body = 0, m.frames[1].body = 1, m.joints[0].i_lc = 0, m.joints[0].j_lc = 1;
    Y[12] = Y[16] = 1;
    kin.A.assign(18, 0), kin.omega.assign(6, 0);
    mat3Identity(A(0)), mat3Identity(A(1));
  }
  // Rotation matrix, body-axis omega, displacement and velocity of body b.
  double* A(int b) { return &kin.A[9 * b]; }
  double* w(int b) { return &kin.omega[3 * b]; }
  double* r(int b) { return &Y[3 * b]; }
  double* v(int b) { return &Y[6 + 3 * b]; }
  void motion(const char* type, const char* dt, int joint = 0) {
    Motion& mo = m.motions.emplace_back();
    mo.type = type, mo.joint = joint, mo.dt_equ = dt, mo.ddt_equ = "0.0";  // ddt_equ drives nothing
    resolveTypesAndAxes(m);
  }
  const ConstraintRows& row(int mo = 0) {
    const MotionRate f = mo >= 0 && mo < m.motion_num()
                             ? motionRate(m, kin, mo, kin.time, RateSide::Central)
                             : MotionRate{};
    motionConstraint(m, kin, Y.data(), mo, f, rows);
    return rows;
  }
  Force& force(const char* type, int i = 0, int j = 1, int rlc = 0) {
    Force& f = m.forces.emplace_back();
    f.type = type, f.i_lc = i, f.j_lc = j, f.r_lc = rlc;
    resolveTypesAndAxes(m);
    h.p_F_force.assign(4 * 6 * m.force_num(), 7.0);  // 4 sample rows
    return f;
  }
  void apply(int row = 0, double load = 0.0) {  // `load` is already in F[2]
    F.assign(6, 0.0), N.assign(6, 0.0), F[2] = load;
    applyForceElements(m, kin, h, Y.data(), kin.time, F.data(), N.data(), row);
  }
  double rec(int row, int f, int c) { return h.p_F_force[(row * m.force_num() + f) * 6 + c]; }

  Model m;
  Kinematics kin;
  Histories h;  // the force records
  std::vector<double> Y = std::vector<double>(28, 0.0), F, N;
  ConstraintRows rows;
};
using MotionTest = Rig;
using ForceElementTest = Rig;

}  // namespace

TEST_F(MotionTest, RotationRowFollowsRateAndItsDerivative) {
  motion("R", "0.5*time*time");
  w(1)[2] = 0.3;  // theta_dot = 0 - 0.3
  for (double t : {1.0, 2.5}) {
    kin.time = t;
    EXPECT_NEAR(row().gamma[0], t - 2 * kBaumgarteAlpha * (-0.3 - 0.5 * t * t), 1e-7);
  }
  const double zi[3] = {0, 0, 1}, zj[3] = {0, 0, -1};
  for (int c = 0; c < 3; ++c)
    EXPECT_TRUE(rows.Bri[0][c] == 0 && rows.Brj[0][c] == 0 && rows.Bpi[0][c] == zi[c] &&
                rows.Bpj[0][c] == zj[c]);
  EXPECT_EQ(rows.violation, 0.0);
  // LC_i tilted 90 deg about x: its z is body -y (a column of its axes); the monitor is |w_i|.
  m.frames[0].ang[1] = 90;
  setLocalAxes(m.frames[0]);
  w(0)[0] = 0.3, w(0)[1] = 0.4;
  EXPECT_NEAR(row().Bpi[0][1], -1.0, 1e-9);
  EXPECT_NEAR(rows.violation, 0.5, 1e-12);
}

TEST(MotionRate, DerivativeOfTheRateOnEitherSide) {
  Model m;
  m.d_time = 1e-3;
  Kinematics kin, at;
  kin.time = 7.0;
  const double kink = std::acos(-1.0) / 4;
  struct Case {
    const char* rate;
    double t, forward, central, backward;
  } const cases[] = {
      {"sin(time)", 0.9, std::cos(0.9), std::cos(0.9), std::cos(0.9)},
      {"sin(time)", 1e5, std::cos(1e5), std::cos(1e5), std::cos(1e5)},
      {"3", -1, 0, 0, 0},
      // A ramp that ends at 0.5: each side sees its own slope, the middle no spike.
      {"SWITCH(0.5-time,time/0.5,1,1)", 0.5, 0, 0, 2},
      // A jump of the rate is not an acceleration.
      {"SWITCH(time-1,5,5,0)", 1, 0, 0, 0},
      {"SWITCH(time-0.78539816339744828,5,5,0)", kink, 0, 0, 0},
  };
  for (const Case& c : cases) {
    m.motions.assign(1, Motion{});
    m.motions[0].dt_equ = c.rate;
    const double want[3] = {c.forward, c.central, c.backward};
    const RateSide sides[3] = {RateSide::Forward, RateSide::Central, RateSide::Backward};
    at.time = c.t;
    for (int k = 0; k < 3; ++k) {
      const MotionRate f = motionRate(m, kin, 0, c.t, sides[k]);
      EXPECT_NEAR(f.accel, want[k], std::fabs(c.t) > 10 ? 1e-5 : 1e-7)
          << c.rate << " at " << c.t << " side " << k;
      EXPECT_EQ(f.rate, evaluate(c.rate, m, at)) << c.rate;
    }
    EXPECT_EQ(kin.time, 7.0) << "the time is put back";
  }
}

// Unknown types, joints out of range and sides without a local coordinate give an all-zero row.
TEST_F(MotionTest, UnsupportedOrUnresolvedGiveZeroRow) {
  m.joints.push_back(m.joints[0]);
  m.joints[1].j_lc = -1;
  const std::pair<const char*, int> drives[] = {{"X", 0}, {"R", -1}, {"R", 7}, {"R", 1}};
  for (const auto& [type, joint] : drives) motion(type, "1.0", joint);
  w(1)[2] = 0.5;
  for (int mo : {0, 1, 2, 3, 4, -1}) {
    bool zero = row(mo).nrows == 1 && rows.gamma[0] == 0;
    for (int c = 0; c < 3; ++c)
      zero = zero && !rows.Bri[0][c] && !rows.Bpi[0][c] && !rows.Brj[0][c] && !rows.Bpj[0][c];
    EXPECT_TRUE(zero) << mo;
  }
}

TEST_F(ForceElementTest, SpringStiffnessDampingCoincidenceAndTorque) {
  force("spring1").k[0] = 100;
  r(1)[0] = 0.1;  // stretched from 1.0 to 1.1 at rest
  apply();
  EXPECT_TRUE(std::fabs(F[0] - 10) < 1e-9 && std::fabs(F[3] + 10) < 1e-9 &&
              std::fabs(rec(0, 0, 0) - 10) < 1e-9);
  EXPECT_EQ(rec(0, 0, 3), 7.0);                                 // entries 3-5 untouched
  m.forces[0].c[0] = 3, r(1)[0] = 0, v(1)[0] = 2, v(1)[1] = 5;  // only the separation counts
  apply();
  EXPECT_TRUE(std::fabs(F[0] - 6) < 1e-12 && std::fabs(F[3] + 6) < 1e-12);
  m.frames[1].pos[0] = 0;  // both points start and stay at the origin
  apply();
  EXPECT_TRUE(F == std::vector<double>(6, 0.0) && N == std::vector<double>(6, 0.0) &&
              rec(0, 0, 0) == 0.0);
  // LC_i off the cg of a turned body: turned back to global, the body-axis torque is (A s) x f.
  m.frames[1].pos[0] = 1, m.frames[0].pos[1] = 0.5, m.forces[0].c[0] = 0, v(1)[0] = v(1)[1] = 0;
  mat3RotationZXZ(A(0), 0.5, 0.3, -0.2);
  w(0)[2] = 1.5;
  apply();
  const double s[3] = {0, 0.5, 0};
  double arm[3], t[3], tg[3];
  vec3Cross(t, mat3MulVec(arm, A(0), s), F.data());
  mat3MulVec(tg, A(0), N.data());
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(tg[c], t[c], 1e-12);
  EXPECT_GT(vec3Norm(t[0], t[1], t[2]), 1.0);
}

TEST_F(ForceElementTest, Force6InReferenceAxes) {
  m.frames[0].pos[1] = 0.5;  // LC_i off body 0's cg: torque s_i x (1, 0, 0)
  force("force6").equ[0] = "1.0";
  apply();
  EXPECT_EQ(F, (std::vector<double>{1, 0, 0, -1, 0, 0}));
  EXPECT_TRUE(N == (std::vector<double>{0, 0, -0.5, 0, 0, 0}) && rec(0, 0, 0) == 1.0);
  // Reference LC turned 90 deg about z on body 1 turned 90 deg about x: local
  // x is global z, local z is global -y.
  m.frames.push_back(m.frames[1]);
  m.frames[2].ang[0] = 90;
  setLocalAxes(m.frames[2]);
  m.forces[0].r_lc = 2, m.forces[0].equ[5] = "2.0", m.frames[0].pos[1] = 0;
  mat3RotationZXZ(A(1), 0, kPi / 2, 0);
  apply();
  EXPECT_TRUE(std::fabs(F[2] - 1) < 1e-9 && std::fabs(F[5] + 1) < 1e-9);
  EXPECT_TRUE(std::fabs(N[1] + 2) < 1e-9 && std::fabs(N[5] + 2) < 1e-9);  // body 1: -A^T (0, -2, 0)
}

TEST_F(ForceElementTest, AccumulatesSkipsOthersAndKeepsRecordsInside) {
  force("spring1").k[0] = 100;
  force("spring6").k[0] = 1e6;
  force("force6", -1).equ[0] = "1.0";
  force("force6", 0, 1, -1).equ[0] = "1.0";
  force("force6").equ[0] = "time";
  r(1)[0] = 0.1, kin.time = 3;
  apply(2);
  r(1)[0] = 0.2, kin.time = 4;  // same row: the last evaluation stays
  apply(2, -9.81);              // loads already in are kept
  EXPECT_TRUE(std::fabs(F[0] - 24) < 1e-9 && std::fabs(F[3] + 24) < 1e-9 && F[2] == -9.81);
  EXPECT_TRUE(std::fabs(rec(2, 0, 0) - 20) < 1e-9 && rec(2, 4, 0) == 4.0);
  for (int f = 1; f < 4; ++f) EXPECT_EQ(rec(2, f, 0), 7.0) << f;
  const std::vector<double> before = h.p_F_force;
  for (int row : {4, 1 << 30, -1}) {
    apply(row);
    EXPECT_NEAR(F[0], 24, 1e-9);
    EXPECT_EQ(h.p_F_force, before) << row;
  }
}
