// Coordinate projection of a state onto the joints' constraints: positions
// by Newton iterations, then velocities, each by the smallest correction in
// the kinetic-energy metric,
//   dq = -Minv Cq^T S^-1 Phi,   dv = -Minv Cq^T S^-1 Cq v,   S = Cq Minv Cq^T.
// Mass-weighted because S is the multiplier system an evaluation already
// factors, and because the correction then moves light bodies rather than
// heavy ones and takes out the least kinetic energy. S is factored once, at
// the state the step ended in (a simplified Newton: the corrections are
// orders of magnitude smaller than anything that changes S).
#include <algorithm>
#include <cmath>
#include <limits>

#include "dynamics/dynamics.h"
#include "dynamics/redundancy.h"
#include "joints/constraints.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/state_layout.h"

namespace orv {

namespace {

constexpr int kNewtonIterations = 3;
// An iteration must at least halve the largest violation to be kept.
constexpr double kProgress = 0.5;
// Violations left: of the model's size for lengths, radians for angles.
constexpr double kProjectionTolerance = 1e-12;

// S at the rows of w, damped where it has lost rank.
bool factorProjection(DynamicsWork& w) {
  analyseSparsity(w);
  w.system.setDroppedRows(w.dropped);
  w.system.setPivotTolerance(kSingularDamping);
  if (w.system.factor(w.rows, w.minv)) {
    w.system.setPivotTolerance(BlockSystem::kDefaultPivotTolerance);
    return true;
  }
  w.system.setPivotTolerance(0.0);
  w.system.setDamping(kSingularDamping);
  const bool ok = w.system.factor(w.rows, w.minv);
  w.system.setDamping(0.0);
  w.system.setPivotTolerance(BlockSystem::kDefaultPivotTolerance);
  return ok;
}

// d = -Minv Cq^T x, six numbers per body (translational global, rotational
// body axes).
void correction(const Model& m, const DynamicsWork& w, const std::vector<double>& x,
                std::vector<double>& d) {
  const int nb = m.body_num();
  std::vector<double> f(6 * static_cast<size_t>(nb), 0.0);
  double G[kMaxJointRows * 6];
  for (size_t e = 0; e < w.rows.size(); ++e)
    for (int body : w.entries[e].body) {
      if (body < 0 || !entryBlock(w.rows[e], body, G)) continue;
      for (int r = 0; r < w.entries[e].nrows; ++r)
        for (int c = 0; c < 6; ++c) f[6 * body + c] -= G[6 * r + c] * x[w.rowStart[e] + r];
    }
  d.assign(f.size(), 0.0);
  for (int b = 0; b < nb; ++b) {
    for (int k = 0; k < 3; ++k) d[6 * b + k] = w.minv[b].invMass * f[6 * b + k];
    mat3MulVec(&d[6 * b + 3], w.minv[b].invJ, &f[6 * b + 3]);
  }
}

// x = Cq u for the joints' rows, u six numbers per body; motion rows 0.
void jointRowProducts(const Model& m, const DynamicsWork& w, const std::vector<double>& u,
                      std::vector<double>& x) {
  std::fill(x.begin(), x.end(), 0.0);
  double G[kMaxJointRows * 6];
  for (int e = 0; e < m.joint_num(); ++e)
    for (int body : w.entries[e].body) {
      if (body < 0 || !entryBlock(w.rows[e], body, G)) continue;
      for (int r = 0; r < w.entries[e].nrows; ++r)
        for (int c = 0; c < 6; ++c) x[w.rowStart[e] + r] += G[6 * r + c] * u[6 * body + c];
    }
}

// Phi of the joints' rows at a state at rest, read from their right sides
// (-beta^2 Phi; rows held at velocity level and motion rows 0); the largest,
// lengths in units of `length`.
double violations(const Model& m, const DynamicsWork& w, double length, std::vector<double>& x) {
  std::fill(x.begin(), x.end(), 0.0);
  double worst = 0.0;
  for (int e = 0; e < m.joint_num(); ++e) {
    const JointType type = m.joints[e].kind;
    for (int k = 0; k < w.entries[e].nrows; ++k) {
      const RowLevel level = jointRowLevel(type, k);
      if (level == RowLevel::Held) continue;
      const double phi = -w.rows[e].gamma[k] / (kBaumgarteBeta * kBaumgarteBeta);
      x[w.rowStart[e] + k] = phi;
      worst = std::max(worst, std::fabs(phi) / (level == RowLevel::Length ? length : 1.0));
    }
  }
  return worst;
}

void normalise(double* p) {
  const double n = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3]);
  if (n > 0.0)
    for (int k = 0; k < 4; ++k) p[k] /= n;
}

}  // namespace

