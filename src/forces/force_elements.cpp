#include "forces/force_elements.h"

#include <cmath>
#include <cstddef>

#include "expr/evaluator.h"
#include "joints/constraints.h"
#include "model/histories.h"
#include "model/kinematics.h"
#include "model/model.h"
#include "math/vec3.h"

namespace orv {

namespace {

// Adds global force f at side's LC origin: F in global axes, N in body axes.
void addLoad(const JointSide& s, const double* f, double* F, double* N) {
  double fb[3], tq[3];
  mat3TransposeMulVec(fb, f, s.A);
  vec3Cross(tq, s.s, fb);
  for (int c = 0; c < 3; ++c) {
    F[3 * s.body + c] += f[c];
    N[3 * s.body + c] += tq[c];
  }
}

// Entries 0-2 of element f's record in sample row `row`; nothing past the end.
void record(Histories& h, int nf, int f, int row, const double* v) {
  if (row < 0) return;
  const std::size_t at = (static_cast<std::size_t>(row) * nf + f) * 6;
  if (at + 3 > h.p_F_force.size()) return;
  for (int c = 0; c < 3; ++c) h.p_F_force[at + c] = v[c];
}

// Spring-damper along the line between the two LC origins, tension positive.
void spring1(const Model& m, const Force& e, const JointSide& si, const JointSide& sj, double* F,
             double* N, double* fi) {
  const double* ci = m.frames[e.i_lc].pos;
  const double* cj = m.frames[e.j_lc].pos;
  const double L0 = e.free_length >= 0.0 ? e.free_length
                                         : vec3Norm(cj[0] - ci[0], cj[1] - ci[1], cj[2] - ci[2]);
  double d[3], dv[3];
  vec3Sub(d, sj.P, si.P);
  const double L = vec3Norm(d[0], d[1], d[2]);
  fi[0] = fi[1] = fi[2] = 0.0;
  // Coinciding points have no line to pull along: no load rather than NaN.
  if (!(L > 0.0) || !std::isfinite(L)) return;
  double n[3];
  vec3Scale(n, 1.0 / L, d);
  const double Ld = vec3Dot(vec3Sub(dv, sj.vP, si.vP), n);
  const double T = e.k[0] * (L - L0) + e.c[0] * Ld;
  double fj[3];
  vec3Scale(fi, T, n);
  vec3Neg(fj, fi);
  addLoad(si, fi, F, N);
  addLoad(sj, fj, F, N);
}

// Force and torque from expressions in LC_r's axes; +g/+T on body i, -g/-T on body j.
// prog: the element's six bound programs, or null.
void force6(const Model& m, const Kinematics& kin, const Force& e, const CompiledExpr* prog,
            const JointSide& si, const JointSide& sj, const JointSide& sr, double* F, double* N,
            double* g) {
  auto component = [&](int c) {
    return prog ? prog[c].evaluate(m, kin) : evaluate(e.equ[c], m, kin);
  };
  // Fixed order Fx, Tx, Fy, Ty, Fz, Tz: each force component just before its torque.
  double fl[3], tl[3];
  for (int c = 0; c < 3; ++c) {
    fl[c] = component(c);
    tl[c] = component(3 + c);
  }
  double AE[9], T[3], gneg[3], tb[3];
  mat3Mul(AE, sr.A, sr.E);
  mat3MulVec(g, AE, fl);
  mat3MulVec(T, AE, tl);
  addLoad(si, g, F, N);
  addLoad(sj, vec3Neg(gneg, g), F, N);
  mat3TransposeMulVec(tb, T, si.A);
  for (int c = 0; c < 3; ++c) N[3 * si.body + c] += tb[c];
  mat3TransposeMulVec(tb, T, sj.A);
  for (int c = 0; c < 3; ++c) N[3 * sj.body + c] -= tb[c];
}

}  // namespace

void applyForceElements(const Model& m, const Kinematics& kin, Histories& h, const double* Y,
                        double, double* F, double* N, int row, const ModelPrograms* progs) {
  const int nf = m.force_num();
  for (int f = 0; f < nf; ++f) {
    const Force& e = m.forces[f];
    const bool isSpring = e.kind == ForceType::Spring1;
    if (!isSpring && e.kind != ForceType::Force6) continue;
    if (!sideUsable(m, kin, e.i_lc) || !sideUsable(m, kin, e.j_lc)) continue;
    if (!isSpring && !sideUsable(m, kin, e.r_lc)) continue;
    JointSide si, sj;
    loadJointSide(m, kin, Y, e.i_lc, si);
    loadJointSide(m, kin, Y, e.j_lc, sj);
    double v[3];
    if (isSpring) {
      spring1(m, e, si, sj, F, N, v);
    } else {
      JointSide sr;
      loadJointSide(m, kin, Y, e.r_lc, sr);
      const CompiledExpr* prog = progs ? &progs->force[6 * static_cast<std::size_t>(f)] : nullptr;
      force6(m, kin, e, prog, si, sj, sr, F, N, v);
    }
    record(h, nf, f, row, v);
  }
}

}  // namespace orv
