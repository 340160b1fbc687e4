// One step of the five-stage singly diagonally implicit Runge-Kutta method
// SDIRK4 of Hairer and Wanner (order 4, L-stable, stiffly accurate):
//   k_i = f(t + c_i h, V + h sum_{j<=i} a_ij k_j),   V_new = V + h sum b_i k_i,
// with a_ii = g = 1/4, b the last row of a (so V_new is the last stage's
// state), on the vector the explicit step integrates (Y, or X to first order
// in rotation). The same stages with the weights b^ (kD = b - b^) are of
// third order; their difference, filtered through (I - g h J)^-1 so that the
// stiff components damped away do not count, is the step's error, which
// sets the next step (error per unit tolerance E, h_next = h 0.9 E^(-1/4)).
// Every stage is solved by simplified Newton iterations with M = I - g h J,
// J = df/dV by forward differences. J is kept from step to step and formed
// anew only when the iterations settle slowly or not at all: forming it costs
// one evaluation per state variable, solving with it a few per stage. Every
// evaluation reads a state of the usual form, as in the explicit step.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "analysis/run_state.h"
#include "math/linalg.h"
#include "model/settings.h"

namespace orv {

// M = I - g h J, solved by blocks. The rates of the positions and Euler
// parameters (K, 7 per body) are the velocities and angular velocities (D,
// 7 per body) of the same body, so M's K rows have nonzero entries only in
// that body's 7 x 7 blocks B_b (of K) and C_b (of D):
//   | B  C | |x_K|   |b_K|      x_D = S^-1 (b_D - E B^-1 b_K),  S = F - E B^-1 C,
//   | E  F | |x_D| = |b_D|,     x_K = B^-1 b_K - B^-1 C x_D,
// with B and C block diagonal: S is half of M's size, an eighth of its
// factoring and a half of its solving. A J whose K rows reach other bodies
// (none the equations of motion give) is factored whole.
struct NewtonMatrix {
  std::vector<double> J;      // df/dV by rows, from the start of an earlier step or this one
  bool formed = false;        // J exists
  bool current = false;       // J was formed at this step's start
  bool refresh = false;       // the last step's iterations settled slowly: form J anew
  int shortened = 0;          // steps shortened in a row for a J that did not settle
  double gh = 0.0;            // the g h that M was factored for
  std::vector<double> guess;  // the last stage's rate: the next step's first guess

