#include "model/model.h"

#include <unistd.h>

#include <cmath>
#include <climits>
#include <limits>

namespace orv {

int jointEquationCount(const std::string& type) {
  if (type == "ground") return 6;
  if (type == "sphere") return 3;
  if (type == "revolution") return 5;
  if (type == "revolution_") return 5;
  if (type == "cylinder") return 4;
  if (type == "translation") return 5;
  if (type == "fix") return 6;
  if (type == "in_line") return 2;
  if (type == "prismatic") return 3;
  return 0;
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
  const double v = std::floor(q + 1e-9 + 8.0 * std::numeric_limits<double>::epsilon() * std::fabs(q)) + 1.0;
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
