// Redundant constraint rows: a closed planar loop of revolution joints
// repeats three equations, which makes S = Cq Minv Cq^T singular. The rows
// that depend on earlier rows are found, reported and left out; their
// multipliers are zero.
//
// A row depends on the rows kept before it when its part independent of them
// is at most kRedundancyTolerance of its own size, both measured in the
// inverse-mass metric (the norms S gives). Units of rows and bodies drop out,
// and nothing depends on the number of rows.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "solver/linalg.h"

namespace orv {

struct Model;
struct DynamicsWork;

// Sine of the angle between a row and the span of the rows kept before it
// below which the row counts as dependent.
constexpr double kRedundancyTolerance = 1e-6;

// Walks the rows of S (symmetric positive semidefinite) in order and marks
// (1) a row whose part independent of the kept rows before it, relative to
// its own size, is at most `tol`: earlier rows are kept, later ones dropped.
std::vector<char> findDependentRows(const Mat& S, double tol);

// A dropped row as the combination of kept rows it equals: row = sum c_k row_k.
struct RowCombination {
  int row = -1;
  std::vector<std::pair<int, double>> terms;  // (global row, c_k)
};

struct RowDependence {
  std::vector<char> dropped;                 // per global row, the `absent` ones included
  std::vector<double> size2;                 // per global row: S_kk, its squared size
  std::vector<RowCombination> combinations;  // of the rows dropped here, when asked for
};

// The rows of w.rows (as assembled) that depend on earlier rows, with the
// test above; rows marked in `absent` are already left out. The same rows as
// findDependentRows on the whole S, without forming it: an entry (joint or
// motion, in order) that joins a body to a part of the model not yet joined
// to it and not fixed in space cannot repeat an earlier row, since every
// earlier row is unchanged by a rigid motion of that part while its own rows
// on that body are not. Only loop-closing entries, motions and rows that
// depend on each other on that body are tested against the others, through
// the Schur complement of the rows so decided. An open chain thus keeps all
// its rows however badly conditioned its S is. False, with nothing decided,
// when a row or an inverse mass is not finite or the decided rows cannot be
// factored.
bool findRedundantRows(const Model& m, const DynamicsWork& w, const std::vector<char>& absent,
                       RowDependence& out, bool combinations = false);

// The rows to leave out of an evaluation during the run whose S could not be
// factored: those left out from the start and those that depend on others
// at this state (a mechanism passing through a singular position); new sets
// are reported on the console and in w.notice. A state whose Euler
// parameters have left the unit sphere (a step that diverged) is no
// configuration, and its rows say nothing about redundancy: only the rows
// left out from the start are. False when the rows are not finite.
bool runtimeDroppedRows(const Model& m, DynamicsWork& w, const double* Y, double t,
                        std::vector<char>& here);

// Dense S = Cq Minv Cq^T from the blocks of w.rows as they stand.
Mat multiplierMatrix(const Model& m, const DynamicsWork& w);

// Zeroes the blocks and right sides of the marked rows in w.rows and w.gamma.
void dropRows(DynamicsWork& w, const std::vector<char>& mask);

// "joint NAME, row K of N" or "motion NAME" for a global row.
std::string describeRow(const Model& m, const DynamicsWork& w, int row);

// Index of the joint (0..nj-1) or motion (nj..) a global row belongs to; -1 for none.
int entryOfRow(const Model& m, const DynamicsWork& w, int row);

// The console report of a set of dropped rows ("" when none is dropped);
// `when` is "" at the start or " at t=..." during the run.
std::string redundancyReport(const Model& m, const DynamicsWork& w, const std::vector<char>& mask,
                             const std::string& when);

}  // namespace orv
