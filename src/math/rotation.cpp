#include "math/rotation.h"

#include "math/vec3.h"

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

Mat rotationZXZ(double phi, double theta, double psi) {
  double a[9];
  return mat3ToMat(mat3RotationZXZ(a, phi, theta, psi));
}

}  // namespace orv
