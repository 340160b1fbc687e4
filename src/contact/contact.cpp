#include "contact/contact.h"


#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "contact/detection.h"
#include "contact/mesh_tree.h"
#include "model/model.h"
#include "model/settings.h"
#include "model/state_layout.h"
#include "contact/placed_mesh.h"
#include "math/vec3.h"
#include "platform/work_share.h"

namespace orv {

namespace {

// Below this trip count a loop stays on the calling thread: starting the
// team would cost more than the loop. A search counts one trip per
// node-triangle or edge-triangle test of the nodes and edges that can reach
// the other mesh at all; a walk through a tree counts as kTreeTrips.
constexpr long long kParallelTrips = 1000;
constexpr long long kTreeTrips = 16;

// A run of a mesh's nodes that lie close together, with their box: the
// search for the nodes within a box looks at the leaves' boxes first.
struct NodeLeaf {
  Bound box;
  int lo, hi;  // into MeshBuf::nodeOrder
};
constexpr int kNodeLeaf = 32;

// The splits that made the leaves, depth first: the box of every node below,
// the leaf (or -1) and where the group after this one's subtree starts.
struct NodeGroup {
  Bound box;
  int leaf, next;
};

// What one thread placed of a mesh's triangles in this evaluation, each
// centre and node stamped with the evaluation so that a thread places it once.
struct ThreadPlaced {
  std::vector<unsigned> triAt, nodeAt;
  std::vector<double> center, node;
};

struct MeshBuf {
  int state = 0;  // 0 not looked at in this evaluation, 1 usable, -1 not usable
  // The shape's mesh in the initial configuration, derived from the shared
  // mesh and the shape's placement and kept for as long as they stay.
  std::shared_ptr<const StlMesh> from;
  double fromA[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0}, fromPos[3] = {0, 0, 0};
  int fromSign = 0;
  bool usable = false;
  PlacedStl initial;
  std::vector<unsigned char> firstEdges;
  std::vector<double> node, normal, center;  // placed at the current state
  TriangleTree tree;  // kept across evaluations: only its boxes follow the body
  PlacedMesh view;
  // Where the body stood (R0, pos, A) when node, normal, center and tree were
  // placed, and whether with edges: a body that has not moved since, bit for
  // bit (a ground), keeps them.
  bool placed = false, placedEdges = false;
  double placedAt[15] = {};
  // Point contact searches in the body's own frame (initial coordinates): the
  // tree is built with the mesh and never refitted, and only the nodes and
  // triangles a search reaches are placed, by each thread into its own room.
  TriangleTree tree0;
  double treeDepth = -1.0;  // the depth window tree0's boxes are fitted to
  Bound nodeBox0;
  Bound sphereBox0;  // every triangle's sphere box
  std::vector<int> nodeOrder;  // node indices, leaf by leaf
  std::vector<NodeLeaf> nodeLeaves;
  std::vector<NodeGroup> nodeGroups;
  std::vector<ThreadPlaced> byThread;  // per thread rank
};

// What one shape needs in this evaluation: its body's placement.
struct Frame {
  const double* R0 = nullptr;
  const BodyMotion* b = nullptr;
  double e = 0.0;
};

// One point search of a pair: I's nodes in nearI (I's frame) into J.
struct PointCall {
  int pair = 0, call = 0;
  int I = 0, J = 0;    // shapes
  int bi = 0, bj = 0;  // bodies
  Frame fi, fj;
  double reachI = 0.0, reachJ = 0.0;
  Bound nearI;
};

// One leaf of I's nodes of one call: the unit of work threads share.
struct LeafTask {
  int call, leaf;
};
// Up to this many nodes in the leaves to search, the calling thread does them
// all: waking a thread costs more than that many searches.
constexpr size_t kShareNodes = 256;

// A node's outcome: at most one contact.
struct NodeOut {
  bool hit = false;
  ContactItem item;
};

// What one contact pair found, in call order: point (i, j), point (j, i),
// edge (i, j), edge (j, i).
struct PairOut {
  bool ok = false;
  int calls[4] = {0, 0, 0, 0};
  std::vector<ContactItem> items;
  std::vector<int> sources;  // scratch: triangles whose edges are searched
};

// What one thread found: (call, node, outcome), then (call, node) as one key
// with (rank, index), sorted by the key. Threads' lists lie apart in memory,
// so that adding to one does not slow the others.
struct alignas(64) RankOut {
  std::vector<std::tuple<int, int, ContactItem>> hits;
  std::vector<std::pair<uint64_t, uint64_t>> order;
};

struct Work {
  std::vector<MeshBuf> mesh;     // per shape
  std::vector<int> used;         // shapes to place in this evaluation
  std::vector<int> fresh;        // shapes whose meshes are derived in this evaluation
  std::vector<int> near;         // nodes of one point search that reach the other mesh
  std::vector<int> active;       // contacts whose meshes are close enough to touch
  std::vector<BodyMotion> body;  // per body
  std::vector<PairOut> pair;     // per contact
  std::vector<std::vector<ContactItem>> perThread;
  unsigned epoch = 0;             // stamps what the body-frame search placed
  std::vector<PointCall> calls;   // 2 per contact
  std::vector<LeafTask> tasks;    // in call order, then leaf order
  std::vector<RankOut> rankOut;   // per thread rank
  std::vector<double> depth;      // per shape
  // Every thread's RankOut::order merged: a node is hit at most once per
  // call, so the keys are distinct.
  std::vector<std::pair<uint64_t, uint64_t>> hits, merged;
  std::vector<double> rate;                  // per body: friction decay rates (frictionBound)
  std::vector<char> held;                    // per body: held by a ground joint
};

// Scratch space of the calling thread. Every vector keeps its capacity, so
// evaluations after the first few allocate nothing. Worker threads must use
// the caller's instance (passed by reference), never their own.
thread_local Work t_work;

ContactParams paramsOf(const Contact& c, const Settings& s) {
  return contactParams(c.k, c.c, c.d, c.myu, s.stiction_speed, s.static_friction_ratio,
                       s.sliding_speed);
}

// Splits the nodes (initial coordinates x) at the median of the box's
// longest side until runs of at most kNodeLeaf remain: leaves of nearby
// nodes, whatever the order of the file, under groups whose boxes hold
// theirs.
void groupNodes(const double* x, int nn, MeshBuf& mb) {
  mb.nodeOrder.resize(static_cast<size_t>(nn));
  for (int q = 0; q < nn; ++q) mb.nodeOrder[q] = q;
  mb.nodeLeaves.clear();
  mb.nodeGroups.clear();
  const auto boxOf = [&](int lo, int hi) {
    Bound b;
    for (int k = 0; k < 3; ++k) b.lo[k] = HUGE_VAL, b.hi[k] = -HUGE_VAL;
    for (int i = lo; i < hi; ++i)
      for (int k = 0; k < 3; ++k) {
        const double v = x[3 * static_cast<size_t>(mb.nodeOrder[i]) + k];
        b.lo[k] = std::min(b.lo[k], v), b.hi[k] = std::max(b.hi[k], v);
      }
    return b;
  };
  const auto split = [&](const auto& self, int lo, int hi) -> void {
    const Bound b = boxOf(lo, hi);
    const size_t at = mb.nodeGroups.size();
    mb.nodeGroups.push_back({b, -1, 0});
    if (hi - lo <= kNodeLeaf) {
      mb.nodeGroups[at].leaf = static_cast<int>(mb.nodeLeaves.size());
      mb.nodeLeaves.push_back({b, lo, hi});
    } else {
      int axis = 0;
      for (int k = 1; k < 3; ++k)
        if (b.hi[k] - b.lo[k] > b.hi[axis] - b.lo[axis]) axis = k;
      const int mid = lo + (hi - lo) / 2;
      std::nth_element(mb.nodeOrder.begin() + lo, mb.nodeOrder.begin() + mid,
                       mb.nodeOrder.begin() + hi, [&](int a, int c) {
                         return x[3 * static_cast<size_t>(a) + axis] <
                                x[3 * static_cast<size_t>(c) + axis];
                       });
      self(self, lo, mid);
      self(self, mid, hi);
    }
    mb.nodeGroups[at].next = static_cast<int>(mb.nodeGroups.size());
  };
  split(split, 0, nn);
}

// Whether the shape's mesh can be searched: it has nodes and triangles, and
// its triangles name existing nodes, so the loops below never read out of
// bounds. Derives the mesh in the initial configuration when the shape holds
// another mesh or placement than last time.
bool derivedAlready(const Shape& sh, const MeshBuf& mb) {
  return mb.from == sh.mesh && std::memcmp(mb.fromA, sh.mesh_A, sizeof mb.fromA) == 0 &&
         std::memcmp(mb.fromPos, sh.mesh_pos, sizeof mb.fromPos) == 0 &&
         mb.fromSign == sh.normal_sign;
}

bool meshUsable(const Shape& sh, MeshBuf& mb) {
  if (!sh.mesh) return false;
  if (derivedAlready(sh, mb)) return mb.usable;
  mb.from = sh.mesh;
  std::memcpy(mb.fromA, sh.mesh_A, sizeof mb.fromA);
  std::memcpy(mb.fromPos, sh.mesh_pos, sizeof mb.fromPos);
  mb.fromSign = sh.normal_sign;
  mb.placed = false;
  placeStl(sh, mb.initial);
  const StlMesh& mesh = *sh.mesh;
  const unsigned limit = static_cast<unsigned>(mesh.node_num());
  unsigned bad = 0;
  for (int v : mesh.tri) bad |= static_cast<unsigned>(v) >= limit;
  mb.usable = mesh.node_num() > 0 && mesh.stl_num() > 0 && bad == 0 && mesh.node.size() % 3 == 0 &&
              mesh.tri.size() % 3 == 0;
  if (mb.usable) {
    firstEdges(mesh.tri.data(), mesh.stl_num(), mb.firstEdges);
    PlacedMesh at0;
    at0.node_num = mesh.node_num();
    at0.stl_num = mesh.stl_num();
    at0.tri = mesh.tri.data();
    at0.node = mb.initial.node.data();
    at0.center = mb.initial.center.data();
    at0.radius = mb.initial.radius.data();
    mb.tree0.build(at0);
    mb.treeDepth = -1.0;
    mb.sphereBox0 = mb.tree0.sphereRoot();
    useTree(at0, mb.tree0);
    mb.nodeBox0 = at0.nodes;
    groupNodes(mb.initial.node.data(), mesh.node_num(), mb);
  }
  return mb.usable;
}

// Blocks per thread a long loop is cut into, so that a thread that comes
// late or is held up leaves its share to the others.
constexpr int kBlocksPerThread = 4;

int blocksOf(int nt, long long trips) {
  return nt <= 1 || trips <= kParallelTrips ? 1 : kBlocksPerThread * nt;
}

// Runs fn(lo, hi, block) over [0, count) cut into `blocks` contiguous blocks
// in order, shared out among nt threads (platform/work_share.h).
template <class Fn>
void forBlocks(int count, int blocks, int nt, const Fn& fn) {
  if (blocks <= 1) {
    fn(0, count, 0);
    return;
  }
  const long long n = count, b = blocks;
  shareWork(nt, blocks, [&](int k, int) {
    fn(static_cast<int>(n * k / b), static_cast<int>(n * (k + 1) / b), k);
  });
}

// Places the shape's mesh and fits its tree to the placement (the corner
// boxes only when edges are searched). The grouping is built on first use and
// again when the boxes show that the shape now holds another mesh: it never
// affects results, only time. Every point goes through placePoint, so a
// point comes out as if placed on its own. A body that has not moved since
// the last placement, bit for bit, keeps it.
void placeMesh(const Model& m, Work& w, int shape, int nt, bool edges) {
  const Shape& sh = m.shapes[shape];
  MeshBuf& mb = w.mesh[shape];
  const BodyMotion& b = w.body[sh.body];
  const double* R0 = m.bodies[sh.body].cg_pos;
  const int nn = sh.mesh->node_num(), ntri = sh.mesh->stl_num();
  // The tree places the centres while fitting its boxes to them; without
  // edges the few normals point contact reads are turned when needed, and
  // the turned normals take no room.
  mb.node.resize(3 * static_cast<size_t>(nn));
  mb.normal.resize(edges ? 3 * static_cast<size_t>(ntri) : 0);
  mb.center.resize(3 * static_cast<size_t>(ntri));
  const double* x0 = mb.initial.node.data();
  const double* n0 = mb.initial.normal.data();
  const double* c0 = mb.initial.center.data();
  double* x = mb.node.data();
  double* n = mb.normal.data();
  double* c = mb.center.data();
  double at[15];
  std::copy(R0, R0 + 3, at), std::copy(b.pos, b.pos + 3, at + 3), std::copy(b.A, b.A + 9, at + 6);
  const bool moved =
      !mb.placed || mb.placedEdges != edges || std::memcmp(at, mb.placedAt, sizeof at) != 0;
  mb.placed = false;
  if (moved)
    forBlocks(nn, blocksOf(nt, nn), nt, [&](int lo, int hi, int) {
      placePoints(x + 3 * lo, x0 + 3 * lo, hi - lo, R0, b.pos, b.A);
    });
  mb.view.node_num = nn;
  mb.view.stl_num = ntri;
  mb.view.tri = sh.mesh->tri.data();
  mb.view.radius = mb.initial.radius.data();
  mb.view.node = x;
  mb.view.center = c;
  mb.view.normal0 = n0;
  mb.view.turn = b.A;
  mb.view.firstEdges = mb.firstEdges.data();
  mb.view.normal = edges ? n : nullptr;
  TriangleTree& tree = mb.tree;
  if (!moved) {
    useTree(mb.view, tree);
    mb.placed = true;
    return;
  }
  if (edges)
    forBlocks(ntri, blocksOf(nt, ntri), nt,
              [&](int lo, int hi, int) { turnVectors(n + 3 * lo, n0 + 3 * lo, hi - lo, b.A); });
  if (tree.triangles() == ntri) {
    tree.beginSpheres();
    forBlocks(tree.leafCount(), blocksOf(nt, ntri), nt, [&](int lo, int hi, int) {
      tree.placeSphereLeaves(mb.view, c, c0, R0, b.pos, b.A, lo, hi);
    });
    tree.endSpheres();
    if (tree.stale()) tree.build(mb.view);
  } else {
    forBlocks(ntri, blocksOf(nt, ntri), nt, [&](int lo, int hi, int) {
      placePoints(c + 3 * lo, c0 + 3 * lo, hi - lo, R0, b.pos, b.A);
    });
    tree.build(mb.view);
  }
  if (edges) {
    tree.beginCorners();
    forBlocks(tree.leafCount(), blocksOf(nt, ntri), nt,
              [&](int lo, int hi, int) { tree.fitCornerLeaves(mb.view, lo, hi); });
    tree.endCorners();
  }
  useTree(mb.view, tree);
  mb.placed = true, mb.placedEdges = edges;
  std::copy(at, at + 15, mb.placedAt);
}

// Point contact of I's nodes in J's triangles. With more than one thread the
// nodes that reach J's box are cut into blocks, each searched into its own
// list; the lists are joined in block order, which is node order, so the
// items come out as in a sequential run.
void pointCall(Work& w, const PlacedMesh& I, const PlacedMesh& J, const BodyMotion& bi,
               const BodyMotion& bj, const ContactParams& p, int nt,
               std::vector<ContactItem>& out) {
  if (nt <= 1) {
    pointContact(I, J, bi, bj, p, 0, I.node_num, out);
    return;
  }
  std::vector<int>& near = w.near;
  nodesNear(I, J, near);
  const int count = static_cast<int>(near.size());
  const long long trips = static_cast<long long>(count) * (J.tree ? kTreeTrips : J.stl_num);
  if (trips <= kParallelTrips) {
    pointContactOf(I, J, bi, bj, p, near.data(), count, out);
    return;
  }
  const int blocks = blocksOf(nt, trips);
  if (static_cast<int>(w.perThread.size()) < blocks) w.perThread.resize(blocks);
  for (auto& list : w.perThread) list.clear();
  std::vector<std::vector<ContactItem>>& lists = w.perThread;
  forBlocks(count, blocks, nt, [&](int lo, int hi, int block) {
    pointContactOf(I, J, bi, bj, p, near.data() + lo, hi - lo, lists[block]);
  });
  for (const auto& list : lists) out.insert(out.end(), list.begin(), list.end());
}

// Edge contact of I's edges in J's triangles, split over the source triangles
// like pointCall over the nodes.
void edgeCall(Work& w, const PlacedMesh& I, const PlacedMesh& J, double k, int nt,
              std::vector<int>& src, std::vector<ContactItem>& out) {
  edgeSources(I, J, src);
  const int count = static_cast<int>(src.size());
  const long long trips = 3LL * count * (J.tree ? kTreeTrips : J.stl_num);
  if (nt <= 1 || trips <= kParallelTrips) {
    edgeContact(I, J, k, src.data(), count, out);
    return;
  }
  const int blocks = blocksOf(nt, trips);
  if (static_cast<int>(w.perThread.size()) < blocks) w.perThread.resize(blocks);
  for (auto& list : w.perThread) list.clear();
  std::vector<std::vector<ContactItem>>& lists = w.perThread;
  const int* first = src.data();
  forBlocks(count, blocks, nt, [&](int lo, int hi, int block) {
    edgeContact(I, J, k, first + lo, hi - lo, lists[block]);
  });
  for (const auto& list : lists) out.insert(out.end(), list.begin(), list.end());
}

// The four calls of one contact, into the pair's own list. nt > 1 spreads
// each search over threads.
void detectPair(const Model& m, const Settings& s, Work& w, int ci, int nt) {
  PairOut& o = w.pair[ci];
  o.items.clear();
  for (int& n : o.calls) n = 0;
  if (!o.ok) return;
  const Contact& c = m.contacts[ci];
  const ContactParams p = paramsOf(c, s);
  const PlacedMesh& Mi = w.mesh[c.i_shape].view;
  const PlacedMesh& Mj = w.mesh[c.j_shape].view;
  const BodyMotion& bi = w.body[c.i_body];
  const BodyMotion& bj = w.body[c.j_body];
  auto counted = [&](int call, auto&& run) {
    const size_t before = o.items.size();
    run();
    o.calls[call] = static_cast<int>(o.items.size() - before);
  };
  counted(0, [&] { pointCall(w, Mi, Mj, bi, bj, p, nt, o.items); });
  counted(1, [&] { pointCall(w, Mj, Mi, bj, bi, p, nt, o.items); });
  if (s.CONTACT_ALGORITHM == 1) {
    counted(2, [&] { edgeCall(w, Mi, Mj, p.k, nt, o.sources, o.items); });
    counted(3, [&] { edgeCall(w, Mj, Mi, p.k, nt, o.sources, o.items); });
  }
}

// Where every body stands and how it moves, from the state itself.
void placeBodies(const Model& m, const double* Y, Work& w) {
  const StateLayout layout{m.body_num()};
  w.body.resize(static_cast<size_t>(layout.nb));
  for (int b = 0; b < layout.nb; ++b) {
    BodyMotion& bm = w.body[b];
    const double* p = &Y[layout.p(b)];
    double wb[3];
    mat3FromEulerParameters(bm.A, p);
    omegaFromEulerRates(wb, p, &Y[layout.pd(b)]);
    mat3MulVec(bm.omega, bm.A, wb);
    for (int k = 0; k < 3; ++k) {
      bm.pos[k] = m.bodies[b].cg_pos[k] + Y[layout.r(b) + k];
      bm.vel[k] = Y[layout.v(b) + k];
    }
  }
}

// Marks the contacts whose shapes, bodies and meshes are all there (the rest
// compute nothing) and lists their shapes in w.used. Each mesh is checked
// once, however many pairs use it; meshes new to this scratch (a model's
// first evaluation) are derived first, side by side, a shape per chunk.
void findUsablePairs(const Model& m, Work& w, int nt) {
  const int nb = m.body_num(), ns = m.shape_num(), nc = m.contact_num();
  w.mesh.resize(static_cast<size_t>(ns));
  for (MeshBuf& mb : w.mesh) mb.state = 0;
  w.used.clear();
  const auto named = [&](int shape, int body) {
    return shape >= 0 && shape < ns && body >= 0 && body < nb && m.shapes[shape].body == body;
  };
  w.fresh.clear();
  for (int c = 0; c < nc && nt > 1; ++c)
    for (const auto& [shape, body] : {std::make_pair(m.contacts[c].i_shape, m.contacts[c].i_body),
                                      std::make_pair(m.contacts[c].j_shape, m.contacts[c].j_body)})
      if (named(shape, body) && m.shapes[shape].mesh && w.mesh[shape].state == 0 &&
          !derivedAlready(m.shapes[shape], w.mesh[shape]))
        w.mesh[shape].state = 2, w.fresh.push_back(shape);
  if (w.fresh.size() > 1)
    shareWork(nt, static_cast<int>(w.fresh.size()),
              [&](int k, int) { meshUsable(m.shapes[w.fresh[k]], w.mesh[w.fresh[k]]); });
  for (const int shape : w.fresh) w.mesh[shape].state = 0;
  auto meshOk = [&](int shape, int body) {
    if (!named(shape, body)) return false;
    MeshBuf& mb = w.mesh[shape];
    if (mb.state == 0) {
      mb.state = meshUsable(m.shapes[shape], mb) ? 1 : -1;
      if (mb.state == 1) w.used.push_back(shape);
    }
    return mb.state == 1;
  };
  w.pair.resize(static_cast<size_t>(nc));
  for (int c = 0; c < nc; ++c) {
    const Contact& ct = m.contacts[c];
    const bool iOk = meshOk(ct.i_shape, ct.i_body);
    const bool jOk = meshOk(ct.j_shape, ct.j_body);
    w.pair[c].ok = iOk && jOk;
  }
}

// Every pair's contacts into its own list, in the mode CONTACT_PARALLEL sets.
void detectPairs(const Model& m, const Settings& s, Work& w, int nt) {
  const int nc = m.contact_num();
  if (s.CONTACT_PARALLEL != 1) {
    for (int c = 0; c < nc; ++c) detectPair(m, s, w, c, nt);
    return;
  }
  // Pairs in parallel, each searched on one thread into its own list. Only
  // pairs whose meshes are close enough to touch are worth a thread; the
  // others find nothing at the cost of a few box tests.
  w.active.clear();
  for (int c = 0; c < nc; ++c) {
    if (!w.pair[c].ok) continue;
    const PlacedMesh& Mi = w.mesh[m.contacts[c].i_shape].view;
    const PlacedMesh& Mj = w.mesh[m.contacts[c].j_shape].view;
    if (!boundsApart(Mi.nodes, Mj.tris) || !boundsApart(Mj.nodes, Mi.tris) ||
        (s.CONTACT_ALGORITHM == 1 && !boundsApart(Mi.nodes, Mj.nodes)))
      w.active.push_back(c);
    else
      detectPair(m, s, w, c, 1);
  }
  const int na = static_cast<int>(w.active.size());
  if (nt > 1 && na > 1) {
    const std::vector<int>& active = w.active;
    shareWork(nt, na, [&](int a, int) { detectPair(m, s, w, active[a], 1); });
  } else {
    for (int a = 0; a < na; ++a) detectPair(m, s, w, w.active[a], 1);
  }
}


// ---- Point contact in the bodies' own frames ----
//
// A body's frame here is the initial configuration: a point x0 of it stands
// at x = pos + A (x0 - R0) (placePoint). Boxes and points are carried
// between frames with slack far above rounding and above what a rotation
// matrix that is not quite orthogonal (|A^T A - I| <= e) can bend, so every
// search visits a superset of the triangles the exact tests accept; those
// tests then read points placed exactly as a full placement would place
// them, and results stay those of the exhaustive loops, to the bit.

constexpr double kMaxDefect = 1e-4;  // beyond: place everything (placeMesh)
constexpr double kRelSlack = 1e-9;

double normInf(const double* v) {
  return std::max(std::fabs(v[0]), std::max(std::fabs(v[1]), std::fabs(v[2])));
}

// max |A^T A - I|; NaN when A is not finite.
double defect(const double* A) {
  double e = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double d = A[i] * A[j] + A[3 + i] * A[3 + j] + A[6 + i] * A[6 + j] - (i == j);
      e = std::isnan(d) ? d : std::max(e, std::fabs(d));
    }
  return e;
}

bool emptyBox(const Bound& b) {
  return !(b.lo[0] <= b.hi[0] && b.lo[1] <= b.hi[1] && b.lo[2] <= b.hi[2]);
}

Bound allSpace() {
  Bound b;
  for (int k = 0; k < 3; ++k) b.lo[k] = -HUGE_VAL, b.hi[k] = HUGE_VAL;
  return b;
}

Bound noSpace() {
  Bound b;
  for (int k = 0; k < 3; ++k) b.lo[k] = HUGE_VAL, b.hi[k] = -HUGE_VAL;
  return b;
}

// The global box holding every point of body-frame box b as placed, grown
// by what placing bends distances by, `reach` being the largest distance
// from R0 that matters in that frame.
Bound placedBox(const Bound& b, const double* R0, const BodyMotion& bm, double e, double reach) {
  if (emptyBox(b)) return noSpace();
  double c[3], h[3], gc[3];
  for (int k = 0; k < 3; ++k) c[k] = 0.5 * (b.lo[k] + b.hi[k]) - R0[k], h[k] = 0.5 * (b.hi[k] - b.lo[k]);
  if (!std::isfinite(c[0] + c[1] + c[2] + h[0] + h[1] + h[2] + reach)) return allSpace();
  mat3MulVec(gc, bm.A, c);
  const double slack = (10.0 * e + kRelSlack) * (normInf(c) + 3.0 * normInf(h) + reach) +
                       kRelSlack * (normInf(R0) + normInf(bm.pos));
  Bound g;
  for (int k = 0; k < 3; ++k) {
    const double gh = std::fabs(bm.A[3 * k]) * h[0] + std::fabs(bm.A[3 * k + 1]) * h[1] +
                      std::fabs(bm.A[3 * k + 2]) * h[2] + slack;
    g.lo[k] = bm.pos[k] + gc[k] - gh;
    g.hi[k] = bm.pos[k] + gc[k] + gh;
  }
  return g;
}

// The body-frame box holding every point of global box g, grown by what
// mapping a point back bends by, `reach` being the largest distance from R0
// that matters in that frame.
Bound bodyBox(const Bound& g, const double* R0, const BodyMotion& bm, double e, double reach) {
  if (emptyBox(g)) return noSpace();
  double c[3], h[3], bc[3];
  for (int k = 0; k < 3; ++k)
    c[k] = 0.5 * (g.lo[k] + g.hi[k]) - bm.pos[k], h[k] = 0.5 * (g.hi[k] - g.lo[k]);
  if (!std::isfinite(c[0] + c[1] + c[2] + h[0] + h[1] + h[2] + reach)) return allSpace();
  mat3TransposeMulVec(bc, c, bm.A);
  const double slack = (10.0 * e + kRelSlack) * (normInf(c) + 3.0 * normInf(h) + reach) +
                       kRelSlack * (normInf(R0) + normInf(bm.pos));
  Bound b;
  for (int k = 0; k < 3; ++k) {
    const double bh = std::fabs(bm.A[k]) * h[0] + std::fabs(bm.A[3 + k]) * h[1] +
                      std::fabs(bm.A[6 + k]) * h[2] + slack;
    b.lo[k] = R0[k] + bc[k] - bh;
    b.hi[k] = R0[k] + bc[k] + bh;
  }
  return b;
}

// Largest |x - R0| over box b.
double reachOf(const Bound& b, const double* R0) {
  if (emptyBox(b)) return 0.0;
  double r = 0.0;
  for (int k = 0; k < 3; ++k)
    r = std::max(r, std::max(std::fabs(b.lo[k] - R0[k]), std::fabs(b.hi[k] - R0[k])));
  return r;
}

inline bool inBox(const double* p, const Bound& b) {
  return p[0] >= b.lo[0] && p[0] <= b.hi[0] && p[1] >= b.lo[1] && p[1] <= b.hi[1] &&
         p[2] >= b.lo[2] && p[2] <= b.hi[2];
}

Frame frameOf(const Model& m, const Work& w, int shape) {
  const int body = m.shapes[shape].body;
  return {m.bodies[body].cg_pos, &w.body[body], defect(w.body[body].A)};
}

// Node P of I against J: the triangles of J that pass the sphere test, found
// among the leaves of J's body-frame tree that the node's region meets
// (`leaves`). The triangles the search reaches are placed into the thread's
// own room `at`, with the same arithmetic as a full placement: threads share
// nothing they write.
void nodeInBodyFrame(int node, const double* P, const MeshBuf& J, const std::vector<int>& leaves,
                     ThreadPlaced& at, unsigned epoch, const Frame& fj, double reachJ,
                     const ContactParams& p, const BodyMotion& bi, std::vector<int>& cand,
                     NodeOut& out) {
  out.hit = false;
  Bound box;
  for (int k = 0; k < 3; ++k) box.lo[k] = box.hi[k] = P[k];
  const Bound q = bodyBox(box, fj.R0, *fj.b, fj.e, reachJ);
  PlacedMesh v;
  v.node_num = J.from->node_num();
  v.stl_num = J.from->stl_num();
  v.tri = J.from->tri.data();
  v.radius = J.initial.radius.data();
  v.node = at.node.data();
  v.center = at.center.data();
  v.normal0 = J.initial.normal.data();
  v.turn = fj.b->A;
  cand.clear();
  J.tree0.spheresMeetingIn(leaves, q, [&](int t) {
    if (at.triAt[t] != epoch) {
      at.triAt[t] = epoch;
      placePoint(&at.center[3 * static_cast<size_t>(t)], &J.initial.center[3 * static_cast<size_t>(t)],
                 fj.R0, fj.b->pos, fj.b->A);
    }
    if (inSphere(P, v, t)) cand.push_back(t);
  });
  if (cand.empty()) return;
  std::sort(cand.begin(), cand.end());
  NodeTouch best;
  for (int t : cand) {
    for (int a = 0; a < 3; ++a) {
      const int n = v.tri[3 * t + a];
      if (at.nodeAt[n] == epoch) continue;
      at.nodeAt[n] = epoch;
      placePoint(&at.node[3 * static_cast<size_t>(n)], &J.initial.node[3 * static_cast<size_t>(n)],
                 fj.R0, fj.b->pos, fj.b->A);
    }
    nodeHit(P, v, t, p, best);
  }
  if (best.t < 0) return;
  pointContactItem(out.item, node, P, best.n, best.h, bi, *fj.b, p);
  out.hit = true;
}

// Fits shape's body-frame tree to what a node can touch within depth window
// d: a node that touches triangle t lies in t's sphere (|P - S| < 1.001 r)
// and, being at most d from its plane and inside it up to the barycentric
// tolerance and solve2's rounding, within d and that slack of its corners.
// The slack follows TriangleTree's corner boxes (edgeEntrySlack): a few
// 1e-9 of the triangle's side, more as it thins, none bounded for a needle;
// d is taken 0.1 % wider for normals turned by a rotation that is not quite
// orthogonal (kMaxDefect). Boxes only skip triangles that could not touch,
// so results are those of the sphere test alone.
void fitTreeToDepth(MeshBuf& mb, const StlMesh& mesh, double d) {
  mb.treeDepth = d;
  const double* x = mb.initial.node.data();
  const double* c = mb.initial.center.data();
  const double* r = mb.initial.radius.data();
  mb.tree0.fitLeaves([&](int t) {
    Bound b;
    if (!(d > 0.0)) {  // no node is ever deep enough
      for (int k = 0; k < 3; ++k) b.lo[k] = HUGE_VAL, b.hi[k] = -HUGE_VAL;
      return b;
    }
    const double lim = std::fabs(kSphereMargin * r[t]);
    for (int k = 0; k < 3; ++k) b.lo[k] = c[3 * t + k] - lim, b.hi[k] = c[3 * t + k] + lim;
    const double* V[3] = {&x[3 * mesh.tri[3 * t]], &x[3 * mesh.tri[3 * t + 1]],
                          &x[3 * mesh.tri[3 * t + 2]]};
    double a[3], e[3];
    vec3Sub(a, V[1], V[0]);
    vec3Sub(e, V[2], V[0]);
    const double a11 = vec3Dot(a, a), a22 = vec3Dot(e, e), a12 = vec3Dot(a, e);
    const double aa = a11 * a22, den = a22 * a11 - a12 * a12;
    double lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(V[0][k], std::min(V[1][k], V[2][k]));
      hi[k] = std::max(V[0][k], std::max(V[1][k], V[2][k]));
    }
    const double side = std::max(hi[0] - lo[0], std::max(hi[1] - lo[1], hi[2] - lo[2]));
    const double grow = d * 1.001 + side * (4e-9 + 1e-12 * aa / den);
    if (!(den >= 1e-10 * aa) || !std::isfinite(grow)) return b;  // the sphere alone
    for (int k = 0; k < 3; ++k) {
      b.lo[k] = std::max(b.lo[k], lo[k] - grow);
      b.hi[k] = std::min(b.hi[k], hi[k] + grow);
    }
    return b;
  });
}

