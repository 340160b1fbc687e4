#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "contact/contact.h"
#include "contact/mesh_tree.h"
#include "contact_loops.h"
#include "model/settings.h"
#include "platform/work_share.h"
#include "test_util.h"

using namespace orv;
using Items = std::vector<ContactItem>;

namespace {

// A mesh given in place, with normals and circumcircles as the reader makes
// them, searched through its tree (built on every view) or by the loops.
struct TestMesh {
  std::vector<double> node, normal, center, radius;
  std::vector<int> tri;
  std::vector<unsigned char> first;
  TriangleTree tree;

  TestMesh(std::vector<double> nodes, std::vector<int> tris) : node(nodes), tri(tris) {
    Shape sh;
    sh.mesh = std::make_shared<StlMesh>(StlMesh{"", 1.0, node, tri});
    PlacedStl placed;
    placeStl(sh, placed);
    normal = placed.normal, center = placed.center, radius = placed.radius;
  }
  PlacedMesh view() {
    PlacedMesh M;
    M.node_num = static_cast<int>(node.size() / 3), M.stl_num = static_cast<int>(tri.size() / 3);
    firstEdges(tri.data(), M.stl_num, first);
    M.tri = tri.data(), M.radius = radius.data(), M.firstEdges = first.data();
    M.node = node.data(), M.normal = normal.data(), M.center = center.data();
    tree.build(M), tree.beginCorners(), tree.fitCornerLeaves(M, 0, tree.leafCount());
    tree.endCorners(), useTree(M, tree);
    return M;
  }
  // Point contact of this mesh's nodes in J (k 1e5, myu 0.3), by the tree or the loops.
  Items points(TestMesh& J, double c = 0, const BodyMotion& bi = {}, const BodyMotion& bj = {},
               double d = 0.01, bool loops = false) {
    const ContactParams p{1e5, c, d, 0.3};
    const PlacedMesh I = view(), M = J.view();
    Items out;
    loops ? orvref::pointLoops(I, M, bi, bj, p, out)
          : pointContact(I, M, bi, bj, p, 0, I.node_num, out);
    return out;
  }
  Items edges(TestMesh& J, bool loops = false) {
    const PlacedMesh I = view(), M = J.view();
    Items out;
    std::vector<int> src;
    edgeSources(I, M, src);
    loops ? orvref::edgeLoops(I, M, 1e5, out)
          : edgeContact(I, M, 1e5, src.data(), static_cast<int>(src.size()), out);
    return out;
  }
};

// Bit for bit, field by field: the padding after `node` may hold anything.
bool same(const Items& a, const Items& b) {
  const auto bits = [](const double* x, const double* y, size_t n) {
    return std::memcmp(x, y, n * sizeof(double)) == 0;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](const ContactItem& x, const ContactItem& y) {
                      return x.node == y.node && bits(x.pos, y.pos, 3) &&
                             bits(x.force, y.force, 3) && bits(&x.slope, &y.slope, 1) &&
                             bits(&x.speed, &y.speed, 1) && bits(x.normal, y.normal, 3) &&
                             bits(&x.elastic, &y.elastic, 1) && bits(x.vel, y.vel, 3) &&
                             bits(x.push, y.push, 3) && bits(&x.depth, &y.depth, 1);
                    });
}

Settings settings(int threads, int parallel, int algorithm) {
  Settings s = orvtest::runSettings("PTR", 1e-6);
  s.N_THREADS = threads, s.CONTACT_PARALLEL = parallel, s.CONTACT_ALGORITHM = algorithm;
  return s;
}

// The records of one evaluation as numbers (row, point and force each), its
// forces and torques and its flag.
struct Loads {
  std::vector<double> F, N, records;
  int flag;
  bool operator==(const Loads& o) const {
    return flag == o.flag && F == o.F && N == o.N && records == o.records;
  }
};

std::vector<double> flat(const std::vector<ContactRecord>& records) {
  std::vector<double> v;
  for (const ContactRecord& r : records)
    v.insert(v.end(), {double(r.ti), r.pos[0], r.pos[1], r.pos[2], r.val[0], r.val[1], r.val[2]});
  return v;
}

