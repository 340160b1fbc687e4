// A bounding-volume hierarchy over the triangles of one mesh, so that a
// contact search visits only the triangles a node or an edge can reach.
//
// The grouping of the triangles depends only on where they lie relative to
// each other, which a rigid body never changes: it is built once. The boxes
// are fitted again to every placement, from the very numbers the exact tests
// then read, so they bound exactly what those tests can accept, whatever the
// rotation matrix (orthogonal or not quite) and with no rounding of a change
// of frame to allow for. Results never depend on the grouping, nor on
// anything kept from an earlier placement; a poor grouping only costs time.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "contact/detection.h"

namespace orv {

class TriangleTree {
 public:
  // Groups the triangles of M by the centroids of their corners, splitting at
  // the median along the longest side until at most kLeaf remain.
  void build(const PlacedMesh& M);
  // Triangles covered by the grouping (0 before the first build).
  int triangles() const { return tri_num_; }

  // Fits the sphere boxes to M (same triangles as built): every node P that
  // passes the sphere test of a triangle lies in that triangle's box.
  void fitSpheres(const PlacedMesh& M);

  // The fits in three parts, so that threads can share the middle one:
  // begin, the leaves [lo, hi) of leafCount() in any split over threads,
  // end. placeSphereLeaves also places the leaves' sphere centres on the way
  // (center[t] = placePoint(c0[t]) with M.center pointing to `center`). The
  // corner boxes: every point where an edge of another mesh can enter a
  // triangle lies in its box, and every finite corner of a triangle does too
  // (so the boxes also bound the mesh's own edges); edge contact needs them.
  int leafCount() const { return static_cast<int>(leaf_.size()); }
  void beginSpheres() { sphere_.resize(node_.size()); }
  void placeSphereLeaves(const PlacedMesh& M, double* center, const double* c0, const double* R0,
                         const double* pos, const double* A, int lo, int hi);
  void endSpheres();
  void beginCorners() { corner_.resize(node_.size()); }
  void fitCornerLeaves(const PlacedMesh& M, int lo, int hi);
  void endCorners();

  // Fits the sphere boxes to box(t) instead, any box that holds every point
  // the search of triangle t must find (the leaves take the union).
  template <class Box>
  void fitLeaves(const Box& box) {
    beginSpheres();
    for (const int l : leaf_) {
      Bound b;
      for (int k = 0; k < 3; ++k) b.lo[k] = HUGE_VAL, b.hi[k] = -HUGE_VAL;
      for (int k = node_[l].lo; k < node_[l].hi; ++k) {
        const Bound t = box(order_[k]);
        for (int a = 0; a < 3; ++a)
          b.lo[a] = std::min(b.lo[a], t.lo[a]), b.hi[a] = std::max(b.hi[a], t.hi[a]);
      }
      sphere_[l] = b;
    }
    endSpheres();
  }

  // True when the fitted spheres are spread over far larger boxes than at the
  // build: the mesh is not the one that was grouped. Build again.
  bool stale() const { return spread_ > 2.0 * spread0_; }

  const Bound& sphereRoot() const { return sphere_[0]; }
  const Bound& cornerRoot() const { return corner_[0]; }

  // Calls f(t) for every triangle t whose sphere box holds P, in no
  // particular order.
  template <class F>
  void spheresHolding(const double* P, F&& f) const {
    walk([&](const Bound& b) { return holds(b, P); }, sphere_, f);
  }
  // Calls f(t) for every triangle t whose corner box meets q, in no
  // particular order.
  template <class F>
  void cornersMeeting(const Bound& q, F&& f) const {
    walk([&](const Bound& b) { return meets(b, q); }, corner_, f);
  }

  // The leaves whose sphere boxes meet region r, into `leaves`; then, for any
  // box q inside r, f(t) for every triangle t whose sphere box meets q, in
  // no particular order: a search of many small boxes of one region walks
  // down from the root once.
  void sphereLeavesMeeting(const Bound& r, std::vector<int>& leaves) const {
    leaves.clear();
    walkLeaves([&](const Bound& b) { return meets(b, r); }, sphere_,
               [&](const Node& n) {
                 leaves.push_back(static_cast<int>(&n - node_.data()));
                 return false;
               });
  }
  template <class F>
  void spheresMeetingIn(const std::vector<int>& leaves, const Bound& q, F&& f) const {
    for (const int l : leaves)
      if (meets(sphere_[l], q))
        for (int k = node_[l].lo; k < node_[l].hi; ++k) f(order_[k]);
  }

  static constexpr int kLeaf = 4;

 private:
  struct Node {
    int lo, hi;  // triangles order_[lo, hi)
    int right;   // second child; 0 marks a leaf (the first child is the next node)
  };

  static bool holds(const Bound& b, const double* p) {
    return p[0] >= b.lo[0] && p[0] <= b.hi[0] && p[1] >= b.lo[1] && p[1] <= b.hi[1] &&
           p[2] >= b.lo[2] && p[2] <= b.hi[2];
  }
  static bool meets(const Bound& b, const Bound& q) {
    return q.lo[0] <= b.hi[0] && b.lo[0] <= q.hi[0] && q.lo[1] <= b.hi[1] && b.lo[1] <= q.hi[1] &&
           q.lo[2] <= b.hi[2] && b.lo[2] <= q.hi[2];
  }

  template <class Test, class F>
  void walk(const Test& test, const std::vector<Bound>& box, F& f) const {
    walkLeaves(test, box, [&](const Node& n) {
      for (int k = n.lo; k < n.hi; ++k) f(order_[k]);
      return false;
    });
  }

  // Depth first through the boxes that pass the test, handing each leaf
  // reached to leaf(node), which returns true to end the walk.
  template <class Test, class Leaf>
  void walkLeaves(const Test& test, const std::vector<Bound>& box, const Leaf& leaf) const {
    if (node_.empty()) return;
    // Median splits keep the depth at most 32 for any int count.
    int stack[64];
    int top = 0, i = 0;
    for (;;) {
      if (test(box[i])) {
        const Node& n = node_[i];
        if (n.right == 0) {
          if (leaf(n)) return;
        } else {
          stack[top++] = n.right;
          ++i;
          continue;
        }
      }
      if (top == 0) return;
      i = stack[--top];
    }
  }

  int split(int lo, int hi, std::vector<double>& key);
  template <class Centre>
  void fitSphereLeaves(const PlacedMesh& M, const Centre& centre, int lo, int hi);
  void fitAbove(std::vector<Bound>& box);

  int tri_num_ = 0;
  std::vector<Node> node_;               // depth first: a parent comes before its children
  std::vector<int> order_;               // triangle indices, each leaf a contiguous run
  std::vector<int> leaf_;                // the leaf nodes
  std::vector<Bound> sphere_, corner_;   // per node
  double spread0_ = 0.0, spread_ = 0.0;  // summed leaf sphere-box sizes: at the build, now
};

}  // namespace orv
