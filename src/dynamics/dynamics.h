// The equations of motion of an analysis: the state derivative as a list of
// stages, each a function in the file named for it. Joint and motion
// constraints enter through Lagrange multipliers; the velocities of
// motion-driven bodies are prescribed by a partitioned velocity solve.
#pragma once

#include <string>
#include <vector>

#include "contact/contact.h"
#include "expr/evaluator.h"
#include "joints/constraints.h"
#include "joints/motions.h"
#include "math/linalg.h"
#include "math/sparse_rows.h"
#include "math/sparse_system.h"
#include "model/kinematics.h"
#include "model/settings.h"

namespace orv {

struct Model;
struct Settings;
struct Histories;

// What one analysis keeps between evaluations: what stays constant through
// the run, and the state of the evaluation in progress, reused so that an
// evaluation allocates little. Made afresh for every run.
struct DynamicsWork {
  // The per-step expressions, compiled and bound to the run's model.
  ModelPrograms programs;

  // Constant through the run.
  std::vector<double> inertia;    // 9nb: inertia tensors J in global axes, row-major
  std::vector<BodyInverse> minv;  // per body: 1/m and J^-1
  std::vector<int> rowStart;      // first row of each joint, then of each motion
  int ncon = 0;                   // constraint rows
  // Rows left out as redundant, found at the initial configuration (per
  // global row; empty when none).
  std::vector<char> dropped;

  // The evaluation in progress. kin: what expressions, joints and force
  // elements read (time, state, rotations); Y its state with round-off zeroed
  // and the driven velocities prescribed.
  Kinematics kin;
  std::vector<double> Y;
  std::vector<double> F, N;  // 3nb each: applied forces (global) and torques (body axes)
  // Loads of the force elements alone, per body: F (global) and N (body
  // axes). The run-time rules bound speeds by their work.
  std::vector<double> elementF, elementN;
  std::vector<double> Q;             // 6nb: generalized loads (StateLayout trans/rot)
  std::vector<double> acc;           // 6nb: accelerations, same layout
  std::vector<double> q6;            // 6nb scratch, per body (translational, rotational)
  std::vector<ConstraintRows> rows;  // one entry per joint, then per motion
  Vec gamma;                         // ncon: right sides of the acceleration equations
  Vec lambda;                        // multipliers of the last evaluation
  BlockSystem system;                // S in block form and its factor
  std::vector<SystemEntry> entries;  // the bodies of each entry, as analysed
  std::vector<double> rhs;           // ncon scratch
  SparseRows jacobian;               // Cq by rows, for the initial analysis (fillSparseJacobian)
  Mat Cq;                            // Cq dense (fillDenseJacobian): its print, the tests
  // Which side of the evaluation's time the motions' rates are differentiated
  // on (set by the integrator per stage), and the rates of the last assembly.
  RateSide rateSide = RateSide::Central;
  std::vector<MotionRate> rates;
  // Whether an evaluation writes its sample row of the violation and force
  // histories: only the evaluation of a sample's own state does, so that the
  // rows hold that state's values and not those of a stage or sub-step near it.
  bool recordRows = false;
  // Contact: whether an evaluation of the step in progress found any (the
  // integrator clears it per step), and the records of the latest evaluation.
  bool contact = false;
  // What the friction of the evaluations since it was last cleared asks of
  // the step (applyContactWithRate), merged.
  FrictionBound friction;
  std::vector<ContactRecord> contacts;
  // The stiction anchors of the run (moveStickAnchors): read by every
  // evaluation, moved only after a step is accepted.
  std::vector<StickAnchor> anchors;
  // The detection of the state the anchors were last moved to, for the
  // evaluations at that state (KeptDetection); cleared when a run starts.
  KeptDetection kept;

  // Whether a system that loses rank during the run is solved by damped
  // least squares (set from the settings' constraint_projection per
  // evaluation) rather than by leaving out the rows that depend on others.
  bool damped = false;

