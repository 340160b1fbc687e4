// Axial joints and the translation motion against their constraint
// functions: blocks and gamma against the first and second time derivatives
// along a motion with known accelerations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "joints/axial_joints.h"
#include "joints/motions.h"
#include "joints/point_joints.h"
#include "model/kinematics.h"
#include "model/model.h"
#include "math/vec3.h"

using namespace orv;

namespace {

// Displacement, velocity, Euler parameters and body-axis omega of a body.
struct BodyState {
  double r[3], v[3], p[4], w[3];
};
using State = std::vector<BodyState>;
// Perp: x_i . y_j; Projection: z_i . (P_j - P_i), whose rate a "T" motion drives.
enum class Prim { Point, ParallelSingle, Parallel, OnLine, Perp, Projection };

// p -> p (x) q(th), i.e. A -> A exp(skew(th)): a body-frame turn.
void turn(double* p, const double* th) {
  const double a = vec3Norm(th[0], th[1], th[2]), s = a > 0 ? std::sin(a / 2) / a : 0.5;
  const double q[4] = {std::cos(a / 2), s * th[0], s * th[1], s * th[2]};
  const double r[4] = {p[0] * q[0] - p[1] * q[1] - p[2] * q[2] - p[3] * q[3],
                       p[0] * q[1] + p[1] * q[0] + p[2] * q[3] - p[3] * q[2],
                       p[0] * q[2] - p[1] * q[3] + p[2] * q[0] + p[3] * q[1],
                       p[0] * q[3] + p[1] * q[2] - p[2] * q[1] + p[3] * q[0]};
  std::copy(r, r + 4, p);
}

// Three bodies; joint 0 from LC 0 on body 2 (i side) to LC 1 on body 0, and a "T" motion on it.
Model makeModel(const std::string& type, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  Model m;
  m.bodies.resize(3), m.frames.resize(2), m.joints.resize(1), m.motions.resize(1);
  for (Body& b : m.bodies)
    for (double& c : b.cg_pos) c = u(rng);
  for (int f = 0; f < 2; ++f) {
    m.frames[f].body = f == 0 ? 2 : 0;
    for (int k = 0; k < 3; ++k) m.frames[f].pos[k] = u(rng), m.frames[f].ang[k] = 180 * u(rng);
  }
  m.joints[0].type = type, m.joints[0].i_lc = 0, m.joints[0].j_lc = 1;
  m.motions[0].type = "T", m.motions[0].joint = 0;
  resolveTypesAndAxes(m);
  return m;
}

State randomState(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  State st(3);
  for (BodyState& b : st) {
    for (int k = 0; k < 3; ++k) b.r[k] = u(rng), b.v[k] = u(rng), b.w[k] = 2 * u(rng);
    const double th[3] = {3 * u(rng), 3 * u(rng), 3 * u(rng)};
    b.p[0] = 1, turn(b.p, th);
  }
  return st;
}

// Y with pdot = G^T w / 2, and the caches A(p), 2 G pdot as the equations of motion fill them.
struct Filled {
  std::vector<double> Y;
  Kinematics h;
  JointSide si, sj;
};
Filled fill(const Model& m, const State& st) {
  const int nb = static_cast<int>(st.size());
  Filled f;
  f.Y.assign(14 * nb, 0.0), f.h.A.assign(9 * nb, 0.0), f.h.omega.assign(3 * nb, 0.0);
  for (int b = 0; b < nb; ++b) {
    const double* p = st[b].p;
    for (int k = 0; k < 3; ++k) f.Y[3 * b + k] = st[b].r[k], f.Y[3 * nb + 3 * b + k] = st[b].v[k];
    std::copy(p, p + 4, &f.Y[6 * nb + 4 * b]);
    eulerRatesFromOmega(&f.Y[10 * nb + 4 * b], p, st[b].w);
    mat3FromEulerParameters(&f.h.A[9 * b], p);
    omegaFromEulerRates(&f.h.omega[3 * b], p, &f.Y[10 * nb + 4 * b]);
  }
  loadJointSide(m, f.h, f.Y.data(), 0, f.si), loadJointSide(m, f.h, f.Y.data(), 1, f.sj);
  return f;
}

// The constraint functions, from positions and the LC angles alone (all components).
void phiFull(Prim prim, const Model& m, const State& st, double* out) {
  double A[2][9], P[2][3], ax[2][3];
  for (int f = 0; f < 2; ++f) {
    const LocalCoordinate& L = m.frames[f];
    const double* c = m.bodies[L.body].cg_pos;
    double E[9], s[3];
    mat3FromEulerParameters(A[f], st[L.body].p);
    mat3MulVec(P[f], A[f], vec3Sub(s, L.pos, c));
    for (int k = 0; k < 3; ++k) P[f][k] += c[k] + st[L.body].r[k];
    mat3RotationZXZ(E, degToRad(L.ang[0]), degToRad(L.ang[1]), degToRad(L.ang[2]));
    const int col = prim != Prim::Perp ? 2 : f;  // z_i, z_j or x_i, y_j
    const double u[3] = {E[col], E[3 + col], E[6 + col]};
    mat3MulVec(ax[f], A[f], u);
  }
  double d[3];
  vec3Sub(d, P[1], P[0]);
  if (prim == Prim::Point) std::copy(d, d + 3, out);
  if (prim == Prim::Parallel || prim == Prim::ParallelSingle) vec3Cross(out, ax[0], ax[1]);
  if (prim == Prim::OnLine) vec3Cross(out, ax[0], d);
  if (prim == Prim::Perp) out[0] = vec3Dot(ax[0], ax[1]);
  if (prim == Prim::Projection) out[0] = vec3Dot(ax[0], d);
}

// Row e -> (primitive, component), the components the evaluators keep.
using RowMap = std::vector<std::pair<Prim, int>>;
RowMap mapRows(const Filled& f, const std::vector<Prim>& prims) {
  ConstraintRows scratch;
  clearRows(scratch, kMaxJointRows, -1, -1);
  RowMap map;
  for (Prim p : prims) {
    int ch[3] = {0, 1, 2};
    if (p == Prim::Parallel) parallelAxes(f.si, f.sj, AxisRowChoice::BothBlocks, scratch, 0, ch);
    if (p == Prim::ParallelSingle)
      parallelAxes(f.si, f.sj, AxisRowChoice::SingleBlock, scratch, 0, ch);
    if (p == Prim::OnLine) pointOnLine(f.si, f.sj, scratch, 0, ch);
    const int n = p == Prim::Point ? 3 : p == Prim::Perp || p == Prim::Projection ? 1 : 2;
    for (int k = 0; k < n; ++k) map.push_back({p, ch[k]});
  }
  return map;
}

// Rows of phi tau along the motion of constant acceleration acc (r'', w' per body).
std::vector<double> phiAlong(const RowMap& map, const Model& m, State st,
                             const std::vector<double>& acc, double tau) {
  for (size_t b = 0; b < st.size(); ++b) {
    double th[3];
    for (int k = 0; k < 3; ++k) {
      st[b].r[k] += st[b].v[k] * tau + 0.5 * acc[6 * b + k] * tau * tau;
      th[k] = st[b].w[k] * tau + 0.5 * acc[6 * b + 3 + k] * tau * tau;
    }
    turn(st[b].p, th);
  }
  std::vector<double> out;
  double f[3];
  for (const auto& [p, c] : map) phiFull(p, m, st, f), out.push_back(f[c]);
  return out;
}

// Along a motion with random accelerations, Cq q' against Phi' (which checks
// every block for random velocities), and gamma - (-2 alpha Phi' - beta^2 Phi)
// against Cq q'' - Phi''; a motion's row drives Phi' to -f: gamma - (-f' - 2
// alpha (Phi' + f)). Turns are body-frame: q' holds the body-axis omegas.
void checkRows(const Model& m, const State& st, const ConstraintRows& rows, const RowMap& map,
               std::mt19937& rng, const MotionRate& drive) {
  const int bi = m.frames[0].body, bj = m.frames[1].body;
  ASSERT_EQ(rows.nrows, static_cast<int>(map.size()));
  EXPECT_TRUE(rows.bi == bi && rows.bj == bj);
  std::uniform_real_distribution<double> u(-3, 3);
  std::vector<double> acc(6 * st.size());
  for (double& a : acc) a = u(rng);
  const double hs = 1e-3;
  std::vector<double> f[5];
  for (int n = 0; n < 5; ++n) f[n] = phiAlong(map, m, st, acc, (n - 2) * hs);
  for (int e = 0; e < rows.nrows; ++e) {
    const double d1 = (f[0][e] - 8 * f[1][e] + 8 * f[3][e] - f[4][e]) / (12 * hs);
    const double d2 =
        (-f[0][e] + 16 * f[1][e] - 30 * f[2][e] + 16 * f[3][e] - f[4][e]) / (12 * hs * hs);
    double cqv = 0, cqa = 0;
    for (int k = 0; k < 3; ++k) {
      cqv += rows.Bri[e][k] * st[bi].v[k] + rows.Bpi[e][k] * st[bi].w[k] +
             rows.Brj[e][k] * st[bj].v[k] + rows.Bpj[e][k] * st[bj].w[k];
      cqa += rows.Bri[e][k] * acc[6 * bi + k] + rows.Bpi[e][k] * acc[6 * bi + 3 + k] +
             rows.Brj[e][k] * acc[6 * bj + k] + rows.Bpj[e][k] * acc[6 * bj + 3 + k];
    }
    EXPECT_NEAR(cqv, d1, 1e-7) << "blocks, row " << e;
    const double a = kBaumgarteAlpha, b = kBaumgarteBeta;
    double stab = -2 * a * d1 - b * b * f[2][e];
    if (map[e].first == Prim::Perp) stab = 0.0;
    if (map[e].first == Prim::Projection) stab = -drive.accel - 2 * a * (d1 + drive.rate);
    EXPECT_NEAR(rows.gamma[e] - stab, cqa - d2, 1e-5) << "gamma, row " << e;
  }
}

}  // namespace

