// The view's rules without a display: angles, the animation clock, the
// trackball, the centre and camera local coordinates, and the bounds kept
// when reading frames that the histories may not hold.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "model/histories.h"
#include "model/model.h"
#include "platform/console.h"
#include "view/view_state.h"

using namespace orv;

namespace {

// Console texts go to a scratch stream, kept for comparison.
struct QuietConsole {
  FILE* f = std::tmpfile();
  QuietConsole() { setConsoleFile(f); }
  ~QuietConsole() {
    setConsoleFile(nullptr);
    if (f) std::fclose(f);
  }
  std::string text() {
    std::string s;
    std::fflush(f);
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
  }
};

// Two local coordinates on one body whose reference point is at (1, 0, 0).
Model twoFrameModel() {
  Model m;
  m.bodies.resize(1);
  m.bodies[0].cg_pos[0] = 1.0;
  m.frames.resize(2);
  m.frames[0].body = 0;
  m.frames[0].pos[1] = 2.0;
  m.frames[1].body = 0;
  m.frames[1].pos[0] = 3.0;
  m.frames[1].ang[1] = 90.0;
  m.max_length = 4.0;
  resolveTypesAndAxes(m);
  return m;
}

// Column-major 4x4 matrix times (x, y, z, 1).
void apply(const double* M, const double* x, double* out) {
  for (int r = 0; r < 3; ++r) out[r] = M[r] * x[0] + M[4 + r] * x[1] + M[8 + r] * x[2] + M[12 + r];
}

bool isIdentityRotation(const double* q) {
  return std::fabs(std::fabs(q[0]) - 1.0) < 1e-9 && std::fabs(q[1]) < 1e-9 &&
         std::fabs(q[2]) < 1e-9 && std::fabs(q[3]) < 1e-9;
}

}  // namespace

TEST(ViewStateAngles, NormalizeIntoOneTurnOfSixteenths) {
  EXPECT_EQ(normalizeAngle16(-90), 5670);
  EXPECT_EQ(normalizeAngle16(5760), 5760);
  EXPECT_EQ(normalizeAngle16(5761), 1);
  EXPECT_EQ(normalizeAngle16(0), 0);
  EXPECT_EQ(normalizeAngle16(-5760), 0);
  EXPECT_EQ(normalizeAngle16(11520), 5760);
  EXPECT_EQ(normalizeAngle16(-5761), 5759);
}

TEST(ViewStateAnimation, StepsStopAtTheLastFrame) {
  ViewState v;
  v.add_anime = 4;
  startAnimation(v);
  const int shown[] = {4, 8, 9};
  for (int expected : shown) {
    EXPECT_TRUE(v.animating);
    advanceAnimation(v, 10);
    EXPECT_EQ(v.i_anime, expected);
  }
  EXPECT_FALSE(v.animating);
  advanceAnimation(v, 10);
  EXPECT_EQ(v.i_anime, 9);

  // The view paints between the two halves: the last frame is painted while running.
  startAnimation(v);
  v.add_anime = 20;
  stepAnimation(v, 10);
  EXPECT_EQ(v.i_anime, 9);
  EXPECT_TRUE(v.animating);
  stopAtLastFrame(v, 10);
  EXPECT_FALSE(v.animating);
}

TEST(ViewStateAnimation, SingleFrameAndShrunkHistories) {
  ViewState v;
  startAnimation(v);
  advanceAnimation(v, 1);
  EXPECT_EQ(v.i_anime, 0);
  EXPECT_FALSE(v.animating);

  // A shorter result replaces a longer one: the next tick brings the frame back in range.
  v.i_anime = 50;
  advanceAnimation(v, 5);
  EXPECT_EQ(v.i_anime, 4);
  advanceAnimation(v, 0);
  EXPECT_EQ(v.i_anime, 0);
}

TEST(ViewStateAnimation, SetFrameClamps) {
  ViewState v;
  setFrame(v, 7, 10);
  EXPECT_EQ(v.i_anime, 7);
  setFrame(v, 10, 10);
  EXPECT_EQ(v.i_anime, 9);
  setFrame(v, -3, 10);
  EXPECT_EQ(v.i_anime, 0);
  v.animating = true;
  setFrame(v, 5, 10);
  EXPECT_TRUE(v.animating);
}

