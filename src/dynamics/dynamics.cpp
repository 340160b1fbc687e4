#include "dynamics/dynamics.h"

#include <jama/jama_lu.h>

#include <cmath>
#include <sstream>

#include "contact/contact.h"
#include "forces/force_elements.h"
#include "joints/motions.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/settings.h"
#include "platform/console.h"
#include "dynamics/redundancy.h"
#include "math/rotation.h"
#include "math/vec3.h"

namespace orv {

namespace {

// Components this small are treated as exact zeros, so that round-off in a
// state at rest does not wake up contact and joint terms.
constexpr double kZeroState = 1e-10;

// TNT's stream format, on the console.
template <class T>
void printTnt(const T& a) {
  std::ostringstream s;
  s << a;
  cprintf("%s", s.str().c_str());
}

bool allFinite(const Vec& v) {
  for (int i = 0; i < v.dim1(); ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

}  // namespace

void setupDynamics(const Model& m, Histories& h, DynamicsWork& w) {
  w.programs = bindPrograms(m);
  const int nb = m.body_num();
  Mat M = zeros(6 * nb, 6 * nb);
  h.inertia.assign(9 * static_cast<size_t>(nb), 0.0);
  cprintf("Jd matrix\n");
  for (int i = 0; i < nb; ++i) {
    const Body& b = m.bodies[i];
    for (int k = 0; k < 3; ++k) M[3 * i + k][3 * i + k] = b.mass;
    Mat Jd = zeros(3, 3);
    for (int k = 0; k < 3; ++k) Jd[k][k] = b.inertia[k];
    const double* ang = m.frames[b.cg_lc].ang;
    Mat A0 = rotationZXZ(degToRad(ang[0]), degToRad(ang[1]), degToRad(ang[2]));
    Mat J = matmul(matmul(A0, Jd), transpose(A0));
    printTnt(J);
    cprintf("\n");
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        M[3 * nb + 3 * i + r][3 * nb + 3 * i + c] = J[r][c];
        h.inertia[9 * i + 3 * r + c] = J[r][c];
      }
  }
  w.minv.assign(nb, BodyInverse{});
  for (int i = 0; i < nb; ++i) {
    w.minv[i].invMass = 1.0 / m.bodies[i].mass;
    if (!mat3Inverse(w.minv[i].invJ, &h.inertia[9 * i]))
      for (double& v : w.minv[i].invJ) v = std::nan("");
  }
  w.Minv = w.densePath ? inverse(M) : Mat();

  w.ncon = 0;
  w.rows.assign(m.joint_num() + m.motion_num(), ConstraintRows{});
  w.rowStart.assign(w.rows.size(), 0);
  for (int j = 0; j < m.joint_num(); ++j) {
    w.rowStart[j] = w.ncon;
    w.ncon += jointEquationCount(m.joints[j].kind);
  }
  for (int mo = 0; mo < m.motion_num(); ++mo) {
    w.rowStart[m.joint_num() + mo] = w.ncon;
    w.ncon += 1;
  }
  w.Cq = Mat();
  w.gamma = Vec(w.ncon, 0.0);
  w.entries.clear();
  w.Y.assign(14 * static_cast<size_t>(nb), 0.0);
  w.F.assign(3 * static_cast<size_t>(nb), 0.0);
  w.N.assign(3 * static_cast<size_t>(nb), 0.0);
  w.Q.assign(6 * static_cast<size_t>(nb), 0.0);
  w.acc.assign(6 * static_cast<size_t>(nb), 0.0);
  w.rhs.assign(static_cast<size_t>(w.ncon), 0.0);
  w.velocityWarned = false;
  w.rateSide = RateSide::Central;
  w.rates.assign(static_cast<size_t>(m.motion_num()), MotionRate{});
  w.recordRows = false;
  w.elementF.assign(3 * static_cast<size_t>(nb), 0.0);
  w.elementN.assign(3 * static_cast<size_t>(nb), 0.0);
}

void publishKinematics(const Model& m, Histories& h, const double* Y) {
  const int nb = m.body_num();
  h.p.resize(4 * static_cast<size_t>(nb));
  h.pd.resize(4 * static_cast<size_t>(nb));
  h.omega.resize(3 * static_cast<size_t>(nb));
  h.A.resize(9 * static_cast<size_t>(nb));
  for (int b = 0; b < nb; ++b) {
    const double* p = &Y[6 * nb + 4 * b];
    const double* pd = &Y[10 * nb + 4 * b];
    for (int k = 0; k < 4; ++k) {
      h.p[4 * b + k] = p[k];
      h.pd[4 * b + k] = pd[k];
    }
    omegaFromEulerRates(&h.omega[3 * b], p, pd);
    mat3FromEulerParameters(&h.A[9 * b], p);
  }
}

void assembleConstraints(const Model& m, Histories& h, DynamicsWork& w, const double* Y, double t,
                         bool record) {
  const int nj = m.joint_num();
  const int nm = m.motion_num();
  const int row = sampleRow(m, t);
  if (static_cast<int>(w.rates.size()) != nm) w.rates.assign(static_cast<size_t>(nm), MotionRate{});
  for (int e = 0; e < nj + nm; ++e) {
    ConstraintRows& r = w.rows[e];
    if (e < nj) {
      evaluateJoint(m, h, Y, t, e, r);
    } else {
      MotionRate& f = w.rates[static_cast<size_t>(e - nj)];
      f = motionRate(m, h, e - nj, t, w.rateSide, &w.programs);
      motionConstraint(m, h, Y, e - nj, f, r);
    }
    if (!record) continue;
    // The violation monitor: one value per joint and motion in the sample row.
    const size_t at = static_cast<size_t>(row) * (nm + nj) + e;
    if (row >= 0 && at < h.p_C_const.size()) h.p_C_const[at] = r.violation;
    h.constraintViolationSum += r.violation;
  }
  for (int e = 0; e < nj + nm; ++e) {
    const ConstraintRows& r = w.rows[e];
    const int n = e < nj ? jointEquationCount(m.joints[e].kind) : 1;
    for (int k = 0; k < n; ++k) w.gamma[w.rowStart[e] + k] = k < r.nrows ? r.gamma[k] : 0.0;
  }
}

void fillDenseJacobian(const Model& m, DynamicsWork& w) {
  const int nb = m.body_num();
  const int nj = m.joint_num();
  if (w.Cq.dim1() != w.ncon || w.Cq.dim2() != 6 * nb) w.Cq = Mat(w.ncon, 6 * nb);
  for (int i = 0; i < w.ncon; ++i)
    for (int c = 0; c < 6 * nb; ++c) w.Cq[i][c] = 0.0;
  // The j blocks are written after the i blocks, so a joint with both sides
  // on one body keeps the j blocks.
  for (size_t e = 0; e < w.rows.size(); ++e) {
    const ConstraintRows& r = w.rows[e];
    const int k0 = w.rowStart[e];
    const int n = static_cast<int>(e) < nj ? jointEquationCount(m.joints[e].kind) : 1;
    for (int k = 0; k < n && k < r.nrows; ++k) {
      double* Cq = w.Cq[k0 + k];
      if (r.bi >= 0)
        for (int c = 0; c < 3; ++c) {
          Cq[3 * r.bi + c] = r.Bri[k][c];
          Cq[3 * nb + 3 * r.bi + c] = r.Bpi[k][c];
        }
      if (r.bj >= 0)
        for (int c = 0; c < 3; ++c) {
          Cq[3 * r.bj + c] = r.Brj[k][c];
          Cq[3 * nb + 3 * r.bj + c] = r.Bpj[k][c];
        }
    }
  }
}

void extractJointReactions(const Model& m, const DynamicsWork& w, const Vec& lambda, double* out) {
  for (int j = 0; j < m.joint_num(); ++j) {
    double* f = out + 6 * j;
    for (int k = 0; k < 6; ++k) f[k] = 0.0;
    const ConstraintRows& r = w.rows[j];
    if (m.joints[j].kind == JointType::Ground || r.bi < 0) continue;
    // Body i's columns hold the j blocks when both sides are on one body.
    const bool same = r.bi == r.bj;
    const int k0 = w.rowStart[j];
    for (int e = 0; e < r.nrows && k0 + e < lambda.dim1(); ++e) {
      const double l = lambda[k0 + e];
      for (int c = 0; c < 3; ++c) {
        f[c] -= (same ? r.Brj[e][c] : r.Bri[e][c]) * l;
        f[3 + c] -= (same ? r.Bpj[e][c] : r.Bpi[e][c]) * l;
      }
    }
  }
}

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
  int nb;
  int rows() const { return w.ncon; }
  // Rows of the entries that act on the body of column k.
  void column(int k, double* out) const {
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
            s += G[6 * r + c] * v[3 * b + c] + G[6 * r + 3 + c] * v[3 * nb + 3 * b + c];
          out[w.rowStart[e] + r] += s;
        }
      }
    }
  }
};