// Point contact of every pair in the bodies' frames, into the pairs' lists
// as detectPair would. False, with nothing done, when some body's rotation
// is too far from orthogonal for the frames' slack: then the caller places
// everything.
//
// The work is split by candidates: one task per leaf of nodes that may reach
// the other mesh, tasks shared out in one go. A task tests its leaf against
// the other tree, places its nodes and searches them, and writes only its
// own outcomes; each thread sorts its outcomes by call and node when its
// share is done, and the calling thread merges the sorted lists, so results
// do not depend on the threads. Small searches stay on the calling thread.
bool pointsInBodyFrames(const Model& m, const Settings& s, Work& w, int nt) {
  for (int shape : w.used)
    if (!(defect(w.body[m.shapes[shape].body].A) <= kMaxDefect)) return false;
  // Each tree fitted to the widest depth window of the contacts it is in.
  w.depth.assign(w.mesh.size(), 0.0);
  for (int c = 0; c < m.contact_num(); ++c) {
    if (!w.pair[c].ok) continue;
    for (int shape : {m.contacts[c].i_shape, m.contacts[c].j_shape})
      if (m.contacts[c].d > w.depth[shape]) w.depth[shape] = m.contacts[c].d;
  }
  for (int shape : w.used)
    if (w.depth[shape] != w.mesh[shape].treeDepth)
      fitTreeToDepth(w.mesh[shape], *m.shapes[shape].mesh, w.depth[shape]);
  const int nc = m.contact_num();
  w.calls.resize(2 * static_cast<size_t>(nc));
  w.tasks.clear();
  size_t work = 0;  // nodes in the tasks' leaves
  for (int c = 0; c < nc; ++c) {
    PairOut& o = w.pair[c];
    o.items.clear();
    for (int& n : o.calls) n = 0;
    for (int call = 0; call < 2; ++call) {
      PointCall& k = w.calls[2 * c + call];
      k.pair = c;
      k.call = call;
      if (!o.ok) continue;
      const Contact& ct = m.contacts[c];
      k.I = call == 0 ? ct.i_shape : ct.j_shape;
      k.J = call == 0 ? ct.j_shape : ct.i_shape;
      k.bi = call == 0 ? ct.i_body : ct.j_body;
      k.bj = call == 0 ? ct.j_body : ct.i_body;
      const MeshBuf& I = w.mesh[k.I];
      const MeshBuf& J = w.mesh[k.J];
      k.fi = frameOf(m, w, k.I), k.fj = frameOf(m, w, k.J);
      // Bodies apart: their boxes tell at once.
      k.reachJ = reachOf(J.sphereBox0, k.fj.R0);
      k.reachI = reachOf(I.nodeBox0, k.fi.R0);
      const Bound trisJ = placedBox(J.tree0.sphereRoot(), k.fj.R0, *k.fj.b, k.fj.e, k.reachJ);
      if (boundsApart(placedBox(I.nodeBox0, k.fi.R0, *k.fi.b, k.fi.e, 0.0), trisJ)) continue;
      // I's nodes that may reach J's triangles, in I's frame.
      k.nearI = bodyBox(trisJ, k.fi.R0, *k.fi.b, k.fi.e, k.reachI);
      for (size_t g = 0; g < I.nodeGroups.size();) {
        const NodeGroup& ng = I.nodeGroups[g];
        if (boundsApart(ng.box, k.nearI)) {
          g = static_cast<size_t>(ng.next);
          continue;
        }
        if (ng.leaf >= 0) {
          const NodeLeaf& nl = I.nodeLeaves[ng.leaf];
          w.tasks.push_back({2 * c + call, ng.leaf});
          work += static_cast<size_t>(nl.hi - nl.lo);
        }
        ++g;
      }
    }
  }
  const int tasks = static_cast<int>(w.tasks.size());
  const bool share = work > kShareNodes && nt > 1;
  const size_t ranks = share ? static_cast<size_t>(nt) : 1;
  for (int shape : w.used) {
    MeshBuf& mb = w.mesh[shape];
    const size_t nn = static_cast<size_t>(mb.from->node_num()), ntri = static_cast<size_t>(mb.from->stl_num());
    if (mb.byThread.size() < ranks) mb.byThread.resize(ranks);
    for (size_t r = 0; r < ranks; ++r) {
      ThreadPlaced& at = mb.byThread[r];
      if (at.triAt.size() == ntri && at.nodeAt.size() == nn) continue;
      at.triAt.assign(ntri, 0u), at.nodeAt.assign(nn, 0u);
      at.center.resize(3 * ntri), at.node.resize(3 * nn);
    }
  }
  if (++w.epoch == 0) {
    for (MeshBuf& mb : w.mesh)
      for (ThreadPlaced& at : mb.byThread) {
        std::fill(at.triAt.begin(), at.triAt.end(), 0u);
        std::fill(at.nodeAt.begin(), at.nodeAt.end(), 0u);
      }
    w.epoch = 1;
  }
  const unsigned epoch = w.epoch;
  if (w.rankOut.size() < ranks) w.rankOut.resize(ranks);
  for (RankOut& r : w.rankOut) r.hits.clear(), r.order.clear();
  const auto search = [&](int task, int rank) {
    thread_local std::vector<int> cand, leaves;
    LeafTask& lt = w.tasks[task];
    auto& out = w.rankOut[rank].hits;
    const PointCall& k = w.calls[lt.call];
    const MeshBuf& I = w.mesh[k.I];
    MeshBuf& J = w.mesh[k.J];
    const NodeLeaf& leaf = I.nodeLeaves[lt.leaf];
    // A leaf whose box, carried into J's frame, meets no triangle's sphere
    // box holds no node that could touch: skipped whole. The box is widened
    // by far more than rounding, so only hopeless leaves go.
    Bound inJ = bodyBox(placedBox(leaf.box, k.fi.R0, *k.fi.b, k.fi.e, k.reachI), k.fj.R0, *k.fj.b,
                        k.fj.e, k.reachJ);
    for (int a = 0; a < 3; ++a) {
      const double wide = 1e-8 * (std::fabs(inJ.lo[a]) + std::fabs(inJ.hi[a]));
      inJ.lo[a] -= wide, inJ.hi[a] += wide;
    }
    // Every node's box in J's frame lies inside inJ: its search looks only
    // at the leaves of J's tree that inJ meets.
    J.tree0.sphereLeavesMeeting(inJ, leaves);
    if (leaves.empty()) return;
    const ContactParams p = paramsOf(m.contacts[k.pair], s);
    const double* x0 = I.initial.node.data();
    NodeOut o;
    for (int i = leaf.lo; i < leaf.hi; ++i) {
      const int q = I.nodeOrder[i];
      if (!inBox(&x0[3 * static_cast<size_t>(q)], k.nearI)) continue;
      double P[3];
      placePoint(P, &x0[3 * static_cast<size_t>(q)], k.fi.R0, k.fi.b->pos, k.fi.b->A);
      nodeInBodyFrame(q, P, J, leaves, J.byThread[rank], epoch, k.fj, k.reachJ, p, w.body[k.bi],
                      cand, o);
      if (o.hit) out.emplace_back(lt.call, q, o.item);
    }
  };
  // Each thread sorts what it found, side by side; the lists are then merged.
  const auto sortRank = [&](int rank) {
    RankOut& o = w.rankOut[rank];
    o.order.clear();
    for (size_t h = 0; h < o.hits.size(); ++h)
      o.order.emplace_back(static_cast<uint64_t>(std::get<0>(o.hits[h])) << 32 |
                               static_cast<uint32_t>(std::get<1>(o.hits[h])),
                           static_cast<uint64_t>(rank) << 32 | h);
    std::sort(o.order.begin(), o.order.end());
  };
  if (!share) {
    for (int t = 0; t < tasks; ++t) search(t, 0);
    sortRank(0);
  } else {
    shareWork(nt, tasks, search, sortRank);
  }
  // Each call's contacts in node order, as a scan of every node finds them.
  w.hits.clear();
  for (const RankOut& r : w.rankOut) {
    w.merged.resize(w.hits.size() + r.order.size());
    std::merge(w.hits.begin(), w.hits.end(), r.order.begin(), r.order.end(), w.merged.begin());
    std::swap(w.hits, w.merged);
  }
  for (const auto& [key, at] : w.hits) {
    const PointCall& k = w.calls[key >> 32];
    w.pair[k.pair].items.push_back(std::get<2>(w.rankOut[at >> 32].hits[at & 0xffffffffu]));
    ++w.pair[k.pair].calls[k.call];
  }
  return true;
}

