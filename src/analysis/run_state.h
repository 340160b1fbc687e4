// What one run of the integrator carries from step to step, shared by the
// parts of the driver (analysis.h lists them). Made afresh for every run.
#pragma once

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/observer.h"
#include "analysis/run_limits.h"
#include "dynamics/dynamics.h"
#include "model/model.h"
#include "model/state_layout.h"

namespace orv {

// The implicit method's Newton matrix, kept from step to step
// (implicit_step.cpp).
struct NewtonMatrix;
struct NewtonMatrixDeleter {
  void operator()(NewtonMatrix* p) const;
};

struct Run {
  Run(const Model& model, const Settings& settings, Histories& hist, std::string& msg,
      RunObserver& obs)
      : m(model),
        s(settings),
        h(hist),
        message(msg),
        observer(obs),
        layout{model.body_num()},
        N(model.sample_num),
        D(model.d_time),
        K(std::max(1, model.steps_per_sample)),
        nj6(6 * static_cast<size_t>(model.joint_num())) {}

  const Model& m;
  const Settings& s;
  Histories& h;
  std::string& message;  // why a run was refused, failed or stopped
  RunObserver& observer;
  DynamicsWork w;
  const StateLayout layout;
  const int N;       // samples stored
  const double D;    // the longest step; the run steps onto every multiple of it
  const int K;       // multiples of D per stored sample
  const size_t nj6;  // joint reactions per sample

  double t = 0.0;     // time of Y
  double step = 0.0;  // the next step size, as the step-size rule chose it
  int ti = 1;         // the next sample to store
  std::vector<double> Y, Ynew, Ys, k1, k2, k3, k4;
  // To first order in rotation: Y and a stage state with the angular
  // velocities in the place of the Euler-parameter rates (rk4_step.cpp).
  std::vector<double> X, Xs;
  std::vector<double> reactions;  // of a multiple of D that is not stored
  Kinematics accepted;            // rotations of the latest accepted state (TURN counts)
  std::vector<int> dofs;
  // The evaluation of the sample just stored is the first stage of the step
  // that follows (haveK1), with the contact it found.
  bool haveK1 = false;
  bool k1Contact = false;
  std::unique_ptr<NewtonMatrix, NewtonMatrixDeleter> newton;  // INTEGRATOR implicit

  // What the step-size rule and the stop rules judge against.
  double hc = 0.0;      // the step with contact
  double Eref = 0.0;    // energy never judged against less than this
  double Estart = 0.0;  // energy at the start
  RunLimits limits;
  StableStep stable;    // the explicit step the stiffest spring allows
  double tried = 0.0;   // the size of the latest step attempted
  double energy = 0.0;  // of the latest attempt's new state (console)
  double ratio = 0.0;   // of the latest attempt (console)

  AnalysisStatus status = AnalysisStatus::Completed;
  bool stopped = false;

  // The run stops because the constraint equations cannot be solved at `when`.
  void fail(double when);
  // The run stops by a run-time rule, `why`.
  void stop(const std::string& why);
  // Why a run that went wrong did, when the step attempted was larger than
  // the stable step estimated for the stiffest spring: that step, the spring
  // and the estimate. Empty otherwise.
  std::string tooStiff() const;
  // The run ends at the end of the step just taken: its observer asked.
  void interrupt();
  // Where the run stands, for the observer.
  RunProgress progress() const;
};

// v as "%g" prints it.
inline std::string shortNumber(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", v);
  return b;
}

// ---- rk4_step.cpp ------------------------------------------------------------

// One stage: time and state published, then f(ts, in) into k.
bool stage(Run& r, double ts, const std::vector<double>& in, std::vector<double>& k, RateSide side);
// X from Y: w' = 2 G(p) p' in the place of p'.
void toAngularVelocity(const StateLayout& L, const std::vector<double>& Y, std::vector<double>& X);
// Y from X: p scaled to unit length, p' = G(p)^T w' / 2.
void toEulerRates(const StateLayout& L, const std::vector<double>& X, std::vector<double>& Y);

// One fourth-order Runge-Kutta step of hs from (r.t, r.Y) into r.Ynew, its
// driven velocities those of its own positions at tEnd. False when a stage
// cannot be solved; the run is then stopped (a state that diverged) or failed.
bool rungeKuttaStep(Run& r, double hs, double tEnd);

// ---- implicit_step.cpp ---------------------------------------------------------

// One step of the three-stage, L-stable singly diagonally implicit
// Runge-Kutta method from (r.t, r.Y) into r.Ynew, as rungeKuttaStep: for
// stiff models, where the explicit step would have to be short. Its error
// sets r.step. False with `retry` when the step is to be tried again at the
// shorter r.step (an error beyond the tolerance, iterations that did not
// settle); false without it when the run stopped.
bool implicitStep(Run& r, double hs, double tEnd, bool& retry);

// ---- step_size.cpp -------------------------------------------------------------

enum class Attempt { Retry, Taken, Stopped };

// Judges the step just computed (r.Ynew, a step of hs ending at tEnd): sets
// the next step size, then retries it, takes it (r.t, r.Y move on) or stops
// the run by a run-time rule.
Attempt judgeStep(Run& r, double hs, double tEnd);

// ---- samples.cpp ---------------------------------------------------------------

// Moves the TURN counts (r.w.kin.turns) and the stiction anchors
// (r.w.anchors) of the run on to r.Y, a state the run has accepted: at the
// start and after every step taken.
void countTurns(Run& r);

// Reallocates every history for N samples, and the state and reactions the
// expressions read, with the console label of each.
void allocateHistories(const Model& m, Histories& h, Kinematics& kin, int N);

// The evaluation of the state of sample ti (r.Y at r.t): its joint reactions,
// violations and element forces are what the result file stores and the
// outputs read, and it is the first stage of the step that follows. False
// when it cannot be solved. With ti = -1 (a multiple of D between stored
// samples) it is the same evaluation, the same first stage, and nothing of it
// is recorded.
bool evaluateSample(Run& r, int ti);

// Stores sample ti at time `at`: state, outputs, contacts; the progress line
// every tenth sample.
void storeSample(Run& r, int ti, double at);

// The outputs of sample ti and the contact records of its evaluation.
void storeOutputsAndContacts(Run& r, int ti);

// The first contact record and the record count of each of the N samples.
void buildContactIndex(Histories& h, int N);

}  // namespace orv
