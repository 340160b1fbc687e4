// readStl: a shape's mesh file found, read once per unit (files/stl_facets.h)
// and placed through the shape's frame, or refused with its place.
#include "files/stl_reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "contact/placed_mesh.h"
#include "files/stl_facets.h"
#include "files/stl_refusal.h"
#include "math/vec3.h"
#include "model/model.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "platform/source_pos.h"
#include "platform/tokens.h"
#include "platform/work_share.h"

namespace orv {

namespace {

void clearMesh(Shape& sh) {
  sh.node_num = sh.vertex_num = sh.stl_num = 0;
  sh.mesh.reset();
  mat3Identity(sh.mesh_A);
  sh.mesh_pos[0] = sh.mesh_pos[1] = sh.mesh_pos[2] = 0.0;
  sh.stl_file.clear();
  sh.stl_error.clear();
}

struct FileCloser {
  FILE* f;
  ~FileCloser() { std::fclose(f); }
};

// The places tried for `name`: as given, and beside the model file when that
// is another place (resolveModelFile's order).
std::string placesTried(const Model& m, const std::string& name) {
  std::string s = name;
  const size_t slash = m.path.find_last_of('/');
  if (!name.empty() && name[0] != '/' && slash != std::string::npos)
    s += " and " + m.path.substr(0, slash + 1) + name;
  return s;
}

// Prints the refusal and leaves the shape without a mesh. The open line may
// still be pending, so the refusal starts a line of its own; the next one
// says where, in the mesh file or, for `inMesh` false, in the model file's
// shape record. Returns false, for readStl to pass on.
bool refuse(const Model& m, Shape& sh, const std::string& path, const StlRefusal& r, bool inMesh) {
  cprintf("\n  STL FILE ERROR: %s: %s\n", path.c_str(), r.why.c_str());
  const std::string what = "found " + r.found + ", expected " + r.expected;
  cprintf("%s\n", (inMesh ? placeLine(path, r.at, what)
                          : placeLine(m.path, r.at, "shape " + sh.name + ": " + what))
                      .c_str());
  if (inMesh)
    report(Severity::Error, "mesh not read: " + r.why + "; " + what, path, r.at.line);
  else
    report(Severity::Error,
           "shape " + sh.name + ": mesh " + path + " not placed: " + r.why + "; " + what, m.path,
           r.at.line);
  clearMesh(sh);
  sh.stl_file = path;
  sh.stl_error = r.why;
  return false;
}

// The mesh of `path` read before at the shape's unit, bit for bit (-0.0
// scales to other corners), or null.
std::shared_ptr<const StlMesh> knownMesh(const StlLists& L, const std::string& path, double unit) {
  std::shared_ptr<const StlMesh> mesh;
  for (const auto& known : L.meshes)
    if (known->path == path && std::memcmp(&known->unit, &unit, sizeof unit) == 0) mesh = known;
  return mesh;
}

// Reads the file at `path` (named `name` in the model) for the shape and
// keeps its mesh with the others; null, with the message printed, when it
// cannot be opened or is refused.
std::shared_ptr<const StlMesh> readNewMesh(Model& m, Shape& sh, const std::string& name,
                                           const std::string& path,
                                           const std::vector<std::shared_ptr<const StlMesh>>* ahead) {
  StlLists& L = m.stl;
  if (ahead)
    for (const auto& read : *ahead)
      if (read && read->path == path && std::memcmp(&read->unit, &sh.unit, sizeof sh.unit) == 0) {
        cprintf("  STL FILE OPEN,  ");
        printMeshRead(*read, L.coord_count, L.normal_count, L.tri_count);
        L.meshes.push_back(read);
        return read;
      }
  struct stat st;
  errno = 0;
  FILE* f = openInputFile(path, st);
  if (!f) {
    const int err = errno;
    struct stat probe;
    const bool dir = ::stat(path.c_str(), &probe) == 0 && S_ISDIR(probe.st_mode);
    sh.stl_error = std::string("cannot be opened (") +
                   (dir   ? "a directory"
                    : err ? std::strerror(err)
                          : "not readable") +
                   "; looked for " + placesTried(m, name) + ")";
    cprintf("  STL FILE OPEN ERROR\n");
    cprintf("%s\n", placeLine(m.path, {sh.line, 0},
                              "shape " + sh.name + ": mesh file " + name + " " + sh.stl_error)
                        .c_str());
    report(Severity::Error, "shape " + sh.name + ": mesh file " + name + " " + sh.stl_error, m.path,
           sh.line);
    return nullptr;
  }
  FileCloser closer{f};
  cprintf("  STL FILE OPEN,  ");
  std::shared_ptr<const StlMesh> mesh;
  try {
    mesh = readMesh(f, st, path, sh.unit, L.coord_count, L.normal_count, L.tri_count);
  } catch (const StlRefusal& r) {
    refuse(m, sh, path, r, true);
    return nullptr;
  }
  L.meshes.push_back(mesh);
  return mesh;
}

// The placement of the shape's mesh by its reference frame as it is now; an
// unresolved frame places the mesh as given.
void framePlacement(const Model& m, const Shape& sh, double* A, double* p) {
  mat3Identity(A);
  p[0] = p[1] = p[2] = 0.0;
  if (sh.lc >= 0 && sh.lc < m.frame_num()) {
    const LocalCoordinate& lc = m.frames[sh.lc];
    mat3RotationZXZ(A, degToRad(lc.ang[0]), degToRad(lc.ang[1]), degToRad(lc.ang[2]));
    p[0] = lc.pos[0];
    p[1] = lc.pos[1];
    p[2] = lc.pos[2];
  }
}

}  // namespace

void readStlAhead(const std::vector<std::string>& paths, const std::vector<double>& units,
                  int threads, std::vector<std::shared_ptr<const StlMesh>>& ahead) {
  ahead.assign(paths.size(), nullptr);
  shareWork(threads, static_cast<int>(paths.size()), [&](int k, int) {
    struct stat st;
    FILE* f = openInputFile(paths[k], st);
    if (!f) return;
    FileCloser closer{f};
    try {
      ahead[k] = readMesh(f, st, paths[k], units[k], 0, 0, 0, true);
    } catch (...) {
      // Read again in order, for its messages.
    }
  });
}

bool readStl(Model& m, int shape, const std::string& name,
             const std::vector<std::shared_ptr<const StlMesh>>* ahead) {
  const std::string path = resolveModelFile(m, name);
  if (shape < 0 || shape >= m.shape_num()) {
    cprintf("  STL FILE ERROR: %s: no shape %d\n", path.c_str(), shape);
    report(Severity::Error, "no shape " + std::to_string(shape) + " for this mesh", path);
    return false;
  }
  Shape& sh = m.shapes[shape];
  clearMesh(sh);
  sh.stl_file = path;
  StlLists& L = m.stl;

  std::shared_ptr<const StlMesh> mesh = knownMesh(L, path, sh.unit);
  if (mesh) {
    // Printed as for a first reading, so that every shape shows its mesh.
    cprintf("  STL FILE OPEN,  ");
    cprintf("  unit=%.3e, ", sh.unit);
    cprintf("  stl_num=%d, ", mesh->stl_num());
    cprintf("  v_stl_coord:%lld, ", L.coord_count);
    cprintf("  v_stl_normal:%lld, ", L.normal_count);
    cprintf("  v_stl_tri:%lld, ", L.tri_count);
  } else {
    mesh = readNewMesh(m, sh, name, path, ahead);
    if (!mesh) return false;
  }
  const int node_num = mesh->node_num(), stl_num = mesh->stl_num();
  cprintf("  node_num=%d, ", node_num);

  double A[9], p[3];
  framePlacement(m, sh, A, p);
  std::vector<double> placed;
  placeNodes(*mesh, A, p, placed);
  for (size_t i = 0; i < placed.size(); i += 3)
    if (!stlInRange(placed[i]) || !stlInRange(placed[i + 1]) || !stlInRange(placed[i + 2]))
      // The frame (or the unit) put it there: the place is the shape's record.
      return refuse(m, sh, path, placedOutOfRange(sh, i / 3, &placed[i]), false);

  // Accepted: only now touch the shape and the running lengths.
  sh.mesh = mesh;
  std::memcpy(sh.mesh_A, A, sizeof A);
  std::memcpy(sh.mesh_pos, p, sizeof p);
  sh.stl_num = stl_num;
  sh.vertex_num = 3 * stl_num;
  sh.node_num = node_num;
  L.coord_count += 3LL * node_num;
  L.normal_count += 3LL * stl_num;
  L.tri_count += 3LL * stl_num;
  cprintf("  stl_num=%d, ", stl_num);
  cprintf("  node_num=%d\n", node_num);
  return true;
}

}  // namespace orv
