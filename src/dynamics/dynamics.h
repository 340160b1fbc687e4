// The equations of motion: state derivative with Lagrange multipliers for the
// joint and motion constraints, and the partitioned velocity solve that
// prescribes the velocities of motion-driven bodies.
#pragma once

#include <string>
#include <vector>

#include "expr/evaluator.h"
#include "joints/constraints.h"
#include "joints/motions.h"
#include "math/linalg.h"
#include "math/sparse_system.h"

namespace orv {

struct Model;
struct Settings;
struct Histories;

// What one analysis keeps between evaluations: the constant inverse mass
// blocks and scratch space reused so that an evaluation allocates little.
struct DynamicsWork {
  // The per-step expressions, compiled and bound to the run's model.
  ModelPrograms programs;
  // The straightforward computation with dense matrices (6nb x 6nb inverse
  // mass matrix, dense Jacobian, LU of S). Kept for tests and benchmarks.
  bool densePath = false;
  std::vector<BodyInverse> minv;     // per body: 1/m and the inverse inertia tensor
  Mat Minv;                          // dense 6nb x 6nb, built for the dense path only
  std::vector<ConstraintRows> rows;  // one entry per joint, then per motion
  std::vector<int> rowStart;         // first row of each entry in Cq
  int ncon = 0;
  Mat Cq;                            // dense ncon x 6nb, filled by fillDenseJacobian
  Vec gamma;                         // ncon
  Vec lambda;                        // multipliers of the last evaluation
  BlockSystem system;                // S in block form and its factor
  std::vector<SystemEntry> entries;  // the bodies of each entry, as analysed
  std::vector<double> Y, F, N, Q, acc, rhs;
  bool velocityWarned = false;       // the singular-velocity warning is printed once
  // Which side of the evaluation's time the motions' rates are differentiated
  // on (set by the integrator per stage), and the rates of the last assembly.
  RateSide rateSide = RateSide::Central;
  std::vector<MotionRate> rates;
  // Whether an evaluation writes its sample row of the violation and force
  // histories: only the evaluation of a sample's own state does, so that the
  // rows hold that state's values and not those of a stage or sub-step near it.
  bool recordRows = false;
  // Loads of the force elements alone in the last evaluation, per body: F
  // (global) and N (body axes). The run-time rules bound speeds by their work.
  std::vector<double> elementF, elementN;
  // Rows left out as redundant (per global row; empty when none): found at
  // the initial configuration, and again at the configuration where S
  // cannot be factored during the run (for that evaluation only).
  std::vector<char> dropped;
  std::vector<char> lastRuntimeDropped;  // the run-time set last reported
  std::string notice;                    // the reports of dropped rows
};

// Builds M (masses, inertia tensors J = A0 J' A0^T in global axes) and Minv,
// fills h.inertia, sizes the work arrays and binds the per-step expressions
// to m (so m must not change until the run ends). Prints "Jd matrix" and each J.
void setupDynamics(const Model& m, Histories& h, DynamicsWork& w);

// Sets h.p, h.pd, h.omega and h.A from the Euler parameters of Y.
void publishKinematics(const Model& m, Histories& h, const double* Y);

// Evaluates every joint and motion at (Y, t) into w.rows and w.gamma (the
// motions' rates into w.rates), and with `record` stores the violations in
// the sample row of h.p_C_const.
void assembleConstraints(const Model& m, Histories& h, DynamicsWork& w, const double* Y, double t,
                         bool record = true);

// Writes the dense Jacobian w.Cq (ncon x 6nb) from w.rows.
void fillDenseJacobian(const Model& m, DynamicsWork& w);

// Reaction wrench on the i body of every joint (force global, torque body
// axes; six zeros for "ground"): -B^T lambda, 6 values per joint into out.
void extractJointReactions(const Model& m, const DynamicsWork& w, const Vec& lambda, double* out);

// dY of state Y at time t; fills motionDofs with six velocity indices per
// motion-driven body. The velocities of the motion-driven bodies (and of the
// bodies joined to them) are solved at Y's own positions and time before
// anything reads them. w.lambda holds the multipliers afterwards (joint
// reactions: extractJointReactions). False when the constraint system cannot
// be solved (singular or not finite); dY is then left untouched.
bool computeStateDerivative(const Model& m, const Settings& s, Histories& h, DynamicsWork& w,
                            double t, const double* Y, double* dY, std::vector<int>& motionDofs);

// Solves the velocity components of motion-driven bodies and the bodies
// joined to them (and those listed in mb) from Cq qdot = eta; every other
// component keeps its value. False, with qdot unchanged, when the determined
// block is singular.
bool solveVelocities(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                     const Mat& Cq);
// The same on the Jacobian blocks of w.rows, without a dense Cq.
bool solveVelocities(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                     const DynamicsWork& w);

// Solves the velocities of the motion-driven bodies and of the bodies joined
// to them from the velocity constraints at the positions of Y and time t and
// writes them into Y (v and the Euler-parameter rates); h's kinematics are
// those of the new Y afterwards. Nothing is recorded in the histories. False,
// with Y's velocities kept, when the velocity block is singular.
bool prescribeDrivenVelocities(const Model& m, Histories& h, DynamicsWork& w, double t, double* Y);

// The consistent initial state of an analysis: model velocities, with those
// of motion-driven bodies solved from the velocity constraints.
void initialAnalysis(const Model& m, Histories& h, DynamicsWork& w, double t, double* Y);

}  // namespace orv
