// The rows of one joint or motion as the sparse solver takes them: a few
// rows of 3-column blocks on the translational and rotational columns of at
// most two bodies.
#pragma once

namespace orv {

constexpr int kMaxJointRows = 6;

// Rows of one joint or motion: rows x 3 blocks on the translational (r) and
// rotational (pi) columns of body i and body j, and the right side gamma of
// the acceleration equation. bj = -1 when only body i takes part.
struct ConstraintRows {
  int nrows = 0;
  int bi = -1, bj = -1;
  double Bri[kMaxJointRows][3];
  double Bpi[kMaxJointRows][3];
  double Brj[kMaxJointRows][3];
  double Bpj[kMaxJointRows][3];
  double gamma[kMaxJointRows];
  double violation = 0.0;  // position-level violation measure of the monitor
};

// Clears `rows` for n rows between bodies bi and bj.
void clearRows(ConstraintRows& rows, int n, int bi, int bj);

// Writes four nrows x 3 blocks at row0 of `rows` (the primitives' results).
void insertJointBlocks(ConstraintRows& rows, int row0, int nrows, const double (*Bri)[3],
                       const double (*Bpi)[3], const double (*Brj)[3], const double (*Bpj)[3]);

}  // namespace orv
