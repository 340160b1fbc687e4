// Rotation kinematics on TNT arrays. Euler parameters p = (e0, e1, e2, e3),
// e0 the scalar part. Angles here are radians.
#pragma once

#include "solver/linalg.h"

namespace orv {

// 3x3 rotation matrix A(p) (p is not normalised).
Mat rotationFromEulerParameters(const Vec& p);
// 3x4 G(p) = [-e, -skew(e) + e0 I]; body angular velocity w' = 2 G p_dot.
Mat eulerParameterG(const Vec& p);
// 3x3 skew matrix of a 3-vector: skew(a) b = a x b.
Mat skew(const Vec& a);
// Rz(phi) Rx(theta) Rz(psi).
Mat rotationZXZ(double phi, double theta, double psi);
// Rx(a) Ry(b) Rz(c).
Mat rotationXYZ(double a, double b, double c);
// Rz(c) Ry(b) Rx(a).
Mat rotationZYX(double a, double b, double c);

}  // namespace orv
