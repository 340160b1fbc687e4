#include "joints/motions.h"

#include "expr/evaluator.h"
#include "model/histories.h"
#include "model/model.h"
#include "solver/vec3.h"

namespace orv {

bool isSupportedMotionType(const std::string& type) { return type == "R" || type == "T"; }

namespace {

// theta_dot = z_i . w_i - z_j . w_j = f_dot, imposed at velocity level only.
void rotationRow(const Model& m, const Histories& h, int index, const ModelPrograms* progs,
                 const JointSide& si, const JointSide& sj, ConstraintRows& rows) {
  const Motion& mo = m.motions[static_cast<std::size_t>(index)];
  const double zi[3] = {si.E[2], si.E[5], si.E[8]};
  const double zj[3] = {sj.E[2], sj.E[5], sj.E[8]};
  for (int c = 0; c < 3; ++c) {
    rows.Bpi[0][c] = zi[c];
    rows.Bpj[0][c] = -zj[c];
  }
  const double rate = vec3Dot(zi, si.w) - vec3Dot(zj, sj.w);
  const std::size_t at = static_cast<std::size_t>(index);
  const double fd = (progs ? progs->motion_dt[at] : compileCached(mo.dt_equ)).evaluate(m, h);
  const double fdd = (progs ? progs->motion_ddt[at] : compileCached(mo.ddt_equ)).evaluate(m, h);
  rows.gamma[0] = fdd - 2.0 * kBaumgarteAlpha * (rate - fd);
  // Monitor: body i's angular velocity in LC_i's axes.
  double wl[3];
  mat3TransposeMulVec(wl, si.w, si.E);
  rows.violation = vec3Norm(wl[0], wl[1], wl[2]);
}

// Time derivative of h_i . d (h_i = A_i z_i, d = P_j - P_i); held at its
// current rate, so gamma stays 0.
void translationRow(const JointSide& si, const JointSide& sj, ConstraintRows& rows) {
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
  rows.gamma[0] = 0.0;
  rows.violation = vec3Norm(d[0], d[1], d[2]);
}

}  // namespace

void motionConstraint(const Model& m, const Histories& h, const double* Y, double, int mo,
                      ConstraintRows& rows, const ModelPrograms* progs) {
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
  if (M.type == "R")
    rotationRow(m, h, mo, progs, si, sj, rows);
  else if (M.type == "T")
    translationRow(si, sj, rows);
}

double motionVelocity(const Model& m, const Histories& h, int mo, const ModelPrograms* progs) {
  const std::size_t at = static_cast<std::size_t>(mo);
  double v = (progs ? progs->motion_dt[at] : compileCached(m.motions[at].dt_equ)).evaluate(m, h);
  return m.motions[mo].type == "T" ? -v : v;
}

}  // namespace orv