// How much a tangential force at point P accelerates that point of body b, at
// most: w = 1/m + |P - cg|^2 / I_min; 0 for a body held by a ground joint.
double pointMobility(const Model& m, const Work& w, int b, const double* P) {
  if (w.held[b]) return 0.0;
  const Body& body = m.bodies[b];
  const double Imin = std::min(body.inertia[0], std::min(body.inertia[1], body.inertia[2]));
  if (!(body.mass > 0.0) || !(Imin > 0.0)) return 0.0;
  double r[3];
  vec3Sub(r, P, w.body[b].pos);
  return 1.0 / body.mass + vec3Dot(r, r) / Imin;
}

// What the friction dampers ask of the step (FrictionBound). A point of
// slope b (ContactItem::slope) between two bodies decays their relative
// sliding at up to b (w_pen + w_struck) (pointMobility), and the rates of the
// points on one body add up (a bound on the largest eigenvalue of the sum):
//   lambda = max over free bodies of sum over its points of b (w_pen + w_struck),
// over the points slower than v_d for `slow`, over all for `all`. Friction
// slows a point by at most myuS |F_el| w = b w v_s / 1.5 per point of the
// two bodies, so a point at speed v > v_d needs at least
//   (v - v_d) / (v_s / 1.5 (all_pen + all_struck))
// to reach v_d (`reach`; all_b the sum of body b). A held body counts as
// not moving.
FrictionBound frictionBound(const Model& m, const Settings& s, Work& w) {
  const double vs = s.stiction_speed, vd = std::max(s.sliding_speed, vs);
  w.rate.assign(2 * w.body.size(), 0.0);  // slow, then all, per body
  double* slow = w.rate.data();
  double* all = slow + w.body.size();
  w.held.assign(w.body.size(), 0);
  for (const Joint& J : m.joints)
    if (J.kind == JointType::Ground && J.i_lc >= 0 && J.i_lc < m.frame_num() &&
        m.frames[J.i_lc].body >= 0 && m.frames[J.i_lc].body < m.body_num())
      w.held[m.frames[J.i_lc].body] = 1;
  // Visits every point with friction as (item, penetrating body, struck body).
  const auto eachPoint = [&](auto&& visit) {
    for (int c = 0; c < m.contact_num(); ++c) {
      const PairOut& o = w.pair[c];
      if (!o.ok) continue;
      const int body[2] = {m.contacts[c].i_body, m.contacts[c].j_body};
      size_t k = 0;
      for (int call = 0; call < 4; ++call)
        for (int q = 0; q < o.calls[call]; ++q, ++k)
          if (o.items[k].slope > 0.0) visit(o.items[k], body[call % 2], body[1 - call % 2]);
    }
  };
  eachPoint([&](const ContactItem& it, int pen, int struck) {
    const double lambda =
        it.slope * (pointMobility(m, w, pen, it.pos) + pointMobility(m, w, struck, it.pos));
    for (int b : {pen, struck})
      if (!w.held[b]) all[b] += lambda, slow[b] += it.speed < vd ? lambda : 0.0;
  });
  FrictionBound f;
  for (size_t b = 0; b < w.body.size(); ++b)
    f.slow = std::max(f.slow, slow[b]), f.all = std::max(f.all, all[b]);
  eachPoint([&](const ContactItem& it, int pen, int struck) {
    const double slowing = vs / 1.5 * (all[pen] + all[struck]);
    if (it.speed >= vd && slowing > 0.0) f.reach = std::min(f.reach, (it.speed - vd) / slowing);
  });
  return f;
}

