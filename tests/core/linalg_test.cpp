// The rotation and 3-vector helpers every stage builds on.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "math/rotation.h"
#include "math/vec3.h"

using namespace orv;

namespace {

void expectNear(const double* a, std::vector<double> b, double tol) {
  for (size_t i = 0; i < b.size(); ++i) EXPECT_NEAR(a[i], b[i], tol) << i;
}

// The angles of R, checked against the expected angles and, turned back
// into a matrix, against R itself.
void expectSplit(const double* R, std::vector<double> want, double tol, double backTol) {
  double a[3], back[9];
  for (int k = 0; k < 3; ++k) a[k] = angleZXZ(R, k);
  expectNear(a, want, tol);
  expectNear(mat3RotationZXZ(back, a[0], a[1], a[2]), std::vector<double>(R, R + 9), backTol);
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
  const double poles[][6] = {
      {0.2, 0, 0.1, 0.3, 0, 0},
      {0.2, 1e-9, 0.1, 0.3, 0, 0},
      {3.0, 5e-8, 0.5, 3.5 - 2 * M_PI, 0, 0},
      {-0.4, M_PI, 0.1, -0.5, M_PI, 0},
      {0.2, M_PI - 1e-9, 0.1, 0.1, M_PI, 0},
      {3.0, M_PI - 5e-8, -0.5, 3.5 - 2 * M_PI, M_PI, 0},
  };
  for (const auto& c : poles) {
    SCOPED_TRACE(c[1]);
    expectSplit(mat3RotationZXZ(R, c[0], c[1], c[2]), {c[3], c[4], c[5]}, 1e-15, 1e-7);
    EXPECT_EQ(angleZXZ(R, 1), c[4]);
    EXPECT_EQ(angleZXZ(R, 2), 0.0);
  }
  // A turn about z whose Euler parameters have drifted off the unit sphere,
  // alone or relative to another, reads in A1 with A2 and A3 exact zeros.
  for (double drift : {-1e-12, 1e-12, -1e-7})
    for (double turn : {0.0, 1e-9, 0.7, -2.0, 3.1, M_PI, -M_PI + 1e-12}) {
      const double f = 1 + drift, p[4] = {f * std::cos(turn / 2), 0, 0, f * std::sin(turn / 2)};
      const double q[4] = {f * std::cos(0.35), 0, 0, f * std::sin(0.35)};  // 0.7 about z
      double Ap[9], Aq[9], Aqt[9], Rel[9], a[3];
      mat3Mul(Rel, mat3Transpose(Aqt, mat3FromEulerParameters(Aq, q)),
              mat3FromEulerParameters(Ap, p));
      for (const double* M : {Ap, Rel}) {
        for (int c = 0; c < 3; ++c) a[c] = angleZXZ(M, c);
        EXPECT_NEAR(std::remainder(a[0] - (M == Ap ? turn : turn - 0.7), 2 * M_PI), 0.0,
                    4 * std::fabs(drift) + 1e-15);
        EXPECT_TRUE(a[1] == 0.0 && a[2] == 0.0) << turn << " " << drift;
      }
    }
  // A half turn whose sine is -0 reads +pi, and a cosine rounded past 1 gives no NaN.
  const double half[9] = {-1, 0, 0, -0.0, -1, 0, 0, 0, 1};
  expectSplit(half, {M_PI, 0, 0}, 0, 1e-15);
  double up[9];
  mat3Identity(up)[8] = 1.0 + 1e-12;
  expectSplit(up, {0, 0, 0}, 0, 2e-12);
}

TEST(Vec3Test, AliasingAndDegenerateInputs) {
  double M[9] = {2, 0, 1, 1, 3, 0, 0, 1, 4}, Mi[9], P[9], v[3] = {1, 2, 3};
  ASSERT_TRUE(mat3Inverse(Mi, M));
  expectNear(mat3Mul(P, Mi, M), {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1e-15);
  expectNear(mat3MulVec(v, M, v), {5, 7, 14}, 0);  // output may alias input
  double S[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1}, out[9] = {42};
  EXPECT_FALSE(mat3Inverse(out, S));
  EXPECT_EQ(out[0], 42);  // untouched
  S[0] = NAN;
  EXPECT_FALSE(mat3Inverse(out, S));
  const double x[3] = {1, 0, 0}, y[3] = {0, 2, 0}, x2[3] = {-3, 0, 0};
  expectNear(unitNormal(out, x, y), {0, 0, 1}, 0);
  expectNear(unitNormal(out, x, x2), {1, 1, 1}, 0);
  // s d1 + t d2 closest to r, by hand: s = 1, t = 2.
  const double d1[3] = {1, 0, 0}, d2[3] = {1, 1, 0}, r[3] = {3, 2, 5};
  expectNear(solve2(out, d1, d2, r), {1, 2}, 0);
}
