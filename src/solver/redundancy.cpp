#include "solver/redundancy.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/model.h"
#include "solver/dynamics.h"
#include "solver/sparse_system.h"

namespace orv {

std::vector<char> findDependentRows(const Mat& S, double tol) {
  const int n = S.dim1();
  std::vector<char> dropped(n, 0);
  // Cholesky in row order, skipping rows whose pivot is lost: the pivot of
  // row k is the square of its part independent of the kept earlier rows.
  Mat L(n, n, 0.0);
  for (int k = 0; k < n; ++k) {
    const double skk = S[k][k];
    double d = skk;
    for (int l = 0; l < k; ++l) d -= L[k][l] * L[k][l];
    if (!(skk > 0.0) || !(d > tol * tol * skk)) {
      dropped[k] = 1;
      continue;
    }
    const double lkk = std::sqrt(d);
    L[k][k] = lkk;
    for (int i = k + 1; i < n; ++i) {
      double s = S[i][k];
      for (int l = 0; l < k; ++l) s -= L[i][l] * L[k][l];
      L[i][k] = s / lkk;
    }
  }
  return dropped;
}

double redundancyTolerance(int rows, int cols) {
  // Round-off grows with the size of the system; a row independent to less
  // than this cannot be told from a dependent one. Never below what the
  // factorisation of S itself refuses.
  const double scaled = std::max(rows, cols) * std::sqrt(std::numeric_limits<double>::epsilon());
  return std::max(scaled, 1e-6);
}

Mat multiplierMatrix(const Model& m, const DynamicsWork& w) {
  const int nb = m.body_num();
  const int ncon = w.ncon;
  // G per row and body, then S_rs = sum over shared bodies of G_r Minv_b G_s^T.
  std::vector<double> G(static_cast<size_t>(ncon) * 6 * nb, 0.0), W(G.size(), 0.0);
  double B[kMaxJointRows * 6];
  for (size_t e = 0; e < w.rows.size(); ++e) {
    const ConstraintRows& r = w.rows[e];
    for (int b : {r.bi, r.bj}) {
      if (b < 0 || b >= nb || !entryBlock(r, b, B)) continue;
      for (int k = 0; k < r.nrows && w.rowStart[e] + k < ncon; ++k)
        for (int c = 0; c < 6; ++c) G[(static_cast<size_t>(w.rowStart[e] + k) * nb + b) * 6 + c] = B[6 * k + c];
    }
  }
  for (int row = 0; row < ncon; ++row)
    for (int b = 0; b < nb; ++b) {
      const double* g = &G[(static_cast<size_t>(row) * nb + b) * 6];
      double* x = &W[(static_cast<size_t>(row) * nb + b) * 6];
      for (int c = 0; c < 3; ++c) x[c] = g[c] * w.minv[b].invMass;
      for (int c = 0; c < 3; ++c)
        x[3 + c] = g[3] * w.minv[b].invJ[c] + g[4] * w.minv[b].invJ[3 + c] + g[5] * w.minv[b].invJ[6 + c];
    }
  Mat S(ncon, ncon, 0.0);
  for (int i = 0; i < ncon; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      const double* x = &W[static_cast<size_t>(i) * nb * 6];
      const double* g = &G[static_cast<size_t>(j) * nb * 6];
      for (int k = 0; k < 6 * nb; ++k) s += x[k] * g[k];
      S[i][j] = S[j][i] = s;
    }
  return S;
}

void dropRows(DynamicsWork& w, const std::vector<char>& mask) {
  for (size_t e = 0; e < w.rows.size(); ++e) {
    ConstraintRows& r = w.rows[e];
    for (int k = 0; k < r.nrows; ++k) {
      const int row = w.rowStart[e] + k;
      if (row >= static_cast<int>(mask.size()) || !mask[row]) continue;
      for (int c = 0; c < 3; ++c) r.Bri[k][c] = r.Bpi[k][c] = r.Brj[k][c] = r.Bpj[k][c] = 0.0;
      r.gamma[k] = 0.0;
      if (row < w.gamma.dim1()) w.gamma[row] = 0.0;
    }
  }
}

std::string describeRow(const Model& m, const DynamicsWork& w, int row) {
  const int nj = m.joint_num();
  for (size_t e = 0; e < w.rowStart.size(); ++e) {
    const int n = static_cast<int>(e) < nj ? jointEquationCount(m.joints[e].type) : 1;
    if (row < w.rowStart[e] || row >= w.rowStart[e] + n) continue;
    if (static_cast<int>(e) >= nj) return "motion " + m.motions[e - nj].name;
    return "joint " + m.joints[e].name + " (" + m.joints[e].type + "), row " +
           std::to_string(row - w.rowStart[e] + 1) + " of " + std::to_string(n);
  }
  return "row " + std::to_string(row + 1);
}

std::string redundancyReport(const Model& m, const DynamicsWork& w, const std::vector<char>& mask,
                             const std::string& when) {
  int count = 0;
  for (char c : mask) count += c ? 1 : 0;
  if (count == 0) return "";
  std::string text = "Redundant constraints" + when + ": " + std::to_string(count) + " rows dropped\n";
  for (size_t r = 0; r < mask.size(); ++r)
    if (mask[r]) text += "  " + describeRow(m, w, static_cast<int>(r)) + "\n";
  text += "  The joint reactions are one valid set among many.\n";
  return text;
}

}  // namespace orv
