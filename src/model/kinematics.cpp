#include "model/kinematics.h"

#include "math/vec3.h"
#include "model/state_layout.h"

namespace orv {

void setKinematics(Kinematics& kin, int nb, const double* Y) {
  const StateLayout L{nb};
  kin.omega.resize(3 * static_cast<size_t>(nb));
  kin.A.resize(9 * static_cast<size_t>(nb));
  for (int b = 0; b < nb; ++b) {
    omegaFromEulerRates(&kin.omega[3 * b], &Y[L.p(b)], &Y[L.pd(b)]);
    mat3FromEulerParameters(&kin.A[9 * b], &Y[L.p(b)]);
  }
}

}  // namespace orv
