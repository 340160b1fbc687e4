#include "math/sparse_system.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace orv {

bool entryBlock(const ConstraintRows& rows, int body, double* out) {
  // With both sides on one body only the j blocks stand in the Jacobian.
  const double(*Br)[3] = nullptr;
  const double(*Bp)[3] = nullptr;
  if (rows.bi == rows.bj) {
    if (body == rows.bj) Br = rows.Brj, Bp = rows.Bpj;
  } else if (body == rows.bi) {
    Br = rows.Bri, Bp = rows.Bpi;
  } else if (body == rows.bj) {
    Br = rows.Brj, Bp = rows.Bpj;
  }
  if (!Br || body < 0) return false;
  for (int r = 0; r < rows.nrows; ++r)
    for (int c = 0; c < 3; ++c) {
      out[6 * r + c] = Br[r][c];
      out[6 * r + 3 + c] = Bp[r][c];
    }
  return true;
}

void BlockSystem::analyse(const std::vector<SystemEntry>& entries) {
  entries_ = entries;
  const int E = static_cast<int>(entries.size());
  rowStart_.assign(E + 1, 0);
  for (int e = 0; e < E; ++e) rowStart_[e + 1] = rowStart_[e] + entries[e].nrows;
  nrows_ = rowStart_[E];

  // Entries sharing a body are coupled in S.
  int nb = 0;
  for (const SystemEntry& s : entries)
    for (int b : s.body) nb = std::max(nb, b + 1);
  std::vector<std::vector<int>> byBody(nb);
  for (int e = 0; e < E; ++e)
    for (int b : entries[e].body)
      if (b >= 0 && entries[e].nrows > 0) byBody[b].push_back(e);
  std::vector<std::set<int>> adj(E);
  for (const auto& list : byBody)
    for (int a : list)
      for (int c : list)
        if (a != c) adj[a].insert(c);

  // Greedy minimum degree: eliminating leaves first keeps chains and trees
  // free of fill. The neighbours at elimination are the column's pattern.
  order_.clear();
  pos_.assign(E, -1);
  std::vector<std::vector<int>> pattern(E);
  std::vector<char> done(E, 0);
  for (int step = 0; step < E; ++step) {
    int best = -1;
    for (int e = 0; e < E; ++e)
      if (!done[e] && (best < 0 || adj[e].size() < adj[best].size())) best = e;
    done[best] = 1;
    pos_[best] = step;
    order_.push_back(best);
    pattern[best].assign(adj[best].begin(), adj[best].end());
    for (int a : adj[best]) {
      adj[a].erase(best);
      for (int c : adj[best])
        if (c != a) adj[a].insert(c);
    }
    adj[best].clear();
  }

  col_.assign(E, {});
  size_t at = 0;
  for (int k = 0; k < E; ++k) {
    std::vector<int> rows = pattern[k];
    std::sort(rows.begin(), rows.end(), [&](int a, int b) { return pos_[a] < pos_[b]; });
    const size_t nk = entries[k].nrows;
    col_[k].push_back({k, at});
    at += nk * nk;
    for (int i : rows) {
      col_[k].push_back({i, at});
      at += static_cast<size_t>(entries[i].nrows) * nk;
    }
  }
  data_.assign(at, 0.0);
  sdiag_.assign(static_cast<size_t>(nrows_), 0.0);
}

double* BlockSystem::block(int row, int column) {
  const std::vector<Block>& c = col_[column];
  auto it = std::lower_bound(c.begin(), c.end(), pos_[row],
                             [&](const Block& b, int p) { return pos_[b.row] < p; });
  if (it == c.end() || it->row != row) return nullptr;
  return &data_[it->at];
}

bool BlockSystem::assemble(const std::vector<ConstraintRows>& rows,
                           const std::vector<BodyInverse>& minv) {
  std::fill(data_.begin(), data_.end(), 0.0);
  const int E = static_cast<int>(entries_.size());

  // S blocks, body by body: S_ef += (G_e Minv_b) G_f^T for entries e, f on body b.
  const int nb = static_cast<int>(minv.size());
  std::vector<std::vector<int>> byBody(nb);
  for (int e = 0; e < E; ++e)
    for (int b : entries_[e].body)
      if (b >= 0 && b < nb && entries_[e].nrows > 0) byBody[b].push_back(e);
  double G[kMaxJointRows * 6], W[kMaxJointRows * 6], H[kMaxJointRows * 6];
  for (int b = 0; b < nb; ++b) {
    const BodyInverse& mi = minv[b];
    for (int e : byBody[b]) {
      if (!entryBlock(rows[e], b, G)) continue;
      const int ne = entries_[e].nrows;
      for (int r = 0; r < ne; ++r) {
        for (int c = 0; c < 3; ++c) W[6 * r + c] = G[6 * r + c] * mi.invMass;
        for (int c = 0; c < 3; ++c)
          W[6 * r + 3 + c] = G[6 * r + 3] * mi.invJ[c] + G[6 * r + 4] * mi.invJ[3 + c] +
                             G[6 * r + 5] * mi.invJ[6 + c];
      }
      for (int f : byBody[b]) {
        if (pos_[f] > pos_[e]) continue;  // lower triangle in elimination order
        if (!entryBlock(rows[f], b, H)) continue;
        const int nf = entries_[f].nrows;
        double* S = block(e, f);
        if (!S) return false;
        for (int r = 0; r < ne; ++r)
          for (int c = 0; c < nf; ++c) {
            double s = 0.0;
            for (int k = 0; k < 6; ++k) s += W[6 * r + k] * H[6 * c + k];
            S[r * nf + c] += s;
          }
      }
    }
  }

  for (size_t row = 0; row < dropped_.size(); ++row) {
    if (!dropped_[row]) continue;
    for (int e = 0; e < E; ++e)
      if (static_cast<int>(row) >= rowStart_[e] && static_cast<int>(row) < rowStart_[e + 1]) {
        const int ne = entries_[e].nrows, r = static_cast<int>(row) - rowStart_[e];
        data_[col_[e][0].at + r * ne + r] += 1.0;
      }
  }
  // Diagonal of S before elimination: the scale a pivot is judged against.
  for (int e = 0; e < E; ++e) {
    const int ne = entries_[e].nrows;
    const double* D = ne ? &data_[col_[e][0].at] : nullptr;
    for (int r = 0; r < ne; ++r) sdiag_[rowStart_[e] + r] = std::fabs(D[r * ne + r]);
  }
  if (damping_ > 0.0)
    for (int e = 0; e < E; ++e) {
      const int ne = entries_[e].nrows;
      for (int r = 0; r < ne; ++r)
        data_[col_[e][0].at + r * ne + r] += damping_ * sdiag_[rowStart_[e] + r];
    }
  return true;
}

