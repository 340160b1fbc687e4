// The velocities the motions prescribe. The velocity components of the
// motion-driven bodies and of the bodies joined to them are "open"; of those,
// the ones the constraint rows determine are solved from Cq qdot = eta with
// every other component known:
//   Cd x = eta - Cq qdot_known   (Cd: the determined columns of Cq).
#include <jama/jama_lu.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "dynamics/dynamics.h"
#include "dynamics/redundancy.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "platform/console.h"
#include "platform/messages.h"

namespace orv {

namespace {

// The Jacobian as solveVelocities needs it: one column at a time, and the
// product with a velocity vector. Dense and block forms give the same numbers.
struct DenseJacobian {
  const Mat& Cq;
  int rows() const { return Cq.dim1(); }
  void column(int k, double* out) const {
    for (int r = 0; r < Cq.dim1(); ++r) out[r] = Cq[r][k];
  }
  void times(const Vec& v, double* out) const {
    for (int r = 0; r < Cq.dim1(); ++r) {
      double s = 0.0;
      for (int c = 0; c < Cq.dim2(); ++c) s += Cq[r][c] * v[c];
      out[r] = s;
    }
  }
};

struct BlockJacobian {
  const DynamicsWork& w;
  StateLayout layout;
  int rows() const { return w.ncon; }
  // Rows of the entries that act on the body of column k.
  void column(int k, double* out) const {
    const int nb = layout.nb;
    const int b = (k < 3 * nb ? k : k - 3 * nb) / 3;
    const int c = k < 3 * nb ? k % 3 : 3 + (k - 3 * nb) % 3;
    double G[kMaxJointRows * 6];
    for (int r = 0; r < w.ncon; ++r) out[r] = 0.0;
    for (size_t e = 0; e < w.rows.size(); ++e)
      if (entryBlock(w.rows[e], b, G))
        for (int r = 0; r < w.rows[e].nrows && w.rowStart[e] + r < w.ncon; ++r)
          out[w.rowStart[e] + r] = G[6 * r + c];
  }
  void times(const Vec& v, double* out) const {
    for (int r = 0; r < w.ncon; ++r) out[r] = 0.0;
    double G[kMaxJointRows * 6];
    for (size_t e = 0; e < w.rows.size(); ++e) {
      const ConstraintRows& R = w.rows[e];
      for (int side = 0; side < 2; ++side) {
        const int b = side == 0 ? R.bi : R.bj;
        if (b < 0 || (side == 0 && R.bi == R.bj) || !entryBlock(R, b, G)) continue;
        for (int r = 0; r < R.nrows && w.rowStart[e] + r < w.ncon; ++r) {
          double s = 0.0;
          for (int c = 0; c < 3; ++c)
            s += G[6 * r + c] * v[layout.trans(b) + c] + G[6 * r + 3 + c] * v[layout.rot(b) + c];
          out[w.rowStart[e] + r] += s;
        }
      }
    }
  }
};

// The open velocity components, in the order they are taken: those listed in
// mb, then the six of each body whose velocities follow from the motions
// (each motion's i body and the bodies joined to it, other than the motion's
// j body). isOpen marks them among all 6nb.
std::vector<int> openComponents(const Model& m, const std::vector<int>& mb,
                                std::vector<char>& isOpen) {
  const StateLayout layout{m.body_num()};
  const int n = 6 * layout.nb;
  std::vector<int> bodies;
  auto take = [&](int b) {
    if (b < 0 || b >= layout.nb) return;
    for (int x : bodies)
      if (x == b) return;
    bodies.push_back(b);
  };
  for (const Motion& mo : m.motions) {
    take(mo.i_body);
    for (const Joint& J : m.joints) {
      if (J.i_body == mo.i_body && J.j_body != mo.j_body) take(J.j_body);
      if (J.j_body == mo.i_body && J.i_body != mo.j_body) take(J.i_body);
    }
  }
  isOpen.assign(n, 0);
  std::vector<int> open;
  auto openIndex = [&](int k) {
    if (k >= 0 && k < n && !isOpen[k]) {
      isOpen[k] = 1;
      open.push_back(k);
    }
  };
  for (int k : mb) openIndex(k);
  for (int b : bodies)
    for (int c = 0; c < 6; ++c) openIndex(c < 3 ? layout.trans(b) + c : layout.rot(b) + c - 3);
  return open;
}

template <class Jacobian>
bool solveVelocitiesWith(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                         const Jacobian& J) {
  const int n = 6 * m.body_num();
  const int ncon = J.rows();
  std::vector<char> isOpen;
  const std::vector<int> open = openComponents(m, mb, isOpen);
  if (open.empty() || ncon == 0) return true;

  const int nu = static_cast<int>(open.size());
  std::vector<double> Cu(static_cast<size_t>(nu) * ncon);
  for (int a = 0; a < nu; ++a) J.column(open[a], &Cu[static_cast<size_t>(a) * ncon]);

  // Open columns that depend on earlier open columns are free: they keep
  // their values. The others are determined by the constraint rows.
  Mat CuTCu(nu, nu);
  for (int a = 0; a < nu; ++a)
    for (int b = 0; b < nu; ++b) {
      double s = 0.0;
      for (int r = 0; r < ncon; ++r) s += Cu[a * ncon + r] * Cu[b * ncon + r];
      CuTCu[a][b] = s;
    }
  JAMA::LU<double> luU(CuTCu);
  Mat U = luU.getU();
  std::vector<int> determined;
  std::vector<char> isFree(n, 0);
  for (int k = 0; k < nu; ++k) {
    if (std::fabs(U[k][k]) <= 1e-10)
      isFree[open[k]] = 1;
    else
      determined.push_back(k);
  }
  const int nd = static_cast<int>(determined.size());
  if (nd == 0) return true;
  // Gaussian elimination needs at least as many rows as unknowns.
  if (nd > ncon) return false;

  // Right side: eta minus the columns of every known (specified or free) component.
  Vec known(n);
  for (int k = 0; k < n; ++k) known[k] = (!isOpen[k] || isFree[k]) ? qdot[k] : 0.0;
  std::vector<double> Ck(ncon);
  J.times(known, Ck.data());
  Vec rhs(ncon);
  for (int r = 0; r < ncon; ++r) rhs[r] = eta[r] - Ck[r];
  Mat Cd(ncon, nd);
  for (int r = 0; r < ncon; ++r)
    for (int c = 0; c < nd; ++c) Cd[r][c] = Cu[static_cast<size_t>(determined[c]) * ncon + r];
  JAMA::LU<double> lu(Cd);
  Vec x = lu.solve(rhs);
  if (x.dim1() < nd) return false;
  for (int c = 0; c < nd; ++c)
    if (!std::isfinite(x[c])) return false;
  for (int c = 0; c < nd; ++c) qdot[open[determined[c]]] = x[c];
  return true;
}

}  // namespace

bool solveVelocities(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                     const Mat& Cq) {
  return solveVelocitiesWith(m, qdot, mb, eta, DenseJacobian{Cq});
}

bool solveVelocities(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                     const DynamicsWork& w) {
  return solveVelocitiesWith(m, qdot, mb, eta, BlockJacobian{w, StateLayout{m.body_num()}});
}

bool prescribeDrivenVelocities(const Model& m, DynamicsWork& w, double t, double* Y) {
  const StateLayout layout{m.body_num()};
  const int nb = layout.nb;
  const int nm = m.motion_num();
  const int ncon = w.ncon;
  setKinematics(w.kin, nb, Y);
  if (nm == 0 || ncon == 0) return true;
  assembleConstraints(m, w, Y, t);
  if (!w.dropped.empty()) dropRows(w, w.dropped);
  Vec eta(ncon, 0.0);
  for (int mo = 0; mo < nm; ++mo)
    eta[ncon - nm + mo] = motionEta(m.motions[mo].kind, w.rates[static_cast<size_t>(mo)].rate);
  for (size_t k = 0; k < w.dropped.size() && static_cast<int>(k) < ncon; ++k)
    if (w.dropped[k]) eta[k] = 0.0;
  Vec qdot(6 * nb);
  for (int b = 0; b < nb; ++b)
    for (int k = 0; k < 3; ++k) {
      qdot[layout.trans(b) + k] = Y[layout.v(b) + k];
      qdot[layout.rot(b) + k] = w.kin.omega[3 * b + k];
    }
  const Vec before = qdot.copy();
  const bool solved = solveVelocities(m, qdot, {}, eta, w);
  // Bodies the solve changed take its velocities; the others keep theirs
  // to the bit.
  for (int b = 0; b < nb; ++b) {
    bool changed = false;
    for (int k = 0; k < 3; ++k)
      changed |= qdot[layout.trans(b) + k] != before[layout.trans(b) + k] ||
                 qdot[layout.rot(b) + k] != before[layout.rot(b) + k];
    if (!changed) continue;
    const double* wb = &qdot[layout.rot(b)];
    for (int k = 0; k < 3; ++k) Y[layout.v(b) + k] = qdot[layout.trans(b) + k];
    eulerRatesFromOmega(&Y[layout.pd(b)], &Y[layout.p(b)], wb);
  }
  setKinematics(w.kin, nb, Y);
  return solved;
}

void drivenVelocities(const Model& m, DynamicsWork& w, double t, std::vector<int>& motionDofs) {
  const StateLayout layout{m.body_num()};
  motionDofs.clear();
  if (m.motion_num() == 0) return;
  if (!prescribeDrivenVelocities(m, w, t, w.Y.data()) && !w.velocityWarned) {
    cprintf("  Warning: the velocities of the motion-driven bodies cannot be solved at t=%e; "
            "they keep their values\n",
            t);
    char when[32];
    std::snprintf(when, sizeof when, "%g", t);
    report(Severity::Warning,
           std::string("the velocities of the motion-driven bodies cannot be solved at t=") + when +
               " s; they keep their values",
           m.path);
    w.velocityWarned = true;
  }
  for (const Motion& mo : m.motions) {
    const int b = mo.i_body;
    if (b < 0 || b >= layout.nb) continue;
    bool seen = false;
    for (size_t k = 0; k < motionDofs.size(); k += 6) seen |= motionDofs[k] == layout.trans(b);
    if (seen) continue;
    for (int c = 0; c < 3; ++c) motionDofs.push_back(layout.trans(b) + c);
    for (int c = 0; c < 3; ++c) motionDofs.push_back(layout.rot(b) + c);
  }
}

}  // namespace orv
