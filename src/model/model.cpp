#include "model/model.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <climits>
#include <limits>

#include "math/vec3.h"

namespace orv {

void setLocalAxes(LocalCoordinate& lc) {
  // Zero angles give the identity exactly: the rotation formula would leave
  // -0 in places, which can show as "-0" in printed results.
  const double* a = lc.ang;
  if (a[0] == 0.0 && a[1] == 0.0 && a[2] == 0.0) {
    const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(I, I + 9, lc.axes);
    return;
  }
  mat3RotationZXZ(lc.axes, degToRad(a[0]), degToRad(a[1]), degToRad(a[2]));
}

void resolveTypesAndAxes(Model& m) {
  for (Joint& j : m.joints) j.kind = typeOfWord(kJointTypes, j.type);
  for (Motion& mo : m.motions) mo.kind = typeOfWord(kMotionTypes, mo.type);
  for (Force& f : m.forces) f.kind = typeOfWord(kForceTypes, f.type);
  for (Shape& sh : m.shapes) sh.kind = typeOfWord(kShapeTypes, sh.type);
  for (Texture& tx : m.textures) tx.kind = typeOfWord(kTextureTypes, tx.type);
  for (LocalCoordinate& lc : m.frames) setLocalAxes(lc);
}

std::string resolveModelFile(const Model& m, const std::string& name) {
  if (name.empty() || name[0] == '/' || ::access(name.c_str(), F_OK) == 0) return name;
  size_t slash = m.path.find_last_of('/');
  if (slash == std::string::npos) return name;
  std::string beside = m.path.substr(0, slash + 1) + name;
  return ::access(beside.c_str(), F_OK) == 0 ? beside : name;
}

int sampleCount(double start_time, double d_time, double end_time) {
  // Intervals in the span. Its rounding (a few eps relative) must not lose the
  // sample at the end: 0.03 / 1e-5 is 2999.9999999999995. A sample within
  // 1e-9 d_time past the end counts, as the analysis lands on it.
  const double q = (end_time - start_time) / d_time;
  const double v =
      std::floor(q + 1e-9 + 8.0 * std::numeric_limits<double>::epsilon() * std::fabs(q)) + 1.0;
  // NaN, negative or overflowing spans must not turn into undefined casts.
  if (!(v >= 0.0)) return 0;
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(v);
}

void computeLcBox(Model& m) {
  for (int a = 0; a < 3; ++a) {
    m.lc_min[a] = 0.0;
    m.lc_max[a] = 0.0;
  }
  m.max_length = 0.0;
  if (m.frames.empty()) return;
  for (int a = 0; a < 3; ++a) {
    m.lc_min[a] = m.lc_max[a] = m.frames[0].pos[a];
    for (const LocalCoordinate& lc : m.frames) {
      if (lc.pos[a] < m.lc_min[a]) m.lc_min[a] = lc.pos[a];
      if (lc.pos[a] > m.lc_max[a]) m.lc_max[a] = lc.pos[a];
    }
    double extent = m.lc_max[a] - m.lc_min[a];
    if (extent > m.max_length) m.max_length = extent;
  }
}

void buildGravity(Model& m, int flag, const std::string& direction) {
  int axis = 0;
  double sign = 1.0;
  if (direction.size() == 2 && (direction[1] == '+' || direction[1] == '-') &&
      direction[0] >= 'x' && direction[0] <= 'z') {
    axis = direction[0] - 'x';
    sign = direction[1] == '-' ? -1.0 : 1.0;
  }
  m.gravity.assign(m.bodies.size(), GravityLoad{});
  for (size_t b = 0; b < m.bodies.size(); ++b) {
    GravityLoad& g = m.gravity[b];
    g.flag = flag;
    g.direction = direction;
    g.F[axis] = m.bodies[b].mass * sign * kGravityAcceleration * flag;
  }
}

}  // namespace orv
