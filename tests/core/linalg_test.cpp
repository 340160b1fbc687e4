#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "model/model.h"
#include "solver/linalg.h"
#include "solver/rotation.h"
#include "solver/vec3.h"

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
Mat ry(double a) { return rows(3, 3, {cos(a), 0, sin(a), 0, 1, 0, -sin(a), 0, cos(a)}); }
Mat rz(double a) { return rows(3, 3, {cos(a), -sin(a), 0, sin(a), cos(a), 0, 0, 0, 1}); }
// Hamilton product: the Euler parameters of R(p) R(q).
Vec quatMul(const Vec& p, const Vec& q) {
  return vec({p[0] * q[0] - p[1] * q[1] - p[2] * q[2] - p[3] * q[3],
              p[0] * q[1] + p[1] * q[0] + p[2] * q[3] - p[3] * q[2],
              p[0] * q[2] - p[1] * q[3] + p[2] * q[0] + p[3] * q[1],
              p[0] * q[3] + p[1] * q[2] - p[2] * q[1] + p[3] * q[0]});
}
Vec axisQuat(int axis, double angle) {
  Vec q(4, 0.0);
  q[0] = cos(angle / 2);
  q[1 + axis] = sin(angle / 2);
  return q;
}

}  // namespace

TEST(LinalgTest, TntSemanticsCallersRelyOn) {
  Vec a(3, 1.0);
  Vec shared = a, deep = a.copy();
  a[0] = 5.0;
  EXPECT_EQ(shared[0], 5.0);
  EXPECT_EQ(deep[0], 1.0);
  EXPECT_EQ((Vec(3, 1.0) + Vec(2, 1.0)).dim1(), 0);
  EXPECT_EQ(matmult(zeros(2, 3), zeros(2, 3)).dim1(), 0);
  EXPECT_EQ(dot(Vec(3, 1.0), Vec(2, 1.0)), 0.0);
}

TEST(LinalgTest, TransposeTimesAndNorm) {
  const Vec y = transposeTimes(rows(2, 3, {1, 2, 3, 4, 5, 6}), vec({10, -1}));
  ASSERT_EQ(y.dim1(), 3);
  expectNear(&y[0], {6, 15, 24}, 0);
  EXPECT_EQ(transposeTimes(rows(2, 3, {1, 2, 3, 4, 5, 6}), Vec(3, 1.0)).dim1(), 0);
  EXPECT_EQ(norm(vec({3, 4})), 5.0);
  const Mat A = rows(2, 3, {1, 2, 3, 4, 5, 6});
  expectNear(matmul(A, transpose(A)), matmult(A, transpose(A)), 0);
  EXPECT_EQ(matmul(A, A).dim1(), 0);
  const Vec Ax = A * vec({1, 0, -1});
  ASSERT_EQ(Ax.dim1(), 2);
  expectNear(&Ax[0], {-2, -2}, 0);
  EXPECT_EQ((A * vec({1, 2})).dim1(), 0);
}

TEST(LinalgTest, InverseAndSolve) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1, 1);
  Mat A(6, 6);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) A[i][j] = u(rng) + (i == j ? 4.0 : 0.0);
  const Mat before = A.copy();
  expectNear(matmult(inverse(A), A), identity(6), 1e-12);
  expectNear(A, before, 0);
  const Vec x = luSolve(A, Vec(6, 1.0));
  ASSERT_EQ(x.dim1(), 6);
  const Vec Ax = transposeTimes(transpose(A), x);
  expectNear(&Ax[0], std::vector<double>(6, 1.0), 1e-12);

  // Singular: no solve; +inf on the diagonal, NaN elsewhere.
  const Mat S = rows(3, 3, {1, 2, 3, 2, 4, 6, 0, 1, 1});
  const Mat Si = inverse(S);
  ASSERT_EQ(Si.dim1(), 3);
  for (int k = 0; k < 9; ++k) {
    const double v = Si[k / 3][k % 3];
    EXPECT_TRUE(k % 4 == 0 ? (std::isinf(v) && v > 0) : std::isnan(v)) << k;
  }
  EXPECT_EQ(inverse(zeros(2, 3)).dim1(), 0);
  EXPECT_EQ(luSolve(S, Vec(3, 1.0)).dim1(), 0);
  EXPECT_EQ(luSolve(A, Vec(5, 1.0)).dim1(), 0);
  EXPECT_EQ(luSolve(rows(2, 3, {1, 0, 0, 0, 1, 0}), Vec(2, 1.0)).dim1(), 0);
}

