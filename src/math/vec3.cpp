#include "math/vec3.h"

#include <cmath>

namespace orv {

double* mat3RotationZXZ(double* out, double phi, double theta, double psi) {
  const double cf = std::cos(phi), sf = std::sin(phi);
  const double ct = std::cos(theta), st = std::sin(theta);
  const double cp = std::cos(psi), sp = std::sin(psi);
  out[0] = cp * cf - sp * ct * sf;
  out[1] = -sp * cf - cp * ct * sf;
  out[2] = st * sf;
  out[3] = ct * cf * sp + sf * cp;
  out[4] = ct * cf * cp - sf * sp;
  out[5] = -cf * st;
  out[6] = sp * st;
  out[7] = cp * st;
  out[8] = ct;
  return out;
}

double* mat3FromEulerParameters(double* out, const double* p) {
  // Read everything first: out may alias p.
  const double e0 = p[0], e1 = p[1], e2 = p[2], e3 = p[3];
  out[0] = 2 * (e0 * e0 + e1 * e1) - 1;
  out[1] = 2 * (e1 * e2 - e0 * e3);
  out[2] = 2 * (e1 * e3 + e0 * e2);
  out[3] = 2 * (e1 * e2 + e0 * e3);
  out[4] = 2 * (e0 * e0 + e2 * e2) - 1;
  out[5] = 2 * (e2 * e3 - e0 * e1);
  out[6] = 2 * (e1 * e3 - e0 * e2);
  out[7] = 2 * (e2 * e3 + e0 * e1);
  out[8] = 2 * (e0 * e0 + e3 * e3) - 1;
  return out;
}

namespace {

// R = Rz(phi) Rx(theta) Rz(psi) has, with s = sin(theta) >= 0,
//   R13 = s sin(phi), R23 = -s cos(phi), R31 = s sin(psi), R32 = s cos(psi), R33 = cos(theta),
// so s comes from the four off-diagonal entries and theta = atan2(s, R33).
// acos(R33) would turn the Euler-parameter norm drift of a turn about z
// alone (R33 = 1 - 1e-12) into theta ~ 1e-6, while those entries stay exact
// zeros; phi and psi are taken by atan2 of the entries, never divided by s.
//
// Where s is at most kFlatNutation the split is singular: theta is taken as
// 0 or pi and psi as 0. Only phi + psi (theta = 0) or phi - psi (theta = pi)
// is defined there; it goes to phi, from the in-plane 2x2 block:
//   R21 - R12 = (1 + cos theta) sin(phi + psi), R11 + R22 = (1 + cos theta) cos(phi + psi),
//   R21 + R12 = (1 - cos theta) sin(phi - psi), R11 - R22 = (1 - cos theta) cos(phi - psi).
// The threshold sits between the noise of a run and what a result file shows.
// A planar mechanism turning about z keeps s at exactly 0 when its joint
// axes are exactly z, and below 3.3e-10 (the stabilised drift of the axis
// alignment) when they are z only to rounding (hinge markers at 0 180 0;
// pendulum, double pendulum and four-bar runs of 2 s to 50 s): 1e-7 leaves a
// margin of 300, so such runs read A1 = the turn, A2 = A3 = 0. Dropping a
// nutation below 1e-7 rad moves the reported rotation by less than one unit
// in the 7th significant digit, all a result file keeps, of any angle from
// 0.1 rad up.
constexpr double kFlatNutation = 1e-7;
constexpr double kHalfTurn = 3.14159265358979323846;

double nutationSine(const double* R) {
  return std::sqrt(0.5 * (R[2] * R[2] + R[5] * R[5] + R[6] * R[6] + R[7] * R[7]));
}

// Angle `which` (0 phi, 1 theta, 2 psi) of R whose nutation sine is s. The
// sines get + 0.0 so that a -0 never gives atan2 = -pi: angles are in (-pi, pi].
double splitZXZ(const double* R, double s, int which) {
  if (s <= kFlatNutation) {
    if (which == 2) return 0.0;
    if (R[8] >= 0.0) return which == 0 ? std::atan2(R[3] - R[1] + 0.0, R[0] + R[4]) : 0.0;
    return which == 0 ? std::atan2(R[3] + R[1] + 0.0, R[0] - R[4]) : kHalfTurn;
  }
  if (which == 0) return std::atan2(R[2] + 0.0, -R[5]);
  if (which == 1) return std::atan2(s, R[8]);
  return std::atan2(R[6] + 0.0, R[7]);
}

}  // namespace

double angleZXZ(const double* R, int which) { return splitZXZ(R, nutationSine(R), which); }

double* unitNormal(double* out, const double* a, const double* b) {
  double n[3];
  vec3Cross(n, a, b);
  const double l = vec3Norm(n[0], n[1], n[2]);
  if (l > 0) return vec3Scale(out, 1.0 / l, n);
  // Parallel (or NaN) input: a fixed, recognisable non-unit answer.
  out[0] = out[1] = out[2] = 1.0;
  return out;
}

double* solve2(double* out, const double* d1, const double* d2, const double* r) {
  // Normal equations of the 2-column least-squares problem.
  const double a11 = vec3Dot(d1, d1), a22 = vec3Dot(d2, d2), a12 = vec3Dot(d1, d2);
  const double b1 = vec3Dot(d1, r), b2 = vec3Dot(d2, r);
  const double den = a22 * a11 - a12 * a12;
  out[0] = (a22 * b1 - a12 * b2) / den;
  out[1] = (a11 * b2 - a12 * b1) / den;
  return out;
}

bool mat3Inverse(double* out, const double* A) {
  const double c00 = A[4] * A[8] - A[5] * A[7];
  const double c01 = A[5] * A[6] - A[3] * A[8];
  const double c02 = A[3] * A[7] - A[4] * A[6];
  const double det = A[0] * c00 + A[1] * c01 + A[2] * c02;
  if (det == 0.0 || !std::isfinite(det)) return false;
  const double k = 1.0 / det;
  // Transposed cofactors; computed in full before writing since out may be A.
  const double r[9] = {k * c00, k * (A[2] * A[7] - A[1] * A[8]), k * (A[1] * A[5] - A[2] * A[4]),
                       k * c01, k * (A[0] * A[8] - A[2] * A[6]), k * (A[2] * A[3] - A[0] * A[5]),
                       k * c02, k * (A[1] * A[6] - A[0] * A[7]), k * (A[0] * A[4] - A[1] * A[3])};
  for (int i = 0; i < 9; ++i) out[i] = r[i];
  return true;
}

}  // namespace orv
