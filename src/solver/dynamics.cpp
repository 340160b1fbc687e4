#include "solver/dynamics.h"

#include <jama/jama_lu.h>

#include <cmath>
#include <sstream>

#include "contact/contact.h"
#include "joints/force_elements.h"
#include "joints/motions.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/settings.h"
#include "platform/console.h"
#include "solver/rotation.h"
#include "solver/vec3.h"

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
  w.Minv = inverse(M);

  w.ncon = 0;
  w.rows.assign(m.joint_num() + m.motion_num(), ConstraintRows{});
  w.rowStart.assign(w.rows.size(), 0);
  for (int j = 0; j < m.joint_num(); ++j) {
    w.rowStart[j] = w.ncon;
    w.ncon += jointEquationCount(m.joints[j].type);
  }
  for (int mo = 0; mo < m.motion_num(); ++mo) {
    w.rowStart[m.joint_num() + mo] = w.ncon;
    w.ncon += 1;
  }
  w.Cq = zeros(w.ncon, 6 * nb);
  w.gamma = Vec(w.ncon, 0.0);
  w.Y.assign(14 * static_cast<size_t>(nb), 0.0);
  w.F.assign(3 * static_cast<size_t>(nb), 0.0);
  w.N.assign(3 * static_cast<size_t>(nb), 0.0);
  w.velocityWarned = false;
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

void assembleConstraints(const Model& m, Histories& h, DynamicsWork& w, const double* Y, double t) {
  const int nb = m.body_num();
  const int nj = m.joint_num();
  const int nm = m.motion_num();
  const int row = sampleRow(m, t);
  for (int e = 0; e < nj + nm; ++e) {
    ConstraintRows& r = w.rows[e];
    if (e < nj)
      evaluateJoint(m, h, Y, t, e, r);
    else
      motionConstraint(m, h, Y, t, e - nj, r);
    // The violation monitor: one value per joint and motion in the sample row.
    const size_t at = static_cast<size_t>(row) * (nm + nj) + e;
    if (row >= 0 && at < h.p_C_const.size()) h.p_C_const[at] = r.violation;
    h.constraintViolationSum += r.violation;
  }
  // Dense Jacobian; the j blocks are written after the i blocks, so a joint
  // with both sides on one body keeps the j blocks.
  for (int i = 0; i < w.ncon; ++i) {
    for (int c = 0; c < 6 * nb; ++c) w.Cq[i][c] = 0.0;
    w.gamma[i] = 0.0;
  }
  for (int e = 0; e < nj + nm; ++e) {
    const ConstraintRows& r = w.rows[e];
    const int k0 = w.rowStart[e];
    const int n = e < nj ? jointEquationCount(m.joints[e].type) : 1;
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
      w.gamma[k0 + k] = r.gamma[k];
    }
  }
}

