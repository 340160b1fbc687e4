#include "math/linalg.h"

namespace orv {

Mat zeros(int m, int n) { return Mat(m < 0 ? 0 : m, n < 0 ? 0 : n, 0.0); }

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

}  // namespace orv
