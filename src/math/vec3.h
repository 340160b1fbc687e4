// Allocation-free 3-vectors (double[3]) and 3x3 matrices (double[9],
// row-major a00 a01 a02 a10 ... a22) for the inner loops of joints, forces,
// contact and measures. The output array comes first and is returned, so calls
// nest; the output may alias an input.
#pragma once

#include <cmath>

#include "math/units.h"

namespace orv {

// a + b.
inline double* vec3Add(double* out, const double* a, const double* b) {
  const double r0 = a[0] + b[0], r1 = a[1] + b[1], r2 = a[2] + b[2];
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
  return out;
}
// a - b.
inline double* vec3Sub(double* out, const double* a, const double* b) {
  const double r0 = a[0] - b[0], r1 = a[1] - b[1], r2 = a[2] - b[2];
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
  return out;
}
// -a.
inline double* vec3Neg(double* out, const double* a) {
  out[0] = -a[0];
  out[1] = -a[1];
  out[2] = -a[2];
  return out;
}
// s * a.
inline double* vec3Scale(double* out, double s, const double* a) {
  out[0] = s * a[0];
  out[1] = s * a[1];
  out[2] = s * a[2];
  return out;
}
// a . b.
inline double vec3Dot(const double* a, const double* b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
// a x b.
inline double* vec3Cross(double* out, const double* a, const double* b) {
  const double r0 = a[1] * b[2] - a[2] * b[1];
  const double r1 = a[2] * b[0] - a[0] * b[2];
  const double r2 = a[0] * b[1] - a[1] * b[0];
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
  return out;
}
// sqrt(x^2 + y^2 + z^2).
inline double vec3Norm(double x, double y, double z) { return std::sqrt(x * x + y * y + z * z); }

// I.
inline double* mat3Identity(double* out) {
  for (int i = 0; i < 9; ++i) out[i] = (i % 4 == 0) ? 1.0 : 0.0;
  return out;
}
// A B.
inline double* mat3Mul(double* out, const double* A, const double* B) {
  double r[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      r[3 * i + j] = A[3 * i] * B[j] + A[3 * i + 1] * B[3 + j] + A[3 * i + 2] * B[6 + j];
  for (int i = 0; i < 9; ++i) out[i] = r[i];
  return out;
}
// A + B.
inline double* mat3Add(double* out, const double* A, const double* B) {
  for (int i = 0; i < 9; ++i) out[i] = A[i] + B[i];
  return out;
}
// -A.
inline double* mat3Neg(double* out, const double* A) {
  for (int i = 0; i < 9; ++i) out[i] = -A[i];
  return out;
}
// A^T.
inline double* mat3Transpose(double* out, const double* A) {
  double r[9] = {A[0], A[3], A[6], A[1], A[4], A[7], A[2], A[5], A[8]};
  for (int i = 0; i < 9; ++i) out[i] = r[i];
  return out;
}
// A v.
inline double* mat3MulVec(double* out, const double* A, const double* v) {
  const double r0 = A[0] * v[0] + A[1] * v[1] + A[2] * v[2];
  const double r1 = A[3] * v[0] + A[4] * v[1] + A[5] * v[2];
  const double r2 = A[6] * v[0] + A[7] * v[1] + A[8] * v[2];
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
  return out;
}
// A^T v (vector first, matrix second).
inline double* mat3TransposeMulVec(double* out, const double* v, const double* A) {
  const double r0 = A[0] * v[0] + A[3] * v[1] + A[6] * v[2];
  const double r1 = A[1] * v[0] + A[4] * v[1] + A[7] * v[2];
  const double r2 = A[2] * v[0] + A[5] * v[1] + A[8] * v[2];
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
  return out;
}
// skew((x, y, z)).
inline double* mat3Skew(double* out, double x, double y, double z) {
  out[0] = 0;
  out[1] = -z;
  out[2] = y;
  out[3] = z;
  out[4] = 0;
  out[5] = -x;
  out[6] = -y;
  out[7] = x;
  out[8] = 0;
  return out;
}
// Body-axis angular velocity w = 2 G(p) p_dot.
inline double* omegaFromEulerRates(double* out, const double* p, const double* pd) {
  const double e0 = p[0], e1 = p[1], e2 = p[2], e3 = p[3];
  const double r0 = 2.0 * (-e1 * pd[0] + e0 * pd[1] + e3 * pd[2] - e2 * pd[3]);
  const double r1 = 2.0 * (-e2 * pd[0] - e3 * pd[1] + e0 * pd[2] + e1 * pd[3]);
  const double r2 = 2.0 * (-e3 * pd[0] + e2 * pd[1] - e1 * pd[2] + e0 * pd[3]);
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
  return out;
}
// Euler-parameter rates p_dot = 1/2 G(p)^T w (4 values).
inline double* eulerRatesFromOmega(double* out, const double* p, const double* w) {
  const double e0 = p[0], e1 = p[1], e2 = p[2], e3 = p[3];
  const double r0 = 0.5 * (-e1 * w[0] - e2 * w[1] - e3 * w[2]);
  const double r1 = 0.5 * (e0 * w[0] - e3 * w[1] + e2 * w[2]);
  const double r2 = 0.5 * (e3 * w[0] + e0 * w[1] - e1 * w[2]);
  const double r3 = 0.5 * (-e2 * w[0] + e1 * w[1] + e0 * w[2]);
  out[0] = r0;
  out[1] = r1;
  out[2] = r2;
  out[3] = r3;
  return out;
}
// Rz(phi) Rx(theta) Rz(psi), radians.
double* mat3RotationZXZ(double* out, double phi, double theta, double psi);
// Rotation matrix A(p) of Euler parameters p = (e0, e1, e2, e3).
double* mat3FromEulerParameters(double* out, const double* p);
// Angle `which` (0 phi, 1 theta, 2 psi) in radians of R = Rz(phi) Rx(theta)
// Rz(psi), phi and psi in (-pi, pi], theta in [0, pi]. Where sin(theta) is
// below 1e-7 (see vec3.cpp) theta is 0 or pi, psi 0 and phi carries phi + psi
// (or phi - psi).
double angleZXZ(const double* R, int which);
// (a x b) / |a x b|, or (1, 1, 1) when a and b are parallel.
double* unitNormal(double* out, const double* a, const double* b);
// (s, t) minimising |s d1 + t d2 - r| (d1, d2 must not be parallel).
double* solve2(double* out, const double* d1, const double* d2, const double* r);
// Inverse of a 3x3 matrix; false (out untouched) when singular.
bool mat3Inverse(double* out, const double* A);

}  // namespace orv
