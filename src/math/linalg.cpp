#include "math/linalg.h"

#include <cmath>
#include <limits>

// JAMA pulls `using namespace std; using namespace TNT;` into the global
// namespace, which is why it is only ever included from .cpp files.
#include <jama/jama_lu.h>

namespace orv {

Mat identity(int n) {
  if (n < 0) n = 0;
  Mat I(n, n, 0.0);
  for (int i = 0; i < n; ++i) I[i][i] = 1.0;
  return I;
}

Mat zeros(int m, int n) { return Mat(m < 0 ? 0 : m, n < 0 ? 0 : n, 0.0); }

void zeros(Mat& A, int m, int n) { A = zeros(m, n); }

Vec operator*(double s, const Vec& x) {
  const int n = x.dim1();
  Vec r(n);
  for (int i = 0; i < n; ++i) r[i] = s * x[i];
  return r;
}

Mat operator*(double s, const Mat& A) {
  const int m = A.dim1(), n = A.dim2();
  Mat r(m, n);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) r[i][j] = s * A[i][j];
  return r;
}

Mat operator*(const Mat& A, double s) { return s * A; }

double dot(const Vec& a, const Vec& b) {
  const int n = a.dim1();
  if (b.dim1() != n) return 0.0;
  double s = 0.0;
  for (int i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

Mat matmul(const Mat& A, const Mat& B) {
  const int m = A.dim1(), k = A.dim2(), n = B.dim2();
  if (B.dim1() != k) return Mat();
  Mat C(m, n, 0.0);
  for (int i = 0; i < m; ++i) {
    double* c = C[i];
    for (int l = 0; l < k; ++l) {
      const double a = A[i][l];
      if (a == 0.0) continue;  // Jacobians are mostly zeros
      const double* b = B[l];
      for (int j = 0; j < n; ++j) c[j] += a * b[j];
    }
  }
  return C;
}

Vec operator*(const Mat& A, const Vec& x) {
  const int m = A.dim1(), n = A.dim2();
  if (n != x.dim1()) return Vec();
  Vec r(m);
  for (int i = 0; i < m; ++i) {
    const double* row = A[i];
    double s = 0.0;
    for (int j = 0; j < n; ++j) s += row[j] * x[j];
    r[i] = s;
  }
  return r;
}

Mat transpose(const Mat& A) {
  const int m = A.dim1(), n = A.dim2();
  Mat T(n, m);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) T[j][i] = A[i][j];
  return T;
}

Vec transposeTimes(const Mat& A, const Vec& x) {
  const int m = A.dim1(), n = A.dim2();
  if (m != x.dim1()) return Vec();
  Vec r(n, 0.0);
  // Row-wise accumulation walks A in storage order.
  for (int i = 0; i < m; ++i) {
    const double xi = x[i];
    const double* row = A[i];
    for (int j = 0; j < n; ++j) r[j] += row[j] * xi;
  }
  return r;
}

Mat inverse(const Mat& A) {
  const int n = A.dim1();
  if (n == 0 || A.dim2() != n) return Mat();
  const Mat I = identity(n);
  // LU factors its own deep copy, so A is left as it was.
  JAMA::LU<double> lu(A);
  const double d = lu.det();
  if (std::fabs(d) > 0) return lu.solve(I);
  // Singular (or NaN determinant): callers detect this by the non-finite
  // entries, +inf on the diagonal and 0 * inf = NaN elsewhere.
  return std::numeric_limits<double>::infinity() * I;
}

}  // namespace orv
