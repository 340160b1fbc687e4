// Axial joints against their constraint functions: blocks against finite
// differences, gamma against the second time derivative along a motion with
// known accelerations, and the row-choice rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "joints/axial_joints.h"
#include "joints/point_joints.h"
#include "model/histories.h"
#include "model/model.h"
#include "math/vec3.h"

using namespace orv;

namespace {

struct BodyState {
  double r[3], v[3], p[4], w[3];  // displacement, velocity, Euler parameters, body-axis omega
};
using State = std::vector<BodyState>;
enum class Prim { Point, ParallelSingle, Parallel, OnLine, Perp };
constexpr int kPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};

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

// Three bodies; joint 0 from LC 0 on body 2 (i side) to LC 1 on body 0.
Model makeModel(const std::string& type, std::mt19937& rng, bool turned_lcs = true) {
  std::uniform_real_distribution<double> u(-1, 1);
  Model m;
  m.bodies.resize(3);
  for (Body& b : m.bodies)
    for (double& c : b.cg_pos) c = u(rng);
  m.frames.resize(2);
  for (int f = 0; f < 2; ++f) {
    m.frames[f].body = f == 0 ? 2 : 0;
    for (int k = 0; k < 3; ++k) m.frames[f].pos[k] = u(rng), m.frames[f].ang[k] = turned_lcs ? 180 * u(rng) : 0;
  }
  m.joints.resize(1);
  m.joints[0].type = type, m.joints[0].i_lc = 0, m.joints[0].j_lc = 1;
  resolveTypesAndAxes(m);
  return m;
}

State randomState(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  State st(3);
  for (BodyState& b : st) {
    for (int k = 0; k < 3; ++k) b.r[k] = u(rng), b.v[k] = u(rng), b.w[k] = 2 * u(rng);
    for (double& e : b.p) e = u(rng);
    const double n = std::sqrt(b.p[0] * b.p[0] + b.p[1] * b.p[1] + b.p[2] * b.p[2] + b.p[3] * b.p[3]);
    for (double& e : b.p) e /= n;
  }
  return st;
}

// Y with pdot = G^T w / 2, and the caches A(p), 2 G pdot as the equations of motion fill them.
struct Filled {
  std::vector<double> Y;
  Histories h;
  JointSide si, sj;
};
Filled fill(const Model& m, const State& st) {
  const int nb = static_cast<int>(st.size());
  Filled f;
  f.Y.assign(14 * nb, 0.0);
  f.h.A.assign(9 * nb, 0.0);
  f.h.omega.assign(3 * nb, 0.0);
  for (int b = 0; b < nb; ++b) {
    const double* p = st[b].p;
    for (int k = 0; k < 3; ++k) f.Y[3 * b + k] = st[b].r[k], f.Y[3 * nb + 3 * b + k] = st[b].v[k];
    std::copy(p, p + 4, &f.Y[6 * nb + 4 * b]);
    eulerRatesFromOmega(&f.Y[10 * nb + 4 * b], p, st[b].w);
    mat3FromEulerParameters(&f.h.A[9 * b], p);
    omegaFromEulerRates(&f.h.omega[3 * b], p, &f.Y[10 * nb + 4 * b]);
  }
  loadJointSide(m, f.h, f.Y.data(), 0, f.si);
  loadJointSide(m, f.h, f.Y.data(), 1, f.sj);
  return f;
}

// The constraint functions, from positions alone (all components).
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
}

// d phiFull / d column col of (r_i, pi_i, r_j, pi_j), pi a body-frame turn, by central differences.
void dPhi(Prim prim, const Model& m, const State& st, int col, double* out) {
  const int b = m.frames[col / 6].body, k = col % 3;
  double f[2][3] = {};
  for (int n = 0; n < 2; ++n) {
    State s = st;
    double th[3] = {0, 0, 0};
    th[k] = n ? -1e-6 : 1e-6;
    (col / 3) % 2 ? turn(s[b].p, th) : void(s[b].r[k] += th[k]);
    phiFull(prim, m, s, f[n]);
  }
  for (int e = 0; e < 3; ++e) out[e] = (f[0][e] - f[1][e]) / 2e-6;
}

