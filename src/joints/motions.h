// Driving motions: one constraint row per motion, after all joint rows.
#pragma once

#include "joints/constraints.h"

namespace orv {

struct ModelPrograms;

// Where the derivative of a rate looks: a stage at the start of a step
// forward into the step, one at its end back into it, the others both ways.
// A kink of the rate at a step's ends (a ramp ending on a sample) is then
// integrated as exactly as a smooth rate.
enum class RateSide { Forward, Central, Backward };

// A motion's prescribed rate f at one time and its time derivative f'.
struct MotionRate {
  double rate = 0.0;
  double accel = 0.0;
};

// f and f' of motion mo at time t. f' is a difference of the rate expression
// in time (h.time is moved and put back); see motions.cpp.
MotionRate motionRate(const Model& m, Histories& h, int mo, double t, RateSide side,
                      const ModelPrograms* progs = nullptr);

// Row of motion mo into `rows` (1 row; all zero for an unsupported type),
// driving the rate f.rate with the acceleration f.accel:
//   R: z_i.w_i - z_j.w_j = f,      gamma = f' - 2 alpha (rate - f)
//   T: d/dt (h_i . d) = -f,        gamma = -f' - (quadratic terms) - 2 alpha (rate + f)
void motionConstraint(const Model& m, const Histories& h, const double* Y, int mo,
                      const MotionRate& f, ConstraintRows& rows);

// Prescribed velocity eta of motion mo at h.time (negated for "T").
double motionVelocity(const Model& m, const Histories& h, int mo,
                      const ModelPrograms* progs = nullptr);

// eta of a motion of type `type` whose rate is f.
double motionEta(MotionType type, double f);

}  // namespace orv
