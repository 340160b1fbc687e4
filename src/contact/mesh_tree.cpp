#include "contact/mesh_tree.h"

#include <algorithm>
#include <cmath>

#include "math/vec3.h"

namespace orv {

namespace {

inline bool finite3(const double* x) {
  return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
}

inline void unite(Bound& b, const Bound& a, const Bound& c) {
  for (int k = 0; k < 3; ++k)
    b.lo[k] = std::min(a.lo[k], c.lo[k]), b.hi[k] = std::max(a.hi[k], c.hi[k]);
}

double largestSide(const Bound& b) {
  return std::max(b.hi[0] - b.lo[0], std::max(b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]));
}

// How far outside the box of its corners V (all finite, largest side `side`)
// an edge can enter the triangle with normal n, as a distance: the slack the
// box needs for the edge test (edgeInTriangle) to pass only inside it. 0 for
// a triangle that no edge can enter at all, HUGE_VAL where no finite bound
// holds.
//
// The crossing point X lies on the plane through V0 normal to n. It passes
// when solve2 puts its projection on the triangle's own plane inside the
// triangle widened by 1e-10 of its sides (under 4e-9 of the box's largest
// side), up to solve2's rounding, which grows as 1 / sin^2 of the angle at V0
// (sigma below); and it lies off that plane by at most tan(tilt) of its
// distance from V0 when n tilts against the triangle's true normal (as for a
// rotation matrix that is not quite orthogonal). The rounding that scales with
// the coordinates rather than the triangle is the edge's slack (edgeSlack).
inline double edgeEntrySlack(const double* n, const double* const V[3], double side) {
  // Exactly the numbers solve2 divides by in the inside test.
  double a[3], b[3];
  vec3Sub(a, V[1], V[0]);
  vec3Sub(b, V[2], V[0]);
  const double a11 = vec3Dot(a, a), a22 = vec3Dot(b, b), a12 = vec3Dot(a, b);
  const double den = a22 * a11 - a12 * a12;
  if (den == 0.0) return 0.0;  // s and t are infinite or NaN: never inside
  // sigma = den / (a11 a22); |in-plane part of n / |n||^2 <= tilt2 with
  // tilt2 = 2 ((n.a)^2 / a11 + (n.b)^2 / a22) / sigma.
  const double aa = a11 * a22, na = vec3Dot(n, a), nb = vec3Dot(n, b), nn = vec3Dot(n, n);
  const double tilt = 2.0 * (na * na * a22 + nb * nb * a11);  // tilt2 nn den
  // Nearly every triangle: sigma >= 0.01 and tilt2 <= 1e-20, without a division.
  if (den >= 0.01 * aa && tilt <= 1e-20 * nn * den) return side * 5e-9;
  if (nn == 0.0) return 0.0;                  // no end point is ever off the plane
  if (!(den >= 1e-10 * aa)) return HUGE_VAL;  // a needle: solve2 may put s, t anywhere
  const double tilt2 = tilt / (nn * den);
  if (!(tilt2 < 0.25)) return HUGE_VAL;
  // |X - V0| in the plane is at most |a| + |b| < 3.5 side; tan(tilt) < 1.16 tilt.
  return side * (4e-9 + 1e-12 * aa / den + 8.0 * std::sqrt(tilt2));
}

}  // namespace

