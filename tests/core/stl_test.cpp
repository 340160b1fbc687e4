#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "contact/placed_mesh.h"
#include "files/node_merge.h"
#include "files/stl_reader.h"
#include "model/model.h"
#include "test_util.h"

using namespace orv;
using orvtest::has;

namespace {

using V = std::vector<double>;
using P = std::array<double, 3>;

std::string facet(P a, P b, P c) {
  char s[512];
  std::snprintf(s, sizeof s,
                "facet normal 0 0 1\n outer loop\n  vertex %.17g %.17g %.17g\n"
                "  vertex %.17g %.17g %.17g\n  vertex %.17g %.17g %.17g\n endloop\nendfacet\n",
                a[0], a[1], a[2], b[0], b[1], b[2], c[0], c[1], c[2]);
  return s;
}
std::string solid(const std::string& facets) { return "solid part\n" + facets + "endsolid part\n"; }

// A model with one frame and STL shapes added on demand; console goes to `log`.
struct StlCase {
  orvtest::ConsoleCapture log;
  std::string dir = orvtest::makeTempDir();
  Model m;
  StlCase() { m.frames.resize(1); }
  int shape(double unit = 1.0, int sign = 1, int lc = -1) {
    Shape& s = m.shapes.emplace_back();
    s.unit = unit, s.normal_sign = sign, s.lc = lc;
    return m.shape_num() - 1;
  }
  bool read(int sh, const std::string& text) {
    std::string path = dir + "/m" + std::to_string(sh) + ".stl";
    orvtest::writeFile(path, text);
    return readStl(m, sh, path);
  }
};

void expectNear(const V& got, const V& want, double tol = 1e-12) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << i;
}

bool sameBits(const V& a, const V& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The merging rule as written: the first node, in node order, closer than
// 1e-9 on every axis. Compared bitwise, for -0.0.
void expectMergeLikeScan(const V& corners) {
  V nodes, want;
  std::vector<int> got, wantNode;
  for (size_t k = 0; k < corners.size(); k += 3) {
    size_t n = 0;
    auto near = [&](int a) { return std::fabs(want[3 * n + a] - corners[k + a]) < 1e-9; };
    while (n < want.size() / 3 && !(near(0) && near(1) && near(2))) ++n;
    if (n == want.size() / 3) want.insert(want.end(), &corners[k], &corners[k] + 3);
    wantNode.push_back(static_cast<int>(n));
  }
  mergeNodes(corners, nodes, got);
  EXPECT_EQ(got, wantNode);
  EXPECT_TRUE(sameBits(nodes, want));
}

}  // namespace

TEST(StlMerge, MatchesTheScan) {
  std::mt19937 rng(7);
  // Clusters whose per-axis differences fall a few ulps either side of the
  // tolerance and of multiples of a quarter of it, over several grid cells;
  // a far corner makes the cells coarse.
  for (double base : {0.0, 3e-9, -1.0, 1e6, -1e6 - 0.5, 4.5e15, 1e60}) {
    V pool;  // sorted
    for (int q = -200; q <= 200; ++q) {
      double v = std::nextafter(std::nextafter(base + q * 0.25e-9, -HUGE_VAL), -HUGE_VAL);
      for (int u = 0; u < 5; ++u, v = std::nextafter(v, HUGE_VAL)) pool.push_back(v);
    }
    if (base == 0.0) pool.push_back(-0.0);
    const int n = static_cast<int>(pool.size());
    for (double far : {0.0, 1e9}) {
      V corners = far != 0.0 ? V{far, far, far} : V{};
      int seed[3];
      for (int k = 0; k < 2400; ++k) {
        if (k % 40 == 0)
          for (int& s : seed) s = static_cast<int>(rng() % pool.size());  // a new cluster
        const int axis = static_cast<int>(rng() % 3);  // some corners off on one axis only
        for (int a = 0; a < 3; ++a) {
          const bool off = k % 4 != 0 && (k % 2 == 0 || a == axis);
          const int i = seed[a] + (off ? static_cast<int>(rng() % 61) - 30 : 0);
          corners.push_back(pool[std::clamp(i, 0, n - 1)]);
        }
      }
      SCOPED_TRACE(testing::Message() << "boundary " << base << " far " << far);
      expectMergeLikeScan(corners);
    }
  }
}