// Every contact of state Y, into w.pair.
void detectAll(const Model& m, const Settings& s, const double* Y, Work& w, int nt, bool placeAll) {
  placeBodies(m, Y, w);
  findUsablePairs(m, w, nt);
  if (s.CONTACT_ALGORITHM == 1 || placeAll || !pointsInBodyFrames(m, s, w, nt)) {
    for (int shape : w.used) placeMesh(m, w, shape, nt, s.CONTACT_ALGORITHM == 1);
    detectPairs(m, s, w, nt);
  }
}

bool anchorBefore(const StickAnchor& a, const StickAnchor& b) {
  return std::tie(a.contact, a.side, a.node) < std::tie(b.contact, b.side, b.node);
}

// The anchor of point `node` of side `side` of contact c, or null.
const StickAnchor* findAnchor(const std::vector<StickAnchor>& list, int c, int side, int node) {
  StickAnchor key;
  key.contact = c, key.side = side, key.node = node;
  const auto it = std::lower_bound(list.begin(), list.end(), key, anchorBefore);
  if (it == list.end() || anchorBefore(key, *it)) return nullptr;
  return &*it;
}

// Point P less the anchor `at` of body b, placed.
void anchorOffset(double* off, const double* P, const BodyMotion& b, const double* at) {
  double X[3];
  mat3MulVec(X, b.A, at);
  vec3Add(X, X, b.pos);
  vec3Sub(off, P, X);
}

