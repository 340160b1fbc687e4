#include "reference/dense_dynamics.h"

#include <jama/jama_lu.h>

#include <cmath>

#include "model/model.h"
#include "model/state_layout.h"

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
