// A matrix kept by rows, each row's entries in ascending column order, with
// only the entries that may be non-zero stored (the constraint Jacobian Cq
// has at most twelve per row). Its products add the terms of a row or a
// column in the order a dense product does; the terms left out are zeros,
// which change no sum, so for finite operands the results are those of the
// dense product to the bit.
#pragma once

#include <vector>

namespace orv {

struct SparseRows {
  int rows = 0, cols = 0;
  std::vector<int> start;     // rows + 1: the first entry of each row, then the end
  std::vector<int> col;       // column of each entry, ascending within a row
  std::vector<double> value;  // of each entry

  // An empty rows x cols matrix; rows are then appended in order.
  void reset(int nrows, int ncols);
  // Appends the next row from n (column, value) pairs in any order; of a
  // column given twice the later value stands.
  void appendRow(int n, const int* columns, const double* values);

  // out = A x (out: rows, x: cols).
  void times(const double* x, double* out) const;
  // out = A^T x (out: cols, x: rows), summed row by row.
  void transposeTimes(const double* x, double* out) const;
  // Column k of A into out (rows).
  void column(int k, double* out) const;
  // The largest |A_ik| of every column.
  std::vector<double> columnMaxAbs() const;
};

}  // namespace orv