void extractJointReactions(const Model& m, const DynamicsWork& w, const Vec& lambda, double* out) {
  for (int j = 0; j < m.joint_num(); ++j) {
    double* f = out + 6 * j;
    for (int k = 0; k < 6; ++k) f[k] = 0.0;
    const ConstraintRows& r = w.rows[j];
    if (jointTypeOf(m.joints[j].type) == JointType::Ground || r.bi < 0) continue;
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

bool solveVelocities(const Model& m, Vec& qdot, const std::vector<int>& mb, const Vec& eta,
                     const Mat& Cq) {
  const int nb = m.body_num();
  const int n = 6 * nb;
  const int ncon = Cq.dim1();

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
    for (const Joint& J : m.joints) {
      if (J.i_body == mo.i_body && J.j_body != mo.j_body) take(J.j_body);
      if (J.j_body == mo.i_body && J.i_body != mo.j_body) take(J.i_body);
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

  // Open columns that depend on earlier open columns are free: they keep
  // their values. The others are determined by the constraint rows.
  const int nu = static_cast<int>(open.size());
  Mat CuTCu = zeros(nu, nu);
  for (int a = 0; a < nu; ++a)
    for (int b = 0; b < nu; ++b) {
      double s = 0.0;
      for (int r = 0; r < ncon; ++r) s += Cq[r][open[a]] * Cq[r][open[b]];
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
      determined.push_back(open[k]);
  }
  const int nd = static_cast<int>(determined.size());
  if (nd == 0) return true;
  // Gaussian elimination needs at least as many rows as unknowns.
  if (nd > ncon) return false;

  // Right side: eta minus the columns of every known (specified or free) component.
  Vec rhs(ncon);
  for (int r = 0; r < ncon; ++r) {
    double s = eta[r];
    for (int k = 0; k < n; ++k)
      if (!isOpen[k] || isFree[k]) s -= Cq[r][k] * qdot[k];
    rhs[r] = s;
  }
  Mat Cd(ncon, nd);
  for (int r = 0; r < ncon; ++r)
    for (int c = 0; c < nd; ++c) Cd[r][c] = Cq[r][determined[c]];
  JAMA::LU<double> lu(Cd);
  Vec x = lu.solve(rhs);
  if (x.dim1() < nd) return false;
  for (int c = 0; c < nd; ++c)
    if (!std::isfinite(x[c])) return false;
  for (int c = 0; c < nd; ++c) qdot[determined[c]] = x[c];
  return true;
}

bool computeStateDerivative(const Model& m, const Settings& s, Histories& h, DynamicsWork& w,
                            double t, const double* Yin, double* dY, std::vector<int>& motionDofs) {
  const int nb = m.body_num();
  const int nj = m.joint_num();
  const int nm = m.motion_num();
  const int row = sampleRow(m, t);

  double* Y = w.Y.data();
  for (int i = 0; i < 14 * nb; ++i) Y[i] = std::fabs(Yin[i]) < kZeroState ? 0.0 : Yin[i];
  publishKinematics(m, h, Y);

  double* F = w.F.data();
  double* N = w.N.data();
  for (int i = 0; i < 3 * nb; ++i) F[i] = N[i] = 0.0;
  for (int b = 0; b < nb && b < static_cast<int>(m.gravity.size()); ++b)
    for (int k = 0; k < 3; ++k) F[3 * b + k] += m.gravity[b].F[k];
  applyForceElements(m, h, Y, t, F, N, row);
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

  assembleConstraints(m, h, w, Y, t);
  const int ncon = w.ncon;
  const Mat& Minv = w.Minv;
  Vec MinvQ = Minv * Q;
  Vec acc;
  if (ncon > 0) {
    // X = Minv Cq^T column by column, S = Cq X.
    Mat X = matmul(Minv, transpose(w.Cq));
    Mat S = matmul(w.Cq, X);
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
  } else {
    acc = MinvQ;
    w.lambda = Vec(0);
  }
  if (!allFinite(acc)) return false;

  // Velocities; those of motion-driven bodies follow the motions.
  Vec qdot(6 * nb);
  for (int b = 0; b < nb; ++b)
    for (int k = 0; k < 3; ++k) {
      qdot[3 * b + k] = Y[3 * nb + 3 * b + k];
      qdot[3 * nb + 3 * b + k] = h.omega[3 * b + k];
    }
  motionDofs.clear();
  if (nm > 0) {
    Vec eta(ncon, 0.0);
    for (int mo = 0; mo < nm; ++mo) eta[ncon - nm + mo] = motionVelocity(m, h, mo);
    if (!solveVelocities(m, qdot, {}, eta, w.Cq) && !w.velocityWarned) {
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

  for (int b = 0; b < nb; ++b) {
    const double* p = &Y[6 * nb + 4 * b];
    const double wb[3] = {qdot[3 * nb + 3 * b], qdot[3 * nb + 3 * b + 1], qdot[3 * nb + 3 * b + 2]};
    const double wd[3] = {acc[3 * nb + 3 * b], acc[3 * nb + 3 * b + 1], acc[3 * nb + 3 * b + 2]};
    double pdot[4], pdd[4];
    eulerRatesFromOmega(pdot, p, wb);
    eulerRatesFromOmega(pdd, p, wd);
    const double ww = vec3Dot(wb, wb);
    for (int k = 0; k < 3; ++k) {
      dY[3 * b + k] = qdot[3 * b + k];
      dY[3 * nb + 3 * b + k] = acc[3 * b + k];
    }
    for (int k = 0; k < 4; ++k) {
      dY[6 * nb + 4 * b + k] = pdot[k];
      dY[10 * nb + 4 * b + k] = pdd[k] - 0.25 * ww * p[k];
    }
  }

  if (nj > 0 && row >= 0 && (static_cast<size_t>(row) + 1) * 6 * nj <= h.p_F_const.size())
    extractJointReactions(m, w, w.lambda, &h.p_F_const[static_cast<size_t>(row) * 6 * nj]);
  return true;
}

void initialAnalysis(const Model& m, Histories& h, DynamicsWork& w, double t, double* Y) {
  const int nb = m.body_num();
  const int nm = m.motion_num();
  cprintf("mbd_initial_vw\n");
  std::vector<double> Y0(14 * static_cast<size_t>(nb), 0.0);
  for (int b = 0; b < nb; ++b) Y0[6 * nb + 4 * b] = 1.0;
  publishKinematics(m, h, Y0.data());
  assembleConstraints(m, h, w, Y0.data(), t);
  cprintf("Cq\n");
  printTnt(w.Cq);
  cprintf("\n");

  const int ncon = w.ncon;
  Vec eta(ncon, 0.0);
  for (int mo = 0; mo < nm; ++mo) eta[ncon - nm + mo] = motionVelocity(m, h, mo);
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
