#include "math/block_rows.h"

namespace orv {

void clearRows(ConstraintRows& rows, int n, int bi, int bj) {
  rows.nrows = n;
  rows.bi = bi;
  rows.bj = bj;
  for (int e = 0; e < kMaxJointRows; ++e) {
    for (int c = 0; c < 3; ++c)
      rows.Bri[e][c] = rows.Bpi[e][c] = rows.Brj[e][c] = rows.Bpj[e][c] = 0.0;
    rows.gamma[e] = 0.0;
  }
  rows.violation = 0.0;
}

void insertJointBlocks(ConstraintRows& rows, int row0, int nrows, const double (*Bri)[3],
                       const double (*Bpi)[3], const double (*Brj)[3], const double (*Bpj)[3]) {
  for (int k = 0; k < nrows; ++k) {
    for (int c = 0; c < 3; ++c) {
      rows.Bri[row0 + k][c] = Bri[k][c];
      rows.Bpi[row0 + k][c] = Bpi[k][c];
      rows.Brj[row0 + k][c] = Brj[k][c];
      rows.Bpj[row0 + k][c] = Bpj[k][c];
    }
  }
}

}  // namespace orv
