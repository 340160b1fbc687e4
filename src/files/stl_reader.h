// ASCII STL meshes of "STL" shapes.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace orv {

struct Model;
struct Shape;
struct StlMesh;

// Reads the mesh of shape `shape` of m from the file `name` (resolved as
// resolveModelFile does, which leaves a resolved path as it is): scales by the
// shape's unit and merges coincident corners into nodes. A file is read once
// per unit: later shapes naming it share that mesh. The shape's reference
// local coordinate, as it is now, places the mesh (Shape::mesh_A, mesh_pos).
// A missing or refused file prints its message, with a line naming the place
// of the fault, and leaves the shape without a mesh (stl_num 0, stl_error
// saying why); returns false then.
bool readStl(Model& m, int shape, const std::string& name,
             const std::vector<std::shared_ptr<const StlMesh>>* ahead = nullptr);

// Reads the files `paths` (resolved, each at the unit of the same index) side
// by side on up to `threads` threads, printing nothing, into `ahead`: the
// meshes of the files that read without a fault. readStl takes a mesh of
// `ahead` for its file and unit instead of reading it again, and prints what
// reading it prints; a file that did not read is read as usual.
void readStlAhead(const std::vector<std::string>& paths, const std::vector<double>& units,
                  int threads, std::vector<std::shared_ptr<const StlMesh>>& ahead);

}  // namespace orv