bool BlockSystem::eliminate(int k) {
  const int nk = entries_[k].nrows;
  if (nk == 0) return true;
  double* L = &data_[col_[k][0].at];
  for (int j = 0; j < nk; ++j) {
    const double scale = sdiag_[rowStart_[k] + j];
    double d = L[j * nk + j];
    for (int l = 0; l < j; ++l) d -= L[j * nk + l] * L[j * nk + l];
    // A pivot lost in round-off means dependent rows: S is singular.
    if (!(d > pivotTol_ * scale) || !std::isfinite(d)) return false;
    const double ljj = std::sqrt(d);
    L[j * nk + j] = ljj;
    for (int i = j + 1; i < nk; ++i) {
      double s = L[i * nk + j];
      for (int l = 0; l < j; ++l) s -= L[i * nk + l] * L[j * nk + l];
      L[i * nk + j] = s / ljj;
    }
    for (int i = 0; i < j; ++i) L[i * nk + j] = 0.0;  // keep the upper part clean
  }
  // Off-diagonal blocks: B := B L_kk^-T.
  for (size_t q = 1; q < col_[k].size(); ++q) {
    const int ni = entries_[col_[k][q].row].nrows;
    double* B = &data_[col_[k][q].at];
    for (int r = 0; r < ni; ++r)
      for (int j = 0; j < nk; ++j) {
        double s = B[r * nk + j];
        for (int l = 0; l < j; ++l) s -= B[r * nk + l] * L[j * nk + l];
        B[r * nk + j] = s / L[j * nk + j];
      }
  }
  // Schur complement on the blocks below: A_ij -= L_ik L_jk^T.
  for (size_t a = 1; a < col_[k].size(); ++a) {
    const int i = col_[k][a].row;
    const int ni = entries_[i].nrows;
    const double* Li = &data_[col_[k][a].at];
    for (size_t c = 1; c <= a; ++c) {
      const int j = col_[k][c].row;
      const int nj = entries_[j].nrows;
      const double* Lj = &data_[col_[k][c].at];
      double* A = block(i, j);
      if (!A) return false;
      for (int r = 0; r < ni; ++r)
        for (int s = 0; s < nj; ++s) {
          double v = 0.0;
          for (int l = 0; l < nk; ++l) v += Li[r * nk + l] * Lj[s * nk + l];
          A[r * nj + s] -= v;
        }
    }
  }
  return true;
}

bool BlockSystem::factor(const std::vector<ConstraintRows>& rows,
                         const std::vector<BodyInverse>& minv) {
  if (!assemble(rows, minv)) return false;
  // Block Cholesky, right-looking in elimination order.
  for (int k : order_)
    if (!eliminate(k)) return false;
  return true;
}

void BlockSystem::solve(double* b) const {
  // Forward: L y = b.
  for (int k : order_) {
    const int nk = entries_[k].nrows;
    if (nk == 0) continue;
    double* y = b + rowStart_[k];
    const double* L = &data_[col_[k][0].at];
    for (int j = 0; j < nk; ++j) {
      double s = y[j];
      for (int l = 0; l < j; ++l) s -= L[j * nk + l] * y[l];
      y[j] = s / L[j * nk + j];
    }
    for (size_t q = 1; q < col_[k].size(); ++q) {
      const int i = col_[k][q].row;
      const int ni = entries_[i].nrows;
      const double* B = &data_[col_[k][q].at];
      double* yi = b + rowStart_[i];
      for (int r = 0; r < ni; ++r) {
        double s = 0.0;
        for (int l = 0; l < nk; ++l) s += B[r * nk + l] * y[l];
        yi[r] -= s;
      }
    }
  }
  // Backward: L^T x = y.
  for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
    const int k = *it;
    const int nk = entries_[k].nrows;
    if (nk == 0) continue;
    double* x = b + rowStart_[k];
    for (size_t q = 1; q < col_[k].size(); ++q) {
      const int i = col_[k][q].row;
      const int ni = entries_[i].nrows;
      const double* B = &data_[col_[k][q].at];
      const double* xi = b + rowStart_[i];
      for (int l = 0; l < nk; ++l) {
        double s = 0.0;
        for (int r = 0; r < ni; ++r) s += B[r * nk + l] * xi[r];
        x[l] -= s;
      }
    }
    const double* L = &data_[col_[k][0].at];
    for (int j = nk - 1; j >= 0; --j) {
      double s = x[j];
      for (int l = j + 1; l < nk; ++l) s -= L[l * nk + j] * x[l];
      x[j] = s / L[j * nk + j];
    }
  }
}

}  // namespace orv