TEST(RotationTest, EulerParameters) {
  expectNear(rotationFromEulerParameters(vec({1, 0, 0, 0})), identity(3), 0);
  expectNear(eulerParameterG(vec({1, 0, 0, 0})), rows(3, 4, {0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}), 0);

  std::mt19937 rng(11);
  std::normal_distribution<double> g;
  for (int k = 0; k < 20; ++k) {
    Vec p = vec({g(rng), g(rng), g(rng), g(rng)});
    p = (1.0 / norm(p)) * p;
    const Mat A = rotationFromEulerParameters(p);
    expectNear(matmult(A, transpose(A)), identity(3), 1e-14);
    double c[3];
    EXPECT_NEAR(vec3Dot(A[0], vec3Cross(c, A[1], A[2])), 1.0, 1e-14);  // det

    const Mat G = eulerParameterG(p);
    expectNear(matmult(G, transpose(G)), identity(3), 1e-14);
    // w' -> p_dot -> w'; p_dot stays tangent to the unit sphere.
    const Vec w = vec({0.3 - 0.05 * k, -0.6, 0.9 + 0.1 * k});
    const Vec pdot = 0.5 * transposeTimes(G, w);
    EXPECT_NEAR(dot(p, pdot), 0.0, 1e-14);
    const Vec back = 2.0 * transposeTimes(transpose(G), pdot);
    expectNear(&back[0], {w[0], w[1], w[2]}, 1e-14);
  }

  for (const auto& a : {std::vector<double>{0.3, 1.1, -2.0}, {-1.2, 2.9, 0.4}, {2.5, 0.05, 1.7}}) {
    const Vec p = quatMul(quatMul(axisQuat(2, a[0]), axisQuat(0, a[1])), axisQuat(2, a[2]));
    expectNear(rotationFromEulerParameters(p), rotationZXZ(a[0], a[1], a[2]), 1e-14);
  }
}

TEST(RotationTest, FactoredRotationsMatchElementaryProducts) {
  const double a = 0.7, b = -1.3, c = 2.2;
  expectNear(rotationXYZ(a, b, c), matmult(matmult(rx(a), ry(b)), rz(c)), 1e-15);
  expectNear(rotationZYX(a, b, c), matmult(matmult(rz(c), ry(b)), rx(a)), 1e-15);
  expectNear(rotationZXZ(a, b, c), matmult(matmult(rz(a), rx(b)), rz(c)), 1e-15);
  EXPECT_EQ(skew(Vec(4, 0.0)).dim1(), 0);
}

TEST(RotationTest, AnglesZXZDegrees) {
  double R[9], out[3];
  expectNear(anglesZXZDegrees(out, mat3RotationZXZ(R, degToRad(30), 0, 0)), {30, 0, 0}, 1e-12);

  std::mt19937 rng(3);
  std::uniform_real_distribution<double> side(-170, 170), tilt(1, 179);
  for (int k = 0; k < 50; ++k) {
    const double phi = side(rng), theta = tilt(rng), psi = side(rng);
    mat3RotationZXZ(R, degToRad(phi), degToRad(theta), degToRad(psi));
    expectNear(anglesZXZDegrees(out, R), {phi, theta, psi}, 1e-9);
  }

  // Nearly flat: only phi + psi is meaningful, and all of it goes to phi.
  mat3RotationZXZ(R, 0.2, 1e-7, 0.1);
  expectNear(anglesZXZDegrees(out, R), {radToDeg(0.3), 0, 0}, 1e-9);
  // Upside down counts as gimbal lock too: theta is reported as 0.
  anglesZXZDegrees(out, mat3RotationZXZ(R, 0.2, kPi, 0));
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);
  // A cosine rounded past 1 must not leak NaN.
  mat3Identity(R)[8] = 1.0 + 1e-12;
  expectNear(anglesZXZDegrees(out, R), {0, 0, 0}, 0);
}

TEST(Vec3Test, OutputMayAliasInput) {
  double A[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10}, B[9] = {0, 1, 0, -1, 0, 0, 0, 0, 2}, AB[9];
  mat3Mul(AB, A, B);
  expectNear(mat3Mul(A, A, B), std::vector<double>(AB, AB + 9), 0);
  double a[3] = {1, 2, 3}, b[3] = {-2, 0, 1};
  expectNear(vec3Cross(a, a, b), {2, -7, 4}, 0);

  double M[9] = {2, 0, 1, 1, 3, 0, 0, 1, 4}, M0[9], P[9];
  std::copy(M, M + 9, M0);
  ASSERT_TRUE(mat3Inverse(M, M));
  expectNear(mat3Mul(P, M, M0), {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1e-15);
}

TEST(Vec3Test, DegenerateInputs) {
  double S[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1}, out[9] = {42};
  EXPECT_FALSE(mat3Inverse(out, S));
  EXPECT_EQ(out[0], 42);
  S[0] = NAN;
  EXPECT_FALSE(mat3Inverse(out, S));

  const double x[3] = {1, 0, 0}, y[3] = {0, 2, 0}, x2[3] = {-3, 0, 0};
  expectNear(unitNormal(out, x, y), {0, 0, 1}, 0);
  expectNear(unitNormal(out, x, x2), {1, 1, 1}, 0);

  // s d1 + t d2 closest to r, by hand: s = 1, t = 2.
  const double d1[3] = {1, 0, 0}, d2[3] = {1, 1, 0}, r[3] = {3, 2, 5};
  expectNear(solve2(out, d1, d2, r), {1, 2}, 0);
}