TEST(AxialJointRows, MatchTheirConstraintFunctionsAtRandomStates) {
  using P = Prim;
  // "T": the translation motion on a cylinder joint, driving the rate 0.7 with the derivative -0.4.
  const std::vector<std::pair<std::string, std::vector<Prim>>> joints = {
      {"revolution", {P::Point, P::ParallelSingle}},
      {"revolution_", {P::Point, P::ParallelSingle}},
      {"cylinder", {P::Parallel, P::OnLine}},
      {"translation", {P::Parallel, P::OnLine, P::Perp}},
      {"in_line", {P::OnLine}},
      {"prismatic", {P::Parallel, P::Perp}},
      {"T", {P::Projection}}};
  std::mt19937 rng(20240611);
  for (const auto& [type, prims] : joints) {
    SCOPED_TRACE(type);
    const bool motion = type == "T";
    const MotionRate drive = motion ? MotionRate{0.7, -0.4} : MotionRate{};
    for (int trial = 0; trial < 25; ++trial) {
      const Model m = makeModel(motion ? "cylinder" : type, rng);
      const State st = randomState(rng);
      const Filled f = fill(m, st);
      ConstraintRows rows;
      if (motion)
        motionConstraint(m, f.h, f.Y.data(), 0, drive, rows);
      else
        ASSERT_TRUE(evaluateJoint(m, f.h, f.Y.data(), 0.0, 0, rows));
      checkRows(m, st, rows, mapRows(f, prims), rng, drive);
      // The monitor: vector terms by their norms, x_i . y_j signed, |P_j - P_i| for the motion.
      double v = 0, full[3];
      for (Prim p : prims) {
        phiFull(p == P::Projection ? P::Point : p, m, st, full);
        v += p == P::Perp ? full[0] : vec3Norm(full[0], full[1], full[2]);
      }
      EXPECT_NEAR(rows.violation, v, 1e-12);
    }
  }
}
