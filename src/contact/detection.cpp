#include "contact/detection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "contact/mesh_tree.h"
#include "math/vec3.h"

namespace orv {

void placePoints(double* out, const double* x0, int count, const double* R0, const double* pos,
                 const double* A) {
  for (int i = 0; i < count; ++i) placePoint(&out[3 * i], &x0[3 * i], R0, pos, A);
}

void turnVectors(double* out, const double* n0, int count, const double* A) {
  for (int i = 0; i < count; ++i) mat3MulVec(&out[3 * i], A, &n0[3 * i]);
}

ContactParams contactParams(double k, double c, double d, double myu, double stictionSpeed,
                            double staticRatio, double slidingSpeed) {
  ContactParams p;
  p.k = k;
  p.c = c;
  p.d = d;
  p.myu = myu;
  if (stictionSpeed > 0.0) {
    p.vs = stictionSpeed;
    p.myuS = myu * std::max(1.0, staticRatio);
    p.vd = std::max(slidingSpeed, stictionSpeed);
  }
  return p;
}

void pointContactItem(ContactItem& item, int node, const double* P, const double* n, double h,
                      const BodyMotion& pen, const BodyMotion& struck, const ContactParams& p) {
  double Fel[3];
  vec3Scale(Fel, std::fabs(h) * p.k, n);

  // Relative velocity of the two material points at P.
  double si[3], sj[3], ui[3], uj[3], u[3];
  vec3Sub(si, P, pen.pos);
  vec3Sub(sj, P, struck.pos);
  vec3Add(ui, pen.vel, vec3Cross(ui, pen.omega, si));
  vec3Add(uj, struck.vel, vec3Cross(uj, struck.omega, sj));
  vec3Sub(u, ui, uj);

  double Fd[3];
  vec3Scale(Fd, -p.c * vec3Dot(u, n), n);

  // The tangential part is not normalised again, so friction fades as the
  // sliding turns towards the normal. Its bound uses the elastic force only.
  const double speed = vec3Norm(u[0], u[1], u[2]);
  double th[3] = {0, 0, 0};
  if (speed > kSlidingSpeed) vec3Scale(th, 1.0 / speed, u);
  double t[3], tn[3];
  vec3Sub(t, th, vec3Scale(tn, vec3Dot(n, th), n));
  double Ff[3];
  const double el = vec3Norm(Fel[0], Fel[1], Fel[2]);
  vec3Scale(Ff, -frictionCoefficient(speed, p) * el, t);

  vec3Add(item.push, Fel, Fd);
  vec3Add(item.force, item.push, Ff);
  for (int k = 0; k < 3; ++k) item.pos[k] = P[k], item.normal[k] = n[k], item.vel[k] = u[k];
  item.node = node;
  item.elastic = el;
  item.depth = h;
  item.speed = speed;
  item.slope = frictionSlope(p) * el;
}

bool anchoredFriction(const ContactItem& it, const double* off, double kt, double ct,
                      const ContactParams& p, double* F) {
  const double* n = it.normal;
  double st[3], vt[3], tmp[3];
  vec3Sub(st, off, vec3Scale(tmp, vec3Dot(off, n), n));
  vec3Sub(vt, it.vel, vec3Scale(tmp, vec3Dot(it.vel, n), n));
  for (int k = 0; k < 3; ++k) F[k] = -kt * st[k] - ct * vt[k];
  const double cap = frictionCoefficient(std::max(it.speed, p.vs), p) * it.elastic;
  const double f = vec3Norm(F[0], F[1], F[2]);
  if (f <= cap) return true;
  vec3Scale(F, cap / f, F);
  return false;
}

namespace {

inline bool finite3(const double* x) {
  return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
}

inline bool outside(const double* p, const Bound& b) {
  return p[0] < b.lo[0] || p[0] > b.hi[0] || p[1] < b.lo[1] || p[1] > b.hi[1] || p[2] < b.lo[2] ||
         p[2] > b.hi[2];
}

inline bool disjoint(const Bound& a, const Bound& b) {
  return a.hi[0] < b.lo[0] || b.hi[0] < a.lo[0] || a.hi[1] < b.lo[1] || b.hi[1] < a.lo[1] ||
         a.hi[2] < b.lo[2] || b.hi[2] < a.lo[2];
}

// b grown by p on every side; an empty box stays empty.
Bound grown(const Bound& b, double p) {
  Bound g = b;
  if (b.lo[0] > b.hi[0] || b.lo[1] > b.hi[1] || b.lo[2] > b.hi[2]) return g;
  for (int k = 0; k < 3; ++k) g.lo[k] -= p, g.hi[k] += p;
  return g;
}

double magnitude(const Bound& b) {
  double m = 0.0;
  for (int k = 0; k < 3; ++k) m = std::max(m, std::max(std::fabs(b.lo[k]), std::fabs(b.hi[k])));
  return m;
}

// The candidates of one node or edge; each thread has its own.
std::vector<int>& candidates() {
  thread_local std::vector<int> list;
  list.clear();
  return list;
}

// Barycentric inside test of the point V0 + r, r taken in the triangle's plane.
inline bool insideAt(const double* a, const double* b, const double* r) {
  double st[2];
  solve2(st, a, b, r);
  return insideTriangle(st[0], st[1]);
}

// The edge contacts of one edge of I; each thread has its own list.
std::vector<EdgeTouch>& edgeTouches() {
  thread_local std::vector<EdgeTouch> list;
  list.clear();
  return list;
}

// Slack of an edge's box. The crossing point never leaves the box of the end
// points (rounding is monotone), but the plane distances that place it along
// the edge are rounded in proportion to the coordinates, so it may stray off
// the triangle's plane by a few ulps of the largest coordinate, far less
// than this. What scales with the triangle is in its corner box
// (TriangleTree::fitCornerLeaves).
double edgeSlack(const PlacedMesh& I, const PlacedMesh& J) {
  return 1e-11 * (magnitude(I.nodes) + magnitude(J.nodes));
}

}  // namespace

void nodeHit(const double* P, const PlacedMesh& J, int t, const ContactParams& p, NodeTouch& best) {
  const int* v = &J.tri[3 * t];
  const double* V0 = &J.node[3 * v[0]];
  double turned[3];
  const double* n = J.normal ? &J.normal[3 * t] : mat3MulVec(turned, J.turn, &J.normal0[3 * t]);
  double r[3];
  vec3Sub(r, P, V0);
  const double h = vec3Dot(r, n);
  if (!(h < 0.0)) return;
  if (best.t >= 0 && !(h > best.h)) return;  // no nearer than the one kept

  double a[3], b[3], proj[3], st[2];
  vec3Sub(a, &J.node[3 * v[1]], V0);
  vec3Sub(b, &J.node[3 * v[2]], V0);
  vec3Sub(proj, r, vec3Scale(proj, h, n));
  solve2(st, a, b, proj);
  if (!insideTriangle(st[0], st[1]) || !(h < kDepthThreshold) || !(h > -p.d)) return;
  best.t = t;
  best.h = h;
  for (int k = 0; k < 3; ++k) best.n[k] = n[k];
}

void nodeContact(int node, const double* P, const NodeTouch& best, const BodyMotion& bi,
                 const BodyMotion& bj, const ContactParams& p, std::vector<ContactItem>& out) {
  if (best.t < 0) return;
  ContactItem item;
  pointContactItem(item, node, P, best.n, best.h, bi, bj, p);
  out.push_back(item);
}

void edgeInTriangle(const double* A, const double* B, const PlacedMesh& J, int t, double k,
                    std::vector<EdgeTouch>& touches) {
  const int* v = &J.tri[3 * t];
  const double* V[3] = {&J.node[3 * v[0]], &J.node[3 * v[1]], &J.node[3 * v[2]]};
  const double* n = &J.normal[3 * t];
  double rA[3], rB[3];
  vec3Sub(rA, A, V[0]);
  vec3Sub(rB, B, V[0]);
  const double dA = vec3Dot(rA, n), dB = vec3Dot(rB, n);
  if (!(dA * dB < 0.0)) return;  // the edge does not cross the plane

  double X[3], rX[3], a[3], b[3];
  const double f = std::fabs(dA) / (std::fabs(dA) + std::fabs(dB));
  vec3Sub(X, B, A);
  vec3Add(X, A, vec3Scale(X, f, X));
  vec3Sub(rX, X, V[0]);
  vec3Sub(a, V[1], V[0]);
  vec3Sub(b, V[2], V[0]);
  if (!insideAt(a, b, rX)) return;

  // An end point below the plane whose foot lies inside the triangle is
  // already a point contact; the edge counts only for one that is not.
  // solve2 ignores the normal component, so E - V0 tests E's foot.
  const bool coveredA = insideAt(a, b, rA);
  const bool coveredB = insideAt(a, b, rB);
  if (!((dA < 0.0 && !coveredA) || (dB < 0.0 && !coveredB))) return;

  // In-plane distance of X from the nearest edge line of the triangle.
  double distMin = 0.0;
  int mMin = 0;
  for (int m = 0; m < 3; ++m) {
    double u[3], w[3], rm[3];
    vec3Sub(u, V[(m + 1) % 3], V[m]);
    const double len = vec3Norm(u[0], u[1], u[2]);
    vec3Scale(u, 1.0 / len, u);
    unitNormal(w, u, n);
    const double dist = std::fabs(vec3Dot(vec3Sub(rm, X, V[m]), w));
    if (m == 0 || dist < distMin) distMin = dist, mMin = m;
  }

  const double* E = dB < 0.0 ? B : A;
  const double hE = dB < 0.0 ? dB : dA;
  double G[3], XG[3];
  vec3Add(G, E, vec3Scale(G, hE, n));
  vec3Sub(XG, X, G);
  const double delta = std::fabs(distMin * std::fabs(hE) / vec3Norm(XG[0], XG[1], XG[2]));

  const int u = v[mMin], w = v[(mMin + 1) % 3];
  EdgeTouch touch{std::min(u, w), std::max(u, w), delta, {}};
  for (int c = 0; c < 3; ++c) touch.item.pos[c] = X[c];
  vec3Scale(touch.item.force, delta * k, n);
  for (EdgeTouch& e : touches)
    if (e.lo == touch.lo && e.hi == touch.hi) {
      if (touch.delta < e.delta) e = touch;
      return;
    }
  touches.push_back(touch);
}

void useTree(PlacedMesh& M, const TriangleTree& tree) {
  M.tree = &tree;
  // NaN coordinates drop out of min and max; infinite ones widen the box.
  double lo0 = HUGE_VAL, lo1 = HUGE_VAL, lo2 = HUGE_VAL;
  double hi0 = -HUGE_VAL, hi1 = -HUGE_VAL, hi2 = -HUGE_VAL;
  for (int i = 0; i < M.node_num; ++i) {
    const double* x = &M.node[3 * i];
    lo0 = std::min(lo0, x[0]), hi0 = std::max(hi0, x[0]);
    lo1 = std::min(lo1, x[1]), hi1 = std::max(hi1, x[1]);
    lo2 = std::min(lo2, x[2]), hi2 = std::max(hi2, x[2]);
  }
  Bound& b = M.nodes;
  b.lo[0] = lo0, b.lo[1] = lo1, b.lo[2] = lo2;
  b.hi[0] = hi0, b.hi[1] = hi1, b.hi[2] = hi2;
  M.tris = tree.sphereRoot();
}

bool boundsApart(const Bound& a, const Bound& b) { return disjoint(a, b); }

void nodesNear(const PlacedMesh& I, const PlacedMesh& J, std::vector<int>& out) {
  out.clear();
  if (disjoint(I.nodes, J.tris)) return;
  for (int q = 0; q < I.node_num; ++q)
    if (!outside(&I.node[3 * q], J.tris)) out.push_back(q);
}

namespace {

// Node q of I against J, once inside J's box.
inline void nodeInMesh(const PlacedMesh& I, const PlacedMesh& J, const BodyMotion& bi,
                       const BodyMotion& bj, const ContactParams& p, int q, std::vector<int>& cand,
                       std::vector<ContactItem>& out) {
  const double* P = &I.node[3 * q];
  cand.clear();
  J.tree->spheresHolding(P, [&](int t) {
    if (inSphere(P, J, t)) cand.push_back(t);
  });
  if (cand.empty()) return;
  std::sort(cand.begin(), cand.end());
  NodeTouch best;
  for (int t : cand) nodeHit(P, J, t, p, best);
  nodeContact(q, P, best, bi, bj, p, out);
}

}  // namespace

void pointContact(const PlacedMesh& I, const PlacedMesh& J, const BodyMotion& bi,
                  const BodyMotion& bj, const ContactParams& p, int n0, int n1,
                  std::vector<ContactItem>& out) {
  if (disjoint(I.nodes, J.tris)) return;
  std::vector<int>& cand = candidates();
  for (int q = n0; q < n1; ++q) {
    // A NaN coordinate is in no box; an infinite one only in infinite boxes,
    // and it fails their sphere tests.
    if (outside(&I.node[3 * q], J.tris)) continue;
    nodeInMesh(I, J, bi, bj, p, q, cand, out);
  }
}

void pointContactOf(const PlacedMesh& I, const PlacedMesh& J, const BodyMotion& bi,
                    const BodyMotion& bj, const ContactParams& p, const int* nodes, int count,
                    std::vector<ContactItem>& out) {
  std::vector<int>& cand = candidates();
  for (int k = 0; k < count; ++k) nodeInMesh(I, J, bi, bj, p, nodes[k], cand, out);
}

void edgeSources(const PlacedMesh& I, const PlacedMesh& J, std::vector<int>& out) {
  out.clear();
  // I's corner boxes hold its edges, so an edge that reaches J's root box
  // belongs to a triangle whose box does.
  const Bound reach = grown(J.tree->cornerRoot(), edgeSlack(I, J));
  I.tree->cornersMeeting(reach, [&](int t) { out.push_back(t); });
  std::sort(out.begin(), out.end());
}

void edgeContact(const PlacedMesh& I, const PlacedMesh& J, double k, const int* src, int count,
                 std::vector<ContactItem>& out) {
  const double slack = edgeSlack(I, J);
  std::vector<int>& cand = candidates();
  std::vector<EdgeTouch>& touches = edgeTouches();
  for (int s = 0; s < count; ++s) {
    const int* vi = &I.tri[3 * src[s]];
    for (int e = 0; e < 3; ++e) {
      if (I.firstEdges && !(I.firstEdges[src[s]] >> e & 1)) continue;  // searched with another
      const double* A = &I.node[3 * vi[e]];
      const double* B = &I.node[3 * vi[(e + 1) % 3]];
      // An infinite or NaN end point makes the crossing point NaN (or the
      // plane test fail), so such an edge enters no triangle.
      if (!finite3(A) || !finite3(B)) continue;
      Bound q;
      for (int c = 0; c < 3; ++c)
        q.lo[c] = std::min(A[c], B[c]) - slack, q.hi[c] = std::max(A[c], B[c]) + slack;
      cand.clear();
      J.tree->cornersMeeting(q, [&](int t) { cand.push_back(t); });
      if (cand.empty()) continue;
      std::sort(cand.begin(), cand.end());
      touches.clear();
      for (int t : cand) edgeInTriangle(A, B, J, t, k, touches);
      for (const EdgeTouch& touch : touches) out.push_back(touch.item);
    }
  }
}

void firstEdges(const int* tri, int count, std::vector<unsigned char>& out) {
  out.assign(static_cast<size_t>(std::max(count, 0)), 0);
  // Edges by their end nodes, then by where they stand: the first of each
  // run is the first in triangle order.
  std::vector<std::pair<uint64_t, int>> edges;
  edges.reserve(3 * out.size());
  for (int t = 0; t < count; ++t)
    for (int e = 0; e < 3; ++e) {
      const uint32_t a = static_cast<uint32_t>(tri[3 * t + e]);
      const uint32_t b = static_cast<uint32_t>(tri[3 * t + (e + 1) % 3]);
      edges.push_back({static_cast<uint64_t>(std::min(a, b)) << 32 | std::max(a, b), 3 * t + e});
    }
  std::sort(edges.begin(), edges.end());
  for (size_t i = 0; i < edges.size(); ++i)
    if (i == 0 || edges[i].first != edges[i - 1].first)
      out[static_cast<size_t>(edges[i].second / 3)] |=
          static_cast<unsigned char>(1 << (edges[i].second % 3));
}

}  // namespace orv