// One evaluation; with `anchors`, under them and taking a detection `kept`.
Loads evaluate(const Model& m, const Settings& s, const std::vector<double>& Y,
               const std::vector<StickAnchor>* anchors = nullptr,
               const KeptDetection* kept = nullptr) {
  Loads l{std::vector<double>(3 * m.body_num()), std::vector<double>(3 * m.body_num()), {}, 0};
  std::vector<ContactRecord> records;
  FrictionBound f;
  l.flag = anchors ? applyContactWithRate(m, s, Y.data(), l.F.data(), l.N.data(), 7, records, f,
                                          anchors, kept)
                   : applyContact(m, s, Y.data(), l.F.data(), l.N.data(), 7, records);
  l.records = flat(records);
  if (anchors) l.records.insert(l.records.end(), {f.slow, f.all, f.reach});
  return l;
}

// A plate (0.4 wide, top at y = 0, on the first body), a cube, a small cube
// and a ball on bodies of their own, every pair in contact (k 1e5, c 50,
// d 0.01, myu 0.3); at rest each of the others sinks a few mm into the plate.
Model scene() {
  std::string text = "parameter_info P %\nbody_info B\n";
  for (const char* b : {"0", "1", "2", "3"})
    text += std::string(" b") + b + " m" + b + " 1 1 1 1 0 0 0 0 0 0\n";
  text += "%\nframe_info F m0 b0 0 0 0 0 0 0\n m1 b1 0.111 0.046 0.013 0 0 0\n"
          " m2 b2 -0.093 0.027 0.061 0 0 0\n m3 b3 0.01 0.036 -0.1 0 0 0\n%\nshape_info S\n"
          " s0 STL m0 red 1 0.4 + meshes/plate.stl\n s1 STL m1 red 1 1 + meshes/cube.stl\n"
          " s2 STL m2 red 1 0.6 + meshes/cube.stl\n s3 STL m3 red 1 0.8 + meshes/sphere.stl\n%\n"
          "contact_group_info G on all 1e5 50 0.01 1 0.3 4 s0 s1 s2 s3 %\n"
          "simulation_time T 0 0.001 0.01 %\n";
  return orvtest::loadText(text, settings(1, 0, 0)).m;
}

// Every body of an nb-body state where it was built, unturned and still.
std::vector<double> atRest(int nb) {
  std::vector<double> Y(14 * nb, 0.0);
  for (int b = 0; b < nb; ++b) Y[6 * nb + 4 * b] = 1.0;
  return Y;
}

// The shape's mesh replaced by a changed copy.
template <class Change>
void editMesh(Shape& sh, const Change& change) {
  auto mesh = std::make_shared<StlMesh>(*sh.mesh);
  change(*mesh);
  sh.mesh = mesh;
}

}  // namespace

TEST(ContactPoint, DepthWindowBoundsDampingAndFriction) {
  // Two triangles in y = 0, normal +y, sharing the edge x = z; d = 0.01.
  TestMesh J({0, 0, 0, 0, 0, 2, 2, 0, 0, 2, 0, 2}, {0, 1, 3, 0, 3, 2});
  const struct {
    double x, y, z;
    size_t hits;
  } cases[] = {
      {0.5, -1e-11, 1.5, 0},  {0.5, 1e-3, 1.5, 0},  {0.5, -1e-9, 1.5, 1}, {0.5, -0.0099, 1.5, 1},
      {0.5, -0.0101, 1.5, 0}, {-0.01, -1e-3, 1, 0},  // beside the triangles, inside their spheres
      {1.0, -1e-3, 1.0, 1},   {0, -1e-3, 0, 1}};     // on the shared edge, at a shared corner: once
  for (const auto& c : cases)
    EXPECT_EQ(TestMesh({c.x, c.y, c.z}, {}).points(J).size(), c.hits) << c.x << " " << c.y;
  // A degenerate (collinear) triangle holds nothing, not even a node inside its
  // sphere and just below its fallback normal (1, 1, 1) / sqrt 3.
  TestMesh line({0, 0, 0, 1, 0, 0, 2, 0, 0}, {0, 1, 2});
  EXPECT_TRUE(TestMesh({0.001, -0.002, -0.002}, {}).points(line).empty());

  // 2 mm deep: at rest the elastic force alone, exactly; damping along the
  // normal only; friction against the sliding, none up to the threshold.
  const double el = 0.002 * 1e5;
  auto force = [&](const BodyMotion& pen, const BodyMotion& struck) {
    const Items items = TestMesh({0.5, -0.002, 1.5}, {}).points(J, 50, pen, struck);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? ContactItem{} : items[0];
  };
  for (int k = 0; k < 3; ++k) EXPECT_EQ(force({}, {}).force[k], k == 1 ? el : 0.0);
  BodyMotion slow, creep, approach, spin;
  slow.vel[0] = 1e-10, creep.vel[0] = 2e-10, approach.vel[1] = -0.4, spin.omega[1] = 2.0;
  EXPECT_EQ(force(slow, {}).force[0], 0.0);
  EXPECT_NEAR(force(creep, {}).force[0], -0.3 * el, 1e-12);
  EXPECT_NEAR(force(approach, {}).force[1], el + 50 * 0.4, 1e-9);
  EXPECT_EQ(force(approach, {}).force[0], 0.0);
  // The struck body turning: its surface under the point moves with
  // (0, 2, 0) x (0.5, -0.002, 1.5) = (3, 0, -1), and friction acts along it.
  const ContactItem f = force({}, spin);
  EXPECT_NEAR(f.force[0], 0.3 * el * 3 / std::sqrt(10.0), 1e-9);
  EXPECT_NEAR(f.force[2], -0.3 * el / std::sqrt(10.0), 1e-9);
}