// A node and a corner just inside the tolerance on one axis, swept in steps
// of 1e-12 over 8e-8 (two grid cells, fixed by the corner at 0): wherever the
// cell faces fall, they merge, and the node is still found after the table
// has grown for the pairs that came after it.
TEST(StlMerge, MergesJustInsideTheToleranceWhereverCellFacesFall) {
  for (int k = 0; k < 24; ++k) {  // axis, side, part
    const int axis = k % 3, part = k / 6;
    V corners = {0, 0, 0}, nodes;
    std::vector<int> want = {0}, got;
    for (int i = 0; i < 20000; ++i) {
      const double x = 1e-6 + (part * 20000 + i) * 1e-12;
      double p = x + (k / 3 % 2 ? 1e-9 : -1e-9);
      while (!(std::fabs(p - x) < 1e-9)) p = std::nextafter(p, x);
      for (double v : {x, p}) {
        double c[3] = {0, 0, 0};
        c[axis] = v, c[(axis + 1) % 3] = 1e-3 * i;  // pairs apart
        corners.insert(corners.end(), c, c + 3);
        want.push_back(1 + i);
      }
    }
    const V once = corners;  // each x met again, once the table has grown
    for (int i = 0; i < 20000; ++i) {
      corners.insert(corners.end(), once.begin() + 3 + 6 * i, once.begin() + 6 + 6 * i);
      want.push_back(1 + i);
    }
    mergeNodes(corners, nodes, got);
    EXPECT_EQ(got, want) << k;
  }
}

TEST(StlMesh, ScalesByUnitThenPlacesThroughTheFrame) {
  StlCase c;
  c.m.frames[0].pos[0] = 1.0, c.m.frames[0].ang[0] = 90.0;
  int sh = c.shape(0.001, 1, 0);
  // A token is kept whole up to 256 characters: "1000." and 251 zeros is 1000.
  std::string text = solid(facet({1000, 0, 0}, {0, 0, 0}, {0, 0, 1000}));
  ASSERT_TRUE(c.read(sh, text.replace(text.find("1000"), 4, "1000." + std::string(251, '0'))));
  expectNear(c.m.shapes[sh].mesh->node, {1, 0, 0, 0, 0, 0, 0, 0, 1});
  PlacedStl placed;
  placeStl(c.m.shapes[sh], placed);
  expectNear(placed.node, {1, 1, 0, 1, 0, 0, 1, 0, 1}, 1e-9);
}

// A collinear triangle (singular: centroid sphere, normal sign*(1,1,1)); an
// equilateral one (centre = centroid, R = side / sqrt 3); a right triangle
// wound to -z (centre = hypotenuse midpoint). Sign 0 makes every one singular.
TEST(StlMesh, NormalsAndCircumcirclesWithTheirSingularFallback) {
  const double r3 = std::sqrt(3.0);
  for (int sign : {1, -1, 0}) {
    StlCase c;
    int sh = c.shape(1.0, sign);
    ASSERT_TRUE(c.read(sh, solid(facet({0, 0, 0}, {1, 0, 0}, {4, 0, 0}) +
                                 facet({0, 0, 0}, {2, 0, 0}, {1, r3, 0}) +
                                 facet({0, 0, 5}, {0, 4, 5}, {6, 0, 5}))));
    PlacedStl S;
    placeStl(c.m.shapes[sh], S);
    const double s = sign;
    EXPECT_EQ(S.normal, (V{s, s, s, 0, 0, s, 0, 0, -s}));
    expectNear(S.center, {5.0 / 3, 0, 0, 1, r3 / 3, 0, sign ? 3.0 : 2.0, sign ? 2.0 : 4.0 / 3, 5});
    expectNear(S.radius, {7.0 / 3, 2 / r3, sign ? std::sqrt(13.0) : std::sqrt(160.0) / 3});
  }
}

