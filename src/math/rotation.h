// Rotation matrices from angles on TNT arrays, for the setup of a run (the
// per-step kinematics use the double[9] helpers of vec3.h). Angles in radians.
#pragma once

#include "math/linalg.h"

namespace orv {

// Rz(phi) Rx(theta) Rz(psi).
Mat rotationZXZ(double phi, double theta, double psi);

}  // namespace orv
