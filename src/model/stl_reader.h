// ASCII STL meshes of "STL" shapes.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;

// Reads `path` into shape `shape` of m: scales by the shape's unit, merges
// coincident corners into nodes, places them through the shape's reference
// local coordinate, computes normals and circumscribed circles, and appends
// everything to m.stl. A missing or refused file prints its message and leaves
// the shape without a mesh (stl_num 0, nothing appended); returns false then.
bool readStl(Model& m, int shape, const std::string& path);

// Merges corners (3 doubles each) into nodes, in corner order: each corner is
// the first node, in node order, closer than 1e-9 to it on every axis
// (|a - b| < 1e-9 as computed in double), and otherwise becomes a new node.
// A corner with a non-finite coordinate matches nothing. Fills nodes (3
// doubles each, copies of the corners that started a node) and cornerNode
// (one node index per corner).
void mergeNodes(const std::vector<double>& corners, std::vector<double>& nodes,
                std::vector<int>& cornerNode);

}  // namespace orv