// Row e -> (primitive, component).
struct RowMap {
  std::vector<Prim> prim;
  std::vector<int> comp;
};
RowMap mapRows(const Filled& f, const std::vector<Prim>& prims) {
  ConstraintRows scratch;
  clearRows(scratch, kMaxJointRows, -1, -1);
  RowMap map;
  for (Prim p : prims) {
    int ch[3] = {0, 1, 2};
    if (p == Prim::Parallel) parallelAxes(f.si, f.sj, AxisRowChoice::BothBlocks, scratch, 0, ch);
    if (p == Prim::ParallelSingle) parallelAxes(f.si, f.sj, AxisRowChoice::SingleBlock, scratch, 0, ch);
    if (p == Prim::OnLine) pointOnLine(f.si, f.sj, scratch, 0, ch);
    for (int k = 0; k < (p == Prim::Point ? 3 : p == Prim::Perp ? 1 : 2); ++k) map.prim.push_back(p), map.comp.push_back(ch[k]);
  }
  return map;
}
std::vector<double> phiRows(const RowMap& map, const Model& m, const State& st) {
  std::vector<double> out(map.prim.size(), 0.0);
  double f[3];
  for (size_t e = 0; e < out.size(); ++e)
    phiFull(map.prim[e], m, st, f), out[e] = f[map.comp[e]];
  return out;
}

// Positions at time tau along the motion of constant acceleration acc (r'', w' per body).
State along(State st, const std::vector<double>& acc, double tau) {
  for (size_t b = 0; b < st.size(); ++b) {
    double th[3];
    for (int k = 0; k < 3; ++k) {
      st[b].r[k] += st[b].v[k] * tau + 0.5 * acc[6 * b + k] * tau * tau;
      th[k] = st[b].w[k] * tau + 0.5 * acc[6 * b + 3 + k] * tau * tau;
    }
    turn(st[b].p, th);
  }
  return st;
}

// Blocks against central differences, Cq q' against Phi', and
// gamma - (-2 alpha Phi' - beta^2 Phi) against Cq q'' - Phi''.
void checkRows(const Model& m, const State& st, const ConstraintRows& rows, const RowMap& map, std::mt19937& rng) {
  const int bi = m.frames[0].body, bj = m.frames[1].body;
  ASSERT_EQ(rows.nrows, static_cast<int>(map.prim.size()));
  EXPECT_EQ(rows.bi, bi);
  EXPECT_EQ(rows.bj, bj);
  for (int col = 0; col < 12; ++col)
    for (int e = 0; e < rows.nrows; ++e) {
      double d[3];
      dPhi(map.prim[e], m, st, col, d);
      const double* B[4] = {rows.Bri[e], rows.Bpi[e], rows.Brj[e], rows.Bpj[e]};
      EXPECT_NEAR(B[col / 3][col % 3], d[map.comp[e]], 1e-7) << "row " << e << " column " << col;
    }
  std::uniform_real_distribution<double> u(-3, 3);
  std::vector<double> acc(6 * st.size());
  for (double& a : acc) a = u(rng);
  const double hs = 1e-3;
  std::vector<double> f[5];
  for (int n = 0; n < 5; ++n) f[n] = phiRows(map, m, along(st, acc, (n - 2) * hs));
  for (int e = 0; e < rows.nrows; ++e) {
    const double d1 = (f[0][e] - 8 * f[1][e] + 8 * f[3][e] - f[4][e]) / (12 * hs);
    const double d2 = (-f[0][e] + 16 * f[1][e] - 30 * f[2][e] + 16 * f[3][e] - f[4][e]) / (12 * hs * hs);
    double cqv = 0, cqa = 0;
    for (int k = 0; k < 3; ++k) {
      cqv += rows.Bri[e][k] * st[bi].v[k] + rows.Bpi[e][k] * st[bi].w[k] + rows.Brj[e][k] * st[bj].v[k] +
             rows.Bpj[e][k] * st[bj].w[k];
      cqa += rows.Bri[e][k] * acc[6 * bi + k] + rows.Bpi[e][k] * acc[6 * bi + 3 + k] +
             rows.Brj[e][k] * acc[6 * bj + k] + rows.Bpj[e][k] * acc[6 * bj + 3 + k];
    }
    EXPECT_NEAR(cqv, d1, 1e-7) << "velocity, row " << e;
    const bool stabilised = map.prim[e] != Prim::Perp;
    const double stab = stabilised ? -2 * kBaumgarteAlpha * d1 - kBaumgarteBeta * kBaumgarteBeta * f[2][e] : 0.0;
    EXPECT_NEAR(rows.gamma[e] - stab, cqa - d2, 1e-5) << "gamma, row " << e;
  }
}

