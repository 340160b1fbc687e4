#include "joints/axial_joints.h"

#include <cmath>

#include "joints/point_joints.h"
#include "model/kinematics.h"
#include "model/model.h"
#include "math/vec3.h"

namespace orv {
namespace {

constexpr double kTwoAlpha = 2.0 * kBaumgarteAlpha;
constexpr double kBetaSq = kBaumgarteBeta * kBaumgarteBeta;

double* skewOf(double* out, const double* a) { return mat3Skew(out, a[0], a[1], a[2]); }

// Column k of a row-major 3x3 (the LC axes are the columns of E).
double* column(double* out, const double* M, int k) {
  out[0] = M[k];
  out[1] = M[3 + k];
  out[2] = M[6 + k];
  return out;
}

// A body-fixed direction u seen globally: g = A u, its rate gd = A (w x u) and
// the velocity part of its acceleration gww = A (w x (w x u)).
struct AxisMotion {
  double g[3], gd[3], gww[3];
};

void axisMotion(const JointSide& s, const double* u, AxisMotion& out) {
  double t[3];
  mat3MulVec(out.g, s.A, u);
  vec3Cross(t, s.w, u);
  mat3MulVec(out.gd, s.A, t);
  vec3Cross(t, s.w, t);
  mat3MulVec(out.gww, s.A, t);
}

// A W W s: the velocity part of the acceleration of a body-fixed point.
double* centripetal(double* out, const JointSide& s) {
  double t[3];
  vec3Cross(t, s.w, s.s);
  vec3Cross(t, s.w, t);
  return mat3MulVec(out, s.A, t);
}

double crossNorm(const double* a, const double* b) {
  double c[3];
  vec3Cross(c, a, b);
  return vec3Norm(c[0], c[1], c[2]);
}

double rowDot(const double* M, int a, int b) {
  return M[3 * a] * M[3 * b] + M[3 * a + 1] * M[3 * b + 1] + M[3 * a + 2] * M[3 * b + 2];
}

// Smaller singular value of a two-row matrix from its Gram entries
// p = |row a|^2, q = row a . row b, r = |row b|^2.
double smallerSingularValue(double p, double q, double r) {
  const double mean = 0.5 * (p + r), half = 0.5 * (p - r);
  const double lmin = mean - std::sqrt(half * half + q * q);
  return lmin > 0.0 ? std::sqrt(lmin) : 0.0;
}

// Of the pairs (0,1), (0,2), (1,2) of rows of [Bi | Bj] (of Bj alone when Bi
// is null), the one whose 2-row matrix is best conditioned; ties keep the
// earlier pair. h_i x h_j has rank two, so one component is always redundant.
void chooseAxisRows(const double* Bi, const double* Bj, int* pair) {
  static const int kPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  double g[3][3];
  for (int a = 0; a < 3; ++a)
    for (int b = a; b < 3; ++b) g[a][b] = rowDot(Bj, a, b) + (Bi ? rowDot(Bi, a, b) : 0.0);
  int best = 0;
  double best_sigma = smallerSingularValue(g[0][0], g[0][1], g[1][1]);
  for (int c = 1; c < 3; ++c) {
    const int a = kPairs[c][0], b = kPairs[c][1];
    const double sigma = smallerSingularValue(g[a][a], g[a][b], g[b][b]);
    if (best_sigma < sigma) {
      best = c;
      best_sigma = sigma;
    }
  }
  pair[0] = kPairs[best][0];
  pair[1] = kPairs[best][1];
}

// Rows pair[0], pair[1] of the full 3x3 blocks (null: zero block) and of
// gamma into rows row0, row0+1.
void writeChosenRows(ConstraintRows& rows, int row0, const int* pair, const double* Bri,
                     const double* Bpi, const double* Brj, const double* Bpj, const double* gamma,
                     int* chosen) {
  double ri[2][3], pi[2][3], rj[2][3], pj[2][3];
  for (int k = 0; k < 2; ++k) {
    const int e = pair[k];
    for (int c = 0; c < 3; ++c) {
      ri[k][c] = Bri ? Bri[3 * e + c] : 0.0;
      pi[k][c] = Bpi[3 * e + c];
      rj[k][c] = Brj ? Brj[3 * e + c] : 0.0;
      pj[k][c] = Bpj[3 * e + c];
    }
    rows.gamma[row0 + k] = gamma[e];
    if (chosen) chosen[k] = e;
  }
  insertJointBlocks(rows, row0, 2, ri, pi, rj, pj);
}

void loadSides(const Model& m, const Kinematics& kin, const double* Y, int j, JointSide& si,
               JointSide& sj) {
  loadJointSide(m, kin, Y, m.joints[j].i_lc, si);
  loadJointSide(m, kin, Y, m.joints[j].j_lc, sj);
}

// Violation measures: |h_i x h_j|, |h_i x d| and the signed (A_i x_i).(A_j y_j).
double axisMisalignment(const JointSide& i, const JointSide& j) {
  double zi[3], zj[3], hi[3], hj[3];
  mat3MulVec(hi, i.A, column(zi, i.E, 2));
  mat3MulVec(hj, j.A, column(zj, j.E, 2));
  return crossNorm(hi, hj);
}

double lineDistance(const JointSide& i, const JointSide& j) {
  double zi[3], hi[3], d[3];
  mat3MulVec(hi, i.A, column(zi, i.E, 2));
  return crossNorm(hi, vec3Sub(d, j.P, i.P));
}

double axisSkew(const JointSide& i, const JointSide& j) {
  double xi[3], yj[3], a[3], b[3];
  mat3MulVec(a, i.A, column(xi, i.E, 0));
  mat3MulVec(b, j.A, column(yj, j.E, 1));
  return vec3Dot(a, b);
}

}  // namespace

void parallelAxes(const JointSide& i, const JointSide& j, AxisRowChoice choice,
                  ConstraintRows& rows, int row0, int* chosen) {
  double zi[3], zj[3];
  AxisMotion a, b;
  axisMotion(i, column(zi, i.E, 2), a);
  axisMotion(j, column(zj, j.E, 2), b);

  // Bi = skew(h_j) A_i skew(z_i), Bj = -skew(h_i) A_j skew(z_j); skew(h) stands
  // for A skew(z) A^T.
  double S[9], T[9], Bi[9], Bj[9];
  mat3Mul(T, i.A, skewOf(T, zi));
  mat3Mul(Bi, skewOf(S, b.g), T);
  mat3Mul(T, j.A, skewOf(T, zj));
  mat3Mul(Bj, skewOf(S, a.g), T);
  mat3Neg(Bj, Bj);

  // Phi = h_i x h_j; its second derivative without the angular accelerations
  // is gww_i x h_j + 2 gd_i x gd_j + h_i x gww_j.
  double phi[3], phid[3], c1[3], c2[3], c3[3], gamma[3];
  vec3Cross(phi, a.g, b.g);
  vec3Add(phid, vec3Cross(c1, a.gd, b.g), vec3Cross(c2, a.g, b.gd));
  vec3Cross(c1, a.gww, b.g);
  vec3Cross(c2, a.g, b.gww);
  vec3Cross(c3, a.gd, b.gd);
  for (int k = 0; k < 3; ++k)
    gamma[k] = -(c1[k] + 2.0 * c3[k] + c2[k]) - kTwoAlpha * i.stab * phid[k] -
               kBetaSq * i.stab * phi[k];

  int pair[2];
  chooseAxisRows(choice == AxisRowChoice::BothBlocks ? Bi : nullptr, Bj, pair);
  writeChosenRows(rows, row0, pair, nullptr, Bi, nullptr, Bj, gamma, chosen);
}

void pointOnLine(const JointSide& i, const JointSide& j, ConstraintRows& rows, int row0,
                 int* chosen) {
  double zi[3];
  AxisMotion a;
  axisMotion(i, column(zi, i.E, 2), a);
  double d[3], dd[3];
  vec3Sub(d, j.P, i.P);
  vec3Sub(dd, j.vP, i.vP);

  // Phi = skew(h_i) d. A turn of body i moves both h_i and P_i, hence the
  // two terms of the pi_i block.
  double S[9], T[9], Bri[9], Brj[9], Bpi[9], Bpj[9];
  skewOf(Brj, a.g);
  mat3Neg(Bri, Brj);
  mat3Mul(T, j.A, skewOf(T, j.s));
  mat3Mul(Bpj, Brj, T);
  mat3Neg(Bpj, Bpj);
  mat3Mul(T, i.A, skewOf(T, i.s));
  mat3Mul(Bpi, Brj, T);
  mat3Mul(T, i.A, skewOf(T, zi));
  mat3Mul(T, skewOf(S, d), T);
  mat3Add(Bpi, Bpi, T);

  // Phi' = gd_i x d + h_i x d'; the velocity part of Phi'' is
  // gww_i x d + 2 gd_i x d' + h_i x (A_j W_j W_j s_j - A_i W_i W_i s_i).
  double ci[3], cj[3], phi[3], phid[3], c1[3], c2[3], c3[3], gamma[3];
  centripetal(ci, i);
  centripetal(cj, j);
  vec3Cross(phi, a.g, d);
  vec3Add(phid, vec3Cross(c1, a.gd, d), vec3Cross(c2, a.g, dd));
  vec3Cross(c1, a.gww, d);
  vec3Cross(c2, a.gd, dd);
  vec3Cross(c3, a.g, vec3Sub(c3, cj, ci));
  for (int k = 0; k < 3; ++k)
    gamma[k] = -(c1[k] + 2.0 * c2[k] + c3[k]) - kTwoAlpha * i.stab * phid[k] -
               kBetaSq * i.stab * phi[k];

  // The component along z_i's largest body-frame component is the one to
  // drop; equal magnitudes favour the lower index.
  int m = 0;
  if (std::fabs(zi[1]) > std::fabs(zi[m])) m = 1;
  if (std::fabs(zi[2]) > std::fabs(zi[m])) m = 2;
  const int pair[2] = {m == 0 ? 1 : 0, m == 2 ? 1 : 2};
  writeChosenRows(rows, row0, pair, Bri, Bpi, Brj, Bpj, gamma, chosen);
}

void perpendicularAxes(const JointSide& i, const JointSide& j, ConstraintRows& rows, int row0) {
  double xi[3], yj[3], u[3];
  AxisMotion a, b;
  axisMotion(i, column(xi, i.E, 0), a);
  axisMotion(j, column(yj, j.E, 1), b);
  // d(a.b)/dpi_i = -b^T A_i skew(x_i) = (x_i x A_i^T b)^T, likewise for j.
  const double zero[1][3] = {{0, 0, 0}};
  double Bpi[1][3], Bpj[1][3];
  vec3Cross(Bpi[0], xi, mat3TransposeMulVec(u, b.g, i.A));
  vec3Cross(Bpj[0], yj, mat3TransposeMulVec(u, a.g, j.A));
  insertJointBlocks(rows, row0, 1, zero, Bpi, zero, Bpj);
  // No stabilisation: a drift of this angle is left as it is.
  rows.gamma[row0] = -(vec3Dot(a.gww, b.g) + 2.0 * vec3Dot(a.gd, b.gd) + vec3Dot(a.g, b.gww));
}

void revolutionJoint(const Model& m, const Kinematics& kin, const double* Y, double, int j,
                     ConstraintRows& rows) {
  JointSide si, sj;
  loadSides(m, kin, Y, j, si, sj);
  clearRows(rows, 5, si.body, sj.body);
  pointCoincidence(si, sj, rows, 0);
  parallelAxes(si, sj, AxisRowChoice::SingleBlock, rows, 3);
  rows.violation =
      vec3Norm(sj.P[0] - si.P[0], sj.P[1] - si.P[1], sj.P[2] - si.P[2]) + axisMisalignment(si, sj);
}

void cylinderJoint(const Model& m, const Kinematics& kin, const double* Y, double, int j,
                   ConstraintRows& rows) {
  JointSide si, sj;
  loadSides(m, kin, Y, j, si, sj);
  clearRows(rows, 4, si.body, sj.body);
  parallelAxes(si, sj, AxisRowChoice::BothBlocks, rows, 0);
  pointOnLine(si, sj, rows, 2);
  rows.violation = axisMisalignment(si, sj) + lineDistance(si, sj);
}

void translationJoint(const Model& m, const Kinematics& kin, const double* Y, double, int j,
                      ConstraintRows& rows) {
  JointSide si, sj;
  loadSides(m, kin, Y, j, si, sj);
  clearRows(rows, 5, si.body, sj.body);
  parallelAxes(si, sj, AxisRowChoice::BothBlocks, rows, 0);
  pointOnLine(si, sj, rows, 2);
  perpendicularAxes(si, sj, rows, 4);
  rows.violation = axisMisalignment(si, sj) + lineDistance(si, sj) + axisSkew(si, sj);
}

void inLineJoint(const Model& m, const Kinematics& kin, const double* Y, double, int j,
                 ConstraintRows& rows) {
  JointSide si, sj;
  loadSides(m, kin, Y, j, si, sj);
  clearRows(rows, 2, si.body, sj.body);
  pointOnLine(si, sj, rows, 0);
  rows.violation = lineDistance(si, sj);
}

void prismaticJoint(const Model& m, const Kinematics& kin, const double* Y, double, int j,
                    ConstraintRows& rows) {
  JointSide si, sj;
  loadSides(m, kin, Y, j, si, sj);
  clearRows(rows, 3, si.body, sj.body);
  parallelAxes(si, sj, AxisRowChoice::BothBlocks, rows, 0);
  perpendicularAxes(si, sj, rows, 2);
  rows.violation = axisMisalignment(si, sj) + axisSkew(si, sj);
}

}  // namespace orv
