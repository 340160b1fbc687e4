#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "math/linalg.h"
#include "math/rotation.h"
#include "math/vec3.h"

using namespace orv;

namespace {

Mat rows(int m, int n, std::vector<double> v) {
  Mat A(m, n);
  for (int k = 0; k < m * n; ++k) A[k / n][k % n] = v[k];
  return A;
}
Vec vec(std::vector<double> v) { return Vec(static_cast<int>(v.size()), v.data()).copy(); }
void expectNear(const Mat& A, const Mat& B, double tol) {
  ASSERT_EQ(A.dim1(), B.dim1());
  ASSERT_EQ(A.dim2(), B.dim2());
  for (int i = 0; i < A.dim1(); ++i)
    for (int j = 0; j < A.dim2(); ++j) EXPECT_NEAR(A[i][j], B[i][j], tol) << i << "," << j;
}
void expectNear(const double* a, std::vector<double> b, double tol) {
  for (size_t i = 0; i < b.size(); ++i) EXPECT_NEAR(a[i], b[i], tol) << i;
}
Mat rx(double a) { return rows(3, 3, {1, 0, 0, 0, cos(a), -sin(a), 0, sin(a), cos(a)}); }
Mat rz(double a) { return rows(3, 3, {cos(a), -sin(a), 0, sin(a), cos(a), 0, 0, 0, 1}); }

}  // namespace

TEST(LinalgTest, ProductsInverseAndCopySemantics) {
  Vec a(3, 1.0);
  Vec shared = a, deep = a.copy();  // callers rely on copies sharing storage
  a[0] = 5.0;
  EXPECT_EQ(shared[0], 5.0);
  EXPECT_EQ(deep[0], 1.0);
  const Mat A = rows(2, 3, {1, 2, 3, 4, 5, 6});
  const Vec y = transposeTimes(A, vec({10, -1})), Ax = A * vec({1, 0, -1});
  ASSERT_EQ(y.dim1(), 3);
  ASSERT_EQ(Ax.dim1(), 2);
  expectNear(&y[0], {6, 15, 24}, 0);
  expectNear(&Ax[0], {-2, -2}, 0);
  expectNear(matmul(A, transpose(A)), rows(2, 2, {14, 32, 32, 77}), 0);
  // Mismatched dimensions give empty results, not reads past the end.
  EXPECT_EQ((Vec(3, 1.0) + Vec(2, 1.0)).dim1() + matmul(A, A).dim1() + transposeTimes(A, Vec(3, 1.0)).dim1() +
                (A * vec({1, 2})).dim1() + inverse(zeros(2, 3)).dim1(), 0);
  EXPECT_EQ(dot(Vec(3, 1.0), Vec(2, 1.0)), 0.0);

  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1, 1);
  Mat B(6, 6);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) B[i][j] = u(rng) + (i == j ? 4.0 : 0.0);
  const Mat before = B.copy();
  expectNear(matmult(inverse(B), B), identity(6), 1e-12);
  expectNear(B, before, 0);
  // Singular: +inf on the diagonal, NaN elsewhere.
  const Mat Si = inverse(rows(3, 3, {1, 2, 3, 2, 4, 6, 0, 1, 1}));
  ASSERT_EQ(Si.dim1(), 3);
  for (int k = 0; k < 9; ++k) {
    const double v = Si[k / 3][k % 3];
    EXPECT_TRUE(k % 4 == 0 ? (std::isinf(v) && v > 0) : std::isnan(v)) << k;
  }
  expectNear(rotationZXZ(0.7, -1.3, 2.2), matmult(matmult(rz(0.7), rx(-1.3)), rz(2.2)), 1e-15);
}