template <class Jacobian>
bool solveVelocitiesWith(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                         const Jacobian& J) {
  const int nb = m.body_num();
  const int n = 6 * nb;
  const int ncon = J.rows();

  // Bodies whose velocities follow from the motions: each motion's i body and
  // the bodies joined to it (other than the motion's j body).
  std::vector<int> bodies;
  auto take = [&](int b) {
    if (b < 0 || b >= nb) return;
    for (int x : bodies)
      if (x == b) return;
    bodies.push_back(b);
  };
  for (const Motion& mo : m.motions) {
    take(mo.i_body);
    for (const Joint& Jt : m.joints) {
      if (Jt.i_body == mo.i_body && Jt.j_body != mo.j_body) take(Jt.j_body);
      if (Jt.j_body == mo.i_body && Jt.i_body != mo.j_body) take(Jt.i_body);
    }
  }
  std::vector<char> isOpen(n, 0);
  std::vector<int> open;
  auto openIndex = [&](int k) {
    if (k >= 0 && k < n && !isOpen[k]) {
      isOpen[k] = 1;
      open.push_back(k);
    }
  };
  for (int k : mb) openIndex(k);
  for (int b : bodies)
    for (int k : {3 * b, 3 * b + 1, 3 * b + 2, 3 * (nb + b), 3 * (nb + b) + 1, 3 * (nb + b) + 2})
      openIndex(k);
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
  return solveVelocitiesWith(m, qdot, mb, eta, BlockJacobian{w, m.body_num()});
}