// Puts the kept detection into w.pair when it was found with every body
// where it stands at state Y (the same positions and rotation matrices, bit
// for bit), for the same model and settings; false otherwise. Which nodes
// and edges touch, where and how deep, depends on the placement alone; the
// point contacts' forces also on the velocities, so they are made again from
// the kept point, normal and depth with the bodies' motions at Y, as the
// search would have made them.
bool takeKept(const Model& m, const Settings& s, const double* Y, Work& w,
              const KeptDetection* kept) {
  if (!kept || kept->model != &m || kept->settings != &s ||
      kept->pair.size() != static_cast<size_t>(m.contact_num()))
    return false;
  placeBodies(m, Y, w);
  if (kept->body.size() != w.body.size()) return false;
  for (size_t b = 0; b < w.body.size(); ++b)
    if (std::memcmp(kept->body[b].pos, w.body[b].pos, sizeof w.body[b].pos) != 0 ||
        std::memcmp(kept->body[b].A, w.body[b].A, sizeof w.body[b].A) != 0)
      return false;
  w.pair.resize(kept->pair.size());
  for (size_t c = 0; c < kept->pair.size(); ++c) {
    const KeptDetection::Pair& k = kept->pair[c];
    PairOut& o = w.pair[c];
    o.ok = k.ok;
    std::copy(k.calls, k.calls + 4, o.calls);
    o.items.assign(k.items.begin(), k.items.end());
    const Contact& ct = m.contacts[c];
    const ContactParams p = paramsOf(ct, s);
    size_t q = 0;
    for (int call = 0; call < 2; ++call) {
      const BodyMotion& pen = w.body[call == 0 ? ct.i_body : ct.j_body];
      const BodyMotion& struck = w.body[call == 0 ? ct.j_body : ct.i_body];
      for (int n = 0; n < o.calls[call]; ++n, ++q) {
        ContactItem& it = o.items[q];
        const double P[3] = {it.pos[0], it.pos[1], it.pos[2]};
        const double nrm[3] = {it.normal[0], it.normal[1], it.normal[2]};
        pointContactItem(it, it.node, P, nrm, it.depth, pen, struck, p);
      }
    }
  }
  return true;
}

