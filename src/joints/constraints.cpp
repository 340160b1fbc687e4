#include "joints/constraints.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "joints/axial_joints.h"
#include "joints/point_joints.h"
#include "model/kinematics.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "math/vec3.h"

namespace orv {

bool sideUsable(const Model& m, const Kinematics& kin, int lc) {
  if (lc < 0 || lc >= m.frame_num()) return false;
  const int b = m.frames[lc].body;
  if (b < 0 || b >= m.body_num()) return false;
  return kin.A.size() >= 9 * static_cast<size_t>(b) + 9 &&
         kin.omega.size() >= 3 * static_cast<size_t>(b) + 3;
}

void loadJointSide(const Model& m, const Kinematics& kin, const double* Y, int lc,
                   JointSide& side) {
  const LocalCoordinate& L = m.frames[lc];
  const int b = L.body;
  const StateLayout layout{m.body_num()};
  side.lc = lc;
  side.body = b;
  for (int k = 0; k < 9; ++k) side.A[k] = kin.A[9 * b + k];
  for (int k = 0; k < 3; ++k) {
    side.w[k] = kin.omega[3 * b + k];
    side.s[k] = L.pos[k] - m.bodies[b].cg_pos[k];
    side.R[k] = m.bodies[b].cg_pos[k] + Y[layout.r(b) + k];
    side.rd[k] = Y[layout.v(b) + k];
  }
  double t[3];
  vec3Add(side.P, side.R, mat3MulVec(t, side.A, side.s));
  double ws[3];
  vec3Add(side.vP, side.rd, mat3MulVec(t, side.A, vec3Cross(ws, side.w, side.s)));
  std::copy(L.axes, L.axes + 9, side.E);
  side.stab = kin.stabilisation;
}

int sampleRow(const Model& m, double t) {
  double v = (t - m.start_time) / m.d_time + 0.5;
  if (!(v > -1.0)) return -1;
  if (v > 2147483647.0) return 2147483647;
  // Between stored samples this is the sample before, which nothing records.
  return static_cast<int>(v) / std::max(1, m.steps_per_sample);
}

bool evaluateJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                   ConstraintRows& rows) {
  const Joint& J = m.joints[j];
  switch (J.kind) {
    case JointType::Ground: groundJoint(m, kin, Y, t, j, rows); return true;
    case JointType::Sphere: sphereJoint(m, kin, Y, t, j, rows); return true;
    case JointType::Fix: fixJoint(m, kin, Y, t, j, rows); return true;
    case JointType::Revolution: revolutionJoint(m, kin, Y, t, j, rows); return true;
    case JointType::Cylinder: cylinderJoint(m, kin, Y, t, j, rows); return true;
    case JointType::Translation: translationJoint(m, kin, Y, t, j, rows); return true;
    case JointType::InLine: inLineJoint(m, kin, Y, t, j, rows); return true;
    case JointType::Prismatic: prismaticJoint(m, kin, Y, t, j, rows); return true;
    case JointType::Unknown: break;
  }
  rows.nrows = 0;
  return false;
}

}  // namespace orv