namespace {

// Accelerations and multipliers with dense matrices: Minv Cq^T, S = Cq Minv Cq^T, LU.
bool denseMultipliers(const Model& m, DynamicsWork& w, const Vec& Q, Vec& acc,
                      const std::vector<char>& dropped) {
  const int nb = m.body_num();
  const int ncon = w.ncon;
  if (w.Minv.dim1() != 6 * nb) {
    Mat M = zeros(6 * nb, 6 * nb);
    for (int b = 0; b < nb; ++b)
      for (int k = 0; k < 3; ++k) M[3 * b + k][3 * b + k] = 1.0 / w.minv[b].invMass;
    Mat Jinv(3, 3);
    for (int b = 0; b < nb; ++b) {
      double J[9];
      mat3Inverse(J, w.minv[b].invJ);
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) M[3 * nb + 3 * b + r][3 * nb + 3 * b + c] = J[3 * r + c];
    }
    w.Minv = inverse(M);
  }
  fillDenseJacobian(m, w);
  const Mat& Minv = w.Minv;
  Vec MinvQ = Minv * Q;
  if (ncon == 0) {
    acc = MinvQ;
    w.lambda = Vec(0);
    return true;
  }
  Mat X = matmult(Minv, transpose(w.Cq));
  Mat S = matmult(w.Cq, X);
  for (size_t k = 0; k < dropped.size() && static_cast<int>(k) < ncon; ++k)
    if (dropped[k]) S[k][k] += 1.0;  // a zeroed row: its multiplier comes out zero
  Vec b = w.Cq * MinvQ;
  for (int i = 0; i < ncon; ++i) b[i] -= w.gamma[i];
  JAMA::LU<double> lu(S);
  Vec lambda = lu.solve(b);
  if (lambda.dim1() != ncon || !allFinite(lambda)) return false;
  Vec CqTl = transposeTimes(w.Cq, lambda);
  Vec rhs(6 * nb);
  for (int i = 0; i < 6 * nb; ++i) rhs[i] = Q[i] - CqTl[i];
  acc = Minv * rhs;
  w.lambda = lambda;
  return true;
}