  bool blocks = false;     // solved by blocks (else `whole`)
  DenseLU whole;           // M
  std::vector<int> K, D;   // state indices, 7 per body in body order
  std::vector<DenseLU> B;  // B_b
  std::vector<double> P;   // B_b^-1 C_b, 49 per body, by rows
  std::vector<double> E;   // by rows, |D| x |K|
  DenseLU S;
};
void NewtonMatrixDeleter::operator()(NewtonMatrix* p) const { delete p; }

namespace {

constexpr int kStages = 5;
constexpr double kG = 0.25;
constexpr double kA[kStages][kStages] = {{kG, 0.0, 0.0, 0.0, 0.0},
                                         {1.0 / 2.0, kG, 0.0, 0.0, 0.0},
                                         {17.0 / 50.0, -1.0 / 25.0, kG, 0.0, 0.0},
                                         {371.0 / 1360.0, -137.0 / 2720.0, 15.0 / 544.0, kG, 0.0},
                                         {25.0 / 24.0, -49.0 / 48.0, 125.0 / 16.0, -85.0 / 12.0,
                                          kG}};
constexpr double kC[kStages] = {kG, 3.0 / 4.0, 11.0 / 20.0, 1.0 / 2.0, 1.0};
// b - b^, b the last row of a, b^ = (59/48, -17/96, 225/32, -85/12, 0).
constexpr double kD[kStages] = {25.0 / 24.0 - 59.0 / 48.0, -49.0 / 48.0 + 17.0 / 96.0,
                                125.0 / 16.0 - 225.0 / 32.0, 0.0, kG};

// Newton's iterations stop when the changes still to come of the state are
// below kNewtonTolerance of the error tolerance (each variable relative to
// 1 + its size), or at kNewtonFloor, whichever is larger. Well below the
// tolerance: what the iterations leave is not random from step to step, and
// the stages' weights of the last row (up to 7.8) add it up into the step.
// They fail after kNewtonIterations or when a change is not smaller than the
// one before, unless that change is already rounding (kNoise of the target).
constexpr double kNewtonTolerance = 1e-6;
constexpr double kNewtonFloor = 1e-13;
constexpr int kNewtonIterations = 10;
constexpr double kNoise = 100.0;
// Above this many state variables (about 14 bodies), forming J (an
// evaluation each) costs more than trying shorter steps with the one at
// hand: the steps a run then takes more cost it some 10 to 15 evaluations
// each, and a shortened try that still fails a few dozen.
constexpr size_t kShorterFirst = 200;
// Iterations slower than this contraction ask for a fresh J at the next step.
constexpr double kSlowContraction = 0.3;
// A step is not made shorter than this fraction of d_time.
constexpr double kShortestStep = 1.0 / 1048576.0;

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

// The weighted root-mean-square norm the tolerance is judged in:
// |v_i| / (tol (1 + |V_i|)).
double weightedNorm(const std::vector<double>& v, const std::vector<double>& V, double tol) {
  double sum = 0.0;
  for (size_t i = 0; i < v.size(); ++i) {
    const double q = v[i] / (tol * (1.0 + std::fabs(V[i])));
    sum += q * q;
  }
  return v.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(v.size()));
}

// J by forward differences at V0, whose rate is f0.
bool formJacobian(Run& r, NewtonMatrix& nm, const std::vector<double>& V0,
                  const std::vector<double>& f0, bool firstOrder) {
  const size_t n = V0.size();
  std::vector<double> Vj = V0, fj(n);
  nm.J.assign(n * n, 0.0);
  for (size_t j = 0; j < n; ++j) {
    const double dv = 1e-7 * std::max(1.0, std::fabs(V0[j]));
    Vj[j] = V0[j] + dv;
    const bool ok = rate(r, r.t, Vj, fj, RateSide::Forward, firstOrder);
    Vj[j] = V0[j];
    if (!ok) return false;
    for (size_t i = 0; i < n; ++i) nm.J[i * n + j] = (fj[i] - f0[i]) / dv;
  }
  nm.formed = nm.current = true;
  nm.refresh = false;
  nm.gh = 0.0;  // to be factored
  return true;
}

// The K and D indices of every body, and whether J's K rows stay within
// their body's blocks.
bool splitByBodies(const StateLayout& L, NewtonMatrix& nm) {
  nm.K.clear(), nm.D.clear();
  for (int b = 0; b < L.nb; ++b) {
    for (int a = 0; a < 3; ++a) nm.K.push_back(L.r(b) + a);
    for (int a = 0; a < 4; ++a) nm.K.push_back(L.p(b) + a);
    for (int a = 0; a < 3; ++a) nm.D.push_back(L.v(b) + a);
    for (int a = 0; a < 4; ++a) nm.D.push_back(L.pd(b) + a);
  }
  const size_t n = L.size();
  std::vector<char> own(n);
  for (int b = 0; b < L.nb; ++b) {
    std::fill(own.begin(), own.end(), 0);
    for (int a = 0; a < 7; ++a) own[nm.K[7 * b + a]] = own[nm.D[7 * b + a]] = 1;
    for (int a = 0; a < 7; ++a) {
      const double* row = &nm.J[static_cast<size_t>(nm.K[7 * b + a]) * n];
      for (size_t j = 0; j < n; ++j)
        if (!own[j] && row[j] != 0.0) return false;
    }
  }
  return true;
}

// M = I - g h J, factored (by blocks when it can be).
bool factor(const StateLayout& L, NewtonMatrix& nm, double gh) {
  const size_t n = L.size();
  nm.gh = gh;
  const auto M = [&](int i, int j) {
    return (i == j ? 1.0 : 0.0) - gh * nm.J[static_cast<size_t>(i) * n + j];
  };
  nm.blocks = splitByBodies(L, nm);
  if (!nm.blocks) {
    std::vector<double> A(n * n);
    for (size_t i = 0; i < n; ++i)
      for (size_t j = 0; j < n; ++j) A[i * n + j] = M(static_cast<int>(i), static_cast<int>(j));
    return nm.whole.factor(static_cast<int>(n), std::move(A));
  }
  const int nb = L.nb, m = 7 * nb;
  nm.B.assign(static_cast<size_t>(nb), DenseLU());
  nm.P.assign(49 * static_cast<size_t>(nb), 0.0);
  for (int b = 0; b < nb; ++b) {
    std::vector<double> Bb(49);
    for (int a = 0; a < 7; ++a)
      for (int c = 0; c < 7; ++c) Bb[7 * a + c] = M(nm.K[7 * b + a], nm.K[7 * b + c]);
    if (!nm.B[b].factor(7, std::move(Bb))) return false;
    double col[7];
    for (int c = 0; c < 7; ++c) {
      for (int a = 0; a < 7; ++a) col[a] = M(nm.K[7 * b + a], nm.D[7 * b + c]);
      nm.B[b].solve(col);
      for (int a = 0; a < 7; ++a) nm.P[49 * b + 7 * a + c] = col[a];
    }
  }
  nm.E.resize(static_cast<size_t>(m) * m);
  std::vector<double> S(static_cast<size_t>(m) * m);
  for (int i = 0; i < m; ++i) {
    double* e = &nm.E[static_cast<size_t>(i) * m];
    double* srow = &S[static_cast<size_t>(i) * m];
    for (int j = 0; j < m; ++j) e[j] = M(nm.D[i], nm.K[j]), srow[j] = M(nm.D[i], nm.D[j]);
    for (int b = 0; b < nb; ++b)
      for (int a = 0; a < 7; ++a) {
        const double eba = e[7 * b + a];
        if (eba == 0.0) continue;
        for (int c = 0; c < 7; ++c) srow[7 * b + c] -= eba * nm.P[49 * b + 7 * a + c];
      }
  }
  return nm.S.factor(m, std::move(S));
}

// x = M^-1 x.
bool solveInPlace(const NewtonMatrix& nm, std::vector<double>& x) {
  if (!nm.blocks) {
    nm.whole.solve(x.data());
  } else {
    const size_t m = nm.K.size();
    std::vector<double> y(m), xd(m);
    for (size_t i = 0; i < m; ++i) y[i] = x[nm.K[i]];
    for (size_t b = 0; b < nm.B.size(); ++b) nm.B[b].solve(&y[7 * b]);
    for (size_t i = 0; i < m; ++i) {
      const double* e = &nm.E[i * m];
      double sum = x[nm.D[i]];
      for (size_t j = 0; j < m; ++j) sum -= e[j] * y[j];
      xd[i] = sum;
    }
    nm.S.solve(xd.data());
    for (size_t b = 0; b < nm.B.size(); ++b)
      for (int a = 0; a < 7; ++a) {
        double v = y[7 * b + a];
        for (int c = 0; c < 7; ++c) v -= nm.P[49 * b + 7 * a + c] * xd[7 * b + c];
        x[nm.K[7 * b + a]] = v;
      }
    for (size_t i = 0; i < m; ++i) x[nm.D[i]] = xd[i];
  }
  for (double v : x)
    if (!std::isfinite(v)) return false;
  return true;
}

// A step of h taken down to D/n, n whole: the steps then tile the interval
// between samples, and a run whose error stays alike keeps one step size and
// so one factored M.
double onLadder(double h, double D) { return h >= D ? D : D / std::ceil(D / h); }

// Solves k = f(ts, base + gh k), k starting from its value given; false when
// f cannot be evaluated or the iterations do not settle. `slowest` keeps the
// slowest contraction seen.
bool solveStage(Run& r, NewtonMatrix& nm, double ts, const std::vector<double>& base, double gh,
                std::vector<double>& k, RateSide side, bool firstOrder, double tol,
                double& slowest) {
  const double target = std::max(kNewtonTolerance * tol, kNewtonFloor);
  const size_t n = base.size();
  std::vector<double> V(n), d(n);
  double before = 0.0;
  for (int it = 0; it < kNewtonIterations; ++it) {
    for (size_t i = 0; i < n; ++i) V[i] = base[i] + gh * k[i];
    if (!rate(r, ts, V, d, side, firstOrder)) return false;
    for (size_t i = 0; i < n; ++i) d[i] -= k[i];
    if (!solveInPlace(nm, d)) return false;
    for (size_t i = 0; i < n; ++i) k[i] += d[i], d[i] *= gh;
    const double change = weightedNorm(d, V, 1.0);
    if (it > 0) {
      const double theta = change / before;
      // Near the target the changes are rounding, and their ratio says
      // nothing of how fast the iterations settle.
      if (before > kNoise * target) slowest = std::max(slowest, theta);
      if (change <= target) return true;
      if (theta >= 1.0) return change <= kNoise * target;
      // The changes still to come add up to theta/(1-theta) of this one.
      if (theta / (1.0 - theta) * change <= target) return true;
    }
    before = change;
  }
  return false;
}

enum class Outcome { Solved, NotSettled };

// The stages from V0 into k.
Outcome solveStages(Run& r, NewtonMatrix& nm, double hs, double tEnd, const std::vector<double>& V0,
                    std::vector<double> (&k)[kStages], bool firstOrder, double tol,
                    double& slowest) {
  const size_t n = V0.size();
  std::vector<double> base(n);
  const double gh = kG * hs;
  if (nm.gh != gh && !factor(r.layout, nm, gh)) return Outcome::NotSettled;
  for (int s = 0; s < kStages; ++s) {
    for (size_t i = 0; i < n; ++i) {
      double sum = 0.0;
      for (int j = 0; j < s; ++j) sum += kA[s][j] * k[j][i];
      base[i] = V0[i] + hs * sum;
    }
    k[s] = s == 0 ? nm.guess : k[s - 1];
    const double ts = s == kStages - 1 ? tEnd : r.t + kC[s] * hs;
    const RateSide side = s == kStages - 1 ? RateSide::Backward : RateSide::Central;
    if (!solveStage(r, nm, ts, base, gh, k[s], side, firstOrder, tol, slowest))
      return Outcome::NotSettled;
  }
  return Outcome::Solved;
}

}  // namespace

