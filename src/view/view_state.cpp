#include "view/view_state.h"

#include "view/camera.h"

#include <cmath>

#include "model/histories.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "platform/console.h"
#include "math/vec3.h"

namespace orv {

ViewState g_view;

namespace {

int lastFrame(int anime_num) { return anime_num > 1 ? anime_num - 1 : 0; }

// Column-major rotation matrix of the unit quaternion q = (w, x, y, z).
void quatToMatrix(const double* q, double* m) {
  const double w = q[0], x = q[1], y = q[2], z = q[3];
  m[0] = 1 - 2 * (y * y + z * z);
  m[1] = 2 * (x * y + w * z);
  m[2] = 2 * (x * z - w * y);
  m[3] = 0;
  m[4] = 2 * (x * y - w * z);
  m[5] = 1 - 2 * (x * x + z * z);
  m[6] = 2 * (y * z + w * x);
  m[7] = 0;
  m[8] = 2 * (x * z + w * y);
  m[9] = 2 * (y * z - w * x);
  m[10] = 1 - 2 * (x * x + y * y);
  m[11] = 0;
  m[12] = m[13] = m[14] = 0;
  m[15] = 1;
}

// a b (Hamilton product), written to out (may alias neither input).
void quatMul(const double* a, const double* b, double* out) {
  out[0] = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
  out[1] = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
  out[2] = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
  out[3] = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
}

}  // namespace

void startAnimation(ViewState& v) {
  v.animating = true;
  v.i_anime = 0;
}

void setFrame(ViewState& v, int frame, int anime_num) {
  const int last = lastFrame(anime_num);
  v.i_anime = frame < 0 ? 0 : (frame > last ? last : frame);
}

void stepAnimation(ViewState& v, int anime_num) {
  const int last = lastFrame(anime_num);
  if (v.animating) {
    // The step comes from a spin box but the state is public: keep the sum in range.
    const long long next = static_cast<long long>(v.i_anime) + v.add_anime;
    v.i_anime = next > last ? last : static_cast<int>(next);
  }
  if (v.i_anime >= last) v.i_anime = last;
  if (v.i_anime < 0) v.i_anime = 0;
}

void stopAtLastFrame(ViewState& v, int anime_num) {
  if (v.i_anime == lastFrame(anime_num)) v.animating = false;
}

void setCenterLC(ViewState& v, const Model& m, int id) {
  cprintf("ctrLC_id=%d\n", id);
  if (id < 0 || id >= m.frame_num()) return;
  for (int a = 0; a < 3; ++a) {
    v.center[a] = m.frames[id].pos[a];
    v.pan[a] = 0.0;
  }
}

void setCameraLC(ViewState& v, const Model& m, int k) {
  v.cameraLC_id = k - 1;
  cprintf("cameraLC_id=%d\n", v.cameraLC_id);
  if (k < 1 || k > m.frame_num()) return;
  const LocalCoordinate& lc = m.frames[k - 1];
  for (int a = 0; a < 3; ++a) {
    v.camera_origin[a] = lc.pos[a];
    v.camera_angles[a] = lc.ang[a];
  }
  cprintf("ANG={%.3e,%.3e,%.3e\n}\n", v.camera_angles[0], v.camera_angles[1], v.camera_angles[2]);
}

bool cameraOnLC(const ViewState& v, const Model& m) {
  return v.cameraLC_id >= 0 && v.cameraLC_id < m.frame_num();
}

void trackballPress(Trackball& t, int x, int y) {
  t.dragging = true;
  t.startX = x;
  t.startY = y;
  // A release without movement then keeps the rotation as it is.
  for (int i = 0; i < 4; ++i) t.dragQuat[i] = t.currentQuat[i];
}

void trackballMove(Trackball& t, int x, int y) {
  if (!t.dragging) return;
  const double dx = (x - t.startX) * t.scaleX;
  const double dy = (y - t.startY) * t.scaleY;
  const double a = std::sqrt(dx * dx + dy * dy);
  if (a == 0.0) return;
  // A drag over the whole width is one full turn.
  const double h = a * 2.0 * kPi * 0.5;
  const double s = std::sin(h) / a;
  const double dq[4] = {std::cos(h), dy * s, dx * s, 0.0};
  quatMul(dq, t.currentQuat, t.dragQuat);
  quatToMatrix(t.dragQuat, t.matrix);
}

void trackballRelease(Trackball& t, int x, int y) {
  if (!t.dragging) return;
  trackballMove(t, x, y);
  for (int i = 0; i < 4; ++i) t.currentQuat[i] = t.dragQuat[i];
  t.dragging = false;
}

void setTrackballSize(Trackball& t, int width, int height) {
  t.scaleX = 1.0 / (width > 0 ? width : 1);
  t.scaleY = 1.0 / (height > 0 ? height : 1);
}

void resetTrackball(Trackball& t) {
  t.dragging = false;
  const double identity[4] = {1, 0, 0, 0};
  for (int i = 0; i < 4; ++i) t.currentQuat[i] = t.dragQuat[i] = identity[i];
  quatToMatrix(identity, t.matrix);
}

void setTrackballRotation(Trackball& t, const double q[4]) {
  t.dragging = false;
  for (int i = 0; i < 4; ++i) t.currentQuat[i] = t.dragQuat[i] = q[i];
  quatToMatrix(q, t.matrix);
}

double viewLength(const Model& m) {
  // All local coordinates at one point give 0; near and far planes must stay apart.
  return (std::isfinite(m.max_length) && m.max_length > 0.0) ? m.max_length : 1.0;
}

bool bodyStateAt(const Histories& h, const Model& m, int frame, int body, double r[3],
                 double p[4]) {
  const StateLayout layout{m.body_num()};
  if (frame < 0 || body < 0 || body >= layout.nb) return false;
  const size_t row = layout.size();
  if ((static_cast<size_t>(frame) + 1) * row > h.p_YYY.size()) return false;
  const double* y = h.p_YYY.data() + static_cast<size_t>(frame) * row;
  for (int a = 0; a < 3; ++a) r[a] = y[layout.r(body) + a];
  for (int a = 0; a < 4; ++a) p[a] = y[layout.p(body) + a];
  return true;
}

bool placePoint(const Histories& h, const Model& m, int frame, int body, const double x0[3],
                double out[3]) {
  double r[3], p[4], A[9], rel[3];
  if (!bodyStateAt(h, m, frame, body, r, p)) return false;
  const double* R0 = m.bodies[body].cg_pos;
  mat3FromEulerParameters(A, p);
  mat3MulVec(rel, A, vec3Sub(rel, x0, R0));
  for (int a = 0; a < 3; ++a) out[a] = R0[a] + r[a] + rel[a];
  return true;
}

bool cameraModelview(const ViewState& v, const Model& m, const Histories& h, double out[16]) {
  if (!cameraOnLC(v, m)) return false;
  const LocalCoordinate& lc = m.frames[v.cameraLC_id];
  const double* c0 = lc.pos;
  // A frame the histories do not hold leaves the camera where it started.
  double r[3] = {0, 0, 0}, p[4] = {1, 0, 0, 0}, d[3] = {0, 0, 0};
  if (bodyStateAt(h, m, v.i_anime, lc.body, r, p)) {
    double now[3];
    placePoint(h, m, v.i_anime, lc.body, c0, now);
    vec3Sub(d, now, c0);
  }
  // Camera axes in global coordinates: C = A(p) Rz(a0) Rx(a1) Rz(a2). The
  // view rotation is C^T, taken from the matrix rather than from angles
  // extracted from it, which lose the sign at theta = 180 degrees.
  double A[9], C[9];
  mat3FromEulerParameters(A, p);
  mat3Mul(C, A, lc.axes);
  // The view puts the eye at (0, 0, distance) first: move it back onto the origin.
  const double length = eyeDistance(v, m);
  double t[3];
  for (int a = 0; a < 3; ++a) t[a] = length * C[3 * a + 2] - c0[a] - d[a];
  double Mt[3];
  mat3TransposeMulVec(Mt, t, C);
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) out[4 * col + row] = C[3 * col + row];  // (C^T)[row][col]
    out[4 * 3 + row] = Mt[row];
    out[4 * row + 3] = 0.0;
  }
  out[15] = 1.0;
  return true;
}

void shadowMatrix(const float plane[4], const float light[4], float out[16]) {
  const float d =
      plane[0] * light[0] + plane[1] * light[1] + plane[2] * light[2] + plane[3] * light[3];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = (i == j ? d : 0.0f) - plane[i] * light[j];
}

}  // namespace orv