// The same from the blocks: Minv per body, S in block form.
bool blockMultipliers(const Model& m, DynamicsWork& w, const Vec& Q, Vec& acc,
                      const std::vector<char>& dropped) {
  const int nb = m.body_num();
  const int ncon = w.ncon;
  auto applyMinv = [&](int b, const double* in, double* out) {
    const BodyInverse& mi = w.minv[b];
    for (int k = 0; k < 3; ++k) out[k] = mi.invMass * in[k];
    mat3MulVec(out + 3, mi.invJ, in + 3);
  };
  std::vector<double>& q6 = w.acc;  // per body: (translational, rotational)
  for (int b = 0; b < nb; ++b) {
    const double in[6] = {Q[3 * b], Q[3 * b + 1], Q[3 * b + 2],
                          Q[3 * nb + 3 * b], Q[3 * nb + 3 * b + 1], Q[3 * nb + 3 * b + 2]};
    applyMinv(b, in, &q6[6 * b]);
  }
  if (ncon > 0) {
    // Sparsity is fixed once the bodies of every entry are known.
    bool same = w.entries.size() == w.rows.size();
    for (size_t e = 0; same && e < w.rows.size(); ++e) {
      const ConstraintRows& r = w.rows[e];
      const int b0 = r.bi == r.bj ? r.bj : r.bi, b1 = r.bi == r.bj ? -1 : r.bj;
      same = w.entries[e].body[0] == b0 && w.entries[e].body[1] == b1 &&
             w.entries[e].nrows == std::min(r.nrows, w.rowStart[e] + r.nrows <= ncon ? r.nrows : 0);
    }
    if (!same) {
      w.entries.assign(w.rows.size(), SystemEntry{});
      for (size_t e = 0; e < w.rows.size(); ++e) {
        const ConstraintRows& r = w.rows[e];
        w.entries[e].nrows = w.rowStart[e] + r.nrows <= ncon ? r.nrows : 0;
        w.entries[e].body[0] = r.bi == r.bj ? r.bj : r.bi;
        w.entries[e].body[1] = r.bi == r.bj ? -1 : r.bj;
      }
      w.system.analyse(w.entries);
    }
    w.system.setDroppedRows(dropped);
    if (!w.system.factor(w.rows, w.minv)) return false;
    // b = Cq Minv Q - gamma, entry by entry.
    double G[kMaxJointRows * 6];
    std::vector<double>& b = w.rhs;
    for (int i = 0; i < ncon; ++i) b[i] = -w.gamma[i];
    for (size_t e = 0; e < w.rows.size(); ++e) {
      const ConstraintRows& R = w.rows[e];
      for (int body : w.entries[e].body) {
        if (body < 0 || !entryBlock(R, body, G)) continue;
        for (int r = 0; r < w.entries[e].nrows; ++r) {
          double s = 0.0;
          for (int c = 0; c < 6; ++c) s += G[6 * r + c] * q6[6 * body + c];
          b[w.rowStart[e] + r] += s;
        }
      }
    }
    w.system.solve(b.data());
    for (int i = 0; i < ncon; ++i)
      if (!std::isfinite(b[i])) return false;
    if (w.lambda.dim1() != ncon) w.lambda = Vec(ncon);
    for (int i = 0; i < ncon; ++i) w.lambda[i] = b[i];
    // Q - Cq^T lambda, then Minv per body.
    std::vector<double> f(6 * static_cast<size_t>(nb));
    for (int bb = 0; bb < nb; ++bb)
      for (int k = 0; k < 3; ++k) {
        f[6 * bb + k] = Q[3 * bb + k];
        f[6 * bb + 3 + k] = Q[3 * nb + 3 * bb + k];
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
    for (int bb = 0; bb < nb; ++bb) applyMinv(bb, &f[6 * bb], &q6[6 * bb]);
  } else {
    w.lambda = Vec(0);
  }
  if (acc.dim1() != 6 * nb) acc = Vec(6 * nb);
  for (int bb = 0; bb < nb; ++bb)
    for (int k = 0; k < 3; ++k) {
      acc[3 * bb + k] = q6[6 * bb + k];
      acc[3 * nb + 3 * bb + k] = q6[6 * bb + 3 + k];
    }
  return true;
}

}  // namespace

