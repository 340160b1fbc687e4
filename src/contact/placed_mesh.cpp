#include "contact/placed_mesh.h"

#include <cmath>
#include <vector>

#include "math/vec3.h"
#include "model/model.h"

namespace orv {

namespace {

// Circumscribed circle of the triangle P0 P1 P2 whose stored normal is n.
// When the system is singular (degenerate triangle, or normal_sign 0 making n
// zero) or its solution overflows, falls back to the centroid and the largest
// centroid-corner distance: a sphere that still holds the whole triangle, so
// bounding-sphere tests against it stay conservative.
void circumCircle(const double* P0, const double* P1, const double* P2, const double* n,
                  bool degenerate, double* centre, double& radius) {
  if (!degenerate) {
    double M[9], Mi[9], r[3];
    vec3Sub(&M[0], P1, P0);
    vec3Sub(&M[3], P2, P0);
    M[6] = n[0];
    M[7] = n[1];
    M[8] = n[2];
    r[0] = (vec3Dot(P1, P1) - vec3Dot(P0, P0)) / 2.0;
    r[1] = (vec3Dot(P2, P2) - vec3Dot(P0, P0)) / 2.0;
    r[2] = vec3Dot(n, P0);
    if (mat3Inverse(Mi, M)) {
      double c[3], d[3];
      mat3MulVec(c, Mi, r);
      vec3Sub(d, c, P0);
      const double rad = vec3Norm(d[0], d[1], d[2]);
      if (std::isfinite(c[0]) && std::isfinite(c[1]) && std::isfinite(c[2]) && std::isfinite(rad)) {
        centre[0] = c[0];
        centre[1] = c[1];
        centre[2] = c[2];
        radius = rad;
        return;
      }
    }
  }
  for (int a = 0; a < 3; ++a) centre[a] = (P0[a] + P1[a] + P2[a]) / 3.0;
  radius = 0.0;
  for (const double* P : {P0, P1, P2}) {
    double d[3];
    vec3Sub(d, P, centre);
    radius = std::fmax(radius, vec3Norm(d[0], d[1], d[2]));
  }
}

}  // namespace

// x0 = A x + p for every node, as the placement of a shape's mesh.
void placeNodes(const StlMesh& mesh, const double* A, const double* p, std::vector<double>& out) {
  out.resize(mesh.node.size());
  for (size_t i = 0; i < mesh.node.size(); i += 3) {
    double* x = &out[i];
    vec3Add(x, mat3MulVec(x, A, &mesh.node[i]), p);
  }
}

void placeStl(const Shape& sh, PlacedStl& out) {
  out.node.clear();
  out.normal.clear();
  out.center.clear();
  out.radius.clear();
  if (!sh.mesh) return;
  const StlMesh& mesh = *sh.mesh;
  placeNodes(mesh, sh.mesh_A, sh.mesh_pos, out.node);
  const size_t nt = static_cast<size_t>(mesh.stl_num()), nn = out.node.size() / 3;
  out.normal.resize(3 * nt);
  out.center.resize(3 * nt);
  out.radius.resize(nt);
  for (size_t t = 0; t < nt; ++t) {
    const int* v = &mesh.tri[3 * t];
    double* n = &out.normal[3 * t];
    if (static_cast<size_t>(v[0]) >= nn || static_cast<size_t>(v[1]) >= nn ||
        static_cast<size_t>(v[2]) >= nn) {
      // Not from the reader: keep the sizes, never read outside the nodes.
      for (int k = 0; k < 3; ++k) n[k] = out.center[3 * t + k] = NAN;
      out.radius[t] = NAN;
      continue;
    }
    const double* P0 = &out.node[3 * static_cast<size_t>(v[0])];
    const double* P1 = &out.node[3 * static_cast<size_t>(v[1])];
    const double* P2 = &out.node[3 * static_cast<size_t>(v[2])];
    double e1[3], e2[3], c[3];
    vec3Sub(e1, P1, P0);
    vec3Sub(e2, P2, P0);
    // Degenerate exactly when unitNormal falls back to (1, 1, 1).
    vec3Cross(c, e1, e2);
    const bool degenerate = !(vec3Norm(c[0], c[1], c[2]) > 0.0);
    vec3Scale(n, static_cast<double>(sh.normal_sign), unitNormal(n, e1, e2));
    circumCircle(P0, P1, P2, n, degenerate, &out.center[3 * t], out.radius[t]);
  }
}

}  // namespace orv
