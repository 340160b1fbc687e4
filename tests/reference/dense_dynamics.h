// Straightforward dense forms of what the analysis computes in block form,
// for the tests and benchmarks to compare against.
#pragma once

#include <vector>

#include "dynamics/dynamics.h"

namespace orvref {

// lambda and acc of the evaluation w holds (Q, rows, gamma, dropped rows) by
// S = Cq Minv Cq^T (+1 on dropped rows) solved by LU, acc = Minv (Q - Cq^T
// lambda). Fills w.Cq. False when S cannot be solved.
bool denseMultipliers(const orv::Model& m, orv::DynamicsWork& w, orv::Vec& lambda, orv::Vec& acc);

// The initial analysis as it was before it went sparse: the dense Cq
// printed in full, the velocities solved on it, their correction by LU on the
// dense S. Redundant rows as initialAnalysis finds them.
void denseInitialAnalysis(const orv::Model& m, orv::DynamicsWork& w, double t, double* Y);

// Marks, in row order, the rows of S (symmetric positive semidefinite) whose
// part independent of the kept rows before them is at most tol of their size.
std::vector<char> dependentRows(const orv::Mat& S, double tol);

}  // namespace orvref
