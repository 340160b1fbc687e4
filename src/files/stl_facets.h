// The facets of an ASCII STL file, read into a mesh of merged nodes.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

namespace orv {

struct StlMesh;

// Reads the mesh of the open file f (status st, read from `path`): the
// header, every facet up to `endsolid`, its corners scaled by `unit`, merged
// into nodes (files/node_merge.h). Prints the open line's unit, stl_num and
// the running lengths coordAt, normalAt and triAt of the lists of all shapes
// as it goes (nothing when `quiet`). Throws StlRefusal (files/stl_refusal.h)
// on anything outside the accepted grammar or limits.
std::shared_ptr<const StlMesh> readMesh(FILE* f, const struct stat& st, const std::string& path,
                                        double unit, long long coordAt, long long normalAt,
                                        long long triAt, bool quiet = false);
// What readMesh prints for `mesh`, read without a fault.
void printMeshRead(const StlMesh& mesh, long long coordAt, long long normalAt, long long triAt);

}  // namespace orv
