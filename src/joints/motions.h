// Driving motions: one constraint row per motion, after all joint rows.
#pragma once

#include <string>

#include "joints/constraints.h"

namespace orv {

struct ModelPrograms;

// True for the motion types the solver can drive ("R", "T").
bool isSupportedMotionType(const std::string& type);
// Row of motion mo into `rows` (1 row; all zero for an unsupported type).
// Rate texts run from progs when given (bound to m), else from their cached compiled forms.
void motionConstraint(const Model& m, const Histories& h, const double* Y, double t, int mo,
                      ConstraintRows& rows, const ModelPrograms* progs = nullptr);
// Prescribed velocity eta of motion mo at the current time (negated for "T").
double motionVelocity(const Model& m, const Histories& h, int mo,
                      const ModelPrograms* progs = nullptr);

}  // namespace orv
