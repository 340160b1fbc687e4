#include "dynamics/redundancy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

#include "model/model.h"
#include "model/state_layout.h"
#include "platform/console.h"
#include "dynamics/dynamics.h"
#include "math/sparse_system.h"
#include "math/vec3.h"

namespace orv {

namespace {

// Cholesky of the Gram matrix G in row order, skipping the rows whose pivot
// is lost: the pivot of row k is the square of its part independent of the
// kept earlier rows, and row k is dependent when that is at most tol^2 times
// size2[k], its squared size. L keeps, in the row of a dependent row, its
// products with the kept rows.
std::vector<char> sequentialCholesky(const Mat& G, const std::vector<double>& size2, double tol,
                                     Mat& L) {
  const int n = G.dim1();
  std::vector<char> dropped(n, 0);
  L = Mat(n, n, 0.0);
  for (int k = 0; k < n; ++k) {
    double d = G[k][k];
    for (int l = 0; l < k; ++l) d -= L[k][l] * L[k][l];
    if (!(size2[k] > 0.0) || !(d > tol * tol * size2[k])) {
      dropped[k] = 1;
      continue;
    }
    const double lkk = std::sqrt(d);
    L[k][k] = lkk;
    for (int i = k + 1; i < n; ++i) {
      double s = G[i][k];
      for (int l = 0; l < k; ++l) s -= L[i][l] * L[k][l];
      L[i][k] = s / lkk;
    }
  }
  return dropped;
}

// Weights b of the kept rows before dependent row c with row c = sum b_l row_l:
// L_KK^T b = L[c][K] by back substitution.
std::vector<double> keptWeights(const Mat& L, const std::vector<char>& dropped, int c) {
  std::vector<double> b(c, 0.0);
  for (int l = c - 1; l >= 0; --l) {
    if (dropped[l]) continue;
    double s = L[c][l];
    for (int k = l + 1; k < c; ++k)
      if (!dropped[k]) s -= L[k][l] * b[k];
    b[l] = s / L[l][l];
  }
  return b;
}

// out = Minv_b g for one row of six (translational, rotational) entries.
void applyInverse(const BodyInverse& mi, const double* g, double* out) {
  for (int c = 0; c < 3; ++c) out[c] = g[c] * mi.invMass;
  for (int c = 0; c < 3; ++c)
    out[3 + c] = g[3] * mi.invJ[c] + g[4] * mi.invJ[3 + c] + g[5] * mi.invJ[6 + c];
}

double dot6(const double* a, const double* b) {
  double s = 0.0;
  for (int k = 0; k < 6; ++k) s += a[k] * b[k];
  return s;
}

// Union-find over the bodies and the ground (node nb), with a mark for the
// parts fixed in space.
struct Parts {
  std::vector<int> parent;
  std::vector<char> fixed;
  explicit Parts(int n) : parent(n + 1), fixed(n + 1, 0) {
    std::iota(parent.begin(), parent.end(), 0);
    fixed[n] = 1;
  }
  int find(int x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  }
  void join(int a, int b) {
    parent[a] = b;
    fixed[b] = fixed[a] || fixed[b];
  }
};

// How far |p|^2 may stray from 1 in a state that still is a configuration.
// A stage of a coarse step moves p along its tangent, by (h |w| / 4)^2 in
// |p|^2; a diverging step leaves it orders of magnitude away.
constexpr double kUnitTolerance = 0.5;

// The metric of the test for one body: its inverse mass, and for rotation
// the inverse of its mean moment of inertia, the same about every axis.
// Which rows depend on others does not depend on the metric, but round-off
// does: a slender rod (an axial moment of 1e-6 beside 1/12) would weigh one
// axis 1e5 times the others, and the lost pivot of a repeated row would
// drown in the round-off of that axis.
BodyInverse isotropic(const BodyInverse& mi) {
  BodyInverse out = mi;
  double J[9];
  if (!mat3Inverse(J, mi.invJ)) return out;
  const double mean = (J[0] + J[4] + J[8]) / 3.0;
  if (!(mean > 0.0) || !std::isfinite(mean)) return out;
  for (int k = 0; k < 9; ++k) out.invJ[k] = k % 4 == 0 ? 1.0 / mean : 0.0;
  return out;
}

// The rows of w as the test sees them: each entry's rows and the bodies they
// act on (one when both sides are on one body), in the metric above.
struct Layout {
  const DynamicsWork& w;
  std::vector<BodyInverse> metric;  // per body
  int nb = 0, ncon = 0, E = 0;
  std::vector<int> count;                  // rows of each entry
  std::vector<std::array<int, 2>> bodies;  // of each entry (-1: none)
  std::vector<std::vector<int>> byBody;    // entries acting on each body
  std::vector<int> entryOf;                // of each row (-1: none)

