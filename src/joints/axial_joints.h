// Joints built on local-coordinate axes: "revolution" (and "revolution_"),
// "cylinder", "translation", "in_line", "prismatic", and their axis primitives.
#pragma once

#include "joints/constraints.h"

namespace orv {

// Which blocks decide the two rows parallelAxes keeps.
enum class AxisRowChoice {
  BothBlocks,  // rows of [Bi | Bj]
  SingleBlock  // rows of Bj alone (revolution joint)
};

// h_i x h_j = 0 (h = A z): the two best-conditioned of its three components,
// stabilised, into rows row0, row0+1. `chosen`, when given, receives the two
// component indices kept (increasing).
void parallelAxes(const JointSide& i, const JointSide& j, AxisRowChoice choice,
                  ConstraintRows& rows, int row0, int* chosen = nullptr);
// h_i x (P_j - P_i) = 0: two of its three components, dropping the one along
// the largest body-frame component of z_i, stabilised.
void pointOnLine(const JointSide& i, const JointSide& j, ConstraintRows& rows, int row0,
                 int* chosen = nullptr);
// (A_i x_i) . (A_j y_j) = 0, one row, not stabilised.
void perpendicularAxes(const JointSide& i, const JointSide& j, ConstraintRows& rows, int row0);

// Point, parallel z axes (single-block row choice).
void revolutionJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                     ConstraintRows& rows);
// Parallel z axes, point j on the z line of i.
void cylinderJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                   ConstraintRows& rows);
// Parallel z axes, point on line, x_i perpendicular to y_j.
void translationJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                      ConstraintRows& rows);
// Point j on the z line of i.
void inLineJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                 ConstraintRows& rows);
// Parallel z axes, x_i perpendicular to y_j; translations free.
void prismaticJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                    ConstraintRows& rows);

}  // namespace orv
