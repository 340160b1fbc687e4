#include "math/linalg.h"

#include <cmath>
#include <utility>

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

bool DenseLU::factor(int n, std::vector<double> a) {
  n_ = n;
  lu_ = std::move(a);
  piv_.resize(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    int p = k;
    double big = std::fabs(lu_[static_cast<size_t>(k) * n + k]);
    for (int i = k + 1; i < n; ++i) {
      const double v = std::fabs(lu_[static_cast<size_t>(i) * n + k]);
      if (v > big) big = v, p = i;
    }
    piv_[static_cast<size_t>(k)] = p;
    if (!(big > 0.0) || !std::isfinite(big)) return false;
    double* rk = &lu_[static_cast<size_t>(k) * n];
    if (p != k) std::swap_ranges(rk, rk + n, &lu_[static_cast<size_t>(p) * n]);
    for (int i = k + 1; i < n; ++i) {
      double* ri = &lu_[static_cast<size_t>(i) * n];
      const double l = ri[k] /= rk[k];
      if (l == 0.0) continue;  // Newton matrices are mostly zeros
      for (int j = k + 1; j < n; ++j) ri[j] -= l * rk[j];
    }
  }
  return true;
}

void DenseLU::solve(double* x) const {
  const int n = n_;
  for (int k = 0; k < n; ++k) std::swap(x[k], x[piv_[static_cast<size_t>(k)]]);
  for (int i = 1; i < n; ++i) {
    const double* ri = &lu_[static_cast<size_t>(i) * n];
    double s = x[i];
    for (int j = 0; j < i; ++j) s -= ri[j] * x[j];
    x[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    const double* ri = &lu_[static_cast<size_t>(i) * n];
    double s = x[i];
    for (int j = i + 1; j < n; ++j) s -= ri[j] * x[j];
    x[i] = s / ri[i];
  }
}

}  // namespace orv
