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

void addShape(Box& box, const Model& m, const Histories& h, int frame, const Shape& sh) {
  if (sh.lc < 0 || sh.lc >= m.frame_num()) return;
  const LocalCoordinate& lc = m.frames[sh.lc];
  const double* s = sh.size;
  switch (sh.kind) {
    case ShapeType::Sphere: {
      const double lo[3] = {-s[0], -s[0], -s[0]}, hi[3] = {s[0], s[0], s[0]};
      addBlock(box, m, h, frame, lc, false, lo, hi);
      break;
    }
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
      const double r = s[0], len = sh.kind == ShapeType::Pipe ? s[2] : s[1];
      const double lo[3] = {-r, -r, 0}, hi[3] = {r, r, len};
      addBlock(box, m, h, frame, lc, true, lo, hi);
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
  const double origin[3] = {0, 0, 0};
  for (const LocalCoordinate& lc : m.frames) {
    double p[3];
    localPoint(m, h, frame, lc, false, origin, p);
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
  // The points in eye axes (rotation only): the middle of their extent is
  // the centre, their half extents across (ex, ey) and along (ez) the view.
  const double* M = v.trackball.matrix;  // column-major
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  for (size_t i = 0; i + 2 < box.points.size(); i += 3) {
    const double* x = &box.points[i];
    for (int r = 0; r < 3; ++r) {
      const double e = M[r] * x[0] + M[4 + r] * x[1] + M[8 + r] * x[2];
      lo[r] = i == 0 ? e : std::min(lo[r], e);
      hi[r] = i == 0 ? e : std::max(hi[r], e);
    }
  }
  double mid[3];
  for (int r = 0; r < 3; ++r) mid[r] = 0.5 * (lo[r] + hi[r]);
  for (int a = 0; a < 3; ++a)  // R^T mid
    v.center[a] = M[4 * a] * mid[0] + M[4 * a + 1] * mid[1] + M[4 * a + 2] * mid[2];
  // A point at (x, y, z) from the centre in eye axes, seen from depth D - z,
  // spans |x| / ((D - z) tan(fov/2) aspect) of the half width (|y| likewise
  // of the half height): D is the least that keeps every point within kFitFill.
  const double t = tanHalfFov();
  const double a = aspect > 0.0 ? aspect : 1.0;
  double dist = 0.0;
  for (size_t i = 0; i + 2 < box.points.size(); i += 3) {
    const double* x = &box.points[i];
    double e[3];
    for (int r = 0; r < 3; ++r) e[r] = M[r] * x[0] + M[4 + r] * x[1] + M[8 + r] * x[2] - mid[r];
    dist = std::max(dist, std::max(std::fabs(e[0]) / (kFitFill * t * a),
                                   std::fabs(e[1]) / (kFitFill * t)) + e[2]);
  }
  if (!(dist > 0.0) || !std::isfinite(dist)) dist = 1.0;  // a single point
  v.distance = dist;
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
