#include "joints/point_joints.h"

#include "model/kinematics.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "math/vec3.h"

namespace orv {

void pointCoincidence(const JointSide& i, const JointSide& j, ConstraintRows& rows, int row0) {
  double Bri[3][3] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  double Brj[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double S[9], Bpi[3][3], Bpj[3][3];
  mat3Mul(&Bpi[0][0], i.A, mat3Skew(S, i.s[0], i.s[1], i.s[2]));
  mat3Mul(&Bpj[0][0], j.A, mat3Skew(S, j.s[0], j.s[1], j.s[2]));
  mat3Neg(&Bpj[0][0], &Bpj[0][0]);
  insertJointBlocks(rows, row0, 3, Bri, Bpi, Brj, Bpj);

  // gamma = A_i W_i W_i s_i - A_j W_j W_j s_j - 2 alpha (v_Pj - v_Pi) - beta^2 (P_j - P_i)
  double wws_i[3], wws_j[3], t[3];
  vec3Cross(t, i.w, i.s);
  vec3Cross(t, i.w, t);
  mat3MulVec(wws_i, i.A, t);
  vec3Cross(t, j.w, j.s);
  vec3Cross(t, j.w, t);
  mat3MulVec(wws_j, j.A, t);
  for (int k = 0; k < 3; ++k)
    rows.gamma[row0 + k] = wws_i[k] - wws_j[k] -
                           2.0 * kBaumgarteAlpha * i.stab * (j.vP[k] - i.vP[k]) -
                           kBaumgarteBeta * kBaumgarteBeta * i.stab * (j.P[k] - i.P[k]);
}

void equalAngularVelocity(ConstraintRows& rows, int row0) {
  double Z[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  double Bpi[3][3] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
  double Bpj[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  insertJointBlocks(rows, row0, 3, Z, Bpi, Z, Bpj);
  for (int k = 0; k < 3; ++k) rows.gamma[row0 + k] = 0.0;
}

void groundFix(ConstraintRows& rows) {
  for (int k = 0; k < 3; ++k) {
    rows.Bri[k][k] = 1.0;
    rows.Bpi[3 + k][k] = 1.0;
  }
}

void groundJoint(const Model& m, const Kinematics& kin, const double* Y, double, int j,
                 ConstraintRows& rows) {
  const int b = m.frames[m.joints[j].i_lc].body;
  clearRows(rows, 6, b, -1);
  groundFix(rows);
  // How far body i has moved: its displacement plus the turn of a unit diagonal.
  const double one[3] = {1, 1, 1};
  double d[3];
  mat3MulVec(d, &kin.A[9 * b], one);
  const StateLayout layout{m.body_num()};
  for (int k = 0; k < 3; ++k) d[k] += Y[layout.r(b) + k] - 1.0;
  rows.violation = vec3Norm(d[0], d[1], d[2]);
}

void sphereJoint(const Model& m, const Kinematics& kin, const double* Y, double, int j,
                 ConstraintRows& rows) {
  JointSide si, sj;
  loadJointSide(m, kin, Y, m.joints[j].i_lc, si);
  loadJointSide(m, kin, Y, m.joints[j].j_lc, sj);
  clearRows(rows, 3, si.body, sj.body);
  pointCoincidence(si, sj, rows, 0);
  rows.violation = vec3Norm(sj.P[0] - si.P[0], sj.P[1] - si.P[1], sj.P[2] - si.P[2]);
}

void fixJoint(const Model& m, const Kinematics& kin, const double* Y, double, int j,
              ConstraintRows& rows) {
  JointSide si, sj;
  loadJointSide(m, kin, Y, m.joints[j].i_lc, si);
  loadJointSide(m, kin, Y, m.joints[j].j_lc, sj);
  clearRows(rows, 6, si.body, sj.body);
  pointCoincidence(si, sj, rows, 0);
  equalAngularVelocity(rows, 3);
  double v[3];
  for (int k = 0; k < 3; ++k) v[k] = (sj.P[k] - si.P[k]) + (sj.w[k] - si.w[k]);
  rows.violation = vec3Norm(v[0], v[1], v[2]);
}

}  // namespace orv