bool projectOntoConstraints(const Model& m, DynamicsWork& w, double t, double* Y) {
  const StateLayout L{m.body_num()};
  const int nb = L.nb;
  if (w.ncon == 0) return true;
  // The angular velocities before anything moves, from Y's own p and p'.
  std::vector<double> u(6 * static_cast<size_t>(nb));
  for (int b = 0; b < nb; ++b) {
    for (int k = 0; k < 3; ++k) u[6 * b + k] = Y[L.v(b) + k];
    omegaFromEulerRates(&u[6 * b + 3], &Y[L.p(b)], &Y[L.pd(b)]);
  }
  // The positions at rest: the right sides then hold the violations alone.
  std::vector<double> rest(Y, Y + L.size());
  for (int b = 0; b < nb; ++b) {
    normalise(&rest[L.p(b)]);
    std::fill_n(&rest[L.v(b)], 3, 0.0);
    std::fill_n(&rest[L.pd(b)], 4, 0.0);
  }
  const double length = m.max_length > 0.0 ? m.max_length : 1.0;
  std::vector<double> x(static_cast<size_t>(w.ncon)), d, kept;
  // The violations are read from the Baumgarte terms, whatever the run's
  // evaluations use.
  struct Stabilised {
    Kinematics& kin;
    double before;
    ~Stabilised() { kin.stabilisation = before; }
  } stabilised{w.kin, w.kin.stabilisation};
  w.kin.stabilisation = 1.0;
  auto assembleAtRest = [&] {
    setKinematics(w.kin, nb, rest.data());
    assembleConstraints(m, w, rest.data(), t);
    dropRows(w, w.dropped);
    analyseSparsity(w);
  };
  double last = std::numeric_limits<double>::infinity();
  for (int it = 0;; ++it) {
    assembleAtRest();
    const double worst = violations(m, w, length, x);
    if (it == 0 && !factorProjection(w)) return false;
    if (worst > kProgress * last) {
      // Near a singular position the constraints are nearly dependent: a
      // Newton step divides the violation's part along the lost direction
      // by a vanishing pivot and leaves the manifold's tangent. The state
      // before it is kept; what it left is far below the integration error.
      rest = kept;
      assembleAtRest();
      break;
    }
    if (worst <= kProjectionTolerance || it == kNewtonIterations) break;
    kept = rest;
    last = worst;
    w.system.solve(x.data());
    correction(m, w, x, d);
    for (int b = 0; b < nb; ++b) {
      double dp[4];
      eulerRatesFromOmega(dp, &rest[L.p(b)], &d[6 * b + 3]);  // dp = G^T dtheta / 2
      for (int k = 0; k < 3; ++k) rest[L.r(b) + k] += d[6 * b + k];
      for (int k = 0; k < 4; ++k) rest[L.p(b) + k] += dp[k];
      normalise(&rest[L.p(b)]);
    }
  }
  // Velocities at the projected positions (w.rows are theirs).
  jointRowProducts(m, w, u, x);
  w.system.solve(x.data());
  correction(m, w, x, d);
  for (int b = 0; b < nb; ++b) {
    for (int k = 0; k < 3; ++k) {
      Y[L.r(b) + k] = rest[L.r(b) + k];
      Y[L.v(b) + k] = u[6 * b + k] + d[6 * b + k];
    }
    for (int k = 0; k < 4; ++k) Y[L.p(b) + k] = rest[L.p(b) + k];
    double wb[3];
    for (int k = 0; k < 3; ++k) wb[k] = u[6 * b + 3 + k] + d[6 * b + 3 + k];
    eulerRatesFromOmega(&Y[L.pd(b)], &Y[L.p(b)], wb);
  }
  return true;
}

}  // namespace orv
