#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "expr/evaluator.h"
#include "expr/measures.h"
#include "math/vec3.h"
#include "model/kinematics.h"
#include "model/model.h"

using namespace orv;

namespace {

// Body 0 at the origin, body 1 with its cg at (2, 0, 0), both at rest and
// unturned. Markers: 0 on body 0 at its cg, 1 on body 0 at (1, 0, 0), 2 on
// body 1 at its cg, 3 on body 1 at (3, 0, 0) turned 90 deg about z, 4 on
// body 1 at its cg tilted 90 deg about x. Joint 0 from marker 0 to marker 2.
struct MeasureTest : ::testing::Test {
  void SetUp() override {
    m.bodies.resize(2);
    m.bodies[1].cg_pos[0] = 2;
    const double at[5][5] = {
        {0, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {1, 2, 0, 0, 0}, {1, 3, 90, 0, 0}, {1, 2, 0, 90, 0}};
    for (const auto& a : at) {
      LocalCoordinate& f = m.frames.emplace_back();
      f.body = static_cast<int>(a[0]), f.pos[0] = a[1], f.ang[0] = a[2], f.ang[1] = a[3];
    }
    m.joints.resize(1);
    m.joints[0].i_lc = 0, m.joints[0].j_lc = 2;
    resolveTypesAndAxes(m);
    h.Y.assign(28, 0), h.A.assign(18, 0), h.omega.assign(6, 0), h.reactions = {1, 2, 3, 4, 5, 6};
    mat3Identity(A(0)), mat3Identity(A(1));
  }
  double* A(int b) { return &h.A[9 * b]; }
  double* w(int b) { return &h.omega[3 * b]; }
  // Interpreted, compiled, and compiled and bound to m: the same value, bit for bit.
  double ev(const std::string& text) {
    const double v = evaluate(text, m, h), c = CompiledExpr(text).evaluate(m, h),
                 b = CompiledExpr(text).bind(m).evaluate(m, h);
    EXPECT_TRUE(!std::memcmp(&v, &c, 8) && !std::memcmp(&v, &b, 8))
        << text << ": " << c << " " << b;
    return v;
  }

  Model m;
  Kinematics h;
};

}  // namespace

TEST_F(MeasureTest, DisplacementAndVelocity) {
  EXPECT_EQ(ev("DX(2,1,0)"), 1.0);
  EXPECT_NEAR(ev("DY(2,0,3)"), -2.0, 1e-9);  // global +x in marker 3's axes
  h.Y[4] = 1;                                // body 1 moved by (0, 1, 0), turned 90 deg about z
  mat3RotationZXZ(A(1), M_PI / 2, 0, 0);
  EXPECT_NEAR(ev("D(3,0)"), std::sqrt(8.0), 1e-12);  // marker 3 now at (2, 2, 0)
  EXPECT_NEAR(ev("DY(3,0,0)"), 2.0, 1e-12);
  // Marker axes are A_body A_marker, in that order.
  h.Y[4] = 0;
  mat3RotationZXZ(A(1), 0, M_PI / 2, 0);
  EXPECT_NEAR(ev("DY(3,0,3)"), -3.0, 1e-9);

  mat3Identity(A(1));
  w(1)[2] = 3;  // marker 3 is one unit off body 1's spin axis
  EXPECT_NEAR(ev("VY(3,0,0,0)"), 3.0, 1e-12);
  EXPECT_NEAR(ev("VX(3,0,3,0)"), 3.0, 1e-9);  // global +y is marker 3's +x
  EXPECT_NEAR(ev("V(3,2)"), 0.0, 1e-12);      // seen from its own body it rests
  EXPECT_NEAR(ev("V(3,0)"), 3.0, 1e-12);      // and from body 0 it goes round
  // From body 1, P_3 - P_0 = (3, 0, 0) turns: (0, 3, 0) - (0, 0, 3) x (3, 0, 0).
  EXPECT_NEAR(ev("VY(3,0,0,2)"), -6.0, 1e-12);
  h.Y[9] = 1;  // body 1 translating too: the observer's translation does not enter
  EXPECT_NEAR(ev("VX(3,0,0,2)"), 1.0, 1e-12);
  EXPECT_NEAR(ev("VX(0,3,0,0)"), -1.0, 1e-12);
  // Body-axis spin goes through A: body turned 90 deg about x spins about global -y.
  h.Y[9] = 0;
  mat3RotationZXZ(A(1), 0, M_PI / 2, 0);
  EXPECT_NEAR(ev("VZ(3,0,0,0)"), 3.0, 1e-12);
  // The same spin as angular velocity: global (0, -3, 0).
  EXPECT_EQ(ev("WX(2,3,4)") + ev("WY(2,3,4)") + ev("WZ(3,4,0)"), 0.0);  // one body
  EXPECT_NEAR(ev("WY(2,0,0)"), -3.0, 1e-12);
  EXPECT_NEAR(ev("WY(0,2,0)"), 3.0, 1e-12);
  EXPECT_NEAR(ev("WY(2,0,4)"), 3.0, 1e-9);  // marker 4's y is body z
}

TEST_F(MeasureTest, AnglesOfBodyJRelativeToBodyI) {
  EXPECT_EQ(ev("A2(0,4,0)") + ev("A1(0,3,0)"), 0.0);  // markers' own angles do not enter
  mat3RotationZXZ(A(1), M_PI / 6, 0, 0);              // body j turned +30 deg about z
  EXPECT_NEAR(ev("A1(0,2,0)"), M_PI / 6, 1e-12);
  EXPECT_NEAR(ev("A1(2,0,0)"), -M_PI / 6, 1e-12);
  double Rel[9];
  mat3RotationZXZ(A(0), 0.4, 0.9, -0.3);
  mat3Mul(A(1), A(0), mat3RotationZXZ(Rel, 0.3, 0.5, -1.2));
  EXPECT_NEAR(ev("A1(1,3,0)"), 0.3, 1e-12);
  EXPECT_NEAR(ev("A2(1,3,0)"), 0.5, 1e-12);
  EXPECT_NEAR(ev("A3(1,3,0)"), -1.2, 1e-12);
}

TEST_F(MeasureTest, TurnReadsTheAngleNearestTheRunsCount) {
  mat3RotationZXZ(A(1), 3.0, 0, 0);  // body j turned 3 rad about z; marker 3 by 90 deg more
  EXPECT_NEAR(ev("TURN(0,2)"), 3.0, 1e-12);
  EXPECT_NEAR(ev("TURN(3,0)"), 2 * M_PI - 3.0 - M_PI / 2, 1e-9);  // wrapped into (-pi, pi]
  h.turns = {{3, 0, -4 * M_PI}};  // two turns back counted: the nearest angle is read
  EXPECT_NEAR(ev("TURN(3,0)"), -3.0 - M_PI / 2 - 2 * M_PI, 1e-9);
  advanceTurns(m, h, h.turns);                  // and counted once accepted;
  mat3RotationZXZ(A(1), 3.0 - M_PI / 2, 0, 0);  // a quarter turn on is read from there
  EXPECT_NEAR(ev("TURN(3,0)"), -3.0 - 2 * M_PI, 1e-9);
}

TEST_F(MeasureTest, JointReaction) {
  EXPECT_EQ(ev("F_JOINT(0,5,0,0)"), 6.0);
  EXPECT_DOUBLE_EQ(ev("F_JOINT(0,6,1,0)"), std::sqrt(14.0));
  EXPECT_DOUBLE_EQ(ev("F_JOINT(0,7,1,1)"), std::sqrt(77.0));
  // The torque is kept in body-i axes: frame 0 turns it to global, frame 1
  // gives the side's body axes. Body i turned 90 deg about z, body j about x.
  mat3RotationZXZ(A(0), M_PI / 2, 0, 0);
  mat3RotationZXZ(A(1), 0, M_PI / 2, 0);
  const double want[4][6] = {
      {1, 2, 3, -5, 4, 6}, {-1, -2, -3, 5, -4, -6}, {2, -1, 3, 4, 5, 6}, {-1, -3, 2, 5, -6, 4}};
  const int sideFrame[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (int k = 0; k < 4; ++k)
    for (int c = 0; c < 6; ++c)
      EXPECT_NEAR(measureJointReaction(m, h, 0, c, sideFrame[k][0], sideFrame[k][1]), want[k][c],
                  1e-12)
          << k << c;
}

TEST_F(MeasureTest, OutOfRangeGivesZero) {
  w(1)[2] = 1, h.Y[6] = 1;
  for (const char* f : {"D(2,-1)", "DX(2,0,5)", "V(2,1073741824)", "VX(2,0,0,-1)", "WZ(2,0,8)",
                        "A1(-1,2,0)", "F_JOINT(1,0,0,0)", "F_JOINT(0,8,0,0)", "F_JOINT(0,0,2,0)",
                        "F_JOINT(0,0,0,-1)", "TURN(9,0)"})
    EXPECT_EQ(ev(f), 0.0) << f;
  // A marker on a missing body, then caches shorter than the table.
  m.frames[1].body = 7;
  EXPECT_EQ(ev("D(1,0)") + ev("A1(0,1,0)") + ev("TURN(0,1)"), 0.0);
  h.omega.resize(3);
  EXPECT_EQ(ev("V(2,0)"), 0.0);
  h.A.resize(9);
  EXPECT_EQ(ev("A1(0,2,0)") + ev("F_JOINT(0,0,1,1)") + ev("TURN(2,0)"), 0.0);
  h.Y.resize(6);
  EXPECT_EQ(ev("D(0,0)"), 0.0);
  h.reactions.resize(5);
  EXPECT_EQ(ev("F_JOINT(0,0,0,0)"), 0.0);
}