// A node in a box near two faces touches the nearer face, or the first when
// equally near (the depths here are exact).
TEST(ContactPoint, ANodeTouchesTheNearestTriangleOnly) {
  std::vector<double> node;
  for (int i = 0; i < 8; ++i)
    node.insert(node.end(), {i & 1 ? 0.5 : -0.5, i & 2 ? 0.5 : -0.5, i & 4 ? 0.5 : -0.5});
  TestMesh box(node, {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                      2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5});
  const struct {
    double x, y, depth;
    int axis;
  } cases[] = {{0.375, 0.4375, 0.0625, 1}, {0.4375, 0.375, 0.0625, 0}, {0.375, 0.375, 0.125, 1}};
  for (const auto& c : cases) {
    const Items items = TestMesh({c.x, c.y, 0.0}, {}).points(box, 0, {}, {}, 0.2);
    ASSERT_EQ(items.size(), 1u) << c.x << " " << c.y;
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(items[0].force[k], k == c.axis ? c.depth * 1e5 : 0.0) << c.x << " " << c.y;
  }
}

TEST(ContactEdge, CrossingNearTheBoundary) {
  // J: the triangle x, z >= 0, x + z <= 1 in y = 0, normal +y.
  TestMesh J({0, 0, 0, 0, 0, 1, 1, 0, 0}, {0, 1, 2});
  // A (0.2, 0.05, 0.3) above, B (-0.1, -0.1, 0.3) below with its foot outside:
  // X = (0.1, 0, 0.3), nearest edge x = 0 at 0.1, G = B - 0.1 n,
  // delta = 0.1 * 0.1 / |X - G| = 0.01 / sqrt(0.08).
  const Items one = TestMesh({0.2, 0.05, 0.3, -0.1, -0.1, 0.3, 0.2, 0.5, 0.8}, {0, 1, 2}).edges(J);
  ASSERT_EQ(one.size(), 1u);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(one[0].pos[k], k == 0 ? 0.1 : k == 1 ? 0 : 0.3, 1e-15);
  EXPECT_NEAR(one[0].force[1], 1e5 * 0.01 / std::sqrt(0.08), 1e-9);
  EXPECT_EQ(one[0].force[0], 0.0);
  // The same edge shared by two triangles of I counts once.
  TestMesh two({0.2, 0.05, 0.3, -0.1, -0.1, 0.3, 0.2, 0.5, 0.8, 0.2, 0.5, -0.2},
               {0, 1, 2, 1, 0, 3});
  EXPECT_TRUE(same(two.edges(J), one));
  // Through both sides of a valley of J, near its bottom edge: that edge is
  // met once, where the contact is shallower.
  TestMesh valley({0, 0, -1, 0, 0, 1, -1, 1, 0, 1, 1, 0}, {0, 2, 1, 0, 1, 3});
  TestMesh left({0, 0, -1, 0, 0, 1, -1, 1, 0}, {0, 2, 1}),
      right({0, 0, -1, 0, 0, 1, 1, 1, 0}, {0, 1, 2});
  TestMesh across({-3, 0.02, 0, 2.5, 0.02, 0, 0, 3, 0}, {0, 1, 2});
  const Items both = across.edges(valley), l = across.edges(left), r = across.edges(right);
  ASSERT_TRUE(l.size() == 1 && r.size() == 1);
  EXPECT_TRUE(same(both, std::fabs(l[0].force[1]) <= std::fabs(r[0].force[1]) ? l : r));
  // Both ends below the plane, or the lower end's foot inside: no edge contact.
  EXPECT_TRUE(
      TestMesh({0.2, -0.01, 0.3, 0.1, -0.02, 0.3, 0.2, -0.5, 0.3}, {0, 1, 2}).edges(J).empty());
  EXPECT_TRUE(
      TestMesh({0.2, 0.05, 0.3, 0.3, -0.05, 0.3, 0.2, 0.5, 0.8}, {0, 1, 2}).edges(J).empty());
}