  Layout(const Model& m, const DynamicsWork& work)
      : w(work),
        nb(m.body_num()),
        ncon(work.ncon),
        E(static_cast<int>(work.rows.size())),
        count(E, 0),
        bodies(E),
        byBody(nb),
        entryOf(ncon, -1) {
    for (const BodyInverse& mi : w.minv) metric.push_back(isotropic(mi));
    for (int e = 0; e < E; ++e) {
      const ConstraintRows& r = w.rows[e];
      count[e] = w.rowStart[e] + r.nrows <= ncon ? r.nrows : 0;
      bodies[e] = {r.bi == r.bj ? r.bj : r.bi, r.bi == r.bj ? -1 : r.bj};
      for (int k = 0; k < count[e]; ++k) entryOf[w.rowStart[e] + k] = e;
      for (int b : bodies[e])
        if (b >= 0 && b < nb && count[e] > 0) byBody[b].push_back(e);
    }
  }
  bool finite() const {
    if (static_cast<int>(w.minv.size()) < nb) return false;
    for (int b = 0; b < nb; ++b) {
      bool ok = std::isfinite(w.minv[b].invMass);
      for (double v : w.minv[b].invJ) ok = ok && std::isfinite(v);
      if (!ok) return false;
    }
    for (int e = 0; e < E; ++e)
      for (int k = 0; k < count[e]; ++k)
        for (const double* v :
             {w.rows[e].Bri[k], w.rows[e].Bpi[k], w.rows[e].Brj[k], w.rows[e].Bpj[k]})
          if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) return false;
    return true;
  }
  // The rows of entry e on body b, 6 per row; false when it has none there.
  bool block(int e, int b, std::vector<double>& G) const {
    G.assign(6 * static_cast<size_t>(kMaxJointRows), 0.0);
    return b >= 0 && b < nb && entryBlock(w.rows[e], b, G.data());
  }
  // S_rc for row c of entry e and every row r, added to col; the rows it
  // can be non-zero in (those of the entries sharing a body with e), ascending.
  std::vector<int> column(int c, std::vector<double>& col) const {
    const int e = entryOf[c];
    std::vector<double> G, H;
    std::vector<int> rows;
    double W[6];
    for (int b : bodies[e]) {
      if (!block(e, b, G)) continue;
      applyInverse(metric[b], &G[6 * (c - w.rowStart[e])], W);
      for (int f : byBody[b])
        if (block(f, b, H))
          for (int k = 0; k < count[f]; ++k) {
            col[w.rowStart[f] + k] += dot6(&H[6 * k], W);
            rows.push_back(w.rowStart[f] + k);
          }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
  }
};

// Splits the rows not yet dropped into those the structure decides are
// independent and those left open. Taking the entries in order, one that
// joins two parts of which one is not fixed in space keeps the rows that are
// independent of each other on the body of that part; the rest, and every
// row of an entry within one part, stay open.
void splitRows(const Layout& L, const std::vector<char>& dropped, std::vector<char>& decided,
               std::vector<int>& open) {
  const DynamicsWork& w = L.w;
  decided.assign(L.ncon, 0);
  open.clear();
  Parts parts(L.nb);
  auto node = [&](int b) { return b >= 0 && b < L.nb ? b : L.nb; };
  std::vector<double> G;
  double W[6];
  for (int e = 0; e < L.E; ++e) {
    const ConstraintRows& r = w.rows[e];
    std::vector<int> rows;
    for (int k = 0; k < L.count[e]; ++k)
      if (!dropped[w.rowStart[e] + k]) rows.push_back(w.rowStart[e] + k);
    if (rows.empty()) continue;
    const int a = parts.find(node(r.bi)), c = parts.find(node(r.bj));
    if (r.bi == r.bj || a == c) {
      open.insert(open.end(), rows.begin(), rows.end());
      continue;
    }
    const int side = !parts.fixed[c] ? r.bj : r.bi;
    L.block(e, side, G);
    const int n = static_cast<int>(rows.size());
    Mat g(n, n, 0.0);
    std::vector<double> size2(n);
    for (int i = 0; i < n; ++i) {
      applyInverse(L.metric[side], &G[6 * (rows[i] - w.rowStart[e])], W);
      for (int j = 0; j < n; ++j) g[j][i] = dot6(&G[6 * (rows[j] - w.rowStart[e])], W);
    }
    for (int i = 0; i < n; ++i) size2[i] = g[i][i];
    Mat F;
    const std::vector<char> local = sequentialCholesky(g, size2, kRedundancyTolerance, F);
    for (int i = 0; i < n; ++i) {
      if (local[i])
        open.push_back(rows[i]);
      else
        decided[rows[i]] = 1;
    }
    parts.join(a, c);
  }
  std::sort(open.begin(), open.end());
}

// Tests the open rows in order against the decided ones and each other:
// their parts independent of the decided rows have the Gram matrix
// Z = S_oo - S_od S_dd^-1 S_do, which is tested like S. False when S_dd
// cannot be factored.
bool testOpenRows(const Layout& L, const std::vector<char>& decided, const std::vector<int>& open,
                  RowDependence& out, bool combinations) {
  const DynamicsWork& w = L.w;
  const int ncon = L.ncon, no = static_cast<int>(open.size());
  std::vector<std::vector<double>> col(no, std::vector<double>(ncon, 0.0));
  std::vector<std::vector<int>> nonzero(no);
  for (int i = 0; i < no; ++i) nonzero[i] = L.column(open[i], col[i]);

  // S_dd in block form, every other row left out (a unit diagonal, no coupling).
  std::vector<char> others(ncon, 0);
  for (int r = 0; r < ncon; ++r) others[r] = !decided[r];
  DynamicsWork cut;
  cut.rows = w.rows;
  cut.rowStart = w.rowStart;
  cut.gamma = Vec(ncon, 0.0);
  dropRows(cut, others);
  std::vector<SystemEntry> entries(L.E);
  for (int e = 0; e < L.E; ++e) {
    entries[e].nrows = L.count[e];
    entries[e].body[0] = L.bodies[e][0];
    entries[e].body[1] = L.bodies[e][1];
  }
  BlockSystem sys;
  sys.analyse(entries);
  sys.setDroppedRows(others);
  sys.setPivotTolerance(0.0);  // decided rows are independent, however ill-conditioned
  if (!sys.factor(cut.rows, L.metric)) return false;

  // x_i = S_dd^-1 S_di, Z_ij = S_ij - S_id . x_j (S_id is zero but in the
  // rows of the entries sharing a body with row i's).
  std::vector<std::vector<double>> x(no);
  for (int i = 0; i < no; ++i) {
    x[i].assign(ncon, 0.0);
    for (int r : nonzero[i])
      if (decided[r]) x[i][r] = col[i][r];
    sys.solve(x[i].data());
  }
  Mat Z(no, no, 0.0);
  std::vector<double> size2(no);
  for (int i = 0; i < no; ++i) {
    size2[i] = out.size2[open[i]];
    for (int j = 0; j <= i; ++j) {
      double s = col[j][open[i]];
      for (int r : nonzero[i])
        if (decided[r]) s -= col[i][r] * x[j][r];
      Z[i][j] = Z[j][i] = s;
    }
  }
  Mat F;
  const std::vector<char> dep = sequentialCholesky(Z, size2, kRedundancyTolerance, F);
  for (int i = 0; i < no; ++i) {
    if (!dep[i]) continue;
    out.dropped[open[i]] = 1;
    if (!combinations) continue;
    // row = sum b_j open_j + sum a_r decided_r, with a = x_i - sum b_j x_j.
    RowCombination rc;
    rc.row = open[i];
    const std::vector<double> b = keptWeights(F, dep, i);
    std::vector<double> a = x[i];
    for (int j = 0; j < i; ++j) {
      if (dep[j] || b[j] == 0.0) continue;
      rc.terms.push_back({open[j], b[j]});
      for (int r = 0; r < ncon; ++r) a[r] -= b[j] * x[j][r];
    }
    for (int r = 0; r < ncon; ++r)
      if (decided[r] && a[r] != 0.0) rc.terms.push_back({r, a[r]});
    std::sort(rc.terms.begin(), rc.terms.end());
    out.combinations.push_back(std::move(rc));
  }
  return true;
}

}  // namespace

bool findRedundantRows(const Model& m, const DynamicsWork& w, const std::vector<char>& absent,
                       RowDependence& out, bool combinations) {
  const Layout L(m, w);
  out.dropped.assign(L.ncon, 0);
  out.size2.assign(L.ncon, 0.0);
  out.combinations.clear();
  if (!L.finite()) return false;
  // Rows of no entry are zero: they depend on anything.
  for (int r = 0; r < L.ncon; ++r)
    out.dropped[r] = L.entryOf[r] < 0 || (r < static_cast<int>(absent.size()) && absent[r]);
  std::vector<double> G;
  double W[6];
  for (int e = 0; e < L.E; ++e)
    for (int b : L.bodies[e])
      if (L.block(e, b, G))
        for (int k = 0; k < L.count[e]; ++k) {
          applyInverse(L.metric[b], &G[6 * k], W);
          out.size2[w.rowStart[e] + k] += dot6(&G[6 * k], W);
        }
  std::vector<char> decided;
  std::vector<int> open;
  splitRows(L, out.dropped, decided, open);
  return open.empty() || testOpenRows(L, decided, open, out, combinations);
}

bool runtimeDroppedRows(const Model& m, DynamicsWork& w, const double* Y, double t,
                        std::vector<char>& here) {
  const StateLayout layout{m.body_num()};
  const int ncon = w.ncon;
  for (int b = 0; b < layout.nb; ++b) {
    const double* p = &Y[layout.p(b)];
    const double pp = p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3];
    if (!(std::fabs(pp - 1.0) <= kUnitTolerance)) return false;
  }
  RowDependence dep;
  if (!findRedundantRows(m, w, w.dropped, dep)) return false;
  here = dep.dropped;
  bool fresh = false;  // rows beyond those left out from the start
  for (int k = 0; k < ncon; ++k)
    fresh |= here[k] && !(k < static_cast<int>(w.dropped.size()) && w.dropped[k]);
  if (fresh && here != w.lastRuntimeDropped) {
    char when[64];
    std::snprintf(when, sizeof when, " at t=%e", t);
    const std::string report = redundancyReport(m, w, here, when);
    cprintf("%s", report.c_str());
    w.notice += report;
  }
  w.lastRuntimeDropped = here;
  return true;
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
        for (int c = 0; c < 6; ++c)
          G[(static_cast<size_t>(w.rowStart[e] + k) * nb + b) * 6 + c] = B[6 * k + c];
    }
  }
  for (int row = 0; row < ncon; ++row)
    for (int b = 0; b < nb; ++b)
      applyInverse(w.minv[b], &G[(static_cast<size_t>(row) * nb + b) * 6],
                   &W[(static_cast<size_t>(row) * nb + b) * 6]);
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

