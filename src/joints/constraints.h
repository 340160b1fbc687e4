// Constraint rows of joints and motions: the blocks each evaluator produces,
// their place in the global Jacobian Cq (ncon x 6nb, translational columns of
// all bodies first, then body-axis rotational ones), the violation monitor
// and the joint reactions recovered from the multipliers.
#pragma once

#include <string>

#include "math/block_rows.h"
#include "model/local_axes.h"

namespace orv {

struct Model;
struct Kinematics;

constexpr double kBaumgarteAlpha = 10.0;
constexpr double kBaumgarteBeta = 10.0;

enum class JointType { Ground, Sphere, Revolution, Cylinder, Translation, InLine, Prismatic, Fix, Unknown };

// Joint type of a type text ("revolution_" is a revolution joint).
JointType jointTypeOf(const std::string& type);

// What a joint row holds at position level: a distance (metres) or an angle
// (radians) that the stabilisation pulls to zero, or nothing it corrects
// ("ground" and the equal angular velocities of "fix" act on velocities, the
// x_i.y_j row of "translation" and "prismatic" keeps its start value). At
// rest a stabilised row's right side is -beta^2 Phi, so its violation Phi
// can be read back from gamma.
enum class RowLevel { Length, Angle, Held };

// Level of row k of a joint of this type (Held past its rows).
RowLevel jointRowLevel(JointType type, int k);

// One side of a two-body joint at the current state (Y zeroed below 1e-10,
// A and omega from the kinematics of the evaluation).
struct JointSide {
  int body = -1;
  int lc = -1;
  double A[9];    // rotation matrix of the body
  double w[3];    // body-axis angular velocity
  double s[3];    // LC origin in body axes: initial LC position - initial cg
  double R[3];    // current cg position
  double rd[3];   // cg velocity
  double P[3];    // current LC origin: R + A s
  double vP[3];   // its velocity: rd + A (w x s)
  double E[9];    // LC axes in body axes: Z-X-Z rotation of the LC angles
};

// True when loadJointSide may run on lc: the LC, its body and the body's
// kinematics all exist.
bool sideUsable(const Model& m, const Kinematics& kin, int lc);

// Fills `side` for local coordinate lc (its body must exist).
void loadJointSide(const Model& m, const Kinematics& kin, const double* Y, int lc, JointSide& side);

// Evaluates joint j into `rows`; false for a type without rows.
bool evaluateJoint(const Model& m, const Kinematics& kin, const double* Y, double t, int j,
                   ConstraintRows& rows);

// Sample row of a time: trunc((t - start_time) / d_time + 0.5).
int sampleRow(const Model& m, double t);

}  // namespace orv
