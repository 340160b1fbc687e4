#include "view/camera.h"

#include <algorithm>
#include <cmath>

#include "math/units.h"
#include "math/vec3.h"
#include "model/histories.h"
#include "model/model.h"
#include "view/view_state.h"

namespace orv {

namespace {

// Point l of local coordinate lc (in its own axes when `rotate`) at `frame`.
void localPoint(const Model& m, const Histories& h, int frame, const LocalCoordinate& lc,
                bool rotate, const double l[3], double out[3]) {
  double x0[3], d[3];
  if (rotate)
    mat3MulVec(d, lc.axes, l);
  else
    for (int a = 0; a < 3; ++a) d[a] = l[a];
  for (int a = 0; a < 3; ++a) x0[a] = lc.pos[a] + d[a];
  if (!placePoint(h, m, frame, lc.body, x0, out))
    for (int a = 0; a < 3; ++a) out[a] = x0[a];
}

// The corners of [lo, hi] in lc's axes, placed at `frame`.
void addBlock(Box& box, const Model& m, const Histories& h, int frame, const LocalCoordinate& lc,
              bool rotate, const double lo[3], const double hi[3]) {
  for (int c = 0; c < 8; ++c) {
    const double l[3] = {(c & 1) ? hi[0] : lo[0], (c & 2) ? hi[1] : lo[1], (c & 4) ? hi[2] : lo[2]};
    double p[3];
    localPoint(m, h, frame, lc, rotate, l, p);
    box.add(p);
  }
}

// A circle of radius r about lc's z axis at height z, as 16 points: a round
// shape's box corners would stand well out of its picture.
void addCircle(Box& box, const Model& m, const Histories& h, int frame, const LocalCoordinate& lc,
               double r, double z) {
  for (int k = 0; k < 16; ++k) {
    const double l[3] = {r * std::cos(k * kPi / 8), r * std::sin(k * kPi / 8), z};
    double p[3];
    localPoint(m, h, frame, lc, true, l, p);
    box.add(p);
  }
}

void addShape(Box& box, const Model& m, const Histories& h, int frame, const Shape& sh) {
  if (sh.lc < 0 || sh.lc >= m.frame_num()) return;
  const LocalCoordinate& lc = m.frames[sh.lc];
  const double* s = sh.size;
  switch (sh.kind) {
    case ShapeType::Sphere:  // circles of latitude every 22.5 degrees
      for (int k = -4; k <= 4; ++k)
        addCircle(box, m, h, frame, lc, s[0] * std::cos(k * kPi / 8), s[0] * std::sin(k * kPi / 8));
      break;
    case ShapeType::Cube: {
      const double e = 0.5 * s[0], lo[3] = {-e, -e, -e}, hi[3] = {e, e, e};
      addBlock(box, m, h, frame, lc, true, lo, hi);
      break;
    }
    case ShapeType::Solid: {
      const double lo[3] = {0, 0, 0}, hi[3] = {s[0], s[1], s[2]};
      addBlock(box, m, h, frame, lc, true, lo, hi);
      break;
    }
    case ShapeType::Cylinder:
    case ShapeType::Pipe: {
      addCircle(box, m, h, frame, lc, s[0], 0.0);
      addCircle(box, m, h, frame, lc, s[0], sh.kind == ShapeType::Pipe ? s[2] : s[1]);
      break;
    }
    case ShapeType::Stl: {
      if (!sh.mesh) break;
      // Nodes in initial global coordinates (x0 = A x + p), then with the body.
      const std::vector<double>& node = sh.mesh->node;
      for (size_t i = 0; i + 2 < node.size(); i += 3) {
        double x0[3], p[3];
        mat3MulVec(x0, sh.mesh_A, &node[i]);
        for (int a = 0; a < 3; ++a) x0[a] += sh.mesh_pos[a];
        if (!placePoint(h, m, frame, lc.body, x0, p))
          for (int a = 0; a < 3; ++a) p[a] = x0[a];
        box.add(p);
      }
      break;
    }
    case ShapeType::Spring:  // between local coordinates, which are counted
    case ShapeType::Unknown: break;
  }
}

// Column-major rotation of unit quaternion (w, x, y, z) from its row-major 3x3 matrix R.
void quatFromMatrix(const double R[9], double q[4]) {
  const double tr = R[0] + R[4] + R[8];
  if (tr > 0) {
    const double s = 2.0 * std::sqrt(tr + 1.0);
    q[0] = 0.25 * s;
    q[1] = (R[7] - R[5]) / s;
    q[2] = (R[2] - R[6]) / s;
    q[3] = (R[3] - R[1]) / s;
  } else if (R[0] > R[4] && R[0] > R[8]) {
    const double s = 2.0 * std::sqrt(1.0 + R[0] - R[4] - R[8]);
    q[0] = (R[7] - R[5]) / s;
    q[1] = 0.25 * s;
    q[2] = (R[1] + R[3]) / s;
    q[3] = (R[2] + R[6]) / s;
  } else if (R[4] > R[8]) {
    const double s = 2.0 * std::sqrt(1.0 + R[4] - R[0] - R[8]);
    q[0] = (R[2] - R[6]) / s;
    q[1] = (R[1] + R[3]) / s;
    q[2] = 0.25 * s;
    q[3] = (R[5] + R[7]) / s;
  } else {
    const double s = 2.0 * std::sqrt(1.0 + R[8] - R[0] - R[4]);
    q[0] = (R[3] - R[1]) / s;
    q[1] = (R[2] + R[6]) / s;
    q[2] = (R[5] + R[7]) / s;
    q[3] = 0.25 * s;
  }
}

// The eye on the side d (centre to eye) with `up` upwards: the rows of the
// world-to-eye rotation are the eye's x (right), y (up) and z (back) axes.
void lookFrom(ViewState& v, const double d[3], const double up[3]) {
  double z[3], x[3], y[3];
  const double n = vec3Norm(d[0], d[1], d[2]);
  for (int a = 0; a < 3; ++a) z[a] = d[a] / n;
  vec3Cross(x, up, z);
  const double nx = vec3Norm(x[0], x[1], x[2]);
  for (double& c : x) c /= nx;
  vec3Cross(y, z, x);
  const double R[9] = {x[0], x[1], x[2], y[0], y[1], y[2], z[0], z[1], z[2]};
  double q[4];
  quatFromMatrix(R, q);
  setTrackballRotation(v.trackball, q);
}

double tanHalfFov() { return std::tan(degToRad(0.5 * kFieldOfView)); }

}  // namespace

void Box::add(const double p[3]) {
  if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) return;
  points.insert(points.end(), p, p + 3);
  const bool first = empty();
  for (int a = 0; a < 3; ++a) {
    lo[a] = first ? p[a] : std::min(lo[a], p[a]);
    hi[a] = first ? p[a] : std::max(hi[a], p[a]);
  }
}