void keepDetection(const Model& m, const Settings& s, const Work& w, KeptDetection& keep) {
  keep.model = &m, keep.settings = &s;
  keep.body.assign(w.body.begin(), w.body.end());
  keep.pair.resize(static_cast<size_t>(m.contact_num()));
  for (size_t c = 0; c < keep.pair.size(); ++c) {
    KeptDetection::Pair& k = keep.pair[c];
    const PairOut& o = w.pair[c];
    k.ok = o.ok;
    std::copy(o.calls, o.calls + 4, k.calls);
    k.items.assign(o.items.begin(), o.items.end());
  }
}

bool contactLoads(const Model& m, const Settings& s, const double* Y, double* F, double* N, int row,
                  std::vector<ContactRecord>& records, bool placeAll, FrictionBound* friction,
                  const std::vector<StickAnchor>* anchors, const KeptDetection* kept) {
  const int nc = m.contact_num();
  if (friction) *friction = FrictionBound{};
  if (nc == 0) return false;
  const int nt = std::max(1, s.N_THREADS);
  Work& w = t_work;
  if (!(s.stick_stiffness > 0.0)) anchors = nullptr;

  if (placeAll || !takeKept(m, s, Y, w, kept)) detectAll(m, s, Y, w, nt, placeAll);
  // Forces, torques and records on the calling thread, pair by pair and item
  // by item in the order found: the sums and the record order are then the
  // same whatever the thread count and mode.
  bool any = false;
  for (int c = 0; c < nc; ++c) {
    PairOut& o = w.pair[c];
    if (!o.ok || o.items.empty()) continue;
    any = true;
    const int body[2] = {m.contacts[c].i_body, m.contacts[c].j_body};
    const ContactParams p = paramsOf(m.contacts[c], s);
    const double kt = s.stick_stiffness * p.k, ct = s.stick_stiffness * p.c;
    double Fs[2][3] = {{0, 0, 0}, {0, 0, 0}}, Ns[2][3] = {{0, 0, 0}, {0, 0, 0}};
    size_t k = 0;
    for (int call = 0; call < 4; ++call) {
      // Calls 0 and 2 have the i mesh penetrating, 1 and 3 the j mesh.
      const int pen = call % 2, struck = 1 - pen;
      const BodyMotion& bp = w.body[body[pen]];
      const BodyMotion& bs = w.body[body[struck]];
      for (int q = 0; q < o.calls[call]; ++q, ++k) {
        ContactItem& it = o.items[k];
        double force[3] = {it.force[0], it.force[1], it.force[2]};
        const StickAnchor* a =
            anchors && call < 2 ? findAnchor(*anchors, c, call, it.node) : nullptr;
        if (a) {
          double off[3], Ft[3];
          anchorOffset(off, it.pos, bs, a->at);
          anchoredFriction(it, off, kt, ct, p, Ft);
          vec3Add(force, it.push, Ft);
          it.slope = 0.0;  // the anchor, not the law's damper, holds the point
        }
        double neg[3], sp[3], ss[3], tq[3];
        vec3Neg(neg, force);
        vec3Add(Fs[pen], Fs[pen], force);
        vec3Add(Fs[struck], Fs[struck], neg);
        vec3Cross(tq, vec3Sub(sp, it.pos, bp.pos), force);
        vec3Add(Ns[pen], Ns[pen], mat3TransposeMulVec(tq, tq, bp.A));
        vec3Cross(tq, vec3Sub(ss, it.pos, bs.pos), neg);
        vec3Add(Ns[struck], Ns[struck], mat3TransposeMulVec(tq, tq, bs.A));
        ContactRecord r;
        r.ti = row;
        for (int e = 0; e < 3; ++e) r.pos[e] = it.pos[e], r.val[e] = force[e];
        records.push_back(r);
      }
    }
    for (int side = 0; side < 2; ++side)
      for (int a = 0; a < 3; ++a) {
        F[3 * body[side] + a] += Fs[side][a];
        N[3 * body[side] + a] += Ns[side][a];
      }
  }
  if (friction && any && s.stiction_speed > 0.0) *friction = frictionBound(m, s, w);
  return any;
}

}  // namespace

