// A shape's mesh placed in global coordinates, as contact detection reads it.
#pragma once

#include <vector>

namespace orv {

struct Shape;
struct StlMesh;

// x0 = A x + p for every node of the mesh, 3 doubles per node in `out`.
void placeNodes(const StlMesh& mesh, const double* A, const double* p, std::vector<double>& out);

// A shape's mesh in global coordinates of the initial configuration: nodes
// x0 = mesh_A x + mesh_pos; per triangle the unit normal of its placed
// corners (u x w / |u x w| for u = P1 - P0, w = P2 - P0, (1, 1, 1) when that
// is zero) times normal_sign, and the circumscribed circle (centre and
// radius) in its plane, or for a degenerate triangle the centroid and the
// largest distance to a corner. Empty without a mesh.
struct PlacedStl {
  std::vector<double> node;    // 3 per node
  std::vector<double> normal;  // 3 per triangle
  std::vector<double> center;  // 3 per triangle
  std::vector<double> radius;  // 1 per triangle
};
void placeStl(const Shape& sh, PlacedStl& out);

}  // namespace orv
