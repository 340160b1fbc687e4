// The multiplier system S = Cq Minv Cq^T in block form. Minv is block
// diagonal (a mass and an inertia block per body) and every joint or motion
// touches at most two bodies, so S is block sparse: for a chain it is block
// tridiagonal. It is factored by a block Cholesky factorisation in an
// elimination order chosen once per run (minimum degree), which keeps the
// fill of chains and trees at zero.
#pragma once

#include <cstddef>
#include <vector>

#include "math/block_rows.h"

namespace orv {

// One joint or motion: its rows and the bodies its blocks act on.
struct SystemEntry {
  int nrows = 0;
  int body[2] = {-1, -1};  // the bodies the rows touch (second -1 if only one)
};

// Inverse mass blocks of one body.
struct BodyInverse {
  double invMass = 0.0;
  double invJ[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};  // inverse inertia tensor, row-major
};

class BlockSystem {
 public:
  // Fixes the sparsity pattern and the elimination order for these entries.
  void analyse(const std::vector<SystemEntry>& entries);
  // Builds S from the entries' rows and factors it; false when S is not
  // positive definite (dependent rows): a pivot at most the pivot tolerance
  // times its row's diagonal, or not finite.
  bool factor(const std::vector<ConstraintRows>& rows, const std::vector<BodyInverse>& minv);
  // Relative size below which a pivot counts as lost. The default flags rows
  // that may have become dependent; once the rows are known to be
  // independent, 0 accepts every positive pivot of an ill-conditioned S.
  void setPivotTolerance(double tol) { pivotTol_ = tol; }
  static constexpr double kDefaultPivotTolerance = 1e-12;
  // Factors S + mu diag(S) instead of S (damped least squares): a direction
  // in which S is nearly singular gets a multiplier of at most about
  // 1/mu times its right side, the others one changed by about mu. 0: none.
  void setDamping(double mu) { damping_ = mu; }
  // Rows left out of the system (all-zero rows): they get a unit diagonal,
  // so their multipliers come out as their right sides, which are zero.
  void setDroppedRows(const std::vector<char>& mask) { dropped_ = mask; }
  // Solves S x = b in place (b indexed by global row, entries in model order).
  void solve(double* b) const;
  int rowCount() const { return nrows_; }

 private:
  struct Block {
    int row;    // entry index of the block row
    size_t at;  // offset of its values in data_
  };
  std::vector<SystemEntry> entries_;
  std::vector<int> rowStart_;  // first global row of each entry
  std::vector<int> order_;     // elimination order (entry indices)
  std::vector<int> pos_;       // position of each entry in order_
  std::vector<std::vector<Block>>
      col_;  // per entry (as column): its diagonal block first, then the blocks below, by position
  std::vector<double> data_;
  int nrows_ = 0;
  std::vector<double> sdiag_;  // diagonal of S before elimination
  std::vector<char> dropped_;  // per global row
  double pivotTol_ = kDefaultPivotTolerance;
  double damping_ = 0.0;

  double* block(int row, int column);
  // S from the entries' rows into data_, with the dropped rows' unit
  // diagonal and sdiag_; false when a block is missing from the pattern.
  bool assemble(const std::vector<ConstraintRows>& rows, const std::vector<BodyInverse>& minv);
  // Eliminates entry k: factors its diagonal block, scales the blocks below
  // and updates the Schur complement; false for a lost pivot.
  bool eliminate(int k);
};

// One entry's rows on one body: 6 columns per row (3 translational, 3 rotational).
// Fills out (nrows x 6) with the blocks of `rows` that act on `body`, false if none.
bool entryBlock(const ConstraintRows& rows, int body, double* out);

}  // namespace orv
