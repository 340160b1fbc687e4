#include "files/node_merge.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace orv {

namespace {

// Corners closer than this on every axis are one node.
constexpr double kMergeTol = 1e-9;

// Hash grid behind mergeNodes. A node is listed in every cell touched by its
// box from x - tol to x + tol on each axis, so a corner looks in its own cell
// only. A value's cell comes from one non-decreasing map per axis,
// v -> trunc(min((v - lo) * inv, cap)). A node x that matches corner p has
// x - tol < p < x + tol exactly (a rounded difference below tol means the
// exact one is), so the rounded box ends fl(x - tol) <= p <= fl(x + tol), and
// the map keeps that order: p's cell is one of the node's whatever the
// rounding, for any cell size. The size only sets the speed: well above 2 tol,
// so a node mostly sits in one cell and at most in two per axis, and growing
// with the extent so that indices stay within 2^30 + 2 and keys are three
// 32-bit integers.
class NodeGrid {
 public:
  NodeGrid(const double* corners, size_t count) {
    double x0 = HUGE_VAL, y0 = HUGE_VAL, z0 = HUGE_VAL;
    double x1 = -HUGE_VAL, y1 = -HUGE_VAL, z1 = -HUGE_VAL;
    for (size_t k = 0; k < count; ++k) {
      const double* p = corners + 3 * k;
      if (!isFinite(p)) continue;
      x0 = p[0] < x0 ? p[0] : x0;
      y0 = p[1] < y0 ? p[1] : y0;
      z0 = p[2] < z0 ? p[2] : z0;
      x1 = p[0] > x1 ? p[0] : x1;
      y1 = p[1] > y1 ? p[1] : y1;
      z1 = p[2] > z1 ? p[2] : z1;
    }
    double lo[3] = {x0, y0, z0}, hi[3] = {x1, y1, z1};
    for (int a = 0; a < 3; ++a) {
      if (lo[a] > hi[a]) lo[a] = hi[a] = 0.0;  // no finite corner
      // Halves, as the extent itself may overflow.
      const double halfExtent = hi[a] * 0.5 - lo[a] * 0.5;
      const double size = std::fmax(kCellMin, halfExtent * 0x1p-29);
      lo_[a] = lo[a] - 0.382 * size;
      inv_[a] = 1.0 / size;
    }
    size_t cap = 64;
    while (cap < count / 2) cap *= 2;
    slots_.assign(cap, Slot{});
    shift_ = 64 - bitsFor(cap);
    entries_.reserve(count / 2);
  }

  static bool isFinite(const double* p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
  }

  // Smallest node index matching finite corner p, or -1.
  int find(const double* p, const double* nodes) const {
    const Slot* s = lookup(cell(0, p[0]), cell(1, p[1]), cell(2, p[2]));
    if (!s) return -1;
    // A cell lists its nodes newest first: the last match is the first node.
    int best = -1;
    for (int32_t e = s->head; e >= 0; e = entries_[e].next) {
      const int n = entries_[e].node;
      const double* c = nodes + 3 * static_cast<size_t>(n);
      if (std::fabs(c[0] - p[0]) < kMergeTol && std::fabs(c[1] - p[1]) < kMergeTol &&
          std::fabs(c[2] - p[2]) < kMergeTol)
        best = n;
    }
    return best;
  }

  // Lists node n, at finite x, in every cell its box touches.
  void insert(const double* x, int n) {
    uint32_t from[3], to[3];
    for (int a = 0; a < 3; ++a) {
      from[a] = cell(a, x[a] - kMergeTol);
      to[a] = cell(a, x[a] + kMergeTol);
    }
    for (uint32_t i = from[0]; i <= to[0]; ++i)
      for (uint32_t j = from[1]; j <= to[1]; ++j)
        for (uint32_t k = from[2]; k <= to[2]; ++k) {
          Slot& s = slotFor(i, j, k);
          entries_.push_back(Entry{n, s.head});
          s.head = static_cast<int32_t>(entries_.size() - 1);
        }
  }

 private:
  struct Slot {
    uint32_t x = 0, y = 0, z = 0;
    int32_t head = -1;  // -1: free slot
  };
  struct Entry {
    int32_t node, next;
  };
  // Meshes tend to sit on round coordinates; a cell size and origin off any
  // round grid keep their nodes away from cell faces, hence in one cell.
  static constexpr double kCellMin = 37.7 * kMergeTol;
  static constexpr double kCellCap = 0x1p30 + 2;  // reached only when v - lo overflows

  uint32_t cell(int a, double v) const {
    const double s = (v - lo_[a]) * inv_[a];
    return static_cast<uint32_t>(static_cast<int32_t>(s < kCellCap ? s : kCellCap));
  }
  static int bitsFor(size_t n) {
    int b = 0;
    while ((size_t{1} << b) < n) ++b;
    return b;
  }
  size_t home(uint32_t x, uint32_t y, uint32_t z) const {
    uint64_t h = x * 0x9E3779B97F4A7C15ull ^ y * 0xC2B2AE3D27D4EB4Full ^ z * 0x165667B19E3779F9ull;
    h ^= h >> 32;
    return static_cast<size_t>((h * 0xD6E8FEB86659FD93ull) >> shift_);
  }
  const Slot* lookup(uint32_t x, uint32_t y, uint32_t z) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = home(x, y, z);; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (s.head < 0) return nullptr;
      if (s.x == x && s.y == y && s.z == z) return &s;
    }
  }
  Slot& slotFor(uint32_t x, uint32_t y, uint32_t z) {
    size_t mask = slots_.size() - 1;
    size_t i = home(x, y, z);
    for (;; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.head < 0) break;
      if (s.x == x && s.y == y && s.z == z) return s;
    }
    if (2 * (used_ + 1) > slots_.size()) {  // keep probes short: at most half full
      grow();
      mask = slots_.size() - 1;
      for (i = home(x, y, z); slots_[i].head >= 0; i = (i + 1) & mask) {
      }
    }
    ++used_;
    slots_[i].x = x;
    slots_[i].y = y;
    slots_[i].z = z;
    return slots_[i];
  }
  void grow() {
    std::vector<Slot> old(2 * slots_.size());
    old.swap(slots_);
    --shift_;
    const size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
      if (s.head < 0) continue;
      size_t i = home(s.x, s.y, s.z);
      while (slots_[i].head >= 0) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }

  double lo_[3], inv_[3];
  std::vector<Slot> slots_;
  std::vector<Entry> entries_;
  size_t used_ = 0;
  int shift_ = 0;
};

}  // namespace

void mergeNodes(const std::vector<double>& corners, std::vector<double>& nodes,
                std::vector<int>& cornerNode) {
  const size_t count = corners.size() / 3;
  nodes.clear();
  nodes.reserve(3 * count);  // pages never written cost nothing; growing would copy
  cornerNode.resize(count);
  NodeGrid grid(corners.data(), count);
  for (size_t k = 0; k < count; ++k) {
    const double* p = &corners[3 * k];
    // Nothing is within the tolerance of an inf or NaN, nor it of anything.
    const bool finite = NodeGrid::isFinite(p);
    int n = finite ? grid.find(p, nodes.data()) : -1;
    if (n < 0) {
      n = static_cast<int>(nodes.size() / 3);
      nodes.insert(nodes.end(), p, p + 3);
      if (finite) grid.insert(p, n);
    }
    cornerNode[k] = n;
  }
}

}  // namespace orv
