// The view's rules without a display: trackball, centre and camera local
// coordinates, frames the histories may not hold, the fit of the camera and the
// animation clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "model/histories.h"
#include "model/model.h"
#include "test_util.h"
#include "view/camera.h"
#include "view/playback.h"
#include "view/view_state.h"

using namespace orv;

namespace {

// Two local coordinates on one body whose reference point is at (1, 0, 0).
Model twoFrameModel() {
  Model m;
  m.bodies.resize(1);
  m.bodies[0].cg_pos[0] = 1.0;
  m.frames.resize(2);
  m.frames[0].body = m.frames[1].body = 0;
  m.frames[0].pos[1] = 2.0;
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

TEST(ViewState, TrackballTurnsByDragsOnly) {
  Trackball t;
  setTrackballSize(t, 400, 300);
  trackballPress(t, 100, 100), trackballMove(t, 140, 130), trackballRelease(t, 140, 130);
  const Trackball turned = t;
  EXPECT_FALSE(isIdentityRotation(turned.currentQuat));
  // A click without movement, or a release without a press (right button), keeps the
  // turned rotation, matrix included.
  trackballPress(t, 200, 50), trackballRelease(t, 200, 50), trackballRelease(t, 0, 0);
  EXPECT_FALSE(t.dragging);
  EXPECT_TRUE(std::equal(t.currentQuat, t.currentQuat + 4, turned.currentQuat) &&
              std::equal(t.matrix, t.matrix + 16, turned.matrix));

  resetTrackball(t);
  trackballPress(t, 0, 150);
  trackballMove(t, 200, 150);  // half the width: half a turn about y
  EXPECT_TRUE(std::fabs(t.matrix[0] + 1.0) < 1e-9 && std::fabs(t.matrix[10] + 1.0) < 1e-9);
  trackballRelease(t, 400, 150);
  EXPECT_TRUE(isIdentityRotation(t.currentQuat));

  setTrackballSize(t, 400, 400);
  trackballPress(t, 0, 0);
  trackballRelease(t, 0, 100);  // a quarter turn about x: y goes to +z or -z
  EXPECT_TRUE(std::fabs(t.matrix[0] - 1.0) < 1e-9 &&
              std::fabs(std::fabs(t.matrix[6]) - 1.0) < 1e-9);
}

// Indices past the table change nothing; the free camera keeps its pan and turn; a model
// read later with fewer local coordinates turns the camera off. (The combos that steer
// them are checked in mainwindow_test.)
TEST(ViewState, CentreAndCameraTakeOnlyLocalCoordinatesOfTheTable) {
  orvtest::ConsoleCapture quiet;
  Model m = twoFrameModel();
  ViewState v;
  v.pan[0] = 1.5;
  setCenterLC(v, m, 2);
  setCenterLC(v, m, -1);
  EXPECT_TRUE(v.center[0] == 0.0 && v.pan[0] == 1.5);
  setCenterLC(v, m, 1);
  EXPECT_TRUE(v.center[0] == 3.0 && v.pan[0] == 0.0);
  v.pan[1] = 0.25, v.trackball.currentQuat[1] = 1.0;
  setCameraLC(v, m, 2);
  EXPECT_TRUE(v.cameraLC_id == 1 && cameraOnLC(v, m) && v.camera_origin[0] == 3.0 &&
              v.camera_angles[1] == 90.0);
  setCameraLC(v, m, 0);
  EXPECT_TRUE(v.cameraLC_id == -1 && !cameraOnLC(v, m) && v.pan[1] == 0.25 &&
              v.trackball.currentQuat[1] == 1.0);
  setCameraLC(v, m, 1);
  setCameraLC(v, m, 3);
  EXPECT_TRUE(!cameraOnLC(v, m) && v.camera_origin[1] == 2.0);
  setCameraLC(v, m, 2);
  m.frames.resize(1);
  double M[16];
  EXPECT_FALSE(cameraOnLC(v, m) || cameraModelview(v, m, Histories{}, M));
}

TEST(ViewState, PlacementAndCameraFollowTheBody) {
  Model m = twoFrameModel();
  Histories h;
  setOneSampleResult(h, m);
  h.p_YYY.resize(2 * 14);
  // Frame 1: the body moved by (0, 0, 1) and turned 90 degrees about z.
  double* y = &h.p_YYY[14];
  y[2] = 1.0;
  y[6] = y[9] = std::sqrt(0.5);
  const double x0[3] = {0, 2, 0};  // frame 0's position: 2 up from the origin, R0 = (1, 0, 0)
  double now[3];
  ASSERT_TRUE(placePoint(h, m, 1, 0, x0, now));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(now[i], i == 2 ? 1.0 : -1.0, 1e-12);
  // Only what the histories hold is read.
  double r[3], p[4];
  for (const auto& [frame, body] : {std::pair{2, 0}, {-1, 0}, {0, 1}, {0, -1}})
    EXPECT_FALSE(bodyStateAt(h, m, frame, body, r, p)) << frame << " " << body;
  h.p_YYY.pop_back();
  EXPECT_FALSE(bodyStateAt(h, m, 1, 0, r, p));
  EXPECT_TRUE(bodyStateAt(h, m, 0, 0, r, p));
  h.p_YYY.push_back(0.0);

  orvtest::ConsoleCapture quiet;
  ViewState v;
  setCameraLC(v, m, 1);
  v.i_anime = 1;
  double M[16], eye[3];
  ASSERT_TRUE(cameraModelview(v, m, h, M));
  // Seen from (0, 0, max_length): the moved origin straight ahead, local z (unchanged by a
  // turn about z) towards the eye, local x (now global y) the picture's x.
  const double points[3][3] = {{-1, -1, 1}, {-1, -1, 2}, {-1, 0, 1}},
               seen[3][3] = {{0, 0, 4}, {0, 0, 5}, {1, 0, 4}};
  for (int k = 0; k < 3; ++k) {
    apply(M, points[k], eye);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(eye[i], seen[k][i], 1e-12) << k;
  }
  // A frame the histories do not hold: the camera stays at the initial position.
  v.i_anime = 7;
  ASSERT_TRUE(cameraModelview(v, m, h, M));
  apply(M, x0, eye);
  EXPECT_NEAR(eye[2], 4.0, 1e-12);

  // theta = 180 degrees, where Euler angles taken back from the matrix are ambiguous:
  // local z is global -z; local x is global (cos 30, sin 30, 0).
  m.frames[1].ang[0] = 30.0;
  m.frames[1].ang[1] = 180.0;
  setLocalAxes(m.frames[1]);
  setOneSampleResult(h, m);
  setCameraLC(v, m, 2);
  v.i_anime = 0;
  ASSERT_TRUE(cameraModelview(v, m, h, M));
  const double below[3] = {3.0, 0.0, -1.0},
               right[3] = {3.0 + std::cos(kPi / 6), std::sin(kPi / 6), 0.0};
  apply(M, below, eye);
  EXPECT_NEAR(eye[2], 5.0, 1e-9);
  apply(M, right, eye);
  EXPECT_TRUE(std::fabs(eye[0] - 1.0) < 1e-9 && std::fabs(eye[1]) < 1e-9);
}

TEST(ViewState, ShadowMatrixProjectsOntoThePlane) {
  const float plane[4] = {0, 1, 0, 0}, light[4] = {0, 10, 0, 1};  // y = 0, lit from (0, 10, 0)
  float M[16], out[4];
  shadowMatrix(plane, light, M);
  const float x[4] = {2, 5, 1, 1};  // falls on (4, 0, 2)
  for (int r = 0; r < 4; ++r)
    out[r] = M[r] * x[0] + M[4 + r] * x[1] + M[8 + r] * x[2] + M[12 + r] * x[3];
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(out[i] / out[3], i == 0 ? 4.0f : i == 1 ? 0.0f : 2.0f, 1e-5);
}

// Seen from each standard direction and the isometric one, the fitted box's
// corners lie centred in the view, across kFitFill of its limiting side; the
// wheel keeps the point under the cursor where it was.
TEST(Camera, FitFillsTheViewAndZoomKeepsTheCursorPoint) {
  Box box;
  const double lo[3] = {1, 0, -1}, hi[3] = {3, 1, -0.5};
  for (int c = 0; c < 8; ++c) {
    const double corner[3] = {c & 1 ? hi[0] : lo[0], c & 2 ? hi[1] : lo[1], c & 4 ? hi[2] : lo[2]};
    box.add(corner);
  }
  const double aspect = 1.5, t = std::tan(kPi * kFieldOfView / 360.0);
  const Model m;
  for (int dir = 0; dir < 7; ++dir) {
    ViewState v;
    if (dir < 6)
      setViewDirection(v, dir / 2, dir % 2 ? -1 : 1), fitView(v, box, aspect);
    else
      resetView(v, box, aspect);
    double hi[2] = {-1, -1}, lo[2] = {1, 1};  // the corners' screen box, of the half view
    for (int c = 0; c < 8; ++c) {
      double x[3], e[3];
      for (int a = 0; a < 3; ++a) x[a] = box.points[3 * c + a] - v.center[a];
      apply(v.trackball.matrix, x, e);
      const double depth = v.distance - e[2], s[2] = {e[0] / (depth * t * aspect), e[1] / (depth * t)};
      for (int r = 0; r < 2; ++r) hi[r] = std::max(hi[r], s[r]), lo[r] = std::min(lo[r], s[r]);
    }
    EXPECT_NEAR(hi[0], -lo[0], 1e-9) << dir;  // centred
    EXPECT_NEAR(hi[1], -lo[1], 1e-9) << dir;
    EXPECT_NEAR(std::max(hi[0], hi[1]), kFitFill, 1e-9) << dir;
  }

  ViewState v;
  v.distance = 10.0;
  const double h = 600.0, px = 120.0, py = -80.0;
  const double s = unitsPerPixel(v, m, h);
  const double point[3] = {px * s, py * s, 0.0};  // under the cursor, on the centre plane
  zoomAt(v, m, 1.5, px, py, h);
  EXPECT_NEAR(v.distance - v.pan[2], 10.0 / 1.5, 1e-12);
  EXPECT_NEAR((point[0] + v.pan[0]) / unitsPerPixel(v, m, h), px, 1e-9);
  EXPECT_NEAR((point[1] + v.pan[1]) / unitsPerPixel(v, m, h), py, 1e-9);
}

// Real time shows the sample of the simulated time reached: frames are shown
// again or skipped as the wall clock and the samples differ.
TEST(Playback, RealTimeRepeatsOrSkipsFramesAndLoops) {
  Histories h;
  for (int k = 0; k <= 10; ++k) h.p_time.push_back(0.1 * k);
  h.anime_num = 11;
  ViewState v;
  play(v, h, 100.0);
  const double ticks[][2] = {{100.05, 0}, {100.06, 0}, {100.35, 3}, {100.36, 3}};
  for (const auto& t : ticks) {
    playbackTick(v, h, t[0]);
    EXPECT_EQ(v.i_anime, t[1]) << t[0];
  }
  setSpeed(v, h, 2.0, 100.35);
  playbackTick(v, h, 100.45);  // 0.35 + 2 * 0.1
  EXPECT_EQ(v.i_anime, 5);
  playbackTick(v, h, 101.0);
  stopAtLastFrame(v, playableFrames(h));
  EXPECT_TRUE(v.i_anime == 10 && !v.animating);

  v.loop = true;
  play(v, h, 0.0);  // from the last frame: from the first
  EXPECT_EQ(v.i_anime, 0);
  setSpeed(v, h, 1.0, 0.0);
  playbackTick(v, h, 1.25);
  EXPECT_TRUE(v.i_anime == 2 && v.animating);
  // Every frame: the frame step a tick, round again at the end, or stopped
  // there once it was painted.
  setSpeed(v, h, 0.0, 1.25);
  v.i_anime = 9;
  for (int expected : {10, 0, 1}) {
    playbackTick(v, h, 2.0);
    EXPECT_EQ(v.i_anime, expected);
  }
  v.loop = false;
  v.add_anime = 4;
  for (int expected : {5, 9, 10, 10}) {
    playbackTick(v, h, 2.0);
    EXPECT_TRUE(v.i_anime == expected && v.animating) << expected;
  }
  stopAtLastFrame(v, playableFrames(h));
  EXPECT_FALSE(v.animating);
  // A shorter result replaces a longer one: the next tick brings the frame back in range.
  v.i_anime = 50;
  playbackTick(v, h, 3.0);
  EXPECT_EQ(v.i_anime, 10);
  stepFrame(v, h, 50);
  EXPECT_EQ(v.i_anime, 10);
  stepFrame(v, h, -15);
  EXPECT_TRUE(v.i_anime == 0 && !v.animating);
}
