// Geometry and forces of mesh contact: where a node or an edge of one placed
// mesh enters a triangle of another, and the penalty force that results.
// Everything here is pure and allocation-free apart from appending to the
// caller's item list, so one call may run on any thread.
#pragma once

#include <vector>

namespace orv {

// Fixed tolerances.
constexpr double kSphereMargin = 1.001;        // candidate: |P - S| < margin * radius
constexpr double kInsideLow = -1e-10;          // barycentric s, t at least this
constexpr double kInsideHigh = 1.0000000001;   // s, t and s + t at most this
constexpr double kDepthThreshold = -1e-10;     // a point contact needs h below this
constexpr double kSlidingSpeed = 1e-10;        // slower relative motion has no friction

// An axis-aligned box that holds a group of points or triangle spheres.
struct Bound {
  double lo[3] = {0, 0, 0};
  double hi[3] = {0, 0, 0};
};

// Triangles per culling block.
constexpr int kTriBlock = 16;

// A mesh at the current state. node, normal and center are placed (global);
// tri holds three indices below node_num per triangle and radius the
// circumradius, both as read. The pointers are not owned.
//
// Culling, optional (block_num 0 turns it off). Triangles are grouped in
// blocks of kTriBlock consecutive indices. `nodes` holds every node; `tris`
// and sphere_blocks[b] hold the enlarged sphere (1.001 radius) of each of
// their triangles, vertex_blocks[b] the corners of its triangles. A node
// outside a sphere box cannot pass the sphere test of those triangles, an
// edge whose box misses a vertex box cannot cross them, so skipping them
// changes no result.
struct PlacedMesh {
  int node_num = 0;
  int stl_num = 0;
  const int* tri = nullptr;       // 3 per triangle
  const double* radius = nullptr; // 1 per triangle
  const double* node = nullptr;   // 3 per node
  const double* normal = nullptr; // 3 per triangle, unit, pointing outside
  const double* center = nullptr; // 3 per triangle
  int block_num = 0;
  const Bound* sphere_blocks = nullptr;
  const Bound* vertex_blocks = nullptr;
  Bound nodes, tris;
};

// Number of culling blocks of a mesh with stl_num triangles.
inline int triBlockCount(int stl_num) { return (stl_num + kTriBlock - 1) / kTriBlock; }

// True when the two boxes do not overlap.
bool boundsApart(const Bound& a, const Bound& b);

// Nodes of I that may pass the sphere test of some triangle of J (all of
// them when J has no culling bounds): the work a point search of I in J does.
int nodesNear(const PlacedMesh& I, const PlacedMesh& J);

// Fills the culling bounds of a placed mesh (node, tri, center and radius
// set); `blocks` must hold 2 triBlockCount(stl_num) entries and outlive M.
void buildBounds(PlacedMesh& M, Bound* blocks);

// Where a body stands and how it moves.
struct BodyMotion {
  double pos[3] = {0, 0, 0};    // R0 + r
  double vel[3] = {0, 0, 0};
  double A[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double omega[3] = {0, 0, 0};  // angular velocity in global axes, A w'
};

struct ContactParams {
  double k = 0;    // stiffness
  double c = 0;    // damping
  double d = 0;    // deepest penetration that counts (point contact only)
  double myu = 0;  // friction coefficient
};

// One contact: the point (global) and the force on the penetrating body.
struct ContactItem {
  double pos[3];
  double force[3];
};

// -1e-10 <= s, t and s, t, s + t <= 1.0000000001. Fails for NaN (degenerate triangles).
inline bool insideTriangle(double s, double t) {
  return s >= kInsideLow && t >= kInsideLow && s <= kInsideHigh && t <= kInsideHigh &&
         s + t <= kInsideHigh;
}

// x = pos + A (x0 - R0) for `count` points of 3 doubles.
void placePoints(double* out, const double* x0, int count, const double* R0, const double* pos,
                 const double* A);
// n = A n0 for `count` vectors of 3 doubles.
void turnVectors(double* out, const double* n0, int count, const double* A);

// Penalty force on the body that owns node P, which lies at depth h < 0 below
// a triangle with unit normal n of the struck body: elastic |h| k n, damping
// -c (u.n) n and friction -myu |F_el| (t_hat - (n.t_hat) n) with t_hat the
// direction of the relative point velocity u (none at |u| <= 1e-10).
void pointContactForce(double* F, const double* P, const double* n, double h,
                       const BodyMotion& pen, const BodyMotion& struck, const ContactParams& p);

// Nodes [n0, n1) of I against every triangle of J, in index order; every
// contact (a node may touch several triangles) is appended to out with the
// force on I's body.
void pointContact(const PlacedMesh& I, const PlacedMesh& J, const BodyMotion& bi,
                  const BodyMotion& bj, const ContactParams& p, int n0, int n1,
                  std::vector<ContactItem>& out);

// Edges of triangles [t0, t1) of I against every triangle of J: an edge that
// crosses a triangle and whose lower end point lies outside that triangle's
// prism gives an elastic force delta k n at the crossing point, delta from
// the crossing point's distance to the triangle's nearest edge.
void edgeContact(const PlacedMesh& I, const PlacedMesh& J, double k, int t0, int t1,
                 std::vector<ContactItem>& out);

}  // namespace orv