TEST(ContactTree, SameItemsAsTheLoopsAtTheLimitsOfEveryTest) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  const double eps = std::ldexp(1.0, -52);
  // Nodes below a triangle's circumcentre at the rim of its sphere, give or
  // take a few roundings, normal along each axis: the sphere test alone
  // decides, and the sphere's box is tightest there.
  size_t rimHits = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const int axis = trial % 3, u = (axis + 1) % 3, v = (axis + 2) % 3;
    const double size = std::pow(10.0, 2 * uni(rng)), at[3] = {uni(rng), uni(rng), uni(rng)};
    std::vector<double> node(9);
    for (int c = 0; c < 3; ++c) {
      const double ang = 2.0944 * c + 0.3 * uni(rng);  // acute: the centre is inside
      node[3 * c + axis] = 0.1 * size * at[axis];
      node[3 * c + u] = size * (3 * at[u] + std::cos(ang));
      node[3 * c + v] = size * (3 * at[v] + std::sin(ang));
    }
    TestMesh J(node, {0, 1, 2}), I(J.center, {});
    I.node[axis] += (J.normal[axis] > 0 ? -1.0 : 1.0) * kSphereMargin * J.radius[0] *
                    (1.0 + (trial % 7 - 3) * eps);
    const Items loops = I.points(J, 0, {}, {}, 1e9, true);
    EXPECT_TRUE(same(loops, I.points(J, 0, {}, {}, 1e9))) << trial;
    rimHits += loops.size();
  }
  EXPECT_GT(rimHits, 1000u);
  EXPECT_LT(rimHits, 2500u);

  // Edges through triangles of every shape (needles down to degenerate,
  // normals tilted or off their length, far from the origin and tiny),
  // crossing at and just beyond the tolerance band of the inside test, at any
  // slant down to grazing.
  const double band[] = {-3e-10, -1e-10, -9.9e-11,      -1e-12,       0.0,
                         0.3,    1.0,    1.0 + 9.9e-11, 1.0000000001, 1.0 + 3e-10};
  const double tilt[] = {0.0, 1e-12, 1e-7, 1e-3, 0.4, 3.0};
  size_t edgeHits = 0;
  for (int trial = 0; trial < 3600; ++trial) {
    const double far = trial % 4 == 3 ? 1e6 : uni(rng), size = trial % 4 == 3 ? 1e-6 : 10.0;
    // Every other one a needle: the angle at V0 down to 1e-10, or none.
    const double thin = trial % 2 ? 1.0 : trial % 5 ? std::pow(10.0, -10 * std::fabs(uni(rng))) : 0;
    double V[9], a[3], b[3], w[3];
    for (int k = 0; k < 3; ++k)
      V[k] = far + size * uni(rng), a[k] = size * uni(rng), w[k] = uni(rng);
    vec3Add(b, vec3Scale(b, 0.5 + uni(rng), a), vec3Scale(w, thin * size, w));
    for (int k = 0; k < 3; ++k) V[3 + k] = V[k] + a[k], V[6 + k] = V[k] + b[k];
    TestMesh J({V, V + 9}, {0, 1, 2});
    double* n = J.normal.data();
    for (int c = 0; c < 3; ++c) n[c] += tilt[trial % 6] * uni(rng);
    if (trial % 11 == 0) vec3Scale(n, 1.0 + 1e-6 * uni(rng), n);
    if (trial % 13 == 0) n[0] = n[1] = n[2] = 0.0;
    std::vector<double> in;
    std::vector<int> it;
    for (int e = 0; e < 10; ++e) {
      const double s0 = band[rng() % 10], t0 = e % 3 ? band[rng() % 10] : 1.0 - s0;
      double X[3], dir[3], along[3];
      for (int k = 0; k < 3; ++k)
        X[k] = V[k] + s0 * (V[3 + k] - V[k]) + t0 * (V[6 + k] - V[k]), dir[k] = uni(rng);
      // Mostly slanted, some nearly along the plane, some square to an axis
      // (their box is flat there, so a crossing just beyond a corner's
      // coordinate is caught by nothing but the slack of the triangle's box).
      if (e % 3 == 1) dir[rng() % 3] = 0.0;
      const double f = vec3Dot(dir, n) * (1 - 1e-6) / std::max(vec3Dot(n, n), 1e-300);
      if (e % 4 == 0) vec3Sub(dir, dir, vec3Scale(along, f, n));
      const double up = size * std::pow(10.0, 1.5 * uni(rng) - 1.5),
                   down = -size * std::pow(10.0, 1.5 * uni(rng) - 1.5);
      for (const double s : {up, down, 0.0})  // the ends, and a third node anywhere near
        for (int k = 0; k < 3; ++k) in.push_back(X[k] + (s != 0 ? s * dir[k] : size * uni(rng)));
      it.insert(it.end(), {3 * e, 3 * e + 1, 3 * e + 2});
    }
    TestMesh I(in, it);
    const Items loops = I.edges(J, true);
    EXPECT_TRUE(same(loops, I.edges(J))) << trial;
    edgeHits += loops.size();
  }
  EXPECT_GT(edgeHits, 2000u);
}

