// The loads on the bodies before the constraints: gravity, the force
// elements, and the gyroscopic terms of the rotational equations,
//   Q = (F, N - omega x J omega).
#include "dynamics/dynamics.h"
#include "forces/force_elements.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/state_layout.h"

namespace orv {

void appliedForces(const Model& m, Histories& h, DynamicsWork& w, const double* Y, double t,
                   int storeRow) {
  const int nb = m.body_num();
  const int ng = static_cast<int>(m.gravity.size());
  double* F = w.F.data();
  double* N = w.N.data();
  for (int i = 0; i < 3 * nb; ++i) F[i] = N[i] = 0.0;
  for (int b = 0; b < nb && b < ng; ++b)
    for (int k = 0; k < 3; ++k) F[3 * b + k] += m.gravity[b].F[k];
  applyForceElements(m, w.kin, h, Y, t, F, N, storeRow, &w.programs);
  for (int b = 0; b < nb; ++b)
    for (int k = 0; k < 3; ++k) {
      const double g = b < ng ? m.gravity[b].F[k] : 0.0;
      w.elementF[3 * b + k] = F[3 * b + k] - g;
      w.elementN[3 * b + k] = N[3 * b + k];
    }
}

void generalizedForces(const Model& m, DynamicsWork& w) {
  const StateLayout layout{m.body_num()};
  for (int b = 0; b < layout.nb; ++b) {
    const double* J = &w.inertia[9 * b];
    const double* wb = &w.kin.omega[3 * b];
    double Jw[3], gyro[3];
    mat3MulVec(Jw, J, wb);
    vec3Cross(gyro, wb, Jw);
    for (int k = 0; k < 3; ++k) {
      w.Q[layout.trans(b) + k] = w.F[3 * b + k];
      w.Q[layout.rot(b) + k] = w.N[3 * b + k] - gyro[k];
    }
  }
}

}  // namespace orv