TEST(ViewStateTrackball, ClickAndFullWidthDrag) {
  Trackball t;
  setTrackballSize(t, 400, 300);
  trackballPress(t, 100, 100);
  trackballMove(t, 140, 130);
  trackballRelease(t, 140, 130);
  const double before[4] = {t.currentQuat[0], t.currentQuat[1], t.currentQuat[2], t.currentQuat[3]};
  EXPECT_FALSE(isIdentityRotation(before));

  // A click without movement keeps the turned rotation, matrix included.
  double matrix[16];
  for (int i = 0; i < 16; ++i) matrix[i] = t.matrix[i];
  trackballPress(t, 200, 50);
  trackballRelease(t, 200, 50);
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(t.currentQuat[i], before[i]);
  for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(t.matrix[i], matrix[i]);
  EXPECT_FALSE(t.dragging);

  // A release without a press (right button) changes nothing either.
  trackballRelease(t, 0, 0);
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(t.currentQuat[i], before[i]);

  resetTrackball(t);
  trackballPress(t, 0, 150);
  trackballMove(t, 200, 150);  // half the width: half a turn about y
  EXPECT_NEAR(t.matrix[0], -1.0, 1e-9);
  EXPECT_NEAR(t.matrix[10], -1.0, 1e-9);
  trackballRelease(t, 400, 150);
  EXPECT_TRUE(isIdentityRotation(t.currentQuat));
  EXPECT_NEAR(t.matrix[0], 1.0, 1e-9);
}

TEST(ViewStateTrackball, VerticalDragTurnsAboutX) {
  Trackball t;
  setTrackballSize(t, 400, 400);
  trackballPress(t, 0, 0);
  trackballRelease(t, 0, 100);  // a quarter turn
  // The y axis goes to +z or -z, x stays.
  EXPECT_NEAR(t.matrix[0], 1.0, 1e-9);
  EXPECT_NEAR(std::fabs(t.matrix[6]), 1.0, 1e-9);
  EXPECT_NEAR(t.matrix[5], 0.0, 1e-9);
}

TEST(ViewStateLocalCoordinates, CentreInsideAndOutsideTheTable) {
  QuietConsole quiet;
  Model m = twoFrameModel();
  ViewState v;
  v.pan[0] = 1.5;
  v.pan[2] = -2.0;
  setCenterLC(v, m, 2);
  setCenterLC(v, m, -1);
  EXPECT_EQ(v.center[0], 0.0);
  EXPECT_EQ(v.pan[0], 1.5);
  EXPECT_EQ(v.pan[2], -2.0);
  setCenterLC(v, m, 1);
  EXPECT_EQ(v.center[0], 3.0);
  EXPECT_EQ(v.pan[0], 0.0);
  EXPECT_EQ(v.pan[2], 0.0);
  EXPECT_EQ(quiet.text(), "ctrLC_id=2\nctrLC_id=-1\nctrLC_id=1\n");
}

TEST(ViewStateLocalCoordinates, CameraSelection) {
  QuietConsole quiet;
  Model m = twoFrameModel();
  ViewState v;
  v.pan[1] = 0.25;
  v.trackball.currentQuat[0] = 0.0;
  v.trackball.currentQuat[1] = 1.0;

  setCameraLC(v, m, 2);
  EXPECT_EQ(v.cameraLC_id, 1);
  EXPECT_TRUE(cameraOnLC(v, m));
  EXPECT_EQ(v.camera_origin[0], 3.0);
  EXPECT_EQ(v.camera_angles[1], 90.0);

  setCameraLC(v, m, 0);
  EXPECT_EQ(v.cameraLC_id, -1);
  EXPECT_FALSE(cameraOnLC(v, m));
  EXPECT_EQ(v.pan[1], 0.25);
  EXPECT_EQ(v.trackball.currentQuat[1], 1.0);

  EXPECT_EQ(quiet.text(), "cameraLC_id=1\nANG={0.000e+00,9.000e+01,0.000e+00\n}\ncameraLC_id=-1\n");

  setCameraLC(v, m, 1);
  setCameraLC(v, m, 3);  // past the table
  EXPECT_EQ(v.cameraLC_id, 2);
  EXPECT_FALSE(cameraOnLC(v, m));
  EXPECT_EQ(v.camera_origin[1], 2.0);  // still those of the first local coordinate

  // A model read later with fewer local coordinates turns the camera off.
  setCameraLC(v, m, 2);
  m.frames.resize(1);
  EXPECT_FALSE(cameraOnLC(v, m));
  double M[16];
  EXPECT_FALSE(cameraModelview(v, m, Histories{}, M));
}

TEST(ViewStateFrames, StateReadOnlyWhereHeld) {
  Model m = twoFrameModel();
  m.bodies.resize(2);
  Histories h;
  h.p_YYY.assign(2 * 14 * 2, 0.0);  // two frames of two bodies
  h.p_YYY[28 + 3 * 1 + 2] = 5.0;     // frame 1, body 1: r.z
  h.p_YYY[28 + 12 + 4 * 1] = 0.5;    // frame 1, body 1: e0
  double r[3], p[4];
  ASSERT_TRUE(bodyStateAt(h, m, 1, 1, r, p));
  EXPECT_EQ(r[2], 5.0);
  EXPECT_EQ(p[0], 0.5);
  EXPECT_FALSE(bodyStateAt(h, m, 2, 0, r, p));
  EXPECT_FALSE(bodyStateAt(h, m, -1, 0, r, p));
  EXPECT_FALSE(bodyStateAt(h, m, 0, 2, r, p));
  EXPECT_FALSE(bodyStateAt(h, m, 0, -1, r, p));
  h.p_YYY.resize(2 * 14 * 2 - 1);
  EXPECT_FALSE(bodyStateAt(h, m, 1, 0, r, p));
  EXPECT_TRUE(bodyStateAt(h, m, 0, 0, r, p));
}