bool prescribeDrivenVelocities(const Model& m, Histories& h, DynamicsWork& w, double t, double* Y) {
  const int nb = m.body_num();
  const int nm = m.motion_num();
  const int ncon = w.ncon;
  publishKinematics(m, h, Y);
  if (nm == 0 || ncon == 0) return true;
  assembleConstraints(m, h, w, Y, t, false);
  if (!w.dropped.empty()) dropRows(w, w.dropped);
  Vec eta(ncon, 0.0);
  for (int mo = 0; mo < nm; ++mo)
    eta[ncon - nm + mo] = motionEta(m.motions[mo].kind, w.rates[static_cast<size_t>(mo)].rate);
  for (size_t k = 0; k < w.dropped.size() && static_cast<int>(k) < ncon; ++k)
    if (w.dropped[k]) eta[k] = 0.0;
  Vec qdot(6 * nb);
  for (int b = 0; b < nb; ++b)
    for (int k = 0; k < 3; ++k) {
      qdot[3 * b + k] = Y[3 * nb + 3 * b + k];
      qdot[3 * nb + 3 * b + k] = h.omega[3 * b + k];
    }
  const Vec before = qdot.copy();
  if (w.densePath) fillDenseJacobian(m, w);
  const bool solved = w.densePath ? solveVelocities(m, qdot, {}, eta, w.Cq)
                                  : solveVelocities(m, qdot, {}, eta, w);
  // Bodies the solve changed take its velocities; the others keep theirs
  // to the bit.
  for (int b = 0; b < nb; ++b) {
    bool changed = false;
    for (int k = 0; k < 3; ++k)
      changed |= qdot[3 * b + k] != before[3 * b + k] ||
                 qdot[3 * nb + 3 * b + k] != before[3 * nb + 3 * b + k];
    if (!changed) continue;
    const double wb[3] = {qdot[3 * nb + 3 * b], qdot[3 * nb + 3 * b + 1], qdot[3 * nb + 3 * b + 2]};
    for (int k = 0; k < 3; ++k) Y[3 * nb + 3 * b + k] = qdot[3 * b + k];
    eulerRatesFromOmega(&Y[10 * nb + 4 * b], &Y[6 * nb + 4 * b], wb);
  }
  publishKinematics(m, h, Y);
  return solved;
}

