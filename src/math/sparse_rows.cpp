#include "math/sparse_rows.h"

#include <algorithm>
#include <cmath>

namespace orv {

void SparseRows::reset(int nrows, int ncols) {
  rows = 0;
  cols = ncols;
  start.assign(1, 0);
  start.reserve(static_cast<size_t>(nrows) + 1);
  col.clear();
  value.clear();
}

void SparseRows::appendRow(int n, const int* columns, const double* values) {
  const size_t first = col.size();
  for (int k = 0; k < n; ++k) {
    // Insertion keeps the row sorted; rows are short.
    size_t at = first;
    while (at < col.size() && col[at] < columns[k]) ++at;
    if (at < col.size() && col[at] == columns[k]) {
      value[at] = values[k];
      continue;
    }
    col.insert(col.begin() + static_cast<long>(at), columns[k]);
    value.insert(value.begin() + static_cast<long>(at), values[k]);
  }
  start.push_back(static_cast<int>(col.size()));
  ++rows;
}

void SparseRows::times(const double* x, double* out) const {
  for (int r = 0; r < rows; ++r) {
    double s = 0.0;
    for (int k = start[r]; k < start[r + 1]; ++k) s += value[k] * x[col[k]];
    out[r] = s;
  }
}

void SparseRows::transposeTimes(const double* x, double* out) const {
  std::fill(out, out + cols, 0.0);
  for (int r = 0; r < rows; ++r)
    for (int k = start[r]; k < start[r + 1]; ++k) out[col[k]] += value[k] * x[r];
}

void SparseRows::column(int c, double* out) const {
  for (int r = 0; r < rows; ++r) {
    out[r] = 0.0;
    const auto first = col.begin() + start[r], last = col.begin() + start[r + 1];
    const auto it = std::lower_bound(first, last, c);
    if (it != last && *it == c) out[r] = value[static_cast<size_t>(it - col.begin())];
  }
}

std::vector<double> SparseRows::columnMaxAbs() const {
  std::vector<double> m(static_cast<size_t>(cols), 0.0);
  for (size_t k = 0; k < col.size(); ++k) m[col[k]] = std::max(m[col[k]], std::fabs(value[k]));
  return m;
}

}  // namespace orv
