#include "solver/rotation.h"

#include <cmath>

#include "solver/vec3.h"

namespace orv {

namespace {

// TNT keeps an Array2D in one contiguous row-major block, the same layout as
// the double[9] helpers, so they can write straight into it.
Mat mat3ToMat(const double* a) {
  Mat R(3, 3);
  double* r = &R[0][0];
  for (int i = 0; i < 9; ++i) r[i] = a[i];
  return R;
}

}  // namespace

Mat rotationFromEulerParameters(const Vec& p) {
  if (p.dim1() != 4) return Mat();
  double a[9];
  return mat3ToMat(mat3FromEulerParameters(a, &p[0]));
}

Mat eulerParameterG(const Vec& p) {
  if (p.dim1() != 4) return Mat();
  const double e0 = p[0], e1 = p[1], e2 = p[2], e3 = p[3];
  Mat G(3, 4);
  G[0][0] = -e1; G[0][1] = e0;  G[0][2] = e3;  G[0][3] = -e2;
  G[1][0] = -e2; G[1][1] = -e3; G[1][2] = e0;  G[1][3] = e1;
  G[2][0] = -e3; G[2][1] = e2;  G[2][2] = -e1; G[2][3] = e0;
  return G;
}

Mat skew(const Vec& a) {
  if (a.dim1() != 3) return Mat();
  double s[9];
  return mat3ToMat(mat3Skew(s, a[0], a[1], a[2]));
}

Mat rotationZXZ(double phi, double theta, double psi) {
  double a[9];
  return mat3ToMat(mat3RotationZXZ(a, phi, theta, psi));
}

Mat rotationXYZ(double a, double b, double c) {
  const double ca = std::cos(a), sa = std::sin(a);
  const double cb = std::cos(b), sb = std::sin(b);
  const double cc = std::cos(c), sc = std::sin(c);
  const double r[9] = {cb * cc,                -cb * sc,                sb,
                       ca * sc + sa * sb * cc, ca * cc - sa * sb * sc,  -sa * cb,
                       sa * sc - ca * sb * cc, sa * cc + ca * sb * sc,  ca * cb};
  return mat3ToMat(r);
}

Mat rotationZYX(double a, double b, double c) {
  const double ca = std::cos(a), sa = std::sin(a);
  const double cb = std::cos(b), sb = std::sin(b);
  const double cc = std::cos(c), sc = std::sin(c);
  const double r[9] = {cb * cc, sa * sb * cc - ca * sc, ca * sb * cc + sa * sc,
                       cb * sc, ca * cc + sa * sb * sc, ca * sb * sc - sa * cc,
                       -sb,     sa * cb,                ca * cb};
  return mat3ToMat(r);
}

}  // namespace orv