bool computeStateDerivative(const Model& m, const Settings& s, Histories& h, DynamicsWork& w,
                            double t, const double* Yin, double* dY, std::vector<int>& motionDofs) {
  const int nb = m.body_num();
  const int nm = m.motion_num();
  // Contact records carry the sample they belong to; the force rows are
  // written for a sample's own state only.
  const int row = sampleRow(m, t);
  const int storeRow = w.recordRows ? row : -1;

  double* Y = w.Y.data();
  for (int i = 0; i < 14 * nb; ++i) Y[i] = std::fabs(Yin[i]) < kZeroState ? 0.0 : Yin[i];
  publishKinematics(m, h, Y);

  // The velocities of the motion-driven bodies follow the motions at this
  // state's own positions and time, before the loads, the joints' gamma and
  // the gyroscopic terms read them: a stage state carries no prescribed
  // velocities of its own, so every stage is a full fourth-order evaluation.
  motionDofs.clear();
  if (nm > 0) {
    if (!prescribeDrivenVelocities(m, h, w, t, Y) && !w.velocityWarned) {
      cprintf("  Warning: the velocities of the motion-driven bodies cannot be solved at t=%e; "
              "they keep their values\n", t);
      w.velocityWarned = true;
    }
    for (const Motion& mo : m.motions) {
      const int b = mo.i_body;
      if (b < 0 || b >= nb) continue;
      bool seen = false;
      for (size_t k = 0; k < motionDofs.size(); k += 6) seen |= motionDofs[k] == 3 * b;
      if (seen) continue;
      for (int k : {3 * b, 3 * b + 1, 3 * b + 2, 3 * (nb + b), 3 * (nb + b) + 1, 3 * (nb + b) + 2})
        motionDofs.push_back(k);
    }
  }

  double* F = w.F.data();
  double* N = w.N.data();
  for (int i = 0; i < 3 * nb; ++i) F[i] = N[i] = 0.0;
  for (int b = 0; b < nb && b < static_cast<int>(m.gravity.size()); ++b)
    for (int k = 0; k < 3; ++k) F[3 * b + k] += m.gravity[b].F[k];
  applyForceElements(m, h, Y, t, F, N, storeRow, &w.programs);
  for (int b = 0; b < nb; ++b)
    for (int k = 0; k < 3; ++k) {
      const double g = b < static_cast<int>(m.gravity.size()) ? m.gravity[b].F[k] : 0.0;
      w.elementF[3 * b + k] = F[3 * b + k] - g;
      w.elementN[3 * b + k] = N[3 * b + k];
    }
  applyContact(m, s, h, Y, F, N, row);

  Vec Q(6 * nb);
  for (int b = 0; b < nb; ++b) {
    const double* J = &h.inertia[9 * b];
    const double* wb = &h.omega[3 * b];
    double Jw[3], gyro[3];
    mat3MulVec(Jw, J, wb);
    vec3Cross(gyro, wb, Jw);
    for (int k = 0; k < 3; ++k) {
      Q[3 * b + k] = F[3 * b + k];
      Q[3 * nb + 3 * b + k] = N[3 * b + k] - gyro[k];
    }
  }

  assembleConstraints(m, h, w, Y, t, w.recordRows);
  const int ncon = w.ncon;
  auto multipliers = [&](Vec& acc, const std::vector<char>& dropped) {
    if (!dropped.empty()) dropRows(w, dropped);
    return w.densePath ? denseMultipliers(m, w, Q, acc, dropped)
                       : blockMultipliers(m, w, Q, acc, dropped);
  };
  Vec acc;
  if (!multipliers(acc, w.dropped)) {
    if (ncon == 0) return false;
    // Rows that became dependent at this configuration (a mechanism passing
    // through a singular position): find them here and leave them out of
    // this evaluation.
    assembleConstraints(m, h, w, Y, t, w.recordRows);
    std::vector<char> here;
    if (!runtimeDroppedRows(m, w, Y, t, here)) return false;
    // The rows left are independent: a badly conditioned S (a long chain)
    // is factored as it stands rather than refused for a small pivot.
    w.system.setPivotTolerance(0.0);
    const bool solved = multipliers(acc, here);
    w.system.setPivotTolerance(BlockSystem::kDefaultPivotTolerance);
    if (!solved) return false;
  }
  if (!allFinite(acc)) return false;

  for (int b = 0; b < nb; ++b) {
    const double* p = &Y[6 * nb + 4 * b];
    const double* wb = &h.omega[3 * b];
    const double wd[3] = {acc[3 * nb + 3 * b], acc[3 * nb + 3 * b + 1], acc[3 * nb + 3 * b + 2]};
    double pdot[4], pdd[4];
    eulerRatesFromOmega(pdot, p, wb);
    eulerRatesFromOmega(pdd, p, wd);
    const double ww = vec3Dot(wb, wb);
    for (int k = 0; k < 3; ++k) {
      dY[3 * b + k] = Y[3 * nb + 3 * b + k];
      dY[3 * nb + 3 * b + k] = acc[3 * b + k];
    }
    for (int k = 0; k < 4; ++k) {
      dY[6 * nb + 4 * b + k] = pdot[k];
      dY[10 * nb + 4 * b + k] = pdd[k] - 0.25 * ww * p[k];
    }
  }
  return true;
}

