// Contact between STL meshes: detection, penalty forces and contact records.
// The geometry and the force of a single contact are in contact/detection.h.
#pragma once

#include <algorithm>
#include <cmath>
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

// What the friction dampers of one evaluation ask of an explicit step (see
// frictionBound in contact.cpp): the fastest decay rate [1/s] they give a
// body, from the points sliding slower than v_d (`slow`) and from every
// point (`all`), and the shortest time [s] in which friction could bring a
// faster point down to v_d (`reach`). A step longer than `reach` may cross
// the damper of a point that no stage saw there. Merged over the stages of
// a step: the largest rates, the shortest reach.
struct FrictionBound {
  double slow = 0.0, all = 0.0, reach = HUGE_VAL;
  void merge(const FrictionBound& o) {
    slow = std::max(slow, o.slow), all = std::max(all, o.all), reach = std::min(reach, o.reach);
  }
};

// Adds the contact loads of every contact pair at state Y to F (3nb, global)
// and N (3nb, body axes), appends one record per contact (sample `row`) to
// `records` and tells whether any contact occurs. Per pair: point contact of
// i's nodes in j's triangles and of j's in i's, then, with CONTACT_ALGORITHM 1, edge contact
// both ways; a node touches the other mesh at most once and an edge meets an edge of it at most
// once (contact/detection.h). Records and sums come out the same, to the bit, as exhaustive loops
// over every node and triangle, whatever the thread count (N_THREADS) and mode
// (CONTACT_PARALLEL). A pair whose shapes are unresolved or have no mesh computes nothing.
//
// applyContactWithRate also gives what regularised friction asks of the
// step (FrictionBound; nothing with the sign law).
//
// Point contact first tests the meshes' boxes, then searches each mesh in its body's own frame
// (a tree built once per mesh, contact/mesh_tree.h) and places only the nodes and triangles the
// searches reach; the searches are shared out in chunks of nodes (platform/work_share.h). Edge
// contact places every mesh and fits its tree to the placement.
bool applyContact(const Model& m, const Settings& s, const double* Y, double* F, double* N, int row,
                  std::vector<ContactRecord>& records);
bool applyContactWithRate(const Model& m, const Settings& s, const double* Y, double* F, double* N,
                          int row, std::vector<ContactRecord>& records, FrictionBound& friction);

// applyContact as it ran before point contact searched in the bodies' own
// frames: every mesh placed whole at every evaluation. Same results; the
// benchmarks time it against applyContact.
bool applyContactPlacingAll(const Model& m, const Settings& s, const double* Y, double* F,
                            double* N, int row, std::vector<ContactRecord>& records);

}  // namespace orv
