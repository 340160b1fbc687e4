// Straightforward dense forms of what the analysis computes in block form,
// for the tests and benchmarks to compare against.
#pragma once

#include <vector>

#include "dynamics/dynamics.h"

namespace orvref {

// computeStateDerivative with the multipliers from dense matrices: Minv
// (6nb x 6nb), Cq, S = Cq Minv Cq^T + 1 on the dropped rows, solved by LU.
// No run-time search for dependent rows: false when S cannot be solved.
bool denseStateDerivative(const orv::Model& m, const orv::Settings& s, orv::Histories& h,
                          orv::DynamicsWork& w, double t, const double* Y, double* dY,
                          std::vector<int>& motionDofs);

// Walks the rows of S (symmetric positive semidefinite) in order and marks
// a row whose part independent of the kept rows before it, relative to its
// own size, is at most `tol`: earlier rows are kept, later ones dropped.
std::vector<char> dependentRows(const orv::Mat& S, double tol);

}  // namespace orvref
