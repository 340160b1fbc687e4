// One step of the classical fourth-order Runge-Kutta method:
//   k1 = f(t, Y),            k2 = f(t + h/2, Y + h/2 k1),
//   k3 = f(t + h/2, Y + h/2 k2),  k4 = f(t + h, Y + h k3),
//   Y_new = Y + h/6 (k1 + 2 k2 + 2 k3 + k4).
#include "analysis/run_state.h"
#include "model/settings.h"

namespace orv {

namespace {

// One stage: time and state published, then f(ts, in) into k. A step's
// contact records are those of its last evaluation, the one nearest the
// state the step ends in; the earlier stages' records would repeat every
// contact up to four times. (w.contact keeps whatever any stage raised.)
bool stage(Run& r, double ts, const std::vector<double>& in, std::vector<double>& k,
           RateSide side) {
  r.w.kin.time = ts;
  r.w.kin.Y = in;
  r.w.rateSide = side;
  r.w.contacts.clear();
  return computeStateDerivative(r.m, r.s, r.h, r.w, ts, in.data(), k.data(), r.dofs);
}

// out = Y + f k.
void combine(const Run& r, double f, const std::vector<double>& k, std::vector<double>& out) {
  for (size_t i = 0; i < r.layout.size(); ++i) out[i] = r.Y[i] + f * k[i];
}

}  // namespace

bool rungeKuttaStep(Run& r, double hs, double tEnd) {
  const double t = r.t;
  r.w.contacts.clear();
  r.w.contact = false;
  const std::vector<double>* last = &r.Y;  // the state the last stage was given
  bool ok = true;
  if (r.haveK1)
    r.w.contact = r.k1Contact;  // k1 is the sample's evaluation
  else
    ok = stage(r, t, r.Y, r.k1, RateSide::Forward);
  if (ok)
    combine(r, hs / 2, r.k1, r.Ys), last = &r.Ys,
                                    ok = stage(r, t + hs / 2, r.Ys, r.k2, RateSide::Central);
  if (ok) combine(r, hs / 2, r.k2, r.Ys), ok = stage(r, t + hs / 2, r.Ys, r.k3, RateSide::Central);
  if (ok) combine(r, hs, r.k3, r.Ys), ok = stage(r, t + hs, r.Ys, r.k4, RateSide::Backward);
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
  for (size_t i = 0; i < r.layout.size(); ++i)
    r.Ynew[i] = r.Y[i] + (hs / 6.0) * (r.k1[i] + 2.0 * r.k2[i] + 2.0 * r.k3[i] + r.k4[i]);
  if (r.s.constraint_projection) projectOntoConstraints(r.m, r.w, tEnd, r.Ynew.data());
  // The driven velocities of the new state are those of its own positions.
  if (r.m.motion_num() > 0) prescribeDrivenVelocities(r.m, r.w, tEnd, r.Ynew.data());
  return true;
}

}  // namespace orv