Box modelBox(const Model& m, const Histories& h, int frame) {
  Box box;
  for (const Shape& sh : m.shapes) addShape(box, m, h, frame, sh);
  // Each local coordinate's origin and the ends of its drawn axes.
  for (const LocalCoordinate& lc : m.frames)
    for (int a = -1; a < 3; ++a) {
      double l[3] = {0, 0, 0}, p[3];
      if (a >= 0) l[a] = m.frame_size;
      localPoint(m, h, frame, lc, true, l, p);
      box.add(p);
    }
  return box;
}

Box motionBox(const Model& m, const Histories& h, int samples) {
  Box box;
  const int n = std::max(1, h.anime_num);
  const int every = std::max(1, n / std::max(1, samples));
  for (int f = 0; f < n; f += every) {
    const Box at = modelBox(m, h, f);
    if (at.empty()) continue;
    box.add(at.lo);
    box.add(at.hi);
  }
  return box;
}

double eyeDistance(const ViewState& v, const Model& m) {
  return (std::isfinite(v.distance) && v.distance > 0.0) ? v.distance : viewLength(m);
}

void fitView(ViewState& v, const Box& box, double aspect) {
  for (double& p : v.pan) p = 0.0;
  if (box.empty()) return;
  // The points in eye axes (rotation only).
  const double* M = v.trackball.matrix;  // column-major
  const size_t n = box.points.size() / 3;
  std::vector<double> q(3 * n);
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  for (size_t i = 0; i < n; ++i) {
    const double* x = &box.points[3 * i];
    for (int r = 0; r < 3; ++r) {
      const double e = M[r] * x[0] + M[4 + r] * x[1] + M[8 + r] * x[2];
      q[3 * i + r] = e;
      lo[r] = i == 0 ? e : std::min(lo[r], e);
      hi[r] = i == 0 ? e : std::max(hi[r], e);
    }
  }
  // The eye at E (eye axes) sees q at (q_x - E_x) / ((E_z - q_z) k_x) of the
  // half width, k_x = tan(fov/2) aspect (y likewise with k_y = tan(fov/2)).
  // Along one axis, the nearest eye that keeps every point within kFitFill on
  // both sides touches them at +-kFitFill: E_x + c E_z = max(q_x + c q_z) and
  // -E_x + c E_z = max(-q_x + c q_z), c = kFitFill k_x. The axis that needs
  // the farther eye limits; the other one is centred from there.
  const double t = tanHalfFov();
  const double k[2] = {t * (aspect > 0.0 ? aspect : 1.0), t};
  double eye[3] = {0, 0, 0}, need[2];
  for (int r = 0; r < 2; ++r) {
    const double c = kFitFill * k[r];
    double up = -INFINITY, down = -INFINITY;
    for (size_t i = 0; i < n; ++i) {
      up = std::max(up, q[3 * i + r] + c * q[3 * i + 2]);
      down = std::max(down, -q[3 * i + r] + c * q[3 * i + 2]);
    }
    need[r] = (up + down) / (2.0 * c);
    eye[r] = 0.5 * (up - down);
  }
  // Not into the model: a model seen end on would bring the eye to its front.
  const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  const double front = hi[2] + 0.05 * extent;
  eye[2] = std::max({need[0], need[1], front});
  // Centred: the point reaching farthest right of the eye reaches as far as
  // the one farthest left (a shift of the eye moves the one up, the other down).
  for (int r = 0; r < 2; ++r) {
    if (eye[2] == need[r]) continue;
    auto reach = [&](double e, double sign) {
      double m = -INFINITY;
      for (size_t i = 0; i < n; ++i)
        m = std::max(m, sign * (q[3 * i + r] - e) / (eye[2] - q[3 * i + 2]));
      return m;
    };
    double a = lo[r], b = hi[r];
    for (int it = 0; it < 60; ++it) {
      const double mid = 0.5 * (a + b);
      (reach(mid, 1.0) > reach(mid, -1.0) ? a : b) = mid;
    }
    eye[r] = 0.5 * (a + b);
  }
  // The view centre: across the view where the eye is, in depth the middle of the model.
  const double mid[3] = {eye[0], eye[1], 0.5 * (lo[2] + hi[2])};
  for (int a = 0; a < 3; ++a)  // R^T mid
    v.center[a] = M[4 * a] * mid[0] + M[4 * a + 1] * mid[1] + M[4 * a + 2] * mid[2];
  const double dist = eye[2] - mid[2];
  v.distance = (dist > 0.0 && std::isfinite(dist)) ? dist : 1.0;  // 1 for a single point
}

