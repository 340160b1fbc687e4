#include "analysis/analysis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "analysis/run_state.h"
#include "dynamics/model_check.h"
#include "dynamics/start_check.h"
#include "expr/evaluator.h"
#include "model/histories.h"
#include "model/settings.h"
#include "platform/console.h"
#include "platform/platform.h"

namespace orv {

void Run::fail(double when) {
  // Equations that cannot be solved after a step too large for a spring are
  // the step diverging, not the mechanism.
  if (!tooStiff().empty()) {
    stop("The integration diverged in the step from t=" + shortNumber(when));
    return;
  }
  message = "The constraint equations cannot be solved at t=" + std::to_string(when) +
            " (singular or not finite); the run stops with the samples stored so far";
  observer.message(Severity::Error, message);
  status = AnalysisStatus::Failed;
  stopped = true;
}

void Run::interrupt() {
  // What is kept ends at the last sample stored, not at the step's end.
  message = "Stopped at t = " + shortNumber(h.p_time[h.anime_num - 1]) + " s";
  observer.message(Severity::Notice, message + "; the samples stored so far are kept");
  status = AnalysisStatus::Interrupted;
  stopped = true;
}

RunProgress Run::progress() const {
  RunProgress p;
  p.time = t;
  p.end_time =
      m.start_time + static_cast<double>(N > 1 ? (N - 1) * static_cast<long long>(K) : 0) * D;
  p.step = step;
  p.samples = h.anime_num;
  p.sample_total = N;
  p.energy = energy;
  p.ratio = ratio;
  return p;
}

void Run::stop(const std::string& why) {
  const std::string stiff = tooStiff();
  message =
      why + (stiff.empty() ? "" : "; " + stiff) + "; the run stops with the samples stored so far";
  observer.message(Severity::Error, message);
  status = AnalysisStatus::Stopped;
  stopped = true;
}

namespace {

// h rounded down to two significant digits: a d_time to write in a model.
double roundDown2(double h) {
  const double unit = std::pow(10.0, std::floor(std::log10(h)) - 1.0);
  return std::floor(h / unit * (1.0 + 1e-12)) * unit;
}

std::string springOf(const Model& m, int f) {
  const Force& e = m.forces[f];
  return "spring " + e.name + " (k=" + shortNumber(e.k[0]) + " N/m, c=" + shortNumber(e.c[0]) +
         " N s/m)";
}

}  // namespace

std::string Run::tooStiff() const {
  // The estimate is the explicit method's limit.
  if (s.integrator != Integrator::RungeKutta4 || stable.force < 0 || !(tried > stable.step))
    return "";
  return "the step " + shortNumber(tried) + " s is too large for the stiffness of " +
         springOf(m, stable.force) + ": the largest stable d_time estimated is " +
         shortNumber(roundDown2(stable.step)) + " s";
}

namespace {

// Samples lie at start + i D. A step that ends within this fraction of D of
// a sample time ends on it: rounding of the running time is not a step.
constexpr double kSampleTolerance = 1e-9;

// The histories made ready for the run; false, with the histories reset,
// when there is not memory enough for them.
bool startHistories(Run& r) {
  Histories& h = r.h;
  try {
    allocateHistories(r.m, h, r.w.kin, r.N);
  } catch (const std::bad_alloc&) {
    resetToInitialState(h, r.m);
    r.message = "Not enough memory to store the histories of " + std::to_string(r.N) + " samples";
    return false;
  }
  h.result_shape = resultShapeOf(r.m);
  h.channel_names.clear();  // the model's output requests, not an import's channels
  h.analysis_finished = 0;
  h.anime_num = 1;
  h.current_frame = 0;
  return true;
}

// Sample 0: the consistent initial state and its evaluation.
void firstSample(Run& r) {
  Histories& h = r.h;
  const size_t state = r.layout.size();
  r.t = r.m.start_time;
  r.w.kin.time = r.t;
  h.p_time[0] = r.t;
  cprintf("Time=%e\n", r.t);
  // Row 0 of the state history keeps the state made consistent with the
  // joints and motions.
  r.Y.assign(state, 0.0);
  initialAnalysis(r.m, r.w, r.t, r.Y.data());
  // TURN counts from the consistent start, in (-pi, pi] there.
  r.w.kin.turns = turnsRead(r.w.programs);
  countTurns(r);
  for (size_t i = 0; i < state; ++i) h.p_YYY[i] = r.Y[i];
  for (size_t k = 0; k < r.nj6; ++k) h.p_F_const[k] = r.w.kin.reactions[k] = 0.0;
  for (int k = 0; k < r.m.joint_num(); ++k) h.p_C_const[k] = 0.0;
  for (std::vector<double>* v : {&r.Ynew, &r.Ys, &r.X, &r.Xs, &r.k1, &r.k2, &r.k3, &r.k4})
    v->assign(state, 0.0);
  if (!evaluateSample(r, 0)) r.fail(r.t);
  storeOutputsAndContacts(r, 0);
  r.observer.sampleStored(r.m, h, 0, r.progress());
  cprintf("  Initial analysis completed\n");
}

// The step-size rule's scales and the run-time rules' limits at the start.
void startRules(Run& r) {
  const Model& m = r.m;
  r.step = r.D;
  // A coefficient of 0 or less would retry a step with contact at h = 0
  // forever; such a run keeps d_time as the contact step instead.
  const double coef = r.s.contact_time_step_coefficient;
  r.hc = coef > 0.0 ? coef * r.D : r.D;
  if (!(coef > 0.0) && m.contact_num() > 0)
    r.observer.message(Severity::Warning,
                       "Warning: contact_time_step_coefficient is not positive; steps with "
                       "contact are not shortened");
  // With contact, the energy change of a step is judged against |E0|, but
  // never against less than the work of lifting every body by the model's
  // size: the zero of potential energy is wherever the origin happens to be.
  r.Eref = 0.0;
  for (const Body& b : m.bodies) r.Eref += std::fabs(b.mass) * kGravityAcceleration * m.max_length;
  // The rules that stop a run judge against the run's energy scale, which is
  // never 0 (run_limits.h).
  r.limits =
      startLimits(m, r.w.inertia, r.Y.data(),
                  static_cast<double>(r.N > 1 ? (r.N - 1) * static_cast<long long>(r.K) : 0) * r.D);
  noteStep(r.limits, m, r.w, r.Y.data(), 0.0);
  r.stable = stableStepEstimate(m);
  if (r.s.integrator == Integrator::RungeKutta4 && r.stable.force >= 0 && r.D > r.stable.step)
    r.observer.message(Severity::Warning,
                       "Warning: d_time " + shortNumber(r.D) +
                           " s is larger than the largest stable step estimated for the "
                           "stiffness of " +
                           springOf(m, r.stable.force) + ", " +
                           shortNumber(roundDown2(r.stable.step)) + " s; the run may diverge");
  r.Estart = totalEnergy(m, r.s, r.w.inertia, r.Y.data());
}

// Steps from r.t to the sample time `target`: true when it got there, false
// when it stopped short (a step that did not end on the sample, or a run
// that stopped).
bool stepTowards(Run& r, double target) {
  // Far from 0 a time is not known closer than a few of its last bits.
  const double tolT = std::max(kSampleTolerance * r.D,
                               4.0 * std::fabs(target) * std::numeric_limits<double>::epsilon());
  r.ratio = 0.0;
  for (;;) {
    // The step that would pass the sample time ends on it; the step size
    // chosen goes on from `step` all the same.
    double hs = r.step, tEnd = r.t + r.step;
    const bool onSample = tEnd >= target - tolT;
    if (onSample && std::fabs(tEnd - target) > tolT) hs = target - r.t, tEnd = target;
    r.tried = hs;
    if (r.s.integrator == Integrator::Implicit) {
      bool retry = false;
      if (!implicitStep(r, hs, tEnd, retry)) {
        if (retry) continue;
        return false;
      }
    } else if (!rungeKuttaStep(r, hs, tEnd)) {
      return false;
    }
    switch (judgeStep(r, hs, tEnd)) {
      case Attempt::Retry: continue;
      case Attempt::Stopped: return false;
      case Attempt::Taken:
        r.observer.stepTaken(r.progress());
        if (onSample) return true;
        if (r.observer.stopRequested()) {
          r.interrupt();
          return false;
        }
    }
  }
}

// The end of a run: the samples actually stored, the result handed over.
// The pauses (opt.pauses) are for a window that shows the run as it ends;
// the batch program and the benchmarks go without them.
AnalysisStatus finish(Run& r, const SimulationOptions& opt, double clock0) {
  Histories& h = r.h;
  cprintf("Simulation End\n");
  cprintf("   %lf[s]\n", (monotonicMs() - clock0) / 1000.0);
  h.analysis_finished = 1;
  if (opt.pauses) sleepMs(100);
  // Only the samples actually stored may be shown: a run that stopped early
  // has fewer than the time span asks for.
  h.anime_num = r.ti;
  cprintf("   anime_num=%d\n", h.anime_num);
  cprintf("   ti=%d\n", r.ti);
  buildContactIndex(h, r.N);
  if (opt.pauses) sleepMs(100);
  std::string why;
  if (opt.store && !opt.store->keep(r.m, h, why)) {
    // A stopped run without its samples written is a failure too.
    r.message = (r.status == AnalysisStatus::Failed ? r.message + "; " : std::string()) +
                "The result file could not be written: " + why;
    r.status = AnalysisStatus::Failed;
  }
  if (opt.pauses) sleepMs(100);
  // A run that went to its end tells of the rows it had to leave out; one
  // that was stopped says why first.
  if (r.status == AnalysisStatus::Completed) r.message = r.w.notice;
  // Rows found dependent while a step too large for a spring diverged are
  // that divergence, not redundancy: the stop message says so instead.
  if (r.status == AnalysisStatus::Stopped && !r.w.notice.empty() && r.tooStiff().empty())
    r.message += "\n" + r.w.notice;
  return r.status;
}

}  // namespace

AnalysisStatus simulate(const Model& m, const Settings& s, Histories& h, std::string& message,
                        const SimulationOptions& opt) {
  message.clear();
  if (!checkModelForAnalysis(m, message)) return AnalysisStatus::Refused;
  if (opt.store && !opt.store->ready(message)) return AnalysisStatus::Refused;
  ConsoleObserver console;
  RunObserver& observer = opt.observer ? *opt.observer : console;
  for (const std::string& warning : contactStepWarnings(m, s))
    observer.message(Severity::Warning, warning);
  Run r(m, s, h, message, observer);
  cprintf("mbd analysis\n");
  setupDynamics(m, r.w);
  if (!checkStartOfRun(m, r.w, message)) return AnalysisStatus::Refused;
  // Projected after every step, the state is on the constraints at each
  // step's start: the stabilisation has nothing to correct there and only
  // its stiff terms in the steps' errors.
  if (s.constraint_projection) r.w.kin.stabilisation = 0.0;
  cprintf("Simulation Start\n");
  if (!startHistories(r)) return AnalysisStatus::Refused;
  firstSample(r);
  r.ti = 1;
  cprintf("Start integration\n");
  const double clock0 = monotonicMs();
  startRules(r);
  // The run steps onto every multiple of D and stores every K-th: the steps,
  // and so every stored value, are those of a run that stores them all.
  long long mark = 0;
  while (r.N >= 2 && r.ti < r.N && !r.stopped) {
    ++mark;
    const double target = m.start_time + static_cast<double>(mark) * r.D;
    if (!stepTowards(r, target)) continue;
    const bool stored = mark % r.K == 0;
    if (!evaluateSample(r, stored ? r.ti : -1)) {
      r.fail(r.t);
      break;
    }
    if (!stored) {
      if (r.observer.stopRequested()) r.interrupt();
      continue;
    }
    storeSample(r, r.ti, target);
    ++r.ti;
    // A stop asked for while stepping to this sample ends the run on it.
    if (r.ti < r.N && r.observer.stopRequested()) r.interrupt();
  }
  return finish(r, opt, clock0);
}

}  // namespace orv
