// Dense vectors and matrices (TNT, reference-counted: copies share storage,
// copy() makes a deep copy; dimension mismatches give empty results) and the
// operations the solver adds on top of them.
#pragma once

#include <tnt/tnt.h>

namespace orv {

using Vec = TNT::Array1D<double>;
using Mat = TNT::Array2D<double>;
using IVec = TNT::Array1D<int>;

// n x n identity.
Mat identity(int n);
// m x n zero matrix.
Mat zeros(int m, int n);
// Assigns an m x n zero matrix to A.
void zeros(Mat& A, int m, int n);
// s * x.
Vec operator*(double s, const Vec& x);
// s * A.
Mat operator*(double s, const Mat& A);
// A * s.
Mat operator*(const Mat& A, double s);
// Matrix product A B; empty when the inner dimensions differ. (TNT's own
// operator* on two Array2D multiplies element by element.)
Mat matmul(const Mat& A, const Mat& B);
// A x; empty when the columns of A differ from the length of x.
Vec operator*(const Mat& A, const Vec& x);
// A^T.
Mat transpose(const Mat& A);
// A^T x (length = columns of A; empty when rows of A != length of x).
Vec transposeTimes(const Mat& A, const Vec& x);
// a . b; 0.0 when the lengths differ.
double dot(const Vec& a, const Vec& b);
// Inverse by LU; a singular matrix gives +inf on the diagonal and NaN elsewhere.
Mat inverse(const Mat& A);

}  // namespace orv
