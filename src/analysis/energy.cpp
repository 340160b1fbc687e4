#include "analysis/analysis.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/settings.h"
#include "model/state_layout.h"

namespace orv {

// E = sum of m g h (P: along the gravity direction of the first gravity
// record), 1/2 m v.v (T) and 1/2 w.J w (R), as selected.
double totalEnergy(const Model& m, const Settings& s, const std::vector<double>& inertia,
                   const double* Y) {
  const StateLayout layout{m.body_num()};
  int axis = 0;
  double sign = 1.0;
  if (!m.gravity.empty()) {
    const std::string& d = m.gravity[0].direction;
    if (d.size() == 2 && d[0] >= 'x' && d[0] <= 'z' && (d[1] == '+' || d[1] == '-')) {
      axis = d[0] - 'x';
      sign = d[1] == '-' ? -1.0 : 1.0;
    }
  }
  double E = 0.0;
  for (int b = 0; b < layout.nb; ++b) {
    const double mass = m.bodies[b].mass;
    if (s.energy_flag[0] == 1)
      E += mass * kGravityAcceleration * (-1.0) * sign *
           (m.bodies[b].cg_pos[axis] + Y[layout.r(b) + axis]);
    if (s.energy_flag[1] == 1) {
      const double* v = &Y[layout.v(b)];
      E += 0.5 * mass * vec3Dot(v, v);
    }
    if (s.energy_flag[2] == 1) {
      double w[3], Jw[3];
      omegaFromEulerRates(w, &Y[layout.p(b)], &Y[layout.pd(b)]);
      mat3MulVec(Jw, &inertia[9 * b], w);
      E += 0.5 * vec3Dot(w, Jw);
    }
  }
  return E;
}

}  // namespace orv
