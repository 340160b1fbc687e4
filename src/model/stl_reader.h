// ASCII STL meshes of "STL" shapes.
#pragma once

#include <string>

namespace orv {

struct Model;

// Reads `path` into shape `shape` of m: scales by the shape's unit, merges
// coincident corners into nodes, places them through the shape's reference
// local coordinate, computes normals and circumscribed circles, and appends
// everything to m.stl. A missing or refused file prints its message and leaves
// the shape without a mesh (stl_num 0, nothing appended); returns false then.
bool readStl(Model& m, int shape, const std::string& path);

}  // namespace orv
