#include "contact/detection.h"

#include <algorithm>
#include <cmath>

#include "solver/vec3.h"

namespace orv {

void placePoints(double* out, const double* x0, int count, const double* R0, const double* pos,
                 const double* A) {
  for (int i = 0; i < count; ++i) {
    double r[3];
    vec3Sub(r, &x0[3 * i], R0);
    vec3Add(&out[3 * i], pos, mat3MulVec(r, A, r));
  }
}

void turnVectors(double* out, const double* n0, int count, const double* A) {
  for (int i = 0; i < count; ++i) mat3MulVec(&out[3 * i], A, &n0[3 * i]);
}

void pointContactForce(double* F, const double* P, const double* n, double h,
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
  vec3Scale(Ff, -p.myu * vec3Norm(Fel[0], Fel[1], Fel[2]), t);

  vec3Add(F, vec3Add(F, Fel, Fd), Ff);
}

namespace {

// Culling never needs to cover NaN coordinates: they fail every exact test,
// so no contact is lost by skipping them.

// Grows a box held in locals, so that the loops keep it in registers.
struct Grower {
  double lo0 = HUGE_VAL, lo1 = HUGE_VAL, lo2 = HUGE_VAL;
  double hi0 = -HUGE_VAL, hi1 = -HUGE_VAL, hi2 = -HUGE_VAL;
  // The cube of half-size r around x.
  void add(const double* x, double r) {
    lo0 = std::min(lo0, x[0] - r), hi0 = std::max(hi0, x[0] + r);
    lo1 = std::min(lo1, x[1] - r), hi1 = std::max(hi1, x[1] + r);
    lo2 = std::min(lo2, x[2] - r), hi2 = std::max(hi2, x[2] + r);
  }
  Bound box() const {
    Bound b;
    b.lo[0] = lo0, b.lo[1] = lo1, b.lo[2] = lo2;
    b.hi[0] = hi0, b.hi[1] = hi1, b.hi[2] = hi2;
    return b;
  }
};

// Keeps a box conservative: the rounding of the distances and crossing
// points that are compared against it is far below this slack, also along
// an axis where the box is flat.
void inflate(Bound& b) {
  double size = 0.0, mag = 0.0;
  for (int k = 0; k < 3; ++k) {
    size = std::max(size, b.hi[k] - b.lo[k]);
    mag = std::max(mag, std::max(std::fabs(b.lo[k]), std::fabs(b.hi[k])));
  }
  const double pad = 1e-9 * size + 1e-12 * mag;
  for (int k = 0; k < 3; ++k) b.lo[k] -= pad, b.hi[k] += pad;
}

// The box around the corners of triangles [lo, hi) of M.
Bound cornerBox(const PlacedMesh& M, int lo, int hi) {
  Grower g;
  for (int t = lo; t < hi; ++t)
    for (int j = 0; j < 3; ++j) g.add(&M.node[3 * M.tri[3 * t + j]], 0.0);
  Bound b = g.box();
  inflate(b);
  return b;
}

// The box around the enlarged spheres of triangles [lo, hi) of M.
Bound sphereBox(const PlacedMesh& M, int lo, int hi) {
  Grower g;
  for (int t = lo; t < hi; ++t) g.add(&M.center[3 * t], kSphereMargin * M.radius[t]);
  Bound b = g.box();
  inflate(b);
  return b;
}

inline bool outside(const double* p, const Bound& b) {
  return p[0] < b.lo[0] || p[0] > b.hi[0] || p[1] < b.lo[1] || p[1] > b.hi[1] || p[2] < b.lo[2] ||
         p[2] > b.hi[2];
}

inline bool disjoint(const Bound& a, const Bound& b) {
  return a.hi[0] < b.lo[0] || b.hi[0] < a.lo[0] || a.hi[1] < b.lo[1] || b.hi[1] < a.lo[1] ||
         a.hi[2] < b.lo[2] || b.hi[2] < a.lo[2];
}

// Node P against triangles [lo, hi) of J: the sphere test here, the rest
// out of line since few triangles get past it.
void nodeHit(const double* P, const PlacedMesh& J, int t, const BodyMotion& bi,
             const BodyMotion& bj, const ContactParams& p, std::vector<ContactItem>& out);

inline void nodeInTriangles(const double* P, const PlacedMesh& J, int lo, int hi,
                            const BodyMotion& bi, const BodyMotion& bj, const ContactParams& p,
                            std::vector<ContactItem>& out) {
  for (int t = lo; t < hi; ++t) {
    // Bounding sphere of the triangle, compared squared.
    const double* S = &J.center[3 * t];
    const double dx = P[0] - S[0], dy = P[1] - S[1], dz = P[2] - S[2];
    const double lim = kSphereMargin * J.radius[t];
    if (dx * dx + dy * dy + dz * dz < lim * lim) nodeHit(P, J, t, bi, bj, p, out);
  }
}

void nodeHit(const double* P, const PlacedMesh& J, int t, const BodyMotion& bi,
             const BodyMotion& bj, const ContactParams& p, std::vector<ContactItem>& out) {
  const int* v = &J.tri[3 * t];
  const double* V0 = &J.node[3 * v[0]];
  const double* n = &J.normal[3 * t];
  double r[3];
  vec3Sub(r, P, V0);
  const double h = vec3Dot(r, n);
  if (!(h < 0.0)) return;

  double a[3], b[3], proj[3], st[2];
  vec3Sub(a, &J.node[3 * v[1]], V0);
  vec3Sub(b, &J.node[3 * v[2]], V0);
  vec3Sub(proj, r, vec3Scale(proj, h, n));
  solve2(st, a, b, proj);
  if (!insideTriangle(st[0], st[1]) || !(h < kDepthThreshold) || !(h > -p.d)) return;

  ContactItem item;
  for (int k = 0; k < 3; ++k) item.pos[k] = P[k];
  pointContactForce(item.force, P, n, h, bi, bj, p);
  out.push_back(item);
}

// Barycentric inside test of the point V0 + r, r taken in the triangle's plane.
inline bool insideAt(const double* a, const double* b, const double* r) {
  double st[2];
  solve2(st, a, b, r);
  return insideTriangle(st[0], st[1]);
}

// Edge A-B of I against triangle t of J (the contact test proper).
inline void edgeInTriangle(const double* A, const double* B, const PlacedMesh& J, int t, double k,
                           std::vector<ContactItem>& out) {
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
  for (int m = 0; m < 3; ++m) {
    double u[3], w[3], rm[3];
    vec3Sub(u, V[(m + 1) % 3], V[m]);
    const double len = vec3Norm(u[0], u[1], u[2]);
    vec3Scale(u, 1.0 / len, u);
    unitNormal(w, u, n);
    const double dist = std::fabs(vec3Dot(vec3Sub(rm, X, V[m]), w));
    if (m == 0 || dist < distMin) distMin = dist;
  }

  const double* E = dB < 0.0 ? B : A;
  const double hE = dB < 0.0 ? dB : dA;
  double G[3], XG[3];
  vec3Add(G, E, vec3Scale(G, hE, n));
  vec3Sub(XG, X, G);
  const double delta = std::fabs(distMin * std::fabs(hE) / vec3Norm(XG[0], XG[1], XG[2]));

  ContactItem item;
  for (int c = 0; c < 3; ++c) item.pos[c] = X[c];
  vec3Scale(item.force, delta * k, n);
  out.push_back(item);
}

}  // namespace

void buildBounds(PlacedMesh& M, Bound* blocks) {
  M.block_num = 0;
  if (M.node_num <= 0 || M.stl_num <= 0) return;
  Grower nodes, tris;
  for (int i = 0; i < M.node_num; ++i) nodes.add(&M.node[3 * i], 0.0);
  M.nodes = nodes.box();
  inflate(M.nodes);
  const int count = triBlockCount(M.stl_num);
  for (int b = 0; b < count; ++b) {
    const int lo = b * kTriBlock, hi = std::min(M.stl_num, lo + kTriBlock);
    blocks[b] = sphereBox(M, lo, hi);
    blocks[count + b] = cornerBox(M, lo, hi);
    tris.add(blocks[b].lo, 0.0);
    tris.add(blocks[b].hi, 0.0);
  }
  M.tris = tris.box();
  M.sphere_blocks = blocks;
  M.vertex_blocks = blocks + count;
  M.block_num = count;
}

bool boundsApart(const Bound& a, const Bound& b) { return disjoint(a, b); }

int nodesNear(const PlacedMesh& I, const PlacedMesh& J) {
  if (J.block_num == 0) return I.node_num;
  if (I.block_num > 0 && disjoint(I.nodes, J.tris)) return 0;
  int n = 0;
  for (int q = 0; q < I.node_num; ++q) n += outside(&I.node[3 * q], J.tris) ? 0 : 1;
  return n;
}

void pointContact(const PlacedMesh& I, const PlacedMesh& J, const BodyMotion& bi,
                  const BodyMotion& bj, const ContactParams& p, int n0, int n1,
                  std::vector<ContactItem>& out) {
  if (J.block_num == 0) {
    for (int q = n0; q < n1; ++q) nodeInTriangles(&I.node[3 * q], J, 0, J.stl_num, bi, bj, p, out);
    return;
  }
  if (I.block_num > 0 && disjoint(I.nodes, J.tris)) return;
  for (int q = n0; q < n1; ++q) {
    const double* P = &I.node[3 * q];
    if (outside(P, J.tris)) continue;
    for (int b = 0; b < J.block_num; ++b) {
      if (outside(P, J.sphere_blocks[b])) continue;
      nodeInTriangles(P, J, b * kTriBlock, std::min(J.stl_num, (b + 1) * kTriBlock), bi, bj, p,
                      out);
    }
  }
}

void edgeContact(const PlacedMesh& I, const PlacedMesh& J, double k, int t0, int t1,
                 std::vector<ContactItem>& out) {
  // Edges test no spheres, so they are culled by the triangles' corners.
  const bool cull = J.block_num > 0;
  if (cull && I.block_num > 0 && disjoint(I.nodes, J.nodes)) return;
  for (int ti = t0; ti < t1; ++ti) {
    const int* vi = &I.tri[3 * ti];
    for (int e = 0; e < 3; ++e) {
      const double* A = &I.node[3 * vi[e]];
      const double* B = &I.node[3 * vi[(e + 1) % 3]];
      if (!cull) {
        for (int t = 0; t < J.stl_num; ++t) edgeInTriangle(A, B, J, t, k, out);
        continue;
      }
      Grower g;
      g.add(A, 0.0);
      g.add(B, 0.0);
      const Bound edge = g.box();
      if (disjoint(edge, J.nodes)) continue;
      for (int b = 0; b < J.block_num; ++b) {
        if (disjoint(edge, J.vertex_blocks[b])) continue;
        const int hi = std::min(J.stl_num, (b + 1) * kTriBlock);
        for (int t = b * kTriBlock; t < hi; ++t) edgeInTriangle(A, B, J, t, k, out);
      }
    }
  }
}

}  // namespace orv
