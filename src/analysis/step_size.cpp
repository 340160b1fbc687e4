// The step-size rule and the run-time rules judged on every step. Without
// contact a step grows by half (up to the sample interval D); with contact
// it doubles while the energy changes by at most 1e-4 of its scale, and
// falls back to the contact step hc otherwise, retrying the step when it
// was longer. Friction near rest bounds the step with contact as well.
// (The implicit method sets its steps by its error, implicit_step.cpp; only
// the run-time rules here judge them.)
#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/run_state.h"
#include "model/settings.h"

namespace orv {

namespace {

// Near rest regularised friction is a damper: its motions decay at a rate
// lambda (FrictionBound), and the classical Runge-Kutta method follows a
// decay only while lambda h <= 2.785 (|R(-2.785)| = 1); beyond, the sliding
// speed grows from step to step. The step with contact is kept to
//   hf = 2.7 / lambda,
// where a slip still falls to R(-2.7) = 0.88 of itself per step, taken down
// to the ladder hc 2^(k/8) (k whole) so that nearby states step alike and a
// run started at another time takes the same steps; a step longer than
// 1.1 hf is repeated at hf. lambda is that of the points sliding slower than
// v_d, or of every point for a step of hs long enough for friction to bring
// a faster one to rest: such a step can jump across the narrow band around
// rest where the damper acts, so that no stage sees it, and a body then
// hops to and fro about rest instead of stopping.
constexpr double kFrictionStepRate = 2.7;
constexpr double kFrictionRetry = 1.1;

double frictionStep(const Run& r, double hs) {
  const FrictionBound& f = r.w.friction;
  const double lambda = hs > f.reach ? std::max(f.slow, f.all) : f.slow;
  if (!(lambda > 0.0)) return std::numeric_limits<double>::infinity();
  const double rungs = std::floor(8.0 * std::log2(kFrictionStepRate / (lambda * r.hc)));
  return r.hc * std::exp2(0.125 * rungs);
}

// The next step size after an attempt of hs whose energy went from E0 to E1;
// true when the attempt is accepted, retry when it asks to be repeated.
bool chooseStep(Run& r, double hs, double E0, double E1, bool& retry) {
  const double hf = frictionStep(r, hs), hc = std::min(r.hc, hf);
  bool accepted = false;
  if (!r.w.contact) {
    accepted = true;
    r.step = 1.5 * r.step;
  } else {
    const double dE = std::fabs(E1 - E0) / std::max(std::fabs(E0), r.Eref);
    if (hs > kFrictionRetry * hf) {
      retry = true;
      r.step = hf;
    } else if (dE <= 0.0001) {
      accepted = true;
      r.step = 2.0 * r.step;
    } else if (r.step == hc) {
      accepted = true;
    } else if (r.step > hc && hs > hc) {
      retry = true;
      r.step = hc;
    } else if (r.step > hc) {
      // Ending on a sample made it no longer than the contact step.
      accepted = true;
      r.step = hc;
    }
  }
  if (r.step > r.D) r.step = r.D;
  if (E0 < r.s.minimum_limit_energy && E1 < r.s.minimum_limit_energy) {
    accepted = true;
    r.step = r.D;
  }
  if (r.step < hc) {
    accepted = true;
    r.step = 1.5 * r.step;
  }
  if (r.w.contact) r.step = std::min(r.step, frictionStep(r, r.step));
  return accepted;
}

// Takes the step unless a run-time rule stops the run at its new state.
Attempt takeStep(Run& r, double hs, double tEnd, double E1) {
  double speed = 0.0, bound = 0.0;
  const int fast = bodyBeyondSpeedBound(r.limits, r.m, r.Ynew.data(), speed, bound);
  if (r.w.contact && E1 - r.Estart > 10.0 * r.limits.energyScale()) {
    r.Y = r.Ynew;
    r.stop("The energy grew in contact by more than ten times the run's energy scale (" +
           shortNumber(r.limits.energyScale()) + " J) in the step from t=" + shortNumber(r.t));
    return Attempt::Stopped;
  }
  if (fast >= 0) {
    r.Y = r.Ynew;
    r.stop("Body " + r.m.bodies[fast].name + " reached " + shortNumber(speed) +
           " m/s in the step from t=" + shortNumber(r.t) + ", more than the " + shortNumber(bound) +
           " m/s its gravity, start speeds, driven rates and force elements can give it");
    return Attempt::Stopped;
  }
  noteStep(r.limits, r.m, r.w, r.Ynew.data(), hs);
  r.t = tEnd;
  r.Y = r.Ynew;
  countTurns(r);
  r.haveK1 = false;
  return Attempt::Taken;
}

}  // namespace

Attempt judgeStep(Run& r, double hs, double tEnd) {
  const double E0 = totalEnergy(r.m, r.s, r.w.inertia, r.Y.data());
  const double E1 = totalEnergy(r.m, r.s, r.w.inertia, r.Ynew.data());
  r.energy = E1;
  if (!r.w.contact) {
    // The work the force elements have done is left out of this scale: a run
    // that diverges feeds it as fast as its own energy grows. The scale is
    // never smaller than the lifting work the rule always used.
    const double scale = std::max(r.Eref, r.limits.fixed + r.limits.drive);
    const double jump = std::fabs(E1 - E0) / std::max(std::fabs(E0), scale);
    if (jump > 10.0) {
      // Diverging without contact: keep the new state, stop the run.
      r.Y = r.Ynew;
      r.ratio = jump;
      r.stop("The energy changed by more than ten times the run's energy scale (" +
             shortNumber(scale) + " J) in the step from t=" + shortNumber(r.t));
      return Attempt::Stopped;
    }
  }
  // The implicit method's own error has chosen its next step.
  if (r.s.integrator == Integrator::Implicit) {
    r.ratio = 0.0;
    return takeStep(r, hs, tEnd, E1);
  }
  bool retry = false;
  const bool accepted = chooseStep(r, hs, E0, E1, retry);
  r.ratio = accepted ? 0.0 : 2.0 * r.s.Energy_variation;
  // With Energy_variation <= 0 a retry mark cannot repeat the attempt; the
  // step is then taken as it stands rather than left half-applied.
  if (!accepted && retry && r.ratio > r.s.Energy_variation) return Attempt::Retry;
  return takeStep(r, hs, tEnd, E1);
}

}  // namespace orv