namespace {

// The partitioned solve sets the driven body and the bodies joined to it; in
// a closed loop the other bodies of the loop (the rocker of a four-bar) keep
// the model's velocities, which then contradict the motion. When the
// constraints are not met at velocity level, the velocities take the
// smallest change in kinetic-energy measure that meets them:
// dq = -Minv Cq^T S^-1 (Cq q - eta).
void makeVelocitiesConsistent(const Model& m, DynamicsWork& w, const Vec& eta, Vec& qdot) {
  const int nb = m.body_num();
  const int ncon = w.ncon;
  Vec r = w.Cq * qdot;
  double worst = 0.0, scale = 0.0;
  for (int i = 0; i < ncon; ++i) {
    r[i] -= eta[i];
    worst = std::max(worst, std::fabs(r[i]));
    scale = std::max(scale, std::fabs(eta[i]));
  }
  for (int k = 0; k < 6 * nb; ++k) {
    double c = 0.0;
    for (int i = 0; i < ncon; ++i) c = std::max(c, std::fabs(w.Cq[i][k]));
    scale = std::max(scale, c * std::fabs(qdot[k]));
  }
  if (!(worst > 1e-10 * scale)) return;
  Mat S = multiplierMatrix(m, w);
  for (int k = 0; k < ncon; ++k)
    if (k < static_cast<int>(w.dropped.size()) && w.dropped[k]) S[k][k] = 1.0, r[k] = 0.0;
  JAMA::LU<double> lu(S);
  Vec lambda = lu.solve(r);
  if (lambda.dim1() != ncon || !allFinite(lambda)) return;
  Vec f = transposeTimes(w.Cq, lambda);
  double change = 0.0;
  for (int b = 0; b < nb; ++b) {
    double v[3], wv[3];
    for (int k = 0; k < 3; ++k) v[k] = f[3 * b + k], wv[k] = f[3 * nb + 3 * b + k];
    double jw[3];
    mat3MulVec(jw, w.minv[b].invJ, wv);
    for (int k = 0; k < 3; ++k) {
      const double dv = w.minv[b].invMass * v[k];
      qdot[3 * b + k] -= dv;
      qdot[3 * nb + 3 * b + k] -= jw[k];
      change = std::max(change, std::max(std::fabs(dv), std::fabs(jw[k])));
    }
  }
  cprintf("  Initial velocities made consistent with the constraints (largest change %e)\n", change);
}

}  // namespace

