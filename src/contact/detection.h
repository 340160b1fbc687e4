// Geometry and forces of mesh contact: where a node or an edge of one placed
// mesh enters a triangle of another, and the penalty force that results.
// Everything here is pure, so one call may run on any thread; it allocates
// only when appending to the caller's lists and when a thread's scratch list
// of candidates first grows.
#pragma once

#include <vector>

#include "math/vec3.h"

namespace orv {

// Fixed tolerances.
constexpr double kSphereMargin = 1.001;       // candidate: |P - S| < margin * radius
constexpr double kInsideLow = -1e-10;         // barycentric s, t at least this
constexpr double kInsideHigh = 1.0000000001;  // s, t and s + t at most this
constexpr double kDepthThreshold = -1e-10;    // a point contact needs h below this
constexpr double kSlidingSpeed = 1e-10;       // slower relative motion has no friction

// An axis-aligned box. lo > hi on some axis makes it empty.
struct Bound {
  double lo[3] = {0, 0, 0};
  double hi[3] = {0, 0, 0};
};

class TriangleTree;

// A mesh at the current state. node, normal and center are placed (global);
// tri holds three indices below node_num per triangle and radius the
// circumradius, both as read. The pointers are not owned.
//
// The searches go through its tree (fitted to this placement, see
// contact/mesh_tree.h): they visit only the triangles whose boxes a node or
// an edge reaches and test those in index order, so they find exactly what
// loops over every pair would find (the narrow phase below), in the same
// order.
//
// Point contact reads a triangle's normal only for a node inside its sphere;
// normal may then be null, and those few are turned from normal0 by `turn`
// as turnVectors would. Edge contact needs normal, and searches each edge
// once, with the first triangle that has it (firstEdges); without
// firstEdges, every triangle's three.
struct PlacedMesh {
  int node_num = 0;
  int stl_num = 0;
  const int* tri = nullptr;                   // 3 per triangle
  const double* radius = nullptr;             // 1 per triangle
  const double* node = nullptr;               // 3 per node
  const double* normal = nullptr;             // 3 per triangle, unit, pointing outside
  const double* center = nullptr;             // 3 per triangle
  const double* normal0 = nullptr;            // 3 per triangle, as read
  const double* turn = nullptr;               // 9, the body's rotation matrix
  const unsigned char* firstEdges = nullptr;  // 1 per triangle, see firstEdges()
  const TriangleTree* tree = nullptr;
  Bound nodes;  // every node (NaN coordinates aside)
  Bound tris;   // every triangle's sphere box: the tree's root
};

// Sets M's search structure and its boxes; the tree must have been fitted to
// M (its sphere boxes, and its corner boxes for edge contact).
void useTree(PlacedMesh& M, const TriangleTree& tree);

// True when the two boxes do not overlap.
bool boundsApart(const Bound& a, const Bound& b);

// Nodes of I that may pass the sphere test of some triangle of J, ascending:
// the queries a point search of I in J makes.
void nodesNear(const PlacedMesh& I, const PlacedMesh& J, std::vector<int>& out);

// Where a body stands and how it moves.
struct BodyMotion {
  double pos[3] = {0, 0, 0};  // R0 + r
  double vel[3] = {0, 0, 0};
  double A[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double omega[3] = {0, 0, 0};  // angular velocity in global axes, A w'
};

struct ContactParams {
  double k = 0;    // stiffness
  double c = 0;    // damping
  double d = 0;    // deepest penetration that counts (point contact only)
  double myu = 0;  // friction coefficient
  // Regularised friction (frictionCoefficient); vs = 0 keeps the sign law.
  double vs = 0;    // stiction speed: the coefficient reaches myuS here
  double myuS = 0;  // static coefficient, >= myu
  double vd = 0;    // sliding speed: the coefficient is myu from here on
};

// The friction coefficient at relative speed v >= 0. With vs > 0, x = v / vs
// and y = (v - vs) / (vd - vs):
//   v <  vs:       myuS x (3 - x^2) / 2            (0 at rest, slope 1.5 myuS / vs)
//   vs <= v < vd:  myuS - (myuS - myu) y^2 (3 - 2 y)
//   v >= vd:       myu
// Both pieces have zero slope where they meet, so the force is smooth in the
// velocity and an explicit step can hold a body at rest: near rest friction
// is a damper of slope 1.5 myuS |F_el| / vs. With vs = 0, myu for any
// sliding (the sign law).
inline double frictionCoefficient(double v, const ContactParams& p) {
  if (!(p.vs > 0.0) || v >= p.vd) return p.myu;
  if (v < p.vs) {
    const double x = v / p.vs;
    return 0.5 * p.myuS * x * (3.0 - x * x);
  }
  const double y = (v - p.vs) / (p.vd - p.vs);
  return p.myuS - (p.myuS - p.myu) * y * y * (3.0 - 2.0 * y);
}

// The largest slope d(friction)/d(speed) per newton of elastic force: the
// damper friction is near rest (0 for the sign law).
inline double frictionSlope(const ContactParams& p) {
  return p.vs > 0.0 ? 1.5 * p.myuS / p.vs : 0.0;
}

// The contact parameters of a contact's constants under the friction settings.
ContactParams contactParams(double k, double c, double d, double myu, double stictionSpeed,
                            double staticRatio, double slidingSpeed);

// One contact: the point (global), the force on the penetrating body, the
// friction's slope near rest [N s/m] (pointContactItem; 0 without it) and
// the sliding speed there [m/s]. A point contact also keeps what a stiction
// anchor needs (StickAnchor, contact/contact.h): the node, the normal, the elastic normal
// force, the relative velocity and the force without its friction; and its
// depth, so that the item can be made again for other velocities.
struct ContactItem {
  double pos[3];
  double force[3];
  double slope = 0.0;
  double speed = 0.0;
  int node = -1;  // the penetrating node; -1 for an edge contact
  double normal[3] = {0, 0, 0};
  double elastic = 0.0;
  double vel[3] = {0, 0, 0};
  double push[3] = {0, 0, 0};  // elastic and damping force: force less friction
  double depth = 0.0;          // h of a point contact
};

// -1e-10 <= s, t and s, t, s + t <= 1.0000000001. Fails for NaN (degenerate triangles).
inline bool insideTriangle(double s, double t) {
  return s >= kInsideLow && t >= kInsideLow && s <= kInsideHigh && t <= kInsideHigh &&
         s + t <= kInsideHigh;
}

// x = pos + A (x0 - R0) for one point: every placement goes through here, so
// that a point placed on its own comes out as in a whole mesh.
inline void placePoint(double* out, const double* x0, const double* R0, const double* pos,
                       const double* A) {
  double r[3];
  vec3Sub(r, x0, R0);
  vec3Add(out, pos, mat3MulVec(r, A, r));
}
// placePoint for `count` points of 3 doubles.
void placePoints(double* out, const double* x0, int count, const double* R0, const double* pos,
                 const double* A);
// n = A n0 for `count` vectors of 3 doubles.
void turnVectors(double* out, const double* n0, int count, const double* A);

// Penalty force on the body that owns node P (node index `node`), which lies
// at depth h < 0 below a triangle with unit normal n of the struck body:
// elastic |h| k n, damping -c (u.n) n and friction -myu(|u|) |F_el| (t_hat -
// (n.t_hat) n) with t_hat the direction of the relative point velocity u (none
// at |u| <= 1e-10) and myu(v) frictionCoefficient. Sets the item's slope to
// the friction's slope near rest (frictionSlope |F_el|, 0 for the sign law)
// and its speed to |u|.
void pointContactItem(ContactItem& item, int node, const double* P, const double* n, double h,
                      const BodyMotion& pen, const BodyMotion& struck, const ContactParams& p);

// The friction of a point contact held by a stiction anchor (contact.h,
// StickAnchor): `off` is the point less its anchor (global). The trial force
// -kt s_t - ct v_t (s_t, v_t the tangential parts of `off` and of the
// relative velocity) sticks while it stays within the cap myu_c |F_el|, with
// myu_c = frictionCoefficient(max(|u|, v_s)): the regularised law without its
// rising branch, which only served to stop a body the anchor now holds.
// Beyond the cap the point slides with the trial force cut down to the cap.
// Sets F (tangential) and tells whether the point sticks.
bool anchoredFriction(const ContactItem& it, const double* off, double kt, double ct,
                      const ContactParams& p, double* F);

// Nodes [n0, n1) of I against the triangles of J, in index order. A node
// touches J at most once: of the triangles it lies in within the depth
// window, the nearest (the smallest depth; the first in index order among
// equals), so that a node on an edge or a corner of J's tessellation counts
// as one anywhere else would. Each contact is appended to out, in node
// order, with the force on I's body.
void pointContact(const PlacedMesh& I, const PlacedMesh& J, const BodyMotion& bi,
                  const BodyMotion& bj, const ContactParams& p, int n0, int n1,
                  std::vector<ContactItem>& out);
// pointContact for the nodes nodes[0, count) of nodesNear, in that order.
void pointContactOf(const PlacedMesh& I, const PlacedMesh& J, const BodyMotion& bi,
                    const BodyMotion& bj, const ContactParams& p, const int* nodes, int count,
                    std::vector<ContactItem>& out);

// The triangles of I, ascending, whose edges may reach a triangle of J (both
// trees with fitted corners).
void edgeSources(const PlacedMesh& I, const PlacedMesh& J, std::vector<int>& out);

// Edges of the triangles src[0, count) of I, in that order (each edge with
// its first triangle, see PlacedMesh), against every triangle of J: an edge
// that crosses a triangle and whose lower end point lies outside that
// triangle's prism gives an elastic force delta k n at the crossing point,
// delta from the crossing point's distance to the triangle's nearest edge.
// An edge of I meets an edge of J (that nearest edge) once: where it crosses
// several triangles with the same nearest edge, the smallest delta counts,
// the first in index order among equals. J's tree needs fitted corners.
void edgeContact(const PlacedMesh& I, const PlacedMesh& J, double k, const int* src, int count,
                 std::vector<ContactItem>& out);

// The narrow phase: one node or one edge of I against one triangle t of J,
// the exact tests that every search runs on the triangles it visits.

// The sphere test of node P and triangle t: |P - S| < 1.001 radius.
inline bool inSphere(const double* P, const PlacedMesh& J, int t) {
  const double* S = &J.center[3 * t];
  const double dx = P[0] - S[0], dy = P[1] - S[1], dz = P[2] - S[2];
  const double lim = kSphereMargin * J.radius[t];
  return dx * dx + dy * dy + dz * dz < lim * lim;
}

// The triangle a node touches: of those it lies in within the depth window,
// the nearest (largest h, the depth being -h), the first in index order
// among equals. t < 0: none yet.
struct NodeTouch {
  int t = -1;
  double h = 0.0;
  double n[3] = {0, 0, 0};
};
// Node P against triangle t of J once past the sphere test; keeps the
// triangle in `best` when nearer than the one there.
void nodeHit(const double* P, const PlacedMesh& J, int t, const ContactParams& p, NodeTouch& best);
// The point contact of node P (force on the body of P, pen), if it touches
// any triangle.
void nodeContact(int node, const double* P, const NodeTouch& best, const BodyMotion& pen,
                 const BodyMotion& struck, const ContactParams& p, std::vector<ContactItem>& out);

// An edge contact of one edge of I: the edge of J nearest to the crossing
// point (its end nodes, lower first), the effective depth and the item.
struct EdgeTouch {
  int lo, hi;
  double delta;
  ContactItem item;
};
// Edge A-B of I against triangle t of J (the contact test proper). An edge
// of I meets an edge of J once: of the triangles of J that find the same
// nearest edge, the shallowest contact is kept in `touches`, the first in
// index order among equals.
void edgeInTriangle(const double* A, const double* B, const PlacedMesh& J, int t, double k,
                    std::vector<EdgeTouch>& touches);

// Per triangle of `count` (3 node indices each), bit e set when its edge e,
// from corner e to corner e + 1, is the first in triangle order between its
// two nodes, in either direction.
void firstEdges(const int* tri, int count, std::vector<unsigned char>& out);

}  // namespace orv
