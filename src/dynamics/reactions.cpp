// Joint reactions from the multipliers: the wrench the rows of joint j put on
// its i body is -B_i^T lambda_j (force in global axes, torque in body axes).
#include "dynamics/dynamics.h"
#include "joints/constraints.h"
#include "model/model.h"

namespace orv {

void extractJointReactions(const Model& m, const DynamicsWork& w, const Vec& lambda, double* out) {
  for (int j = 0; j < m.joint_num(); ++j) {
    double* f = out + 6 * j;
    for (int k = 0; k < 6; ++k) f[k] = 0.0;
    const ConstraintRows& r = w.rows[j];
    if (m.joints[j].kind == JointType::Ground || r.bi < 0) continue;
    // Body i's columns hold the j blocks when both sides are on one body.
    const bool same = r.bi == r.bj;
    const int k0 = w.rowStart[j];
    for (int e = 0; e < r.nrows && k0 + e < lambda.dim1(); ++e) {
      const double l = lambda[k0 + e];
      for (int c = 0; c < 3; ++c) {
        f[c] -= (same ? r.Brj[e][c] : r.Bri[e][c]) * l;
        f[3 + c] -= (same ? r.Bpj[e][c] : r.Bpi[e][c]) * l;
      }
    }
  }
}

}  // namespace orv
