#include "reference/dense_dynamics.h"

#include <jama/jama_lu.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "dynamics/redundancy.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "platform/console.h"

namespace orvref {

using namespace orv;

bool denseMultipliers(const Model& m, DynamicsWork& w, Vec& lambda, Vec& acc) {
  const StateLayout L{m.body_num()};
  const int n = 6 * L.nb, ncon = w.ncon;
  fillDenseJacobian(m, w);
  Mat Minv(n, n, 0.0);
  for (int b = 0; b < L.nb; ++b)
    for (int r = 0; r < 3; ++r) {
      Minv[L.trans(b) + r][L.trans(b) + r] = w.minv[b].invMass;
      for (int c = 0; c < 3; ++c) Minv[L.rot(b) + r][L.rot(b) + c] = w.minv[b].invJ[3 * r + c];
    }
  Vec Q(n), rhs(n);
  for (int i = 0; i < n; ++i) rhs[i] = Q[i] = w.Q[i];
  lambda = Vec(0);
  if (ncon > 0) {
    Mat S = matmul(w.Cq, matmul(Minv, transpose(w.Cq)));
    for (size_t k = 0; k < w.dropped.size(); ++k)
      if (w.dropped[k]) S[k][k] += 1.0;  // a zeroed row: its multiplier comes out zero
    Vec b = w.Cq * (Minv * Q);
    for (int i = 0; i < ncon; ++i) b[i] -= w.gamma[i];
    JAMA::LU<double> lu(S);
    lambda = lu.solve(b);
    if (lambda.dim1() != ncon) return false;
    for (int i = 0; i < ncon; ++i)
      if (!std::isfinite(lambda[i])) return false;
    const Vec CqTl = transposeTimes(w.Cq, lambda);
    for (int i = 0; i < n; ++i) rhs[i] = Q[i] - CqTl[i];
  }
  acc = Minv * rhs;
  return true;
}

template <class T>
static void printTnt(const T& a) {
  std::ostringstream s;
  s << a;
  cprintf("%s\n", s.str().c_str());
}

// dq = -Minv Cq^T S^-1 (Cq q - eta) when Cq q misses eta.
static void denseConsistentVelocities(const Model& m, DynamicsWork& w, const Vec& eta, Vec& qdot) {
  const StateLayout L{m.body_num()};
  Vec r = w.Cq * qdot;
  double worst = 0.0, scale = 0.0;
  for (int i = 0; i < w.ncon; ++i) {
    r[i] -= eta[i];
    worst = std::max(worst, std::fabs(r[i]));
    scale = std::max(scale, std::fabs(eta[i]));
  }
  for (int k = 0; k < 6 * L.nb; ++k) {
    double c = 0.0;
    for (int i = 0; i < w.ncon; ++i) c = std::max(c, std::fabs(w.Cq[i][k]));
    scale = std::max(scale, c * std::fabs(qdot[k]));
  }
  if (!(worst > 1e-10 * scale)) return;
  Mat S = multiplierMatrix(m, w);
  for (size_t k = 0; k < w.dropped.size(); ++k)
    if (w.dropped[k]) S[k][k] = 1.0, r[k] = 0.0;
  JAMA::LU<double> lu(S);
  const Vec lambda = lu.solve(r);
  for (int i = 0; i < lambda.dim1(); ++i)
    if (!std::isfinite(lambda[i])) return;
  if (lambda.dim1() != w.ncon) return;
  const Vec f = transposeTimes(w.Cq, lambda);
  for (int b = 0; b < L.nb; ++b) {
    double jw[3];
    mat3MulVec(jw, w.minv[b].invJ, &f[L.rot(b)]);
    for (int k = 0; k < 3; ++k)
      qdot[L.trans(b) + k] -= w.minv[b].invMass * f[L.trans(b) + k], qdot[L.rot(b) + k] -= jw[k];
  }
}

void denseInitialAnalysis(const Model& m, DynamicsWork& w, double t, double* Y) {
  const StateLayout L{m.body_num()};
  std::vector<double> Y0(L.size(), 0.0);
  for (int b = 0; b < L.nb; ++b) Y0[L.p(b)] = 1.0;
  setKinematics(w.kin, L.nb, Y0.data());
  assembleConstraints(m, w, Y0.data(), t);
  fillDenseJacobian(m, w);
  cprintf("Cq\n");
  printTnt(w.Cq);
  RowDependence dep;
  w.dropped.clear();
  if (w.ncon > 0 && findRedundantRows(m, w, {}, dep) &&
      !redundancyReport(m, w, dep.dropped, "").empty()) {
    w.dropped = dep.dropped;
    dropRows(w, w.dropped);
    fillDenseJacobian(m, w);
  }
  Vec eta(w.ncon, 0.0);
  const int nm = m.motion_num();
  for (int mo = 0; mo < nm; ++mo) eta[w.ncon - nm + mo] = motionVelocity(m, w.kin, mo, &w.programs);
  for (size_t k = 0; k < w.dropped.size(); ++k)
    if (w.dropped[k]) eta[k] = 0.0;
  printTnt(eta);
  Vec qdot(6 * L.nb, 0.0);
  bool given = false;
  for (int b = 0; b < L.nb; ++b)
    for (int k = 0; k < 3; ++k) {
      qdot[L.trans(b) + k] = m.bodies[b].vel0[k];
      qdot[L.rot(b) + k] = m.bodies[b].omega0[k];
      given |= qdot[L.trans(b) + k] != 0 || qdot[L.rot(b) + k] != 0;
    }
  if (given || nm > 0) solveVelocities(m, qdot, {}, eta, w.Cq);
  if (nm > 0) denseConsistentVelocities(m, w, eta, qdot);
  for (int b = 0; b < L.nb; ++b) {
    const double p[4] = {1, 0, 0, 0};
    for (int k = 0; k < 3; ++k) Y[L.r(b) + k] = 0.0, Y[L.v(b) + k] = qdot[L.trans(b) + k];
    for (int k = 0; k < 4; ++k) Y[L.p(b) + k] = p[k];
    eulerRatesFromOmega(&Y[L.pd(b)], p, &qdot[L.rot(b)]);
    cprintf("[%d]:\n  V={%e,%e,%e}\n", b, Y[L.v(b)], Y[L.v(b) + 1], Y[L.v(b) + 2]);
  }
}

std::vector<char> dependentRows(const Mat& S, double tol) {
  const int n = S.dim1();
  std::vector<char> dropped(n, 0);
  Mat L(n, n, 0.0);  // Cholesky factor of the kept rows
  for (int k = 0; k < n; ++k) {
    double d = S[k][k];
    for (int l = 0; l < k; ++l) d -= L[k][l] * L[k][l];
    if (!(S[k][k] > 0.0) || !(d > tol * tol * S[k][k])) {
      dropped[k] = 1;
      continue;
    }
    L[k][k] = std::sqrt(d);
    for (int i = k + 1; i < n; ++i) {
      double v = S[i][k];
      for (int l = 0; l < k; ++l) v -= L[i][l] * L[k][l];
      L[i][k] = v / L[k][k];
    }
  }
  return dropped;
}

}  // namespace orvref