TEST(StlMesh, MergesCornersAndCountsShapesOneAfterAnother) {
  StlCase c;
  int a = c.shape(), b = c.shape(), e = c.shape();
  // Corners (p,q,r),(q,s,r) share an edge; then 5e-10 off on each axis merges,
  // 2e-9 off on z alone makes a new node.
  ASSERT_TRUE(c.read(a, solid(facet({0, 0, 0}, {1, 0, 0}, {0, 1, 0}) +
                              facet({1, 0, 0}, {1, 1, 0}, {0, 1, 0}) +
                              facet({5e-10, 5e-10, -5e-10}, {1, 0, 2e-9}, {0, 1, 0}))));
  const Shape& A = c.m.shapes[a];
  EXPECT_TRUE(A.vertex_num == 9 && A.node_num == 5 && A.stl_num == 3);
  EXPECT_EQ(A.mesh->tri, (std::vector<int>{0, 1, 2, 1, 3, 2, 0, 4, 2}));
  EXPECT_EQ(A.mesh->node, (V{0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 1, 0, 2e-9}));
  // The console gives each shape's start in the lists of all shapes.
  const size_t mark = c.log.text().size();
  ASSERT_TRUE(c.read(b, "solid x " + facet({0, 0, 0}, {1, 0, 0}, {0, 1, 0}) +
                            "endsolid\n trailing text is never read \x01"));
  EXPECT_EQ(c.log.text().substr(mark),
            "  STL FILE OPEN,    unit=1.000e+00,   stl_num=1,   v_stl_coord:15,   "
            "v_stl_normal:9,   v_stl_tri:9,   node_num=3,   stl_num=1,   node_num=3\n");
  // An empty solid is a valid mesh without triangles.
  EXPECT_TRUE(c.read(e, "solid empty endsolid"));
  EXPECT_TRUE(c.m.shapes[e].stl_num == 0 && c.m.stl.coord_count == 24);
}

// A file named by several shapes is read once per unit; each shape keeps its
// own placement and normal sign, and its mesh comes out bit for bit as if it
// had been read alone.
TEST(StlMesh, ShapesNamingOneFileShareItsMesh) {
  StlCase c, alone;
  c.m.frames.resize(2);
  c.m.frames[1].pos[1] = 0.3, c.m.frames[1].ang[0] = 30.0, c.m.frames[1].ang[1] = 20.0;
  alone.m.frames = c.m.frames;
  const std::string path = c.dir + "/part.stl",
                    text = solid(facet({0.1, 0, 0}, {0, 0.7, 0}, {0, 0, 0.3}) +
                                 facet({0.1, 0, 0}, {0, 0, 0.3}, {0, -0.2, 0}));
  ASSERT_TRUE(orvtest::writeFile(path, text));
  const int first = c.shape(1.0, 1, 0), turned = c.shape(1.0, -1, 1), scaled = c.shape(0.5, 1, 1);
  ASSERT_TRUE(readStl(c.m, first, path));
  // Changed on disk after the first read: a shape at the same unit never sees it.
  ASSERT_TRUE(orvtest::writeFile(path, solid(facet({9, 0, 0}, {0, 9, 0}, {0, 0, 9}))));
  ASSERT_TRUE(readStl(c.m, turned, path) && readStl(c.m, scaled, path));
  const Shape &F = c.m.shapes[first], &T = c.m.shapes[turned], &S = c.m.shapes[scaled];
  EXPECT_TRUE(F.mesh == T.mesh && F.mesh != S.mesh && S.stl_num == 1 &&
              c.m.stl.meshes.size() == 2u);
  const int only = alone.shape(1.0, -1, 1);
  ASSERT_TRUE(alone.read(only, text));
  PlacedStl shared, own;
  placeStl(T, shared), placeStl(alone.m.shapes[only], own);
  EXPECT_TRUE(sameBits(shared.node, own.node) && sameBits(shared.normal, own.normal) &&
              sameBits(shared.center, own.center) && sameBits(shared.radius, own.radius));
  EXPECT_NEAR(shared.node[4], 0.3 + 0.7 * std::cos(20 * kPi / 180) * std::cos(30 * kPi / 180),
              1e-12);
}