int TriangleTree::split(int lo, int hi, std::vector<double>& key) {
  const int at = static_cast<int>(node_.size());
  node_.push_back({lo, hi, 0});
  if (hi - lo <= kLeaf) {
    leaf_.push_back(at);
    return at;
  }
  double mn[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, mx[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (int k = lo; k < hi; ++k) {
    const double* c = &key[3 * static_cast<size_t>(order_[k])];
    for (int a = 0; a < 3; ++a) mn[a] = std::min(mn[a], c[a]), mx[a] = std::max(mx[a], c[a]);
  }
  int axis = 0;
  for (int a = 1; a < 3; ++a)
    if (mx[a] - mn[a] > mx[axis] - mn[axis]) axis = a;
  const int mid = lo + (hi - lo) / 2;
  std::nth_element(order_.begin() + lo, order_.begin() + mid, order_.begin() + hi,
                   [&](int x, int y) {
                     const double kx = key[3 * static_cast<size_t>(x) + axis];
                     const double ky = key[3 * static_cast<size_t>(y) + axis];
                     return kx < ky || (kx == ky && x < y);
                   });
  split(lo, mid, key);
  const int right = split(mid, hi, key);
  node_[at].right = right;
  return at;
}

void TriangleTree::build(const PlacedMesh& M) {
  tri_num_ = std::max(0, M.stl_num);
  order_.resize(static_cast<size_t>(tri_num_));
  std::vector<double> key(3 * static_cast<size_t>(tri_num_));
  for (int t = 0; t < tri_num_; ++t) {
    order_[t] = t;
    // Centroids; anything not finite sorts as the origin (it is never a
    // contact, and the comparisons must stay a strict order).
    for (int a = 0; a < 3; ++a) {
      const double c = (M.node[3 * M.tri[3 * t] + a] + M.node[3 * M.tri[3 * t + 1] + a] +
                        M.node[3 * M.tri[3 * t + 2] + a]) /
                       3.0;
      key[3 * static_cast<size_t>(t) + a] = std::isfinite(c) ? c : 0.0;
    }
  }
  node_.clear();
  leaf_.clear();
  node_.reserve(2 * static_cast<size_t>(tri_num_ / kLeaf) + 2);
  split(0, tri_num_, key);
  fitSpheres(M);
  spread0_ = spread_;
}

void TriangleTree::fitAbove(std::vector<Bound>& box) {
  for (int i = static_cast<int>(node_.size()) - 1; i >= 0; --i)
    if (node_[i].right != 0) unite(box[i], box[i + 1], box[node_[i].right]);
}

template <class Centre>
void TriangleTree::fitSphereLeaves(const PlacedMesh& M, const Centre& centre, int lo, int hi) {
  for (int l = lo; l < hi; ++l) {
    const Node& n = node_[leaf_[l]];
    // The box needs no slack: beyond fl(S - lim) or fl(S + lim), |fl(P - S)|
    // is at least lim (rounding is monotone), and so the rounded sum of
    // squares is not below the rounded lim^2. NaN bounds drop out of min and
    // max (a NaN centre or radius fails every sphere test); infinite ones
    // only widen the box. Held in locals, so that they stay in registers.
    double lo0 = HUGE_VAL, lo1 = HUGE_VAL, lo2 = HUGE_VAL;
    double hi0 = -HUGE_VAL, hi1 = -HUGE_VAL, hi2 = -HUGE_VAL;
    for (int k = n.lo; k < n.hi; ++k) {
      const int t = order_[k];
      const double* S = centre(t);
      const double lim = std::fabs(kSphereMargin * M.radius[t]);
      lo0 = std::min(lo0, S[0] - lim), hi0 = std::max(hi0, S[0] + lim);
      lo1 = std::min(lo1, S[1] - lim), hi1 = std::max(hi1, S[1] + lim);
      lo2 = std::min(lo2, S[2] - lim), hi2 = std::max(hi2, S[2] + lim);
    }
    Bound& b = sphere_[leaf_[l]];
    b.lo[0] = lo0, b.lo[1] = lo1, b.lo[2] = lo2;
    b.hi[0] = hi0, b.hi[1] = hi1, b.hi[2] = hi2;
  }
}

void TriangleTree::placeSphereLeaves(const PlacedMesh& M, double* center, const double* c0,
                                     const double* R0, const double* pos, const double* A, int lo,
                                     int hi) {
  fitSphereLeaves(
      M,
      [&](int t) {
        placePoint(&center[3 * t], &c0[3 * t], R0, pos, A);
        return &center[3 * t];
      },
      lo, hi);
}

void TriangleTree::endSpheres() {
  fitAbove(sphere_);
  double spread = 0.0;
  for (const int i : leaf_) {
    const double side = std::max(0.0, largestSide(sphere_[i]));
    if (side < HUGE_VAL) spread += side;
  }
  spread_ = spread;
}

void TriangleTree::fitSpheres(const PlacedMesh& M) {
  beginSpheres();
  fitSphereLeaves(
      M, [&](int t) { return &M.center[3 * t]; }, 0, leafCount());
  endSpheres();
}

void TriangleTree::fitCornerLeaves(const PlacedMesh& M, int lo, int hi) {
  for (int l = lo; l < hi; ++l) {
    const Node& n = node_[leaf_[l]];
    double lo0 = HUGE_VAL, lo1 = HUGE_VAL, lo2 = HUGE_VAL;
    double hi0 = -HUGE_VAL, hi1 = -HUGE_VAL, hi2 = -HUGE_VAL;
    for (int k = n.lo; k < n.hi; ++k) {
      const int t = order_[k];
      const int* v = &M.tri[3 * t];
      const double* V[3] = {&M.node[3 * v[0]], &M.node[3 * v[1]], &M.node[3 * v[2]]};
      const double* nt = &M.normal[3 * t];
      // The corners bound the triangle's own edges (a NaN coordinate drops
      // out: such an edge is never searched).
      double l0 = HUGE_VAL, l1 = HUGE_VAL, l2 = HUGE_VAL;
      double h0 = -HUGE_VAL, h1 = -HUGE_VAL, h2 = -HUGE_VAL;
      for (const double* x : V) {
        l0 = std::min(l0, x[0]), h0 = std::max(h0, x[0]);
        l1 = std::min(l1, x[1]), h1 = std::max(h1, x[1]);
        l2 = std::min(l2, x[2]), h2 = std::max(h2, x[2]);
      }
      // With a corner or the normal not finite no edge enters the triangle:
      // the plane distances or solve2 turn NaN. Their sum tells at once.
      double sum = nt[0] + nt[1] + nt[2];
      for (const double* x : V) sum += x[0] + x[1] + x[2];
      if (sum - sum == 0.0 || (finite3(nt) && finite3(V[0]) && finite3(V[1]) && finite3(V[2]))) {
        const double side = std::max(h0 - l0, std::max(h1 - l1, h2 - l2));
        const double slack = edgeEntrySlack(nt, V, side);
        l0 -= slack, l1 -= slack, l2 -= slack;
        h0 += slack, h1 += slack, h2 += slack;
      }
      lo0 = std::min(lo0, l0), hi0 = std::max(hi0, h0);
      lo1 = std::min(lo1, l1), hi1 = std::max(hi1, h1);
      lo2 = std::min(lo2, l2), hi2 = std::max(hi2, h2);
    }
    Bound& b = corner_[leaf_[l]];
    b.lo[0] = lo0, b.lo[1] = lo1, b.lo[2] = lo2;
    b.hi[0] = hi0, b.hi[1] = hi1, b.hi[2] = hi2;
  }
}

void TriangleTree::endCorners() { fitAbove(corner_); }

}  // namespace orv