TEST(ContactApply, LoopsRecordsForAnyThreadsModeMeshAndPoseAndBalanced) {
  // applyContact keeps each shape's tree and its mesh in the initial
  // configuration between evaluations. The scene, then the same sizes with
  // the plate's triangles shuffled (the grouping no longer fits: built again),
  // everything mirrored in x (still fits: kept), the plate's placement moved
  // and turned (same mesh), then the first again, and so on.
  std::vector<Model> models(4, scene());
  const int plateTris = models[0].shapes[0].stl_num;
  editMesh(models[1].shapes[0], [&](StlMesh& mesh) {
    for (int t = 0; t < plateTris; ++t)  // 37 is prime to their number
      for (int c = 0; c < 3; ++c)
        mesh.tri[3 * t + c] = models[0].shapes[0].mesh->tri[3 * ((t * 37) % plateTris) + c];
  });
  for (Shape& sh : models[2].shapes)
    editMesh(sh, [](StlMesh& mesh) {
      for (size_t k = 0; k < mesh.node.size(); k += 3) mesh.node[k] *= -1;
      for (size_t t = 0; t < mesh.tri.size(); t += 3) std::swap(mesh.tri[t + 1], mesh.tri[t + 2]);
    });
  const double turn[4] = {std::cos(0.15), 0, std::sin(0.15), 0};  // 0.3 about y
  mat3FromEulerParameters(models[3].shapes[0].mesh_A, turn);
  models[3].shapes[0].mesh_pos[0] = 0.013, models[3].shapes[0].mesh_pos[1] = 0.002;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  size_t points = 0, edges = 0;
  // Bodies thrown together: turned any way (every fourth pose with Euler
  // parameters off their unit length, not balanced then), moving and spinning;
  // the plate (body 0) where it was built, unturned.
  for (int trial = 0; trial < 32; ++trial) {
    const Model& m = models[(trial + 1) / 4 % 4];  // changed between poses that place alike
    std::vector<double> Y = atRest(4);
    for (int b = 0; b < 4; ++b) {
      double x[3] = {0.08 * uni(rng), 0.03 + 0.04 * uni(rng), 0.08 * uni(rng)}, *p = &Y[24 + 4 * b],
             w[3];
      for (int k = 0; k < 4; ++k) p[k] = uni(rng);
      const double len = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3]);
      for (int k = 0; k < 4; ++k) p[k] *= (trial % 4 == 0 ? 1.0 + 1e-4 * uni(rng) : 1.0) / len;
      for (int k = 0; k < 3; ++k) Y[12 + 3 * b + k] = 0.5 * uni(rng), w[k] = 3.0 * uni(rng);
      if (b == 0) x[0] = x[1] = x[2] = 0.0, p[0] = 1.0, p[1] = p[2] = p[3] = 0.0;
      for (int k = 0; k < 3; ++k) Y[3 * b + k] = x[k] - m.bodies[b].cg_pos[k];
      eulerRatesFromOmega(&Y[40 + 4 * b], p, w);
    }
    for (int algorithm : {0, 1}) {
      const Loads ref = evaluate(m, settings(1, 0, algorithm), Y);
      (algorithm == 0 ? points : edges) += ref.records.size() / 7;
      EXPECT_EQ(ref.flag, ref.records.empty() ? 0 : 1);
      // Kept work as fresh work, any thread count and mode as one thread.
      EXPECT_TRUE(ref.records == flat(orvref::loopRecords(m, algorithm, Y.data(), 7))) << trial;
      for (int threads : {1, 2})
        for (int mode : {0, 1})
          EXPECT_TRUE(ref == evaluate(m, settings(threads, mode, algorithm), Y))
              << trial << ", algorithm " << algorithm << ", " << threads << " threads, mode "
              << mode;
      // The detection kept where the anchors moved serves the bodies where
      // they stand then, whatever their velocities, and nothing else.
      const Settings one = settings(1, 0, algorithm);
      std::vector<double> moving = Y, moved = Y;
      for (int k = 12; k < 24; ++k) moving[k] *= 0.5;  // the velocities
      moved[4] += 1e-12;
      std::vector<StickAnchor> anchors;
      KeptDetection kept;
      moveStickAnchors(m, one, moving.data(), anchors, &kept);
      for (const std::vector<double>* at : {&Y, &moved})
        EXPECT_TRUE(evaluate(m, one, *at, &anchors) == evaluate(m, one, *at, &anchors, &kept))
            << trial << ", algorithm " << algorithm;
      if (trial % 4 == 0) continue;
      // Equal and opposite: no net force, no net moment about the origin.
      double F[3] = {0, 0, 0}, M[3] = {0, 0, 0}, scale = 0;
      for (int b = 0; b < 4; ++b) {
        double A[9], pos[3], t[3];
        mat3FromEulerParameters(A, &Y[24 + 4 * b]);
        vec3Add(pos, m.bodies[b].cg_pos, &Y[3 * b]);
        vec3Add(F, F, &ref.F[3 * b]);
        vec3Add(M, M, vec3Cross(t, pos, &ref.F[3 * b]));
        vec3Add(M, M, mat3MulVec(t, A, &ref.N[3 * b]));
        scale = std::max(scale, vec3Norm(ref.F[3 * b], ref.F[3 * b + 1], ref.F[3 * b + 2]));
      }
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(F[k], 0.0, 1e-12 * scale) << trial;
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(M[k], 0.0, 1e-12 * scale) << trial;
    }
  }
  EXPECT_GT(points, 500u);
  EXPECT_GT(edges, points + 200);
}

