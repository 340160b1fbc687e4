// Constraint rows of joints and motions: the blocks each evaluator produces,
// their place in the global Jacobian Cq (ncon x 6nb, translational columns of
// all bodies first, then body-axis rotational ones), the violation monitor
// and the joint reactions recovered from the multipliers.
#pragma once

#include "math/block_rows.h"
#include "model/types.h"

namespace orv {

struct Model;
struct Kinematics;

constexpr double kBaumgarteAlpha = 10.0;
constexpr double kBaumgarteBeta = 10.0;

// One side of a two-body joint at the current state (Y zeroed below 1e-10,
// A and omega from the kinematics of the evaluation).
struct JointSide {
  int body = -1;
  int lc = -1;
  double A[9];   // rotation matrix of the body
  double w[3];   // body-axis angular velocity
  double s[3];   // LC origin in body axes: initial LC position - initial cg
  double R[3];   // current cg position
  double rd[3];  // cg velocity
  double P[3];   // current LC origin: R + A s
  double vP[3];  // its velocity: rd + A (w x s)
  double E[9];   // LC axes in body axes (the local coordinate's stored axes)
  double stab = 1.0;  // Kinematics::stabilisation of the evaluation
};

// True when loadJointSide may run on lc: the LC, its body and the body's
// kinematics all exist.
bool sideUsable(const Model& m, const Kinematics& kin, int lc);

// Fills `side` for local coordinate lc (its body must exist).
void loadJointSide(const Model& m, const Kinematics& kin, const double* Y, int lc, JointSide& side);

// Evaluates joint j into `rows`; false for a type without rows.
bool evaluateJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                   ConstraintRows& rows);

// Sample row of a time: trunc((t - start_time) / d_time + 0.5) / steps_per_sample.
int sampleRow(const Model& m, double t);

}  // namespace orv