// Index into kPairs of the pair of rows of h_i x h_j (rotation blocks by finite
// differences, Bj alone if single) with the largest smaller singular value; -1 if too close to call.
int bestPair(const Model& m, const State& st, bool single) {
  double g[3][3] = {}, d[3], sigma[3];
  for (int col : {3, 4, 5, 9, 10, 11}) {
    if (single && col < 6) continue;
    dPhi(Prim::Parallel, m, st, col, d);
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) g[a][b] += d[a] * d[b];
  }
  for (int c = 0; c < 3; ++c) {
    const int a = kPairs[c][0], b = kPairs[c][1];
    const double tr = g[a][a] + g[b][b], det = g[a][a] * g[b][b] - g[a][b] * g[a][b];
    sigma[c] = std::sqrt(std::max(0.0, tr / 2 - std::sqrt(std::max(0.0, tr * tr / 4 - det))));
  }
  const int best = static_cast<int>(std::max_element(sigma, sigma + 3) - sigma);
  for (int c = 0; c < 3; ++c)
    if (c != best && std::fabs(sigma[c] - sigma[best]) < 1e-4) return -1;
  return best;
}

}  // namespace

TEST(AxialJointRows, MatchTheirConstraintFunctionsAtRandomStates) {
  using P = Prim;
  const std::vector<std::pair<std::string, std::vector<Prim>>> joints = {
      {"revolution", {P::Point, P::ParallelSingle}}, {"revolution_", {P::Point, P::ParallelSingle}},
      {"cylinder", {P::Parallel, P::OnLine}}, {"translation", {P::Parallel, P::OnLine, P::Perp}},
      {"in_line", {P::OnLine}}, {"prismatic", {P::Parallel, P::Perp}}};
  std::mt19937 rng(20240611);
  for (const auto& [type, prims] : joints) {
    SCOPED_TRACE(type);
    for (int trial = 0; trial < 25; ++trial) {
      const Model m = makeModel(type, rng);
      const State st = randomState(rng);
      const Filled f = fill(m, st);
      ConstraintRows rows;
      ASSERT_TRUE(evaluateJoint(m, f.h, f.Y.data(), 0.0, 0, rows));
      checkRows(m, st, rows, mapRows(f, prims), rng);
      double v = 0, full[3];  // the perpendicularity term is signed
      for (Prim p : prims) phiFull(p, m, st, full), v += p == P::Perp ? full[0] : vec3Norm(full[0], full[1], full[2]);
      EXPECT_NEAR(rows.violation, v, 1e-12);
    }
  }
}

TEST(AxialJointRowChoice, KeepTheBestConditionedRows) {
  using Pair = std::pair<int, int>;
  ConstraintRows rows;
  clearRows(rows, 2, 0, 1);
  int ch[2];
  // pointOnLine drops the largest body component of z_i; equal magnitudes favour the lower index.
  const double c = std::sqrt(0.5);
  const double z[5][3] = {{c, -c, 0}, {0.1, c, -c}, {-c, 0.1, c}, {0.3, -0.9, 0.3}, {0, 0, 1}};
  const Pair kept[5] = {{1, 2}, {0, 2}, {1, 2}, {0, 2}, {0, 1}};
  for (int n = 0; n < 5; ++n) {
    JointSide si{}, sj{};
    mat3Identity(si.A), mat3Identity(si.E), mat3Identity(sj.A), mat3Identity(sj.E);
    si.E[2] = z[n][0], si.E[5] = z[n][1], si.E[8] = z[n][2];
    pointOnLine(si, sj, rows, 0, ch);
    EXPECT_EQ(Pair(ch[0], ch[1]), kept[n]) << n;
  }
  // parallelAxes: the pair with the largest smaller singular value, of [Bi | Bj] or of Bj alone.
  std::mt19937 rng(11);
  int rules_differ = 0;
  for (int trial = 0; trial < 200; ++trial) {  // trial 0: aligned z axes at rest
    const Model m = makeModel("cylinder", rng, trial > 0);
    const State st = trial > 0 ? randomState(rng) : State(3, BodyState{{0, 0, 0}, {0, 0, 0}, {1, 0, 0, 0}, {}});
    const int both = bestPair(m, st, false), single = bestPair(m, st, true);
    ASSERT_TRUE(trial > 0 || both == 0);
    if (both < 0 || single < 0) continue;
    rules_differ += both != single;
    const Filled f = fill(m, st);
    parallelAxes(f.si, f.sj, AxisRowChoice::BothBlocks, rows, 0, ch);
    EXPECT_EQ(Pair(ch[0], ch[1]), Pair(kPairs[both][0], kPairs[both][1]));
    parallelAxes(f.si, f.sj, AxisRowChoice::SingleBlock, rows, 0, ch);
    EXPECT_EQ(Pair(ch[0], ch[1]), Pair(kPairs[single][0], kPairs[single][1]));
  }
  EXPECT_GT(rules_differ, 0);
}
