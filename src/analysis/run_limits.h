// The run-time rules that stop a run going wrong instead of finishing it
// with a wrong result: the energy scale that the energy rules judge against
// and the speed no body of the model can reach.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;
struct DynamicsWork;

// How much energy the model can hold, as far as the run has seen, summed
// over the bodies not held by a ground joint:
//   fixed = m (g L + (g T)^2 / 2) + the kinetic energy at the start (g the
//           body's gravity, L the model's size, T the span: the work of
//           gravity over the model's size and over a free fall of the whole
//           span), never 0: a model without any of these takes 1/2 m (1 m/s)^2;
//   drive = 1/2 sum m v_d^2 + 1/2 sum I_max w_d^2 for the fastest driven
//           speed v_d (T rate, R rate x L) and turn rate w_d (R rate) so far;
//   work  = the work the force elements have done on the bodies so far,
//           counted without sign (integral of |F.v| + |N.w|).
struct RunLimits {
  double fixed = 0.0;
  double drive = 0.0;
  double work = 0.0;
  double fastestDrive = 0.0, fastestTurn = 0.0;
  double energyScale() const { return fixed + drive + work; }
};

// The limits at the start of a run from state Y0 over `span` seconds; inertia:
// the bodies' inertia tensors in global axes (9 per body, inertiaTensors).
RunLimits startLimits(const Model& m, const std::vector<double>& inertia, const double* Y0,
                      double span);

// Takes in the motions' rates of the last evaluation (w.rates) and the work
// of its force-element loads (w.elementF, w.elementN) over dt at state Y.
void noteStep(RunLimits& lim, const Model& m, const DynamicsWork& w, const double* Y, double dt);

// No body moves faster than if all the energy the model can hold were its
// own kinetic energy, with a factor of 10: v_max = 10 sqrt(2 E / m).
double speedBound(const RunLimits& lim, double mass);

// The first body of Y faster than its bound, or -1; its speed and bound out.
int bodyBeyondSpeedBound(const RunLimits& lim, const Model& m, const double* Y, double& speed,
                         double& bound);

// The first body of state Y whose Euler parameters are further than 0.5 from
// the unit sphere in |p|^2 (or not finite), or -1; that |p|^2 out. A stage
// of a sound step moves p along its tangent, by (h |w| / 4)^2 in |p|^2; a
// step that diverged leaves it far away.
int bodyOffUnitSphere(const Model& m, const double* Y, double& norm2);

// The largest step at which the explicit integrator stays stable on the
// stiffest spring1 of the model, each taken alone as the oscillator
// mu x'' + c x' + k x = 0 between its two bodies: mu = 1 / (1/m_i + 1/m_j),
// a body held by a ground joint counting as infinitely heavy. Its
// eigenvalues are lambda = (-c +- sqrt(c^2 - 4 mu k)) / (2 mu); RK4 is
// stable for h |lambda| <= 2.785 on the negative real axis (damping that
// dominates) and up to 2.83 on the imaginary axis (oscillation), so the
// estimate is 2.785 / max |lambda|. Joints only make a spring's bodies
// heavier to it, so this is an estimate from below of the spring's own
// limit; what a force6 component or the rest of the mechanism adds is not
// counted, nor springs of negative k or c (unstable at any step). step is
// infinite and force -1 when no spring1 bounds it.
struct StableStep {
  double step = 0.0;
  int force = -1;
};
StableStep stableStepEstimate(const Model& m);

}  // namespace orv