bool implicitStep(Run& r, double hs, double tEnd, bool& retry) {
  retry = false;
  const bool firstOrder = r.s.rotation == RotationIntegration::FirstOrder;
  const double tol = r.s.implicit_tolerance;
  const size_t n = r.layout.size();
  if (!r.newton) r.newton.reset(new NewtonMatrix);
  NewtonMatrix& nm = *r.newton;
  std::vector<double> V0(n), k[kStages];
  if (firstOrder)
    toAngularVelocity(r.layout, r.Y, V0);
  else
    V0 = r.Y;
  r.w.contacts.clear();
  r.w.contact = false;
  r.w.friction = FrictionBound{};
  auto stopNotSettled = [&]() {
    r.stop("The implicit step from t=" + shortNumber(r.t) +
           " could not be solved (Newton's iterations did not settle)");
    return false;
  };
  // A state whose own equations cannot be solved fails the run as an
  // explicit step's would; a column of J that cannot be is the step's.
  const auto formAtStart = [&]() {
    std::vector<double> f0(n);
    if (!rate(r, r.t, V0, f0, RateSide::Forward, firstOrder)) {
      r.fail(r.t);
      return false;
    }
    nm.guess = f0;
    return formJacobian(r, nm, V0, f0, firstOrder) || stopNotSettled();
  };
  if (!nm.formed || nm.refresh || nm.guess.size() != n) {
    if (!formAtStart()) return false;
  } else {
    nm.current = false;
  }
  double slowest = 0.0;
  Outcome o = solveStages(r, nm, hs, tEnd, V0, k, firstOrder, tol, slowest);
  if (o != Outcome::Solved && !nm.current) {
    // Forming J costs n evaluations, a step a few per stage: on a large
    // model a shorter step with the J at hand is tried first, twice at most.
    if (n > kShorterFirst && nm.shortened < 2 && hs > 2.0 * kShortestStep * r.D) {
      ++nm.shortened;
      r.step = onLadder(0.5 * hs, r.D);
      retry = true;
      return false;
    }
    if (!formAtStart()) return false;
    slowest = 0.0;
    o = solveStages(r, nm, hs, tEnd, V0, k, firstOrder, tol, slowest);
  }
  // Stiffly accurate: the new vector is the last stage's state.
  std::vector<double> Vn(n), e(n);
  double err = std::numeric_limits<double>::infinity();
  if (o == Outcome::Solved) {
    for (size_t i = 0; i < n; ++i) {
      double sum = 0.0, diff = 0.0;
      for (int j = 0; j < kStages; ++j)
        sum += kA[kStages - 1][j] * k[j][i], diff += kD[j] * k[j][i];
      Vn[i] = V0[i] + hs * sum;
      e[i] = hs * diff;
    }
    if (solveInPlace(nm, e)) {
      double sum = 0.0;
      for (size_t i = 0; i < n; ++i) {
        const double q = e[i] / (tol * (1.0 + std::max(std::fabs(V0[i]), std::fabs(Vn[i]))));
        sum += q * q;
      }
      err = std::sqrt(sum / static_cast<double>(n));
    }
  }
  // The next step: 0.9 E^(-1/4) of this one, no less than a fifth, no more
  // than five times; kept when it would grow by less than a fifth, so that
  // M is not factored anew for little gain.
  const double grow = err > 0.0 ? 0.9 * std::pow(err, -0.25) : 5.0;
  if (!(err <= 1.0)) {
    const double shorter = hs * (o == Outcome::Solved ? std::clamp(grow, 0.2, 0.9) : 0.25);
    if (shorter < kShortestStep * r.D) return stopNotSettled();
    r.step = onLadder(shorter, r.D);
    retry = true;
    return false;
  }
  if (grow >= 1.2)
    r.step = std::max(r.step, std::min(5.0, grow) * hs);
  else if (grow < 1.0)
    r.step = std::max(0.2, grow) * hs;
  r.step = onLadder(r.step, r.D);
  nm.shortened = 0;
  nm.refresh = slowest > kSlowContraction;
  nm.guess = k[kStages - 1];
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
