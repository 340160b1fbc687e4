// Redundant constraint rows: a closed planar loop of revolution joints
// repeats three equations, which makes S = Cq Minv Cq^T singular. The rows
// that depend on earlier rows are found, reported and left out; their
// multipliers are zero.
//
// A row depends on the rows kept before it when its part independent of them
// is at most kRedundancyTolerance of its own size, both measured in a
// mass-scaled metric: the inverse mass of each body, and for its rotation
// the inverse of its mean moment of inertia (isotropic, so that a slender
// body's small axial moment does not make the test ill-conditioned). Units
// of rows and bodies drop out, and nothing depends on the number of rows.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "math/linalg.h"

namespace orv {

struct Model;
struct DynamicsWork;

// Sine of the angle between a row and the span of the rows kept before it
// below which the row counts as dependent.
constexpr double kRedundancyTolerance = 1e-6;

// A dropped row as the combination of kept rows it equals: row = sum c_k row_k.
struct RowCombination {
  int row = -1;
  std::vector<std::pair<int, double>> terms;  // (global row, c_k)
};

struct RowDependence {
  std::vector<char> dropped;                 // per global row, the `absent` ones included
  std::vector<double> size2;                 // per global row: its squared size in that metric
  std::vector<RowCombination> combinations;  // of the rows dropped here, when asked for
};

// The rows of w.rows (as assembled) that depend on earlier rows; rows marked
// in `absent` are already left out. Taking the entries (joints, then
// motions) in order, one that joins a body to a part of the model not yet
// joined to it and not fixed in space cannot repeat an earlier row: every
// earlier row is unchanged by a rigid motion of that part, while its own
// rows on that body are not, unless they depend on each other there (the
// test above, in that body's metric). Only loop-closing entries, motions
// and such rows are tested against all the others, through the Schur
// complement of S. In exact arithmetic these are the rows a test of the
// whole S in row order finds; where S is nearly singular although no row repeats
// another (a long chain, a light link carrying a heavy one), the structure
// decides, so an open chain keeps all its rows. False, with nothing decided,
// when a row or an inverse mass is not finite or the rows so decided cannot
// be factored.
bool findRedundantRows(const Model& m, const DynamicsWork& w, const std::vector<char>& absent,
                       RowDependence& out, bool combinations = false);

// The rows to leave out of an evaluation during the run whose S could not be
// factored: those left out from the start and those that depend on others
// at this state (a mechanism passing through a singular position); new sets
// are reported on the console and in w.notice. False when the rows are not
// finite, and for a state whose Euler parameters are far off the unit sphere
// (a step that diverged): such a state is no configuration, its rows say
// nothing about the model, and the evaluation fails rather than go on with
// rows left out.
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