TEST(ContactApply, WhatComputesNothing) {
  Model m = scene();
  m.contacts.resize(1);    // the plate and the cube
  m.contacts[0].flag = 0;  // not consulted
  ASSERT_FALSE(evaluate(m, settings(1, 0, 0), atRest(4)).records.empty());
  const std::vector<void (*)(Model&)> breaks = {
      [](Model& b) { b.contacts[0].i_shape = 99; },
      [](Model& b) { b.contacts[0].j_shape = -1; },
      [](Model& b) { b.contacts[0].i_body = 1; },  // not the body of the shape
      [](Model& b) { b.shapes[1].mesh.reset(); },
      [](Model& b) { editMesh(b.shapes[1], [](StlMesh& mesh) { mesh.tri.clear(); }); },
      [](Model& b) { editMesh(b.shapes[0], [](StlMesh& mesh) { mesh.tri[4] = 9999; }); },
      [](Model& b) { editMesh(b.shapes[0], [](StlMesh& mesh) { mesh.tri[5] = -1; }); },
  };
  const std::vector<double> none(12, 0.0);
  for (size_t k = 0; k < breaks.size(); ++k) {
    Model broken = m;
    breaks[k](broken);
    for (int threads : {1, 2})
      EXPECT_TRUE(evaluate(broken, settings(threads, threads - 1, 0), atRest(4)) ==
                  (Loads{none, none, {}, 0}))
          << k;
  }
}

TEST(SharedWork, EveryChunkOnceOnARankInRange) {
  // Beyond 65,535 chunks a claim takes a run of them; threads take chunks
  // from both ends and meet in between.
  for (int threads : {2, 3, 4})
    for (int chunks : {1, 2, 3, 50, 70001})
      for (int round = 0; round < 3; ++round) {
        std::vector<int> ran(static_cast<size_t>(chunks), 0), rank(ran.size(), -1);
        shareWork(threads, chunks, [&](int c, int r) { ++ran[c], rank[c] = r; });
        int wrong = 0;
        for (int c = 0; c < chunks; ++c) wrong += ran[c] != 1 || rank[c] < 0 || rank[c] >= threads;
        EXPECT_EQ(wrong, 0) << threads << " threads, " << chunks << " chunks";
      }
}