int entryOfRow(const Model& m, const DynamicsWork& w, int row) {
  const int nj = m.joint_num();
  for (size_t e = 0; e < w.rowStart.size(); ++e) {
    const int n = static_cast<int>(e) < nj ? jointEquationCount(m.joints[e].kind) : 1;
    if (row >= w.rowStart[e] && row < w.rowStart[e] + n) return static_cast<int>(e);
  }
  return -1;
}

std::string describeRow(const Model& m, const DynamicsWork& w, int row) {
  const int nj = m.joint_num();
  const int e = entryOfRow(m, w, row);
  if (e < 0) return "row " + std::to_string(row + 1);
  if (e >= nj) return "motion " + m.motions[e - nj].name;
  return "joint " + m.joints[e].name + " (" + m.joints[e].type + "), row " +
         std::to_string(row - w.rowStart[e] + 1) + " of " +
         std::to_string(jointEquationCount(m.joints[e].kind));
}

std::string redundancyReport(const Model& m, const DynamicsWork& w, const std::vector<char>& mask,
                             const std::string& when) {
  int count = 0;
  for (char c : mask) count += c ? 1 : 0;
  if (count == 0) return "";
  std::string text =
      "Redundant constraints" + when + ": " + std::to_string(count) + " rows dropped\n";
  for (size_t r = 0; r < mask.size(); ++r)
    if (mask[r]) text += "  " + describeRow(m, w, static_cast<int>(r)) + "\n";
  text += "  The joint reactions are one valid set among many.\n";
  return text;
}

}  // namespace orv