TEST(StlMesh, RefusedFilesSayWhereAndLeaveNoTrace) {
  const std::string tri = facet({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  std::string many, spread;  // one triangle too many; 11112 triangles, no shared corner
  for (int i = 0; i <= kStlMaxTriangles; ++i) many += tri;
  for (double x = 0; x < 11112; ++x) spread += facet({x, 0, 0}, {x, 1, 0}, {x, 0, 1});
  const std::string flat = "f n 0 0 1 o l v 0 0 0 v ";  // a facet on line 2, to its 2nd vertex
  const std::string quoted257 = "\"1." + std::string(30, '0') + "...\"";
  // Text, why, where (line:column) and what was found and expected there (more are in
  // the broken-input corpus).
  const struct {
    std::string text, why, place;
  } cases[] = {
      {"solid x " + tri, "file ends before \"endsolid\"",
       "8:1: found the end of the file, expected `facet` or `endsolid`"},
      // 256 characters of a token are kept: a longer one is not a number.
      {solid(flat + "1." + std::string(255, '0') + " 0 0"),
       "facet 1: " + quoted257 + " is not a number",
       "2:25: found " + quoted257 + ", expected a number"},
      {solid(tri + flat + "1.5.5 0 0"), "facet 2: \"1.5.5\" is not a number",
       "9:25: found \"1.5.5\", expected a number"},
      {"solid x\n" + tri + "f n 0 0 1 o l v 0 0 0 v 1 0 0 v 0 1 0 el",
       "file ends inside facet 2 (endfacet)",
       "9:41: found the end of the file, expected `endfacet`"},
      {solid(many), "more than 33333 triangles",
       "233333:1: found \"facet\", expected `endsolid` after 33333 triangles"},
      {solid(spread), "more than 33333 nodes",
       "77781:3: found a vertex making node 33334, expected at most 33333 distinct corners"},
      {std::string("solid x\nfacet \0\0\0\x80", 18), "binary STL is not supported",
       "2:7: found byte 0x00, expected ASCII STL text"},
      {"", "does not start with \"solid\"", "1:1: found the end of the file, expected `solid`"},
      {"\n\n  solid", "file ends before \"endsolid\"", "3:8: found the end of the file"},
      // A byte-order mark before "solid" is no part of it, nor of the columns.
      {"\xEF\xBB\xBFsolid x f n 0 0 1 o l v 0 z", "facet 1: \"z\" is not a number",
       "1:27: found \"z\""}};
  for (const auto& k : cases) {
    StlCase c;
    ASSERT_TRUE(c.read(c.shape(), solid(tri)));  // a mesh before, which must stay as it was
    const size_t mark = c.log.text().size();
    EXPECT_FALSE(c.read(c.shape(), k.text));
    const std::string out = c.log.text().substr(mark), file = c.dir + "/m1.stl";
    EXPECT_EQ(out.rfind("  STL FILE OPEN,  ", 0), 0u) << out;
    EXPECT_TRUE(has(out, "\n  STL FILE ERROR: " + file + ": " + k.why) &&
                has(out, "\n" + file + ":" + k.place))
        << out;
    const Shape& S = c.m.shapes[1];
    EXPECT_TRUE(S.stl_num == 0 && S.node_num == 0 && !S.mesh && S.stl_error.rfind(k.why, 0) == 0 &&
                c.m.stl.meshes.size() == 1 && c.m.stl.coord_count == 9)
        << k.why << ": " << S.stl_error;
  }
}