namespace {

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

TEST(RotationTest, SplitZXZOfTurnsInSpace) {
  // Round trip for any nutation clear of the poles; phi and psi are only as
  // good as rounding / sin(theta) allows.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> side(-M_PI, M_PI);
  double R[9];
  for (double theta : {2e-7, 1e-6, 1e-3, 0.5, 1.5, 3.0, M_PI - 1e-3, M_PI - 1e-6, M_PI - 2e-7})
    for (int k = 0; k < 20; ++k) {
      SCOPED_TRACE(theta);
      const double phi = side(rng), psi = side(rng);
      expectSplit(mat3RotationZXZ(R, phi, theta, psi), {phi, theta, psi}, 1e-14 / std::sin(theta), 1e-15);
    }
}

TEST(RotationTest, SplitZXZNearThePoles) {
  // Within 1e-7 of theta = 0 only phi + psi is defined, within 1e-7 of pi only
  // phi - psi: it goes to phi, theta reads 0 or pi and psi 0, exactly.
  const double poles[][6] = {
      {0.2, 0, 0.1, 0.3, 0, 0},           {0.2, 1e-9, 0.1, 0.3, 0, 0},
      {3.0, 5e-8, 0.5, 3.5 - 2 * M_PI, 0, 0}, {-0.4, M_PI, 0.1, -0.5, M_PI, 0},
      {0.2, M_PI - 1e-9, 0.1, 0.1, M_PI, 0},  {3.0, M_PI - 5e-8, -0.5, 3.5 - 2 * M_PI, M_PI, 0},
  };
  double R[9];
  for (const auto& c : poles) {
    SCOPED_TRACE(c[1]);
    mat3RotationZXZ(R, c[0], c[1], c[2]);
    expectSplit(R, {c[3], c[4], c[5]}, 1e-15, 1e-7);
    EXPECT_EQ(angleZXZ(R, 1), c[4]);
    EXPECT_EQ(angleZXZ(R, 2), 0.0);
  }

  // A turn about z whose Euler parameters have drifted off the unit sphere,
  // alone or relative to another: R33 ends a hair off 1 while R13, R23, R31,
  // R32 stay exact zeros. A1 is the turn, A2 and A3 exact zeros.
  for (double drift : {-1e-12, 1e-12, -1e-7})
    for (double turn : {0.0, 1e-9, 0.7, -2.0, 3.1, M_PI, -M_PI + 1e-12}) {
      SCOPED_TRACE(turn);
      const double f = 1 + drift, p[4] = {f * std::cos(turn / 2), 0, 0, f * std::sin(turn / 2)};
      const double q[4] = {f * std::cos(0.35), 0, 0, f * std::sin(0.35)};  // 0.7 about z
      double Ap[9], Aq[9], Aqt[9], Rel[9];
      mat3FromEulerParameters(Ap, p);
      mat3Mul(Rel, mat3Transpose(Aqt, mat3FromEulerParameters(Aq, q)), Ap);
      const double want[2] = {turn, turn - 0.7};
      const double* mats[2] = {Ap, Rel};
      for (int k = 0; k < 2; ++k) {
        double a[3];
        for (int c = 0; c < 3; ++c) a[c] = angleZXZ(mats[k], c);
        EXPECT_NEAR(std::remainder(a[0] - want[k], 2 * M_PI), 0.0, 4 * std::fabs(drift) + 1e-15) << k;
        EXPECT_EQ(a[1], 0.0) << k;
        EXPECT_EQ(a[2], 0.0) << k;
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
  double A[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10}, B[9] = {0, 1, 0, -1, 0, 0, 0, 0, 2}, AB[9];
  mat3Mul(AB, A, B);
  expectNear(mat3Mul(A, A, B), std::vector<double>(AB, AB + 9), 0);  // output may alias input
  double a[3] = {1, 2, 3}, b[3] = {-2, 0, 1};
  expectNear(vec3Cross(a, a, b), {2, -7, 4}, 0);
  double M[9] = {2, 0, 1, 1, 3, 0, 0, 1, 4}, M0[9], P[9];
  std::copy(M, M + 9, M0);
  ASSERT_TRUE(mat3Inverse(M, M));
  expectNear(mat3Mul(P, M, M0), {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1e-15);

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
