#include "dynamics/dynamics.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "joints/constraints.h"
#include "math/rotation.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/settings.h"
#include "model/state_layout.h"
#include "platform/console.h"

namespace orv {

namespace {

// Components this small are treated as exact zeros, so that round-off in a
// state at rest does not wake up contact and joint terms.
constexpr double kZeroState = 1e-10;

// Sizes every per-evaluation array of w for m.
void sizeWork(const Model& m, DynamicsWork& w) {
  const size_t nb = static_cast<size_t>(m.body_num());
  w.kin = Kinematics{};
  w.Y.assign(StateLayout{m.body_num()}.size(), 0.0);
  w.F.assign(3 * nb, 0.0);
  w.N.assign(3 * nb, 0.0);
  w.elementF.assign(3 * nb, 0.0);
  w.elementN.assign(3 * nb, 0.0);
  w.Q.assign(6 * nb, 0.0);
  w.acc.assign(6 * nb, 0.0);
  w.q6.assign(6 * nb, 0.0);
  w.rows.assign(m.joint_num() + m.motion_num(), ConstraintRows{});
  w.gamma = Vec(w.ncon, 0.0);
  w.entries.clear();
  w.rhs.assign(static_cast<size_t>(w.ncon), 0.0);
  w.jacobian = SparseRows{};
  w.Cq = Mat();
  w.rateSide = RateSide::Central;
  w.rates.assign(static_cast<size_t>(m.motion_num()), MotionRate{});
  w.recordRows = false;
  w.contact = false;
  w.friction = FrictionBound{};
  w.contacts.clear();
  w.kept.clear();
  w.velocityWarned = false;
}

}  // namespace

std::vector<double> inertiaTensors(const Model& m) {
  const int nb = m.body_num();
  std::vector<double> J(9 * static_cast<size_t>(nb), 0.0);
  for (int i = 0; i < nb; ++i) {
    const Body& b = m.bodies[i];
    Mat Jd = zeros(3, 3);
    for (int k = 0; k < 3; ++k) Jd[k][k] = b.inertia[k];
    const double* ang = m.frames[b.cg_lc].ang;
    Mat A0 = rotationZXZ(degToRad(ang[0]), degToRad(ang[1]), degToRad(ang[2]));
    Mat Ji = matmul(matmul(A0, Jd), transpose(A0));
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) J[9 * i + 3 * r + c] = Ji[r][c];
  }
  return J;
}

void setupDynamics(const Model& m, DynamicsWork& w) {
  w.programs = bindPrograms(m);
  const int nb = m.body_num();
  w.inertia = inertiaTensors(m);
  cprintf("Jd matrix\n");
  for (int i = 0; i < nb; ++i) {
    Mat J(3, 3);
    for (int k = 0; k < 9; ++k) J[k / 3][k % 3] = w.inertia[9 * i + k];
    std::ostringstream text;  // TNT's stream format
    text << J;
    cprintf("%s\n", text.str().c_str());
  }
  w.minv.assign(nb, BodyInverse{});
  for (int i = 0; i < nb; ++i) {
    w.minv[i].invMass = 1.0 / m.bodies[i].mass;
    if (!mat3Inverse(w.minv[i].invJ, &w.inertia[9 * i]))
      for (double& v : w.minv[i].invJ) v = std::nan("");
  }
  w.ncon = 0;
  w.rowStart.assign(m.joint_num() + m.motion_num(), 0);
  for (int j = 0; j < m.joint_num(); ++j) {
    w.rowStart[j] = w.ncon;
    w.ncon += jointEquationCount(m.joints[j].kind);
  }
  for (int mo = 0; mo < m.motion_num(); ++mo) {
    w.rowStart[m.joint_num() + mo] = w.ncon;
    w.ncon += 1;
  }
  w.dropped.clear();
  w.lastRuntimeDropped.clear();
  w.notice.clear();
  sizeWork(m, w);
}

bool computeStateDerivative(const Model& m, const Settings& s, Histories& h, DynamicsWork& w,
                            double t, const double* Yin, double* dY, std::vector<int>& motionDofs) {
  const int nb = m.body_num();
  // Contact records carry the sample they belong to; the force and violation
  // rows are written for a sample's own state only.
  const int row = sampleRow(m, t);
  double* Y = w.Y.data();
  for (size_t i = 0; i < StateLayout{nb}.size(); ++i)
    Y[i] = std::fabs(Yin[i]) < kZeroState ? 0.0 : Yin[i];

  setKinematics(w.kin, nb, Y);
  // Before the loads, the joints' gamma and the gyroscopic terms read them: a
  // stage state carries no prescribed velocities of its own, so every stage
  // is a full fourth-order evaluation.
  drivenVelocities(m, w, t, motionDofs);
  appliedForces(m, h, w, Y, t, w.recordRows ? row : -1);
  FrictionBound friction;
  if (applyContactWithRate(m, s, Y, w.F.data(), w.N.data(), row, w.contacts, friction, &w.anchors,
                           &w.kept))
    w.contact = true;
  w.friction.merge(friction);
  generalizedForces(m, w);
  assembleConstraints(m, w, Y, t);
  if (w.recordRows) recordViolations(m, h, w, t);
  w.damped = s.constraint_projection != 0;
  if (!solveMultipliers(m, h, w, Y, t)) return false;
  stateRates(m, w, Y, dY, s.rotation);
  return true;
}

}  // namespace orv
