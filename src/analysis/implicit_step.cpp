// One step of the two-stage singly diagonally implicit Runge-Kutta method of
// Alexander (order 2, L-stable), g = 1 - 1/sqrt(2):
//   k1 = f(t + g h, V + g h k1),
//   k2 = f(t + h, V + (1 - g) h k1 + g h k2),
//   V_new = V + h ((1 - g) k1 + g k2),
// on the vector the explicit step integrates (Y, or X to first order in
// rotation). Each stage is solved by Newton's method with the matrix
// I - g h J, J = df/dV by forward differences at the step's start, factored
// once per step: a spring or damper too stiff for the explicit step is then
// damped as the equations damp it, at any step. Every evaluation reads a
// state of the usual form, as in the explicit step.
#include <jama/jama_lu.h>

#include <algorithm>
#include <cmath>

#include "analysis/run_state.h"
#include "math/linalg.h"
#include "model/settings.h"

namespace orv {

namespace {

constexpr int kNewtonIterations = 20;

// f at the integrated vector V: its state into r.Ys (through r.Xs to first
// order), then the stage.
bool rate(Run& r, double ts, const std::vector<double>& V, std::vector<double>& k, RateSide side,
          bool firstOrder) {
  if (firstOrder) {
    r.Xs = V;
    toEulerRates(r.layout, r.Xs, r.Ys);
  } else {
    r.Ys = V;
  }
  return stage(r, ts, r.Ys, k, side);
}

// Solves k = f(ts, base + gh k) from k's value given; false when f cannot be
// evaluated or the iteration does not settle.
bool solveStage(Run& r, double ts, const std::vector<double>& base, double gh, JAMA::LU<double>& lu,
                std::vector<double>& k, RateSide side, bool firstOrder) {
  const size_t n = base.size();
  std::vector<double> V(n), f(n);
  Vec res(static_cast<int>(n));
  for (int it = 0; it < kNewtonIterations; ++it) {
    for (size_t i = 0; i < n; ++i) V[i] = base[i] + gh * k[i];
    if (!rate(r, ts, V, f, side, firstOrder)) return false;
    for (size_t i = 0; i < n; ++i) res[static_cast<int>(i)] = f[i] - k[i];
    const Vec d = lu.solve(res);
    if (d.dim() != static_cast<int>(n)) return false;
    // Settled when the change of k moves the state by far less than it is.
    double change = 0.0, size = 0.0;
    for (size_t i = 0; i < n; ++i) {
      const double dk = d[static_cast<int>(i)];
      if (!std::isfinite(dk)) return false;
      k[i] += dk;
      change = std::max(change, std::fabs(gh * dk));
      size = std::max(size, std::fabs(V[i]));
    }
    if (change <= 1e-10 * std::max(1.0, size)) return true;
  }
  return false;
}

}  // namespace

bool implicitStep(Run& r, double hs, double tEnd) {
  const double t = r.t;
  const bool firstOrder = r.s.rotation == RotationIntegration::FirstOrder;
  const double g = 1.0 - std::sqrt(0.5);
  const size_t n = r.layout.size();
  std::vector<double> V0(n), f0(n), fj(n), Vj(n);
  if (firstOrder)
    toAngularVelocity(r.layout, r.Y, V0);
  else
    V0 = r.Y;
  r.w.contacts.clear();
  r.w.contact = false;
  bool ok = rate(r, t, V0, f0, RateSide::Forward, firstOrder);
  // M = I - g h J, J by forward differences.
  Mat M(static_cast<int>(n), static_cast<int>(n), 0.0);
  for (size_t j = 0; ok && j < n; ++j) {
    const double dv = 1e-7 * std::max(1.0, std::fabs(V0[j]));
    Vj = V0;
    Vj[j] += dv;
    ok = rate(r, t, Vj, fj, RateSide::Forward, firstOrder);
    for (size_t i = 0; ok && i < n; ++i)
      M[static_cast<int>(i)][static_cast<int>(j)] = -g * hs * (fj[i] - f0[i]) / dv;
  }
  for (size_t i = 0; i < n; ++i) M[static_cast<int>(i)][static_cast<int>(i)] += 1.0;
  JAMA::LU<double> lu(M);
  ok = ok && lu.isNonsingular();
  std::vector<double> k1 = f0, k2(n), base(n);
  ok = ok && solveStage(r, t + g * hs, V0, g * hs, lu, k1, RateSide::Central, firstOrder);
  if (ok) {
    for (size_t i = 0; i < n; ++i) base[i] = V0[i] + (1.0 - g) * hs * k1[i];
    k2 = k1;
    ok = solveStage(r, tEnd, base, g * hs, lu, k2, RateSide::Backward, firstOrder);
  }
  if (!ok) {
    r.stop("The implicit step from t=" + shortNumber(t) +
           " could not be solved (Newton's iterations did not settle)");
    return false;
  }
  std::vector<double> Vn(n);
  for (size_t i = 0; i < n; ++i) Vn[i] = base[i] + g * hs * k2[i];
  if (firstOrder)
    toEulerRates(r.layout, Vn, r.Ynew);
  else
    r.Ynew = Vn;
  if (r.s.constraint_projection) projectOntoConstraints(r.m, r.w, tEnd, r.Ynew.data());
  // The sample's evaluation is not a stage of this method.
  r.haveK1 = false;
  if (r.m.motion_num() > 0) prescribeDrivenVelocities(r.m, r.w, tEnd, r.Ynew.data());
  return true;
}

}  // namespace orv
