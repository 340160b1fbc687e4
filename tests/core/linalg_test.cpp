// The rotation and 3-vector helpers every stage builds on.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "math/vec3.h"

using namespace orv;

namespace {

// The angles of R, checked against the expected angles and, turned back
// into a matrix, against R itself.
void expectSplit(const double* R, std::vector<double> want, double tol, double backTol) {
  double a[3], back[9];
  for (int k = 0; k < 3; ++k) a[k] = angleZXZ(R, k);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], want[k], tol) << k;
  mat3RotationZXZ(back, a[0], a[1], a[2]);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(back[k], R[k], backTol) << k;
  EXPECT_TRUE(a[0] > -M_PI && a[0] <= M_PI && a[2] > -M_PI && a[2] <= M_PI) << a[0] << " " << a[2];
}

}  // namespace

TEST(RotationTest, SplitZXZ) {
  double R[9];
  // Round trip for any nutation clear of the poles; phi and psi are only as
  // good as rounding / sin(theta) allows.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> side(-M_PI, M_PI);
  for (double theta : {2e-7, 1e-6, 1e-3, 0.5, 1.5, 3.0, M_PI - 1e-3, M_PI - 1e-6, M_PI - 2e-7})
    for (int k = 0; k < 20; ++k) {
      SCOPED_TRACE(theta);
      const double phi = side(rng), psi = side(rng);
      expectSplit(mat3RotationZXZ(R, phi, theta, psi), {phi, theta, psi}, 1e-14 / std::sin(theta),
                  1e-15);
    }
  // Within 1e-7 of theta = 0 only phi + psi is defined, within 1e-7 of pi only
  // phi - psi: it goes to phi, theta reads 0 or pi and psi 0, exactly.
  const double poles[][5] = {{0.2, 0, 0.1, 0.3, 0},
                             {0.2, 1e-9, 0.1, 0.3, 0},
                             {3.0, 5e-8, 0.5, 3.5 - 2 * M_PI, 0},
                             {-0.4, M_PI, 0.1, -0.5, M_PI},
                             {0.2, M_PI - 1e-9, 0.1, 0.1, M_PI},
                             {3.0, M_PI - 5e-8, -0.5, 3.5 - 2 * M_PI, M_PI}};
  for (const auto& c : poles) {
    SCOPED_TRACE(c[1]);
    expectSplit(mat3RotationZXZ(R, c[0], c[1], c[2]), {c[3], c[4], 0}, 1e-15, 1e-7);
    EXPECT_TRUE(angleZXZ(R, 1) == c[4] && angleZXZ(R, 2) == 0.0);
  }
  // A half turn whose sine is -0 reads +pi; a cosine rounded past 1 (as Euler
  // parameters off their unit length give) reads 0 exactly, not NaN.
  const double half[9] = {-1, 0, 0, -0.0, -1, 0, 0, 0, 1};
  expectSplit(half, {M_PI, 0, 0}, 0, 1e-15);
  mat3Identity(R)[8] = 1.0 + 1e-12;
  expectSplit(R, {0, 0, 0}, 0, 2e-12);
}

// A singular or NaN matrix has no inverse, and the output is left alone.
TEST(Vec3Test, SingularMatricesHaveNoInverse) {
  double S[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1}, out[9] = {42};
  EXPECT_FALSE(mat3Inverse(out, S));
  EXPECT_EQ(out[0], 42);
  S[0] = NAN;
  EXPECT_FALSE(mat3Inverse(out, S));
}