  bool velocityWarned = false;           // the singular-velocity warning is printed once
  std::vector<char> lastRuntimeDropped;  // the run-time set of dropped rows last reported
  std::string notice;                    // the reports of dropped rows
};

// ---- dynamics.cpp: setup and the list of stages -----------------------------

// Inertia tensors J = A0 J' A0^T in global axes of every body (9 each,
// row-major), A0 the axes of its centre-of-gravity local coordinate.
std::vector<double> inertiaTensors(const Model& m);

// Fills the constant part of w (inertia tensors and their inverses, row
// layout), sizes the work arrays and binds the per-step expressions to m (so
// m must not change until the run ends). Prints "Jd matrix" and each J.
void setupDynamics(const Model& m, DynamicsWork& w);

// dY of state Y at time t; fills motionDofs with six velocity indices per
// motion-driven body. The velocities of the motion-driven bodies (and of the
// bodies joined to them) are solved at Y's own positions and time before
// anything reads them. w.lambda holds the multipliers afterwards (joint
// reactions: extractJointReactions). dY's last block is as stateRates writes
// it for s.rotation. False when the constraint system cannot be solved
// (singular or not finite); dY is then left untouched. h takes the
// violation and force rows when w.recordRows is set.
bool computeStateDerivative(const Model& m, const Settings& s, Histories& h, DynamicsWork& w,
                            double t, const double* Y, double* dY, std::vector<int>& motionDofs);

// ---- driven_velocities.cpp: the velocities the motions prescribe ------------

// Solves the velocity components of motion-driven bodies and the bodies
// joined to them (and those listed in mb) from Cq qdot = eta; every other
// component keeps its value. False, with qdot unchanged, when the determined
// block is singular.
bool solveVelocities(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                     const Mat& Cq);
// The same on the Jacobian blocks of w.rows, without a dense Cq.
bool solveVelocities(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                     const DynamicsWork& w);
// The same on Cq kept by rows: the numbers of the dense form to the bit.
bool solveVelocities(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                     const SparseRows& Cq);

// Solves the velocities of the motion-driven bodies and of the bodies joined
// to them from the velocity constraints at the positions of Y and time t and
// writes them into Y (v and the Euler-parameter rates); w.kin's rotations
// are those of the new Y afterwards. Nothing is recorded in the histories.
// False, with Y's velocities kept, when the velocity block is singular.
bool prescribeDrivenVelocities(const Model& m, DynamicsWork& w, double t, double* Y);

// The stage: prescribes the driven velocities of w.Y (warning once when
// they cannot be solved) and lists six velocity indices per driven body.
void drivenVelocities(const Model& m, DynamicsWork& w, double t, std::vector<int>& motionDofs);

// ---- applied_forces.cpp: gravity, force elements, gyroscopic terms ----------

// w.F and w.N from gravity and the force elements at state Y (records the
// elements in h's row storeRow, none for -1); w.elementF/N the elements' part.
void appliedForces(const Model& m, Histories& h, DynamicsWork& w, const double* Y, double t,
                   int storeRow);

// Q = (F, N - omega x J omega) for every body.
void generalizedForces(const Model& m, DynamicsWork& w);

// ---- constraint_rows.cpp: the rows of the joints and motions ----------------

// Evaluates every joint and motion at (Y, t) into w.rows and w.gamma (the
// motions' rates into w.rates).
void assembleConstraints(const Model& m, DynamicsWork& w, const double* Y, double t);

// Stores the violation of every joint and motion of w.rows in the sample row of t.
void recordViolations(const Model& m, Histories& h, const DynamicsWork& w, double t);

// Writes the dense Jacobian w.Cq (ncon x 6nb) from w.rows.
void fillDenseJacobian(const Model& m, DynamicsWork& w);
// Writes the same Jacobian kept by rows into w.jacobian.
void fillSparseJacobian(const Model& m, DynamicsWork& w);

// ---- multipliers.cpp: S lambda = Cq Minv Q - gamma ---------------------------

// w.lambda and the constrained accelerations w.acc = Minv (Q - Cq^T lambda)
// from the rows at (Y, t). When S loses rank at this configuration (a
// mechanism passing through a singular position; with w.damped, already
// where a pivot falls below kSingularDamping of its diagonal), w.damped
// solves S + kSingularDamping diag(S) instead; otherwise the rows that depend on
// others here are found, reported and left out of this evaluation. False
// when the system cannot be solved.
bool solveMultipliers(const Model& m, Histories& h, DynamicsWork& w, const double* Y, double t);

// Damping of the multiplier system near a singular position, and the
// relative pivot below which S counts as near singular: far above the
// round-off of S's pivots, far below those of a long chain that is not.
constexpr double kSingularDamping = 1e-8;

// Sizes w.entries and w.system for the bodies of w.rows (analysed again only
// when they change).
void analyseSparsity(DynamicsWork& w);

// ---- projection.cpp: a state moved back onto the constraints ---------------

// Moves the positions of Y onto the joints' position constraints (Newton
// iterations, Euler parameters made unit) and then its velocities onto their
// velocity constraints, each by the smallest mass-weighted correction; the
// rows of motions keep their values, those of w.dropped are left out. False,
// with Y untouched, when S cannot be factored even damped.
bool projectOntoConstraints(const Model& m, DynamicsWork& w, double t, double* Y);

// ---- accelerations.cpp: the state derivative --------------------------------

// dY from Y, its angular velocities w.kin.omega and the accelerations w.acc:
// to first order in rotation the last block of dY holds the angular
// accelerations (StateLayout::w), to second order the Euler parameters'
// second derivatives.
void stateRates(const Model& m, const DynamicsWork& w, const double* Y, double* dY,
                RotationIntegration rotation = RotationIntegration::FirstOrder);

// ---- reactions.cpp: joint reactions -----------------------------------------

// Reaction wrench on the i body of every joint (force global, torque body
// axes; six zeros for "ground"): -B^T lambda, 6 values per joint into out.
void extractJointReactions(const Model& m, const DynamicsWork& w, const Vec& lambda, double* out);

// ---- initial_state.cpp: the consistent initial state -------------------------

// The consistent initial state of an analysis: model velocities, with those
// of motion-driven bodies solved from the velocity constraints, all bodies
// at their initial configuration. Leaves out the redundant rows (w.dropped)
// and reports them. Reads w.kin.time.
void initialAnalysis(const Model& m, DynamicsWork& w, double t, double* Y);

}  // namespace orv
