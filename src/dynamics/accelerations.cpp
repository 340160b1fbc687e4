// The state derivative from the accelerations: r' = v, v' = a, and the
// Euler parameters follow the angular velocity w (body axes),
//   p' = G(p)^T w / 2.
// Integrated to first order, the rates of the last block are w' itself (the
// fourth entry 0); to second order, as runs did before, they are
//   p'' = G(p)^T w' / 2 - |w|^2 p / 4.
#include "dynamics/dynamics.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/state_layout.h"

namespace orv {

void stateRates(const Model& m, const DynamicsWork& w, const double* Y, double* dY,
                RotationIntegration rotation) {
  const StateLayout layout{m.body_num()};
  for (int b = 0; b < layout.nb; ++b) {
    const double* p = &Y[layout.p(b)];
    const double* wb = &w.kin.omega[3 * b];
    const double* wd = &w.acc[layout.rot(b)];
    double pdot[4], pdd[4];
    eulerRatesFromOmega(pdot, p, wb);
    for (int k = 0; k < 3; ++k) {
      dY[layout.r(b) + k] = Y[layout.v(b) + k];
      dY[layout.v(b) + k] = w.acc[layout.trans(b) + k];
    }
    for (int k = 0; k < 4; ++k) dY[layout.p(b) + k] = pdot[k];
    if (rotation == RotationIntegration::FirstOrder) {
      for (int k = 0; k < 3; ++k) dY[layout.w(b) + k] = wd[k];
      dY[layout.w(b) + 3] = 0.0;
      continue;
    }
    eulerRatesFromOmega(pdd, p, wd);
    const double ww = vec3Dot(wb, wb);
    for (int k = 0; k < 4; ++k) dY[layout.pd(b) + k] = pdd[k] - 0.25 * ww * p[k];
  }
}

}  // namespace orv
