#include "joints/motions.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "expr/evaluator.h"
#include "model/histories.h"
#include "model/model.h"
#include "math/vec3.h"

namespace orv {

double motionEta(MotionType type, double f) { return type == MotionType::Translation ? -f : f; }

namespace {

// The smaller of two slopes of one sign, 0 for slopes of opposite signs: the
// derivative next to a kink or a jump of the rate, where the second-order
// formula would mix both sides.
double minmod(double a, double b) {
  if (a * b <= 0.0) return 0.0;
  return std::fabs(a) < std::fabs(b) ? a : b;
}

}  // namespace

// f' is taken from the rate expression at three times t0, t1, t2 spaced by d
// in the direction of `side` (t1 = t -+ d, t, t +- d for Central), as two
// slopes s1, s2. Where they agree (a smooth rate) the second-order difference
// is used: (s1 + s2)/2 centrally, (3 s1 - s2)/2 one-sided; where they do not
// (a kink or a jump within d) the smaller slope, so that a step in the rate
// is never turned into a spike of acceleration.
//
// d balances the truncation error, ~ d^2 f''', against rounding, ~ eps |f| / d
// and eps |t f'| / d: with the rate changing on the scale of the output
// interval D, d = D cbrt(eps max(1, |t|/D)) (about 6e-8 D near t = 0).
MotionRate motionRate(const Model& m, Histories& h, int mo, double t, RateSide side,
                      const ModelPrograms* progs) {
  const std::size_t at = static_cast<std::size_t>(mo);
  const double saved = h.time;
  auto value = [&](double s) {
    h.time = s;
    return progs ? progs->motion_dt[at].evaluate(m, h) : evaluate(m.motions[at].dt_equ, m, h);
  };
  MotionRate r;
  r.rate = value(t);
  const double eps = std::numeric_limits<double>::epsilon();
  const double D = m.d_time > 0.0 ? m.d_time : 1.0;
  const double d = D * std::cbrt(eps * std::max(1.0, std::fabs(t) / D));
  double s1, s2, noise;
  if (side == RateSide::Central) {
    const double tm = t - d, tp = t + d, fm = value(tm), fp = value(tp);
    s1 = (r.rate - fm) / (t - tm);
    s2 = (fp - r.rate) / (tp - t);
    noise = 8.0 * eps * (std::fabs(fm) + std::fabs(r.rate) + std::fabs(fp)) / d;
  } else {
    const double dir = side == RateSide::Forward ? 1.0 : -1.0;
    const double t1 = t + dir * d, t2 = t1 + (t1 - t), f1 = value(t1), f2 = value(t2);
    s1 = (f1 - r.rate) / (t1 - t);  // the slope next to t
    s2 = (f2 - f1) / (t2 - t1);
    noise = 8.0 * eps * (std::fabs(r.rate) + std::fabs(f1) + std::fabs(f2)) / d;
  }
  h.time = saved;
  const bool smooth = std::fabs(s1 - s2) <= 0.1 * (std::fabs(s1) + std::fabs(s2)) + noise;
  if (!smooth)
    r.accel = minmod(s1, s2);
  else if (side == RateSide::Central)
    r.accel = 0.5 * (s1 + s2);
  else
    r.accel = 0.5 * (3.0 * s1 - s2);
  // A rate that cannot be evaluated beside t (sqrt(time) before 0) still
  // has its value followed by the stabilisation.
  if (!std::isfinite(r.accel)) r.accel = 0.0;
  return r;
}

namespace {

// theta_dot = z_i . w_i - z_j . w_j = f, z in body axes, w body-axis rates:
// d/dt theta_dot = z_i . w_i' - z_j . w_j' has no quadratic term, so
// gamma = f' - 2 alpha (theta_dot - f).
void rotationRow(const JointSide& si, const JointSide& sj, const MotionRate& f,
                 ConstraintRows& rows) {
  const double zi[3] = {si.E[2], si.E[5], si.E[8]};
  const double zj[3] = {sj.E[2], sj.E[5], sj.E[8]};
  for (int c = 0; c < 3; ++c) {
    rows.Bpi[0][c] = zi[c];
    rows.Bpj[0][c] = -zj[c];
  }
  const double rate = vec3Dot(zi, si.w) - vec3Dot(zj, sj.w);
  rows.gamma[0] = f.accel - 2.0 * kBaumgarteAlpha * (rate - f.rate);
  // Monitor: body i's angular velocity in LC_i's axes.
  double wl[3];
  mat3TransposeMulVec(wl, si.w, si.E);
  rows.violation = vec3Norm(wl[0], wl[1], wl[2]);
}

// C = h_i . d with h_i = A_i z_i and d = P_j - P_i, driven at dC/dt = -f.
// C'' = h_i'' . d + 2 h_i' . d' + h_i . d''; its terms without accelerations
//   q = A_i (w_i x (w_i x z_i)) . d + 2 A_i (w_i x z_i) . (vP_j - vP_i)
//       + h_i . (A_j (w_j x (w_j x s_j)) - A_i (w_i x (w_i x s_i)))
// give gamma = -f' - q - 2 alpha (C' + f).
void translationRow(const JointSide& si, const JointSide& sj, const MotionRate& f,
                    ConstraintRows& rows) {
  const double zi[3] = {si.E[2], si.E[5], si.E[8]};
  double hi[3], d[3], t[3], u[3];
  mat3MulVec(hi, si.A, zi);
  vec3Sub(d, sj.P, si.P);
  // Body i: z_i x (A_i^T d) + z_i x s_i; body j: s_j x (A_j^T h_i).
  mat3TransposeMulVec(t, d, si.A);
  vec3Cross(t, zi, t);
  vec3Add(t, t, vec3Cross(u, zi, si.s));
  mat3TransposeMulVec(u, hi, sj.A);
  vec3Cross(u, sj.s, u);
  for (int c = 0; c < 3; ++c) {
    rows.Bri[0][c] = -hi[c];
    rows.Brj[0][c] = hi[c];
    rows.Bpi[0][c] = t[c];
    rows.Bpj[0][c] = u[c];
  }
  // A (w x (w x v)) for a body-axis vector v of a side.
  auto centripetal = [](double* out, const JointSide& s, const double* v) {
    double a[3], b[3];
    vec3Cross(a, s.w, v);
    vec3Cross(b, s.w, a);
    return mat3MulVec(out, s.A, b);
  };
  double hd[3], wz[3], dv[3], ci[3], cj[3], cz[3];
  mat3MulVec(hd, si.A, vec3Cross(wz, si.w, zi));
  vec3Sub(dv, sj.vP, si.vP);
  centripetal(cz, si, zi);
  centripetal(ci, si, si.s);
  centripetal(cj, sj, sj.s);
  const double q = vec3Dot(cz, d) + 2.0 * vec3Dot(hd, dv) + vec3Dot(hi, cj) - vec3Dot(hi, ci);
  const double rate = vec3Dot(hd, d) + vec3Dot(hi, dv);
  rows.gamma[0] = -f.accel - q - 2.0 * kBaumgarteAlpha * (rate + f.rate);
  rows.violation = vec3Norm(d[0], d[1], d[2]);
}

}  // namespace

void motionConstraint(const Model& m, const Histories& h, const double* Y, int mo,
                      const MotionRate& f, ConstraintRows& rows) {
  clearRows(rows, 1, -1, -1);
  if (mo < 0 || mo >= m.motion_num()) return;
  const Motion& M = m.motions[mo];
  if (M.joint < 0 || M.joint >= m.joint_num()) return;
  const Joint& J = m.joints[M.joint];
  if (!sideUsable(m, h, J.i_lc) || !sideUsable(m, h, J.j_lc)) return;
  JointSide si, sj;
  loadJointSide(m, h, Y, J.i_lc, si);
  loadJointSide(m, h, Y, J.j_lc, sj);
  rows.bi = si.body;
  rows.bj = sj.body;
  if (M.kind == MotionType::Rotation)
    rotationRow(si, sj, f, rows);
  else if (M.kind == MotionType::Translation)
    translationRow(si, sj, f, rows);
}

double motionVelocity(const Model& m, const Histories& h, int mo, const ModelPrograms* progs) {
  const std::size_t at = static_cast<std::size_t>(mo);
  const double v =
      progs ? progs->motion_dt[at].evaluate(m, h) : evaluate(m.motions[at].dt_equ, m, h);
  return motionEta(m.motions[mo].kind, v);
}

}  // namespace orv