void initialAnalysis(const Model& m, Histories& h, DynamicsWork& w, double t, double* Y) {
  const int nb = m.body_num();
  const int nm = m.motion_num();
  cprintf("mbd_initial_vw\n");
  std::vector<double> Y0(14 * static_cast<size_t>(nb), 0.0);
  for (int b = 0; b < nb; ++b) Y0[6 * nb + 4 * b] = 1.0;
  publishKinematics(m, h, Y0.data());
  assembleConstraints(m, h, w, Y0.data(), t);
  fillDenseJacobian(m, w);
  cprintf("Cq\n");
  printTnt(w.Cq);
  cprintf("\n");

  // Rows repeated by closed loops are found here, once, and left out of the run.
  const int ncon = w.ncon;
  w.dropped.clear();
  w.lastRuntimeDropped.clear();
  w.notice.clear();
  RowDependence dep;
  if (ncon > 0 && findRedundantRows(m, w, {}, dep)) {
    const std::string report = redundancyReport(m, w, dep.dropped, "");
    if (!report.empty()) {
      cprintf("%s", report.c_str());
      w.notice = report;
      w.dropped = dep.dropped;
      dropRows(w, dep.dropped);
      fillDenseJacobian(m, w);
    }
  }

  Vec eta(ncon, 0.0);
  for (int mo = 0; mo < nm; ++mo) eta[ncon - nm + mo] = motionVelocity(m, h, mo, &w.programs);
  for (size_t k = 0; k < w.dropped.size(); ++k)
    if (w.dropped[k]) eta[k] = 0.0;
  cprintf("eta\n");
  printTnt(eta);
  cprintf("\n");

  Vec qdot(6 * nb, 0.0);
  std::vector<int> ma;
  for (int b = 0; b < nb; ++b)
    for (int k = 0; k < 3; ++k) {
      qdot[3 * b + k] = m.bodies[b].vel0[k];
      if (std::fabs(qdot[3 * b + k]) > 0) ma.push_back(3 * b + k);
    }
  for (int b = 0; b < nb; ++b)
    for (int k = 0; k < 3; ++k) {
      qdot[3 * nb + 3 * b + k] = m.bodies[b].omega0[k];
      if (std::fabs(qdot[3 * nb + 3 * b + k]) > 0) ma.push_back(3 * nb + 3 * b + k);
    }
  cprintf("ma=%d,mb=%d\n", static_cast<int>(ma.size()), 0);
  cprintf("ma={");
  for (int k : ma) cprintf("%d, ", k);
  cprintf("}\n");
  cprintf("mb={");
  cprintf("}\n");
  if ((!ma.empty() || nm > 0) && !solveVelocities(m, qdot, {}, eta, w.Cq))
    cprintf("  Warning: the initial velocities of the motion-driven bodies cannot be solved; "
            "the model's values are used\n");
  if (nm > 0) makeVelocitiesConsistent(m, w, eta, qdot);

  for (int b = 0; b < nb; ++b) {
    const double p[4] = {1, 0, 0, 0};
    const double wb[3] = {qdot[3 * nb + 3 * b], qdot[3 * nb + 3 * b + 1], qdot[3 * nb + 3 * b + 2]};
    double pd[4];
    eulerRatesFromOmega(pd, p, wb);
    for (int k = 0; k < 3; ++k) {
      Y[3 * b + k] = 0.0;
      Y[3 * nb + 3 * b + k] = qdot[3 * b + k];
    }
    for (int k = 0; k < 4; ++k) {
      Y[6 * nb + 4 * b + k] = p[k];
      Y[10 * nb + 4 * b + k] = pd[k];
    }
    cprintf("[%d]:\n", b);
    cprintf("  V={%e,%e,%e}\n", qdot[3 * b], qdot[3 * b + 1], qdot[3 * b + 2]);
    cprintf("  W={%e,%e,%e}\n", wb[0], wb[1], wb[2]);
    cprintf("  Pd={%e,%e,%e,%e}\n", pd[0], pd[1], pd[2], pd[3]);
  }
}

}  // namespace orv
