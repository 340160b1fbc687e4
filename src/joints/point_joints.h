// Joints without an axis: "ground", "sphere", "fix", and the point
// coincidence they share with the revolution joint.
#pragma once

#include "joints/constraints.h"

namespace orv {

// P_j - P_i = 0 (3 rows, stabilised) into rows row0.. of `rows`.
void pointCoincidence(const JointSide& i, const JointSide& j, ConstraintRows& rows, int row0);
// w_j - w_i = 0 at velocity level (3 rows, no stabilisation).
void equalAngularVelocity(ConstraintRows& rows, int row0);
// Body i's six velocities are zero (6 rows).
void groundFix(ConstraintRows& rows);

// Body i fixed in space.
void groundJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                 ConstraintRows& rows);
// Point coincidence of the two local coordinates.
void sphereJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                 ConstraintRows& rows);
// Point coincidence and equal angular velocities.
void fixJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
              ConstraintRows& rows);

}  // namespace orv
