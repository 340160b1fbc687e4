// The Lagrange multipliers and the constrained accelerations:
//   S lambda = Cq Minv Q - gamma,   S = Cq Minv Cq^T,
//   qddot = Minv (Q - Cq^T lambda),
// with Minv per body and S in block form (math/sparse_system.h).
#include <algorithm>
#include <cmath>

#include "dynamics/dynamics.h"
#include "dynamics/redundancy.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/state_layout.h"

namespace orv {

namespace {

// out = Minv_b in for one body's six (translational, rotational) entries.
void applyMinv(const BodyInverse& mi, const double* in, double* out) {
  for (int k = 0; k < 3; ++k) out[k] = mi.invMass * in[k];
  mat3MulVec(out + 3, mi.invJ, in + 3);
}

// w.rhs = Cq (Minv Q) - gamma, entry by entry, Minv Q per body in w.q6.
void multiplierRightSide(DynamicsWork& w) {
  double G[kMaxJointRows * 6];
  std::vector<double>& b = w.rhs;
  for (int i = 0; i < w.ncon; ++i) b[i] = -w.gamma[i];
  for (size_t e = 0; e < w.rows.size(); ++e) {
    const ConstraintRows& R = w.rows[e];
    for (int body : w.entries[e].body) {
      if (body < 0 || !entryBlock(R, body, G)) continue;
      for (int r = 0; r < w.entries[e].nrows; ++r) {
        double s = 0.0;
        for (int c = 0; c < 6; ++c) s += G[6 * r + c] * w.q6[6 * body + c];
        b[w.rowStart[e] + r] += s;
      }
    }
  }
}

// w.q6 = Minv (Q - Cq^T lambda), per body.
void constrainedAccelerations(const StateLayout& layout, DynamicsWork& w) {
  double G[kMaxJointRows * 6];
  std::vector<double> f(6 * static_cast<size_t>(layout.nb));
  for (int b = 0; b < layout.nb; ++b)
    for (int k = 0; k < 3; ++k) {
      f[6 * b + k] = w.Q[layout.trans(b) + k];
      f[6 * b + 3 + k] = w.Q[layout.rot(b) + k];
    }
  for (size_t e = 0; e < w.rows.size(); ++e) {
    const ConstraintRows& R = w.rows[e];
    for (int body : w.entries[e].body) {
      if (body < 0 || !entryBlock(R, body, G)) continue;
      for (int r = 0; r < w.entries[e].nrows; ++r) {
        const double l = w.lambda[w.rowStart[e] + r];
        for (int c = 0; c < 6; ++c) f[6 * body + c] -= G[6 * r + c] * l;
      }
    }
  }
  for (int b = 0; b < layout.nb; ++b) applyMinv(w.minv[b], &f[6 * b], &w.q6[6 * b]);
}

// w.lambda and w.acc with the rows marked in `dropped` left out; false when
// S cannot be factored or lambda is not finite.
bool blockMultipliers(const Model& m, DynamicsWork& w, const std::vector<char>& dropped) {
  const StateLayout layout{m.body_num()};
  const int ncon = w.ncon;
  if (!dropped.empty()) dropRows(w, dropped);
  for (int b = 0; b < layout.nb; ++b) {
    const double in[6] = {w.Q[layout.trans(b)], w.Q[layout.trans(b) + 1], w.Q[layout.trans(b) + 2],
                          w.Q[layout.rot(b)],   w.Q[layout.rot(b) + 1],   w.Q[layout.rot(b) + 2]};
    applyMinv(w.minv[b], in, &w.q6[6 * b]);
  }
  if (ncon > 0) {
    analyseSparsity(w);
    w.system.setDroppedRows(dropped);
    if (!w.system.factor(w.rows, w.minv)) return false;
    multiplierRightSide(w);
    w.system.solve(w.rhs.data());
    for (int i = 0; i < ncon; ++i)
      if (!std::isfinite(w.rhs[i])) return false;
    if (w.lambda.dim1() != ncon) w.lambda = Vec(ncon);
    for (int i = 0; i < ncon; ++i) w.lambda[i] = w.rhs[i];
    constrainedAccelerations(layout, w);
  } else {
    w.lambda = Vec(0);
  }
  for (int b = 0; b < layout.nb; ++b)
    for (int k = 0; k < 3; ++k) {
      w.acc[layout.trans(b) + k] = w.q6[6 * b + k];
      w.acc[layout.rot(b) + k] = w.q6[6 * b + 3 + k];
    }
  return true;
}

// Near a singular position the rows' right sides have parts, from drift and
// its stabilisation, in the directions S loses; damping keeps them from
// being blown up there, and a rank drop that lasts a moment is not taken for
// redundancy.
bool dampedMultipliers(const Model& m, Histories& h, DynamicsWork& w, const double* Y, double t) {
  assembleConstraints(m, w, Y, t);  // afresh: the failed attempt zeroed the dropped rows
  if (w.recordRows) recordViolations(m, h, w, t);
  w.system.setPivotTolerance(0.0);
  w.system.setDamping(kSingularDamping);
  const bool solved = blockMultipliers(m, w, w.dropped);
  w.system.setDamping(0.0);
  w.system.setPivotTolerance(BlockSystem::kDefaultPivotTolerance);
  if (!solved) return false;
  for (double a : w.acc)
    if (!std::isfinite(a)) return false;
  return true;
}

}  // namespace

// The sparsity of S is fixed by the bodies of every entry.
void analyseSparsity(DynamicsWork& w) {
  const int ncon = w.ncon;
  bool same = w.entries.size() == w.rows.size();
  for (size_t e = 0; same && e < w.rows.size(); ++e) {
    const ConstraintRows& r = w.rows[e];
    const int b0 = r.bi == r.bj ? r.bj : r.bi, b1 = r.bi == r.bj ? -1 : r.bj;
    same = w.entries[e].body[0] == b0 && w.entries[e].body[1] == b1 &&
           w.entries[e].nrows == std::min(r.nrows, w.rowStart[e] + r.nrows <= ncon ? r.nrows : 0);
  }
  if (same) return;
  w.entries.assign(w.rows.size(), SystemEntry{});
  for (size_t e = 0; e < w.rows.size(); ++e) {
    const ConstraintRows& r = w.rows[e];
    w.entries[e].nrows = w.rowStart[e] + r.nrows <= ncon ? r.nrows : 0;
    w.entries[e].body[0] = r.bi == r.bj ? r.bj : r.bi;
    w.entries[e].body[1] = r.bi == r.bj ? -1 : r.bj;
  }
  w.system.analyse(w.entries);
}

bool solveMultipliers(const Model& m, Histories& h, DynamicsWork& w, const double* Y, double t) {
  // Damped, a pivot is lost already where S is near singular: undamped there,
  // the stabilisation's share of the right side would be divided by it.
  if (w.damped) w.system.setPivotTolerance(kSingularDamping);
  const bool plain = blockMultipliers(m, w, w.dropped);
  w.system.setPivotTolerance(BlockSystem::kDefaultPivotTolerance);
  if (!plain) {
    if (w.ncon == 0) return false;
    if (w.damped) return dampedMultipliers(m, h, w, Y, t);
    // Rows that became dependent at this configuration: found here and left
    // out of this evaluation (the rows are assembled afresh, undropped).
    assembleConstraints(m, w, Y, t);
    if (w.recordRows) recordViolations(m, h, w, t);
    std::vector<char> here;
    if (!runtimeDroppedRows(m, w, Y, t, here)) return false;
    // The rows left are independent: a badly conditioned S (a long chain)
    // is factored as it stands rather than refused for a small pivot.
    w.system.setPivotTolerance(0.0);
    const bool solved = blockMultipliers(m, w, here);
    w.system.setPivotTolerance(BlockSystem::kDefaultPivotTolerance);
    if (!solved) return false;
  }
  for (double a : w.acc)
    if (!std::isfinite(a)) return false;
  return true;
}

}  // namespace orv
