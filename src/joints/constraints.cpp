#include "joints/constraints.h"

#include <cmath>
#include <vector>

#include "joints/axial_joints.h"
#include "joints/point_joints.h"
#include "model/histories.h"
#include "model/model.h"
#include "solver/vec3.h"

namespace orv {

JointType jointTypeOf(const std::string& type) {
  if (type == "ground") return JointType::Ground;
  if (type == "sphere") return JointType::Sphere;
  if (type == "revolution" || type == "revolution_") return JointType::Revolution;
  if (type == "cylinder") return JointType::Cylinder;
  if (type == "translation") return JointType::Translation;
  if (type == "in_line") return JointType::InLine;
  if (type == "prismatic") return JointType::Prismatic;
  if (type == "fix") return JointType::Fix;
  return JointType::Unknown;
}

RowLevel jointRowLevel(JointType type, int k) {
  // Row by row, in the order the evaluators write them: L length, A angle, H held.
  const char* rows = "";
  switch (type) {
    case JointType::Sphere: rows = "LLL"; break;
    case JointType::Revolution: rows = "LLLAA"; break;
    case JointType::Cylinder: rows = "AALL"; break;
    case JointType::Translation: rows = "AALLH"; break;
    case JointType::InLine: rows = "LL"; break;
    case JointType::Prismatic: rows = "AAH"; break;
    case JointType::Fix: rows = "LLLHHH"; break;
    case JointType::Ground:
    case JointType::Unknown: break;
  }
  for (int i = 0; rows[i]; ++i)
    if (i == k) return rows[i] == 'L' ? RowLevel::Length : rows[i] == 'A' ? RowLevel::Angle : RowLevel::Held;
  return RowLevel::Held;
}

void clearRows(ConstraintRows& rows, int n, int bi, int bj) {
  rows.nrows = n;
  rows.bi = bi;
  rows.bj = bj;
  for (int e = 0; e < kMaxJointRows; ++e) {
    for (int c = 0; c < 3; ++c) rows.Bri[e][c] = rows.Bpi[e][c] = rows.Brj[e][c] = rows.Bpj[e][c] = 0.0;
    rows.gamma[e] = 0.0;
  }
  rows.violation = 0.0;
}

void insertJointBlocks(ConstraintRows& rows, int row0, int nrows, const double (*Bri)[3],
                       const double (*Bpi)[3], const double (*Brj)[3], const double (*Bpj)[3]) {
  for (int k = 0; k < nrows; ++k) {
    for (int c = 0; c < 3; ++c) {
      rows.Bri[row0 + k][c] = Bri[k][c];
      rows.Bpi[row0 + k][c] = Bpi[k][c];
      rows.Brj[row0 + k][c] = Brj[k][c];
      rows.Bpj[row0 + k][c] = Bpj[k][c];
    }
  }
}

const double* localAxesRef(const Model& m, int lc) {
  // Six sines and cosines per call add up in every joint and measure, while
  // the angles only change when a model is read; the cached matrix is checked
  // against the angles it was made from, so any model may be passed.
  struct Entry {
    double ang[3] = {0, 0, 0};
    double E[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  };
  thread_local std::vector<Entry> cache;
  const double* a = m.frames[lc].ang;
  if (lc >= static_cast<int>(cache.size())) cache.resize(lc + 1);
  Entry& e = cache[lc];
  if (e.ang[0] != a[0] || e.ang[1] != a[1] || e.ang[2] != a[2]) {
    mat3RotationZXZ(e.E, degToRad(a[0]), degToRad(a[1]), degToRad(a[2]));
    for (int k = 0; k < 3; ++k) e.ang[k] = a[k];
  }
  return e.E;
}

void localAxes(const Model& m, int lc, double* E) {
  const double* c = localAxesRef(m, lc);
  for (int k = 0; k < 9; ++k) E[k] = c[k];
}

bool sideUsable(const Model& m, const Histories& h, int lc) {
  if (lc < 0 || lc >= m.frame_num()) return false;
  const int b = m.frames[lc].body;
  if (b < 0 || b >= m.body_num()) return false;
  return h.A.size() >= 9 * static_cast<size_t>(b) + 9 &&
         h.omega.size() >= 3 * static_cast<size_t>(b) + 3;
}

void loadJointSide(const Model& m, const Histories& h, const double* Y, int lc, JointSide& side) {
  const LocalCoordinate& L = m.frames[lc];
  const int b = L.body;
  const int nb = m.body_num();
  side.lc = lc;
  side.body = b;
  for (int k = 0; k < 9; ++k) side.A[k] = h.A[9 * b + k];
  for (int k = 0; k < 3; ++k) {
    side.w[k] = h.omega[3 * b + k];
    side.s[k] = L.pos[k] - m.bodies[b].cg_pos[k];
    side.R[k] = m.bodies[b].cg_pos[k] + Y[3 * b + k];
    side.rd[k] = Y[3 * nb + 3 * b + k];
  }
  double t[3];
  vec3Add(side.P, side.R, mat3MulVec(t, side.A, side.s));
  double ws[3];
  vec3Add(side.vP, side.rd, mat3MulVec(t, side.A, vec3Cross(ws, side.w, side.s)));
  localAxes(m, lc, side.E);
}

int sampleRow(const Model& m, double t) {
  double v = (t - m.start_time) / m.d_time + 0.5;
  if (!(v > -1.0)) return -1;
  if (v > 2147483647.0) return 2147483647;
  return static_cast<int>(v);
}

bool evaluateJoint(const Model& m, const Histories& h, const double* Y, double t, int j,
                   ConstraintRows& rows) {
  const Joint& J = m.joints[j];
  switch (jointTypeOf(J.type)) {
    case JointType::Ground: groundJoint(m, h, Y, t, j, rows); return true;
    case JointType::Sphere: sphereJoint(m, h, Y, t, j, rows); return true;
    case JointType::Fix: fixJoint(m, h, Y, t, j, rows); return true;
    case JointType::Revolution: revolutionJoint(m, h, Y, t, j, rows); return true;
    case JointType::Cylinder: cylinderJoint(m, h, Y, t, j, rows); return true;
    case JointType::Translation: translationJoint(m, h, Y, t, j, rows); return true;
    case JointType::InLine: inLineJoint(m, h, Y, t, j, rows); return true;
    case JointType::Prismatic: prismaticJoint(m, h, Y, t, j, rows); return true;
    case JointType::Unknown: break;
  }
  rows.nrows = 0;
  return false;
}

}  // namespace orv
