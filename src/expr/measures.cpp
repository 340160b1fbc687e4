#include "expr/measures.h"

#include <cmath>
#include <cstddef>

#include "joints/constraints.h"

#include "model/histories.h"
#include "model/model.h"
#include "solver/vec3.h"

namespace orv {

namespace {

// Current kinematics of a marker, all in global axes.
struct Marker {
  double P[3];  // origin
  double v[3];  // velocity of the origin
  double w[3];  // angular velocity of its body
};

// Body of marker idx when it and its rotation cache exist, else -1.
int markerBody(const Model& m, const Histories& h, int idx) {
  if (idx < 0 || idx >= m.frame_num()) return -1;
  const int b = m.frames[idx].body;
  if (b < 0 || b >= m.body_num()) return -1;
  if (h.A.size() < 9 * static_cast<std::size_t>(b) + 9) return -1;
  return b;
}

// What a measure needs of a marker; the rest is not computed.
enum Need { kP = 1, kV = 2, kW = 8 };

bool loadMarker(const Model& m, const Histories& h, int idx, Marker& out, int need) {
  const int b = markerBody(m, h, idx);
  if (b < 0) return false;
  const std::size_t nb = static_cast<std::size_t>(m.body_num());
  const std::size_t vb = 3 * nb + 3 * static_cast<std::size_t>(b);
  if (h.p_Yi.size() < vb + 3 || h.omega.size() < 3 * static_cast<std::size_t>(b) + 3) return false;
  const LocalCoordinate& L = m.frames[idx];
  const double* A = &h.A[9 * static_cast<std::size_t>(b)];
  const double* wb = &h.omega[3 * static_cast<std::size_t>(b)];
  double s[3], t[3];
  for (int c = 0; c < 3; ++c) s[c] = L.pos[c] - m.bodies[b].cg_pos[c];
  if (need & kP) {
    mat3MulVec(t, A, s);
    for (int c = 0; c < 3; ++c) out.P[c] = m.bodies[b].cg_pos[c] + h.p_Yi[3 * b + c] + t[c];
  }
  if (need & kV) {
    mat3MulVec(t, A, vec3Cross(t, wb, s));
    for (int c = 0; c < 3; ++c) out.v[c] = h.p_Yi[vb + c] + t[c];
  }
  if (need & kW) mat3MulVec(out.w, A, wb);
  return true;
}

// Component 'x', 'y' or 'z' of global u in the current axes of marker idx,
// whose orientation is R = A A0 (body rotation times the marker's initial
// one). Only the column of R that the component needs is formed, with the
// same products and sums as the whole matrix would take. False when the
// marker cannot be placed.
bool axisComponent(const Model& m, const Histories& h, int idx, const double* u, char mode,
                   double& out) {
  Marker unused;
  if (!loadMarker(m, h, idx, unused, 0)) return false;
  const double* A = &h.A[9 * static_cast<std::size_t>(m.frames[idx].body)];
  double A0[9];
  localAxes(m, idx, A0);
  const int c = mode - 'x';
  double Rc[3];
  for (int i = 0; i < 3; ++i)
    Rc[i] = A[3 * i] * A0[c] + A[3 * i + 1] * A0[3 + c] + A[3 * i + 2] * A0[6 + c];
  out = Rc[0] * u[0] + Rc[1] * u[1] + Rc[2] * u[2];
  return true;
}

bool isAxis(char mode) { return mode == 'x' || mode == 'y' || mode == 'z'; }

}  // namespace

double measureDisplacement(const Model& m, const Histories& h, int i, int j, int k, char mode) {
  if (mode != 'd' && !isAxis(mode)) return 0.0;
  Marker mi, mj, mk;
  if (!loadMarker(m, h, i, mi, kP) || !loadMarker(m, h, j, mj, kP)) return 0.0;
  double d[3], v;
  vec3Sub(d, mi.P, mj.P);
  if (mode == 'd') return loadMarker(m, h, k, mk, 0) ? vec3Norm(d[0], d[1], d[2]) : 0.0;
  return axisComponent(m, h, k, d, mode, v) ? v : 0.0;
}

double measureVelocity(const Model& m, const Histories& h, int i, int j, int k, int l, char mode) {
  if (mode != 'd' && !isAxis(mode)) return 0.0;
  Marker mi, mj, mk, ml;
  if (!loadMarker(m, h, i, mi, kP | kV) || !loadMarker(m, h, j, mj, kP | kV) ||
      !loadMarker(m, h, k, mk, 0) || !loadMarker(m, h, l, ml, kW))
    return 0.0;
  // Rate of the vector P_i - P_j as an observer fixed to l's body sees it:
  // (v_Pi - v_Pj) - w_l x (P_i - P_j); only l's rotation matters, not its translation.
  double rho[3], u[3], t[3];
  vec3Sub(rho, mi.P, mj.P);
  vec3Sub(u, mi.v, mj.v);
  vec3Sub(u, u, vec3Cross(t, ml.w, rho));
  if (mode == 'd') return vec3Norm(u[0], u[1], u[2]);
  double v;
  return axisComponent(m, h, k, u, mode, v) ? v : 0.0;
}

double measureAngularVelocity(const Model& m, const Histories& h, int i, int j, int k, char mode) {
  if (!isAxis(mode)) return 0.0;
  Marker mi, mj;
  if (!loadMarker(m, h, i, mi, kW) || !loadMarker(m, h, j, mj, kW)) return 0.0;
  double dw[3], v;
  vec3Sub(dw, mi.w, mj.w);
  return axisComponent(m, h, k, dw, mode, v) ? v : 0.0;
}

double measureAngle(const Model& m, const Histories& h, int i, int j, char mode) {
  if (mode != '1' && mode != '2' && mode != '3') return 0.0;
  const int bi = markerBody(m, h, i), bj = markerBody(m, h, j);
  if (bi < 0 || bj < 0) return 0.0;
  double Ait[9], R[9];
  mat3Transpose(Ait, &h.A[9 * static_cast<std::size_t>(bi)]);
  mat3Mul(R, Ait, &h.A[9 * static_cast<std::size_t>(bj)]);
  return angleZXZ(R, mode - '1');
}

double measureJointReaction(const Model& m, const Histories& h, int joint, int c, int side,
                            int frame) {
  if (c < 0 || c > 7 || (side != 0 && side != 1) || (frame != 0 && frame != 1)) return 0.0;
  if (joint < 0 || joint >= m.joint_num()) return 0.0;
  const std::size_t at = 6 * static_cast<std::size_t>(joint);
  if (h.p_F_const_i.size() < at + 6) return 0.0;
  // Stored: force in global axes, torque in body-i axes (the wrench on body i).
  const Joint& J = m.joints[joint];
  const int bi = markerBody(m, h, J.i_lc);
  double f[3], tq[3];
  for (int k = 0; k < 3; ++k) {
    f[k] = h.p_F_const_i[at + k];
    tq[k] = h.p_F_const_i[at + 3 + k];
  }
  const bool wantsTorque = c >= 3 && c != 6;
  if (wantsTorque) {
    if (bi < 0) return 0.0;
    mat3MulVec(tq, &h.A[9 * static_cast<std::size_t>(bi)], tq);
  }
  if (side == 1) {
    vec3Neg(f, f);
    vec3Neg(tq, tq);
  }
  // Frame 0 leaves both in global axes, frame 1 takes the axes of the body on that side.
  if (frame == 1) {
    const int b = side == 0 ? bi : markerBody(m, h, J.j_lc);
    if (b < 0) return 0.0;
    const double* A = &h.A[9 * static_cast<std::size_t>(b)];
    mat3TransposeMulVec(f, f, A);
    mat3TransposeMulVec(tq, tq, A);
  }
  if (c < 3) return f[c];
  if (c < 6) return tq[c - 3];
  if (c == 6) return vec3Norm(f[0], f[1], f[2]);
  return vec3Norm(tq[0], tq[1], tq[2]);
}

}  // namespace orv