void resetView(ViewState& v, const Box& box, double aspect) {
  const double d[3] = {1, 1, 1}, up[3] = {0, 1, 0};
  lookFrom(v, d, up);
  fitView(v, box, aspect);
}

void setViewDirection(ViewState& v, int axis, int sign) {
  double d[3] = {0, 0, 0}, up[3] = {0, 1, 0};
  d[axis] = sign < 0 ? -1.0 : 1.0;
  if (axis == 1) {  // looking down or up: z towards the bottom or the top of the view
    up[1] = 0.0;
    up[2] = -d[1];
  }
  lookFrom(v, d, up);
}

double unitsPerPixel(const ViewState& v, const Model& m, double height) {
  const double depth = std::max(eyeDistance(v, m) - v.pan[2], 1e-9);
  return 2.0 * depth * tanHalfFov() / (height > 0.0 ? height : 1.0);
}

void zoomAt(ViewState& v, const Model& m, double factor, double px, double py, double height) {
  if (!(factor > 0.0)) return;
  // A point on the centre plane at pixel p sits at p * s in eye space, s the
  // units per pixel; after the zoom it is still under the cursor when the
  // picture moves by p (s' - s).
  const double s = unitsPerPixel(v, m, height);
  const double depth = eyeDistance(v, m) - v.pan[2];
  v.pan[2] = eyeDistance(v, m) - depth / factor;
  const double s2 = unitsPerPixel(v, m, height);
  v.pan[0] += px * (s2 - s);
  v.pan[1] += py * (s2 - s);
}

void panBy(ViewState& v, const Model& m, double dx, double dy, double height) {
  const double s = unitsPerPixel(v, m, height);
  v.pan[0] += dx * s;
  v.pan[1] += dy * s;
}

}  // namespace orv
