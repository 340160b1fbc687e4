// Contact between STL meshes: detection, penalty forces and contact records.
// The geometry and the force of a single contact are in contact/detection.h.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "contact/detection.h"

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

// A stiction anchor: where point contact `node` of side `side` (0: a node
// of the contact's i mesh in its j mesh, 1 the other way) of contact
// `contact` sticks, kept in the struck body's axes relative to its centre of
// gravity (`at`), so that it moves with that body. Anchors are state of the
// run, ordered by (contact, side, node): evaluations only read them
// (anchoredFriction, contact/detection.h) and moveStickAnchors moves them on
// after each accepted step.
struct StickAnchor {
  int contact = 0, side = 0, node = 0;
  double at[3] = {0, 0, 0};
};

// What the detection of one state found, kept so that the evaluations that
// follow at that same place need not search again: which nodes and edges
// touch, where and how deep, depends only on where the bodies stand (not on
// their velocities, nor on the anchors), the model and the settings.
// moveStickAnchors keeps the detection of the accepted state; the next
// step's first evaluation (or the sample's, or a retried step's first) is at
// that state and takes it, making the point contacts' forces again for its
// own velocities (which may differ in their last bits: evaluations read
// components below 1e-10 as 0). It is taken only while every body stands
// where it stood then (position and rotation matrix), bit for bit, and for
// the same model and settings objects; a run clears it at its start, since
// its model and settings stay unchanged while it runs.
struct KeptDetection {
  struct Pair {
    bool ok = false;
    int calls[4] = {0, 0, 0, 0};
    std::vector<ContactItem> items;
  };
  const Model* model = nullptr;  // null: nothing kept
  const Settings* settings = nullptr;
  std::vector<BodyMotion> body;
  std::vector<Pair> pair;
  void clear() { model = nullptr, settings = nullptr; }
};

// Moves the anchors on to state Y, which the run has accepted: a point that
// sticks there keeps its anchor, one that slides drags it along to the
// friction cap's distance, a new point gets one (where it stands, dragged
// as well if it slides), and points that no longer touch lose theirs.
// Settings::stick_stiffness sets the tangential spring (> 0). With `keep`,
// the detection of Y is kept there for the evaluations at Y.
void moveStickAnchors(const Model& m, const Settings& s, const double* Y,
                      std::vector<StickAnchor>& anchors, KeptDetection* keep = nullptr);

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
// step (FrictionBound; nothing with the sign law), and with `anchors` (and
// Settings::stick_stiffness > 0) the friction of every point contact that
// has an anchor is that of its anchor; it then asks nothing of the step.
// Records carry the force applied. With `kept` (see KeptDetection) the
// detection kept there is used when it is that of Y.
//
// Point contact first tests the meshes' boxes, then searches each mesh in its body's own frame
// (a tree built once per mesh, contact/mesh_tree.h) and places only the nodes and triangles the
// searches reach; the searches are shared out in chunks of nodes (platform/work_share.h). Edge
// contact places every mesh and fits its tree to the placement.
bool applyContact(const Model& m, const Settings& s, const double* Y, double* F, double* N, int row,
                  std::vector<ContactRecord>& records);
bool applyContactWithRate(const Model& m, const Settings& s, const double* Y, double* F, double* N,
                          int row, std::vector<ContactRecord>& records, FrictionBound& friction,
                          const std::vector<StickAnchor>* anchors = nullptr,
                          const KeptDetection* kept = nullptr);

// applyContact as it ran before point contact searched in the bodies' own
// frames: every mesh placed whole at every evaluation. Same results; the
// benchmarks time it against applyContact.
bool applyContactPlacingAll(const Model& m, const Settings& s, const double* Y, double* F,
                            double* N, int row, std::vector<ContactRecord>& records);

}  // namespace orv
