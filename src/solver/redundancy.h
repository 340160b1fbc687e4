// Redundant constraint rows: a closed planar loop of revolution joints
// repeats three equations, which makes S = Cq Minv Cq^T singular. The rows
// that depend on earlier rows are found, reported and left out; their
// multipliers are zero.
#pragma once

#include <string>
#include <vector>

#include "solver/linalg.h"

namespace orv {

struct Model;
struct DynamicsWork;

// Walks the rows of S (symmetric positive semidefinite) in order and marks
// (1) a row whose part independent of the kept rows before it, relative to
// its own size, is at most `tol`: earlier rows are kept, later ones dropped.
std::vector<char> findDependentRows(const Mat& S, double tol);

// The tolerance for a system of `rows` rows on `cols` velocity components.
double redundancyTolerance(int rows, int cols);

// Dense S = Cq Minv Cq^T from the blocks of w.rows as they stand.
Mat multiplierMatrix(const Model& m, const DynamicsWork& w);

// Zeroes the blocks and right sides of the marked rows in w.rows and w.gamma.
void dropRows(DynamicsWork& w, const std::vector<char>& mask);

// "joint NAME, row K of N" or "motion NAME" for a global row.
std::string describeRow(const Model& m, const DynamicsWork& w, int row);

// The console report of a set of dropped rows ("" when none is dropped);
// `when` is "" at the start or " at t=..." during the run.
std::string redundancyReport(const Model& m, const DynamicsWork& w, const std::vector<char>& mask,
                             const std::string& when);

}  // namespace orv
