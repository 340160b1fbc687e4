#include "expr/measures.h"

#include <cmath>
#include <cstddef>

#include "model/kinematics.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "math/vec3.h"

namespace orv {

namespace {

// Current kinematics of a marker, all in global axes.
struct Marker {
  double P[3];  // origin
  double v[3];  // velocity of the origin
  double w[3];  // angular velocity of its body
};

// The state arrays a measure reads. Measures run for every output channel
// and force component at every step, so the sizes are checked once per
// measure when every body is present (the usual case), and per body only
// when some are missing.
struct State {
  const Kinematics& kin;
  std::size_t nb;
  StateLayout L;
  bool full;  // rotations, omegas and the r and v parts of Y hold every body

  State(const Kinematics& k, std::size_t bodies)
      : kin(k),
        nb(bodies),
        L{static_cast<int>(bodies)},
        full(k.A.size() >= 9 * nb && k.omega.size() >= 3 * nb && k.Y.size() >= 6 * nb) {}

  // Whether the rotation of marker r's body exists.
  bool placed(const MarkerRef& r) const {
    if (r.body < 0) return false;
    return full || kin.A.size() >= 9 * static_cast<std::size_t>(r.body) + 9;
  }
  // Whether its velocities exist too.
  bool moving(const MarkerRef& r) const {
    if (!placed(r)) return false;
    if (full) return true;
    const std::size_t ub = static_cast<std::size_t>(r.body);
    return kin.Y.size() >= static_cast<std::size_t>(L.v(r.body)) + 3 &&
           kin.omega.size() >= 3 * ub + 3;
  }
  const double* A(int b) const { return &kin.A[9 * static_cast<std::size_t>(b)]; }
};

// What a measure needs of a marker; the rest is not computed.
enum Need { kP = 1, kV = 2, kW = 8 };

// Written out in scalars: the small arrays the 3-vector helpers take would
// go through memory, and measures are on every step's path. The products and
// sums are those of mat3MulVec and vec3Cross, term for term.
template <int need>
inline bool loadMarker(const State& st, const MarkerRef& r, Marker& out) {
  if (!st.moving(r)) return false;
  const std::size_t ub = static_cast<std::size_t>(r.body);
  const double* cg = r.cg;
  const double* A = st.A(r.body);
  const double s0 = r.s[0], s1 = r.s[1], s2 = r.s[2];
  if (need & kP) {
    const double* Y = &st.kin.Y[st.L.r(r.body)];
    out.P[0] = cg[0] + Y[0] + (A[0] * s0 + A[1] * s1 + A[2] * s2);
    out.P[1] = cg[1] + Y[1] + (A[3] * s0 + A[4] * s1 + A[5] * s2);
    out.P[2] = cg[2] + Y[2] + (A[6] * s0 + A[7] * s1 + A[8] * s2);
  }
  const double* wb = &st.kin.omega[3 * ub];
  if (need & kV) {
    const double c0 = wb[1] * s2 - wb[2] * s1;
    const double c1 = wb[2] * s0 - wb[0] * s2;
    const double c2 = wb[0] * s1 - wb[1] * s0;
    const double* Yd = &st.kin.Y[st.L.v(r.body)];
    out.v[0] = Yd[0] + (A[0] * c0 + A[1] * c1 + A[2] * c2);
    out.v[1] = Yd[1] + (A[3] * c0 + A[4] * c1 + A[5] * c2);
    out.v[2] = Yd[2] + (A[6] * c0 + A[7] * c1 + A[8] * c2);
  }
  if (need & kW) {
    out.w[0] = A[0] * wb[0] + A[1] * wb[1] + A[2] * wb[2];
    out.w[1] = A[3] * wb[0] + A[4] * wb[1] + A[5] * wb[2];
    out.w[2] = A[6] * wb[0] + A[7] * wb[1] + A[8] * wb[2];
  }
  return true;
}

// Component of global u along the bound axis of marker k, whose current
// orientation is R = A A0 (body rotation times the marker's initial axes).
// Only the column of R that the component needs is formed, with the same
// products and sums as the whole matrix would take. False when k cannot be
// placed.
bool axisComponent(const State& st, const MarkerRef& k, const double* axis, const double* u,
                   double& out) {
  if (!st.moving(k)) return false;
  const double* A = st.A(k.body);
  const double e0 = axis[0], e1 = axis[1], e2 = axis[2];
  const double R0 = A[0] * e0 + A[1] * e1 + A[2] * e2;
  const double R1 = A[3] * e0 + A[4] * e1 + A[5] * e2;
  const double R2 = A[6] * e0 + A[7] * e1 + A[8] * e2;
  out = R0 * u[0] + R1 * u[1] + R2 * u[2];
  return true;
}

bool isAxis(char mode) { return mode == 'x' || mode == 'y' || mode == 'z'; }

// Marker idx of the model; body -1 when it or its body does not exist.
MarkerRef markerRef(const Model& m, int idx) {
  MarkerRef r;
  if (idx < 0 || idx >= m.frame_num()) return r;
  const LocalCoordinate& L = m.frames[static_cast<std::size_t>(idx)];
  if (L.body < 0 || L.body >= m.body_num()) return r;
  r.body = L.body;
  const double* cg = m.bodies[static_cast<std::size_t>(L.body)].cg_pos;
  for (int c = 0; c < 3; ++c) {
    r.cg[c] = cg[c];
    r.s[c] = L.pos[c] - cg[c];
  }
  return r;
}

// Column of marker k's initial axes that an axis mode projects on.
void axisColumn(const Model& m, int k, char mode, double* axis) {
  const double* A0 = m.frames[k].axes;
  const int c = mode - 'x';
  axis[0] = A0[c];
  axis[1] = A0[3 + c];
  axis[2] = A0[6 + c];
}

double displacement(const State& st, const MarkerRef& i, const MarkerRef& j, const MarkerRef& k,
                    const double* axis, char mode) {
  Marker mi, mj;
  if (!loadMarker<kP>(st, i, mi) || !loadMarker<kP>(st, j, mj)) return 0.0;
  double d[3], v;
  vec3Sub(d, mi.P, mj.P);
  if (mode == 'd') return st.moving(k) ? vec3Norm(d[0], d[1], d[2]) : 0.0;
  return axisComponent(st, k, axis, d, v) ? v : 0.0;
}

double velocity(const State& st, const MarkerRef& i, const MarkerRef& j, const MarkerRef& k,
                const MarkerRef& l, const double* axis, char mode) {
  Marker mi, mj, ml;
  if (!loadMarker<kP | kV>(st, i, mi) || !loadMarker<kP | kV>(st, j, mj) || !st.moving(k) ||
      !loadMarker<kW>(st, l, ml))
    return 0.0;
  // Rate of the vector P_i - P_j as an observer fixed to l's body sees it:
  // (v_Pi - v_Pj) - w_l x (P_i - P_j); only l's rotation matters, not its translation.
  double rho[3], u[3], t[3];
  vec3Sub(rho, mi.P, mj.P);
  vec3Sub(u, mi.v, mj.v);
  vec3Sub(u, u, vec3Cross(t, ml.w, rho));
  if (mode == 'd') return vec3Norm(u[0], u[1], u[2]);
  double v;
  return axisComponent(st, k, axis, u, v) ? v : 0.0;
}

double angularVelocity(const State& st, const MarkerRef& i, const MarkerRef& j, const MarkerRef& k,
                       const double* axis) {
  Marker mi, mj;
  if (!loadMarker<kW>(st, i, mi) || !loadMarker<kW>(st, j, mj)) return 0.0;
  double dw[3], v;
  vec3Sub(dw, mi.w, mj.w);
  return axisComponent(st, k, axis, dw, v) ? v : 0.0;
}

double angle(const State& st, const MarkerRef& i, const MarkerRef& j, char mode) {
  if (!st.placed(i) || !st.placed(j)) return 0.0;
  double Ait[9], R[9];
  mat3Transpose(Ait, st.A(i.body));
  mat3Mul(R, Ait, st.A(j.body));
  return angleZXZ(R, mode - '1');
}

// A whole turn to double precision (units.h's kPi is the ten-decimal one of
// degree conversions, which would make a count drift by 1e-10 a turn).
constexpr double kTurn = 6.283185307179586;

// TURN's initial axes: i's x and y axes, then j's x axis.
void turnAxes(const Model& m, int i, int j, double* out) {
  const double* Ai = m.frames[static_cast<std::size_t>(i)].axes;
  const double* Aj = m.frames[static_cast<std::size_t>(j)].axes;
  for (int r = 0; r < 3; ++r) {
    out[r] = Ai[3 * r];
    out[3 + r] = Ai[3 * r + 1];
    out[6 + r] = Aj[3 * r];
  }
}

// The angle of j's x axis about i's z axis, in (-pi, pi]; false when a body
// is not placed.
bool wrappedTurn(const State& st, const MarkerRef& i, const MarkerRef& j, const double* axes,
                 double& out) {
  if (!st.placed(i) || !st.placed(j)) return false;
  double xi[3], yi[3], xj[3];
  mat3MulVec(xi, st.A(i.body), axes);
  mat3MulVec(yi, st.A(i.body), axes + 3);
  mat3MulVec(xj, st.A(j.body), axes + 6);
  out = std::atan2(vec3Dot(yi, xj), vec3Dot(xi, xj));
  return true;
}

// The angle phi is known up to whole turns: the one nearest `from`.
double nearest(double from, double phi) { return from + std::remainder(phi - from, kTurn); }

double turn(const State& st, const MarkerRef& i, const MarkerRef& j, const double* axes, int li,
            int lj) {
  double phi;
  if (!wrappedTurn(st, i, j, axes, phi)) return 0.0;
  for (const TurnCount& t : st.kin.turns)
    if (t.i == li && t.j == lj) return nearest(t.angle, phi);
  return phi;
}

// The joint's i and j sides give only their bodies.
double jointReaction(const State& st, int joint, int c, int side, int frame, const MarkerRef& i,
                     const MarkerRef& j) {
  const std::vector<double>& reactions = st.kin.reactions;
  const std::size_t at = 6 * static_cast<std::size_t>(joint);
  if (reactions.size() < at + 6) return 0.0;
  // Stored: force in global axes, torque in body-i axes (the wrench on body i).
  const bool iPlaced = st.placed(i);
  double f[3], tq[3];
  for (int k = 0; k < 3; ++k) {
    f[k] = reactions[at + k];
    tq[k] = reactions[at + 3 + k];
  }
  const bool wantsTorque = c >= 3 && c != 6;
  if (wantsTorque) {
    if (!iPlaced) return 0.0;
    mat3MulVec(tq, st.A(i.body), tq);
  }
  if (side == 1) {
    vec3Neg(f, f);
    vec3Neg(tq, tq);
  }
  // Frame 0 leaves both in global axes, frame 1 takes the axes of the body on that side.
  if (frame == 1) {
    const MarkerRef& r = side == 0 ? i : j;
    if (!(side == 0 ? iPlaced : st.placed(r))) return 0.0;
    const double* A = st.A(r.body);
    mat3TransposeMulVec(f, f, A);
    mat3TransposeMulVec(tq, tq, A);
  }
  if (c < 3) return f[c];
  if (c < 6) return tq[c - 3];
  if (c == 6) return vec3Norm(f[0], f[1], f[2]);
  return vec3Norm(tq[0], tq[1], tq[2]);
}

}  // namespace

BoundMeasure bindDisplacement(const Model& m, int i, int j, int k, char mode) {
  BoundMeasure b;
  if (mode != 'd' && !isAxis(mode)) return b;
  b.kind = BoundMeasure::Displacement;
  b.mode = mode;
  b.nb = m.bodies.size();
  b.ref[0] = markerRef(m, i);
  b.ref[1] = markerRef(m, j);
  b.ref[2] = markerRef(m, k);
  if (isAxis(mode) && b.ref[2].body >= 0) axisColumn(m, k, mode, b.axis);
  return b;
}

BoundMeasure bindVelocity(const Model& m, int i, int j, int k, int l, char mode) {
  BoundMeasure b = bindDisplacement(m, i, j, k, mode);
  if (b.kind == BoundMeasure::Zero) return b;
  b.kind = BoundMeasure::Velocity;
  b.ref[3] = markerRef(m, l);
  return b;
}

BoundMeasure bindAngularVelocity(const Model& m, int i, int j, int k, char mode) {
  if (!isAxis(mode)) return BoundMeasure{};
  BoundMeasure b = bindDisplacement(m, i, j, k, mode);
  b.kind = BoundMeasure::AngularVelocity;
  return b;
}

BoundMeasure bindAngle(const Model& m, int i, int j, char mode) {
  BoundMeasure b;
  if (mode != '1' && mode != '2' && mode != '3') return b;
  b.kind = BoundMeasure::Angle;
  b.mode = mode;
  b.nb = m.bodies.size();
  b.ref[0] = markerRef(m, i);
  b.ref[1] = markerRef(m, j);
  return b;
}

BoundMeasure bindJointReaction(const Model& m, int joint, int c, int side, int frame) {
  BoundMeasure b;
  if (c < 0 || c > 7 || (side != 0 && side != 1) || (frame != 0 && frame != 1)) return b;
  if (joint < 0 || joint >= m.joint_num()) return b;
  const Joint& J = m.joints[static_cast<std::size_t>(joint)];
  b.kind = BoundMeasure::JointReaction;
  b.nb = m.bodies.size();
  b.ref[0] = markerRef(m, J.i_lc);
  b.ref[1] = markerRef(m, J.j_lc);
  b.joint = joint;
  b.c = c;
  b.side = side;
  b.frame = frame;
  return b;
}

BoundMeasure bindTurn(const Model& m, int i, int j) {
  BoundMeasure b;
  b.ref[0] = markerRef(m, i);
  b.ref[1] = markerRef(m, j);
  if (b.ref[0].body < 0 || b.ref[1].body < 0) return BoundMeasure{};
  b.kind = BoundMeasure::Turn;
  b.nb = m.bodies.size();
  b.lc[0] = i;
  b.lc[1] = j;
  turnAxes(m, i, j, b.turnAxes);
  return b;
}

double evaluateMeasure(const BoundMeasure& b, const Kinematics& kin) {
  if (b.kind == BoundMeasure::Zero) return 0.0;
  const State st(kin, b.nb);
  const MarkerRef* r = b.ref;
  switch (b.kind) {
    case BoundMeasure::Displacement: return displacement(st, r[0], r[1], r[2], b.axis, b.mode);
    case BoundMeasure::Velocity: return velocity(st, r[0], r[1], r[2], r[3], b.axis, b.mode);
    case BoundMeasure::AngularVelocity: return angularVelocity(st, r[0], r[1], r[2], b.axis);
    case BoundMeasure::Angle: return angle(st, r[0], r[1], b.mode);
    case BoundMeasure::JointReaction:
      return jointReaction(st, b.joint, b.c, b.side, b.frame, r[0], r[1]);
    case BoundMeasure::Turn: return turn(st, r[0], r[1], b.turnAxes, b.lc[0], b.lc[1]);
    case BoundMeasure::Zero: break;
  }
  return 0.0;
}

// The measures looked up afresh at every call: only the markers they use.

double measureDisplacement(const Model& m, const Kinematics& kin, int i, int j, int k, char mode) {
  if (mode != 'd' && !isAxis(mode)) return 0.0;
  const State st(kin, m.bodies.size());
  const MarkerRef ri = markerRef(m, i), rj = markerRef(m, j), rk = markerRef(m, k);
  double axis[3] = {0, 0, 0};
  if (isAxis(mode) && st.moving(rk)) axisColumn(m, k, mode, axis);
  return displacement(st, ri, rj, rk, axis, mode);
}

double measureVelocity(const Model& m, const Kinematics& kin, int i, int j, int k, int l,
                       char mode) {
  if (mode != 'd' && !isAxis(mode)) return 0.0;
  const MarkerRef ri = markerRef(m, i), rj = markerRef(m, j), rk = markerRef(m, k),
                  rl = markerRef(m, l);
  const State st(kin, m.bodies.size());
  double axis[3] = {0, 0, 0};
  if (isAxis(mode) && st.moving(rk)) axisColumn(m, k, mode, axis);
  return velocity(st, ri, rj, rk, rl, axis, mode);
}

double measureAngularVelocity(const Model& m, const Kinematics& kin, int i, int j, int k,
                              char mode) {
  if (!isAxis(mode)) return 0.0;
  const MarkerRef ri = markerRef(m, i), rj = markerRef(m, j), rk = markerRef(m, k);
  const State st(kin, m.bodies.size());
  double axis[3] = {0, 0, 0};
  if (st.moving(rk)) axisColumn(m, k, mode, axis);
  return angularVelocity(st, ri, rj, rk, axis);
}

double measureAngle(const Model& m, const Kinematics& kin, int i, int j, char mode) {
  if (mode != '1' && mode != '2' && mode != '3') return 0.0;
  return angle(State(kin, m.bodies.size()), markerRef(m, i), markerRef(m, j), mode);
}

double measureJointReaction(const Model& m, const Kinematics& kin, int joint, int c, int side,
                            int frame) {
  if (c < 0 || c > 7 || (side != 0 && side != 1) || (frame != 0 && frame != 1)) return 0.0;
  if (joint < 0 || joint >= m.joint_num()) return 0.0;
  const Joint& J = m.joints[static_cast<std::size_t>(joint)];
  return jointReaction(State(kin, m.bodies.size()), joint, c, side, frame, markerRef(m, J.i_lc),
                       markerRef(m, J.j_lc));
}

double measureTurn(const Model& m, const Kinematics& kin, int i, int j) {
  const MarkerRef ri = markerRef(m, i), rj = markerRef(m, j);
  if (ri.body < 0 || rj.body < 0) return 0.0;
  double axes[9];
  turnAxes(m, i, j, axes);
  return turn(State(kin, m.bodies.size()), ri, rj, axes, i, j);
}

void advanceTurns(const Model& m, const Kinematics& at, std::vector<TurnCount>& turns) {
  const State st(at, m.bodies.size());
  for (TurnCount& t : turns) {
    const MarkerRef ri = markerRef(m, t.i), rj = markerRef(m, t.j);
    if (ri.body < 0 || rj.body < 0) continue;
    double axes[9], phi;
    turnAxes(m, t.i, t.j, axes);
    if (wrappedTurn(st, ri, rj, axes, phi)) t.angle = nearest(t.angle, phi);
  }
}

}  // namespace orv