TEST(ViewStateFrames, PlacementAndCameraFollowTheBody) {
  Model m = twoFrameModel();
  Histories h;
  setOneSampleResult(h, m);
  h.p_YYY.resize(2 * 14);
  // Frame 1: the body moved by (0, 0, 1) and turned 90 degrees about z.
  const double c = std::sqrt(0.5);
  double* y = &h.p_YYY[14];
  y[2] = 1.0;
  y[6] = c;
  y[9] = c;
  const double x0[3] = {0, 2, 0};  // frame 0's position: 2 up from the origin, R0 = (1, 0, 0)
  double now[3];
  ASSERT_TRUE(placePoint(h, m, 1, 0, x0, now));
  EXPECT_NEAR(now[0], 1.0 - 2.0, 1e-12);
  EXPECT_NEAR(now[1], -1.0, 1e-12);
  EXPECT_NEAR(now[2], 1.0, 1e-12);

  QuietConsole quiet;
  ViewState v;
  setCameraLC(v, m, 1);
  v.i_anime = 1;
  double M[16];
  ASSERT_TRUE(cameraModelview(v, m, h, M));
  // The projection looks from (0, 0, max_length): the eye must land on the moved origin,
  // and the local z axis (now unchanged by a turn about z) must point back at the eye.
  double eye[3], ahead[3];
  apply(M, now, eye);
  EXPECT_NEAR(eye[0], 0.0, 1e-12);
  EXPECT_NEAR(eye[1], 0.0, 1e-12);
  EXPECT_NEAR(eye[2], 4.0, 1e-12);
  const double behind[3] = {now[0], now[1], now[2] + 1.0};
  apply(M, behind, ahead);
  EXPECT_NEAR(ahead[2], 5.0, 1e-12);
  // The local x axis, turned onto global y, is the picture's x.
  const double right[3] = {now[0], now[1] + 1.0, now[2]};
  apply(M, right, ahead);
  EXPECT_NEAR(ahead[0], 1.0, 1e-12);

  // A frame the histories do not hold: the camera stays at the initial position.
  v.i_anime = 7;
  ASSERT_TRUE(cameraModelview(v, m, h, M));
  apply(M, x0, eye);
  EXPECT_NEAR(eye[2], 4.0, 1e-12);
}

TEST(ViewStateFrames, UpsideDownCameraKeepsItsAxes) {
  // theta = 180 degrees, where Euler angles taken back from the matrix are ambiguous.
  Model m = twoFrameModel();
  m.frames[1].ang[0] = 30.0;
  m.frames[1].ang[1] = 180.0;
  setLocalAxes(m.frames[1]);
  Histories h;
  setOneSampleResult(h, m);
  QuietConsole quiet;
  ViewState v;
  setCameraLC(v, m, 2);
  double M[16], out[3];
  ASSERT_TRUE(cameraModelview(v, m, h, M));
  // Local z is global -z; local x is global (cos 30, sin 30, 0).
  const double below[3] = {3.0, 0.0, -1.0};
  apply(M, below, out);
  EXPECT_NEAR(out[2], 5.0, 1e-9);
  const double right[3] = {3.0 + std::cos(kPi / 6), std::sin(kPi / 6), 0.0};
  apply(M, right, out);
  EXPECT_NEAR(out[0], 1.0, 1e-9);
  EXPECT_NEAR(out[1], 0.0, 1e-9);
}

TEST(ViewStateFrames, ShadowMatrixProjectsOntoThePlane) {
  const float plane[4] = {0, 1, 0, 0};      // y = 0
  const float light[4] = {0, 10, 0, 1};
  float M[16];
  shadowMatrix(plane, light, M);
  // (2, 5, 1) seen from (0, 10, 0) falls on y = 0 at (4, 0, 2).
  const float x[4] = {2, 5, 1, 1};
  float out[4];
  for (int r = 0; r < 4; ++r) out[r] = M[r] * x[0] + M[4 + r] * x[1] + M[8 + r] * x[2] + M[12 + r] * x[3];
  EXPECT_NEAR(out[0] / out[3], 4.0f, 1e-5);
  EXPECT_NEAR(out[1] / out[3], 0.0f, 1e-5);
  EXPECT_NEAR(out[2] / out[3], 2.0f, 1e-5);
}

TEST(ViewStateFrames, ViewLengthStaysPositive) {
  Model m;
  m.max_length = 0.0;
  EXPECT_EQ(viewLength(m), 1.0);
  m.max_length = NAN;
  EXPECT_EQ(viewLength(m), 1.0);
  m.max_length = 2.5;
  EXPECT_EQ(viewLength(m), 2.5);
}
