// ASCII STL meshes of "STL" shapes.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;
struct Shape;

// Reads the mesh of shape `shape` of m from the file `name` (resolved as
// resolveModelFile does, which leaves a resolved path as it is): scales by the
// shape's unit and merges coincident corners into nodes. A file is read once
// per unit: later shapes naming it share that mesh. The shape's reference
// local coordinate, as it is now, places the mesh (Shape::mesh_A, mesh_pos).
// A missing or refused file prints its message, with a line naming the place
// of the fault, and leaves the shape without a mesh (stl_num 0, stl_error
// saying why); returns false then.
bool readStl(Model& m, int shape, const std::string& name);

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

// Merges corners (3 doubles each) into nodes, in corner order: each corner is
// the first node, in node order, closer than 1e-9 to it on every axis
// (|a - b| < 1e-9 as computed in double), and otherwise becomes a new node.
// A corner with a non-finite coordinate matches nothing. Fills nodes (3
// doubles each, copies of the corners that started a node) and cornerNode
// (one node index per corner).
void mergeNodes(const std::vector<double>& corners, std::vector<double>& nodes,
                std::vector<int>& cornerNode);

}  // namespace orv