void moveStickAnchors(const Model& m, const Settings& s, const double* Y,
                      std::vector<StickAnchor>& anchors, KeptDetection* keep) {
  std::vector<StickAnchor> next;
  if (keep) keep->clear();
  if (m.contact_num() > 0 && s.stick_stiffness > 0.0) {
    const int nt = std::max(1, s.N_THREADS);
    Work& w = t_work;
    detectAll(m, s, Y, w, nt, false);
    if (keep) keepDetection(m, s, w, *keep);
    for (int c = 0; c < m.contact_num(); ++c) {
      const PairOut& o = w.pair[c];
      if (!o.ok) continue;
      const int body[2] = {m.contacts[c].i_body, m.contacts[c].j_body};
      const ContactParams p = paramsOf(m.contacts[c], s);
      const double kt = s.stick_stiffness * p.k, ct = s.stick_stiffness * p.c;
      size_t k = 0;
      for (int side = 0; side < 2; ++side) {
        const BodyMotion& bs = w.body[body[1 - side]];
        for (int q = 0; q < o.calls[side]; ++q, ++k) {
          const ContactItem& it = o.items[k];
          const StickAnchor* old = findAnchor(anchors, c, side, it.node);
          double off[3] = {0, 0, 0}, Ft[3];
          if (old) anchorOffset(off, it.pos, bs, old->at);
          const bool sticks = anchoredFriction(it, off, kt, ct, p, Ft);
          if (old && sticks) {
            next.push_back(*old);
            continue;
          }
          // Where the point stands, or as far behind it as the cap lets the
          // spring pull: -kt s = Ft.
          StickAnchor a;
          a.contact = c, a.side = side, a.node = it.node;
          double X[3], r[3];
          for (int e = 0; e < 3; ++e) X[e] = sticks || !(kt > 0.0) ? it.pos[e] : it.pos[e] + Ft[e] / kt;
          mat3TransposeMulVec(a.at, vec3Sub(r, X, bs.pos), bs.A);
          next.push_back(a);
        }
      }
    }
    std::sort(next.begin(), next.end(), anchorBefore);
  }
  anchors.swap(next);
}

bool applyContactWithRate(const Model& m, const Settings& s, const double* Y, double* F, double* N,
                          int row, std::vector<ContactRecord>& records, FrictionBound& friction,
                          const std::vector<StickAnchor>* anchors, const KeptDetection* kept) {
  return contactLoads(m, s, Y, F, N, row, records, false, &friction, anchors, kept);
}

bool applyContact(const Model& m, const Settings& s, const double* Y, double* F, double* N, int row,
                  std::vector<ContactRecord>& records) {
  return contactLoads(m, s, Y, F, N, row, records, false, nullptr, nullptr, nullptr);
}

bool applyContactPlacingAll(const Model& m, const Settings& s, const double* Y, double* F,
                            double* N, int row, std::vector<ContactRecord>& records) {
  return contactLoads(m, s, Y, F, N, row, records, true, nullptr, nullptr, nullptr);
}

}  // namespace orv
