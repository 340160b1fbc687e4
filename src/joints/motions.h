// Driving motions: one constraint row per motion, after all joint rows.
#pragma once

#include <string>

#include "joints/constraints.h"

namespace orv {

// True for the motion types the solver can drive ("R", "T").
bool isSupportedMotionType(const std::string& type);
// Row of motion mo into `rows` (1 row; all zero for an unsupported type).
void motionConstraint(const Model& m, const Histories& h, const double* Y, double t, int mo, ConstraintRows& rows);
// Prescribed velocity eta of motion mo at the current time (negated for "T").
double motionVelocity(const Model& m, const Histories& h, int mo);

}  // namespace orv
