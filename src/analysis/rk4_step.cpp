// One step of the classical fourth-order Runge-Kutta method:
//   k1 = f(t, Y),            k2 = f(t + h/2, Y + h/2 k1),
//   k3 = f(t + h/2, Y + h/2 k2),  k4 = f(t + h, Y + h k3),
//   Y_new = Y + h/6 (k1 + 2 k2 + 2 k3 + k4).
// To first order in rotation the method runs on X, Y with each body's
// angular velocity w' in the place of its Euler-parameter rates: p' and w'
// follow from (p, w') alone, so a steady spin stays as steady as Euler's
// equations keep it, which p'' does not. Every evaluation still reads a
// state of the usual form, made from X with p scaled to unit length (A(p) a
// rotation) and p' = G(p)^T w' / 2; the step's new state is made the same
// way, so |p| = 1 after every step.
#include <cmath>

#include "analysis/run_state.h"
#include "math/vec3.h"
#include "model/settings.h"

namespace orv {

// A step's contact records are those of its last evaluation, the one nearest
// the state the step ends in; the earlier stages' records would repeat every
// contact up to four times. (w.contact keeps whatever any stage raised.)
bool stage(Run& r, double ts, const std::vector<double>& in, std::vector<double>& k,
           RateSide side) {
  r.w.kin.time = ts;
  r.w.kin.Y = in;
  r.w.rateSide = side;
  r.w.contacts.clear();
  return computeStateDerivative(r.m, r.s, r.h, r.w, ts, in.data(), k.data(), r.dofs);
}

void toAngularVelocity(const StateLayout& L, const std::vector<double>& Y, std::vector<double>& X) {
  for (size_t i = 0; i < static_cast<size_t>(L.p(0)); ++i) X[i] = Y[i];
  for (int b = 0; b < L.nb; ++b) {
    for (int k = 0; k < 4; ++k) X[L.p(b) + k] = Y[L.p(b) + k];
    omegaFromEulerRates(&X[L.w(b)], &Y[L.p(b)], &Y[L.pd(b)]);
    X[L.w(b) + 3] = 0.0;
  }
}

void toEulerRates(const StateLayout& L, const std::vector<double>& X, std::vector<double>& Y) {
  for (size_t i = 0; i < static_cast<size_t>(L.p(0)); ++i) Y[i] = X[i];
  for (int b = 0; b < L.nb; ++b) {
    const double* p = &X[L.p(b)];
    const double n = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3]);
    for (int k = 0; k < 4; ++k) Y[L.p(b) + k] = p[k] / n;
    eulerRatesFromOmega(&Y[L.pd(b)], &Y[L.p(b)], &X[L.w(b)]);
  }
}

namespace {

// The vector a step integrates (Y, or X to first order in rotation), at
// base + f k into `raw`, and the state an evaluation reads into `out` (raw
// itself to second order).
void advance(const Run& r, const std::vector<double>& base, double f, const std::vector<double>& k,
             std::vector<double>& raw, std::vector<double>& out) {
  for (size_t i = 0; i < r.layout.size(); ++i) raw[i] = base[i] + f * k[i];
  if (&raw != &out) toEulerRates(r.layout, raw, out);
}

}  // namespace

bool rungeKuttaStep(Run& r, double hs, double tEnd) {
  const double t = r.t;
  const bool firstOrder = r.s.rotation == RotationIntegration::FirstOrder;
  if (firstOrder) toAngularVelocity(r.layout, r.Y, r.X);
  const std::vector<double>& base = firstOrder ? r.X : r.Y;
  std::vector<double>& raw = firstOrder ? r.Xs : r.Ys;
  r.w.contacts.clear();
  r.w.contact = false;
  const std::vector<double>* last = &r.Y;  // the state the last stage was given
  bool ok = true;
  if (r.haveK1) {
    r.w.contact = r.k1Contact;  // k1 is the sample's evaluation, its friction rate kept
  } else {
    r.w.friction = FrictionBound{};
    ok = stage(r, t, r.Y, r.k1, RateSide::Forward);
  }
  if (ok)
    advance(r, base, hs / 2, r.k1, raw, r.Ys),
        last = &raw, ok = stage(r, t + hs / 2, r.Ys, r.k2, RateSide::Central);
  if (ok)
    advance(r, base, hs / 2, r.k2, raw, r.Ys),
        ok = stage(r, t + hs / 2, r.Ys, r.k3, RateSide::Central);
  if (ok)
    advance(r, base, hs, r.k3, raw, r.Ys), ok = stage(r, t + hs, r.Ys, r.k4, RateSide::Backward);
  if (!ok) {
    // A stage state whose orientations left the unit sphere is a step that
    // blew up, not a mechanism the equations cannot hold.
    double norm2 = 0.0;
    const int b = bodyOffUnitSphere(r.m, last->data(), norm2);
    if (b >= 0)
      r.stop("The integration diverged in the step from t=" + shortNumber(t) +
             ": the orientation of body " + r.m.bodies[b].name +
             " left the unit sphere (|p|^2 = " + shortNumber(norm2) + ")");
    else
      r.fail(t);
    return false;
  }
  std::vector<double>& end = firstOrder ? r.Xs : r.Ynew;
  for (size_t i = 0; i < r.layout.size(); ++i)
    end[i] = base[i] + (hs / 6.0) * (r.k1[i] + 2.0 * r.k2[i] + 2.0 * r.k3[i] + r.k4[i]);
  if (firstOrder) toEulerRates(r.layout, r.Xs, r.Ynew);
  if (r.s.constraint_projection) projectOntoConstraints(r.m, r.w, tEnd, r.Ynew.data());
  // The driven velocities of the new state are those of its own positions.
  if (r.m.motion_num() > 0) prescribeDrivenVelocities(r.m, r.w, tEnd, r.Ynew.data());
  return true;
}

}  // namespace orv
