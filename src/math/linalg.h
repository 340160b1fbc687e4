// Dense vectors and matrices (TNT, reference-counted: copies share storage,
// copy() makes a deep copy; dimension mismatches give empty results) and the
// operations the solver adds on top of them.
#pragma once

#include <tnt/tnt.h>

#include <vector>

namespace orv {

using Vec = TNT::Array1D<double>;
using Mat = TNT::Array2D<double>;

// m x n zero matrix.
Mat zeros(int m, int n);
// Matrix product A B; empty when the inner dimensions differ. (TNT's own
// operator* on two Array2D multiplies element by element.)
Mat matmul(const Mat& A, const Mat& B);
// A x; empty when the columns of A differ from the length of x.
Vec operator*(const Mat& A, const Vec& x);
// A^T.
Mat transpose(const Mat& A);
// A^T x (length = columns of A; empty when rows of A != length of x).
Vec transposeTimes(const Mat& A, const Vec& x);

// LU factors with partial pivoting of a square matrix kept by rows in one
// block, for solving many right-hand sides with one matrix (the implicit
// step's Newton iterations): P A = L U, then L y = P b, U x = y.
class DenseLU {
 public:
  // Factors the n x n matrix a (row i at a[i n]); false when a pivot is 0
  // or not finite.
  bool factor(int n, std::vector<double> a);
  // x := A^-1 x, x of length n.
  void solve(double* x) const;
  int size() const { return n_; }

 private:
  int n_ = 0;
  std::vector<double> lu_;
  std::vector<int> piv_;
};

}  // namespace orv
