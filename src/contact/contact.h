// Contact between STL meshes: detection, penalty forces and contact records.
// The geometry and the force of a single contact are in contact/detection.h.
#pragma once

#include <vector>

namespace orv {

struct Model;
struct Settings;

// A contact found during one evaluation: the sample row of that evaluation,
// the contact point and the force on the penetrating body.
struct ContactRecord {
  int ti = 0;
  double pos[3] = {0, 0, 0};
  double val[3] = {0, 0, 0};
};

// Adds the contact loads of every contact pair at state Y to F (3nb, global)
// and N (3nb, body axes), appends one record per contact (sample `row`) to
// `records` and tells whether any contact occurs. Per pair: point contact of
// i's nodes in j's triangles and of j's in i's, then, with CONTACT_ALGORITHM 1, edge contact both
// ways; a node touches the other mesh at most once and an edge meets an edge of it at most once
// (contact/detection.h). CONTACT_PARALLEL 1 runs the pairs on N_THREADS threads, otherwise the
// pairs run in order with each search split over the threads. Records and sums come out the same
// whatever the thread count and mode. A pair whose shapes are unresolved or have no mesh computes
// nothing. The searches go through a tree of boxes over each mesh's triangles
// (contact/mesh_tree.h).
bool applyContact(const Model& m, const Settings& s, const double* Y, double* F, double* N, int row,
                  std::vector<ContactRecord>& records);

}  // namespace orv
