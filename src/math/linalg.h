// Dense vectors and matrices (TNT, reference-counted: copies share storage,
// copy() makes a deep copy; dimension mismatches give empty results) and the
// operations the solver adds on top of them.
#pragma once

#include <tnt/tnt.h>

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

}  // namespace orv
