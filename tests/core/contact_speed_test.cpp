// Point contact searched in the bodies' own frames, placing only what the
// searches reach: the same records, forces and torques as the exhaustive
// loops and as the whole placement, on any thread count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "contact/contact.h"
#include "contact_loops.h"
#include "model/settings.h"
#include "test_util.h"

using namespace orv;

namespace {

void addMesh(Model& m, int body, std::vector<double> node, std::vector<int> tri) {
  auto mesh = std::make_shared<StlMesh>();
  mesh->node = std::move(node), mesh->tri = std::move(tri);
  Shape& sh = m.shapes.emplace_back();
  sh.type = "STL", sh.kind = ShapeType::Stl, sh.body = body, sh.mesh = mesh;
  sh.node_num = mesh->node_num(), sh.stl_num = mesh->stl_num(), sh.vertex_num = 3 * sh.stl_num;
}

// A plate of 2 cells^2 triangles in y = 0 (body 0) and a ball of radius 0.1
// about the origin of body 1's initial frame at `ctr`.
Model plateAndBall(const double* ctr) {
  Model m;
  m.bodies.resize(2);
  for (int k = 0; k < 3; ++k) m.bodies[1].cg_pos[k] = ctr[k];
  const int cells = 80;
  std::vector<double> node;
  std::vector<int> tri;
  for (int i = 0; i <= cells; ++i)
    for (int j = 0; j <= cells; ++j) node.insert(node.end(), {-0.5 + j / 80.0, 0.0, -0.5 + i / 80.0});
  for (int i = 0; i < cells; ++i)
    for (int j = 0; j < cells; ++j) {
      const int a = i * (cells + 1) + j, b = a + 1, c = a + cells + 1, d = c + 1;
      tri.insert(tri.end(), {a, c, b, b, c, d});
    }
  addMesh(m, 0, node, tri);
  const int rings = 40, segs = 48;
  const double r = 0.1, pi = std::acos(-1.0);
  node = {ctr[0], ctr[1] + r, ctr[2]};
  for (int i = 1; i < rings; ++i)
    for (int j = 0; j < segs; ++j) {
      const double th = pi * i / rings, ph = 2 * pi * j / segs;
      node.insert(node.end(), {ctr[0] + r * std::sin(th) * std::cos(ph), ctr[1] + r * std::cos(th),
                               ctr[2] + r * std::sin(th) * std::sin(ph)});
    }
  node.insert(node.end(), {ctr[0], ctr[1] - r, ctr[2]});
  const int bottom = 1 + (rings - 1) * segs;
  auto at = [&](int i, int j) { return 1 + (i - 1) * segs + (j % segs); };
  tri.clear();
  for (int j = 0; j < segs; ++j) {
    tri.insert(tri.end(), {0, at(1, j + 1), at(1, j)});
    for (int i = 1; i + 1 < rings; ++i)
      tri.insert(tri.end(), {at(i, j), at(i, j + 1), at(i + 1, j), at(i, j + 1), at(i + 1, j + 1),
                             at(i + 1, j)});
    tri.insert(tri.end(), {bottom, at(rings - 1, j), at(rings - 1, j + 1)});
  }
  addMesh(m, 1, node, tri);
  Contact& c = m.contacts.emplace_back();
  c.i_shape = 1, c.j_shape = 0, c.i_body = 1, c.j_body = 0, c.k = 1e5, c.c = 100, c.d = 0.05,
  c.myu = 0.3;
  return m;
}

struct Loads {
  bool any = false;
  std::vector<ContactRecord> records;
  std::vector<double> F = std::vector<double>(6, 0.0), N = std::vector<double>(6, 0.0);
};

template <class Apply>
Loads loads(Apply apply, const Model& m, int threads, const std::vector<double>& Y) {
  Settings s;
  s.N_THREADS = threads;
  Loads l;
  l.any = apply(m, s, Y.data(), l.F.data(), l.N.data(), 3, l.records);
  return l;
}

bool sameBits(const std::vector<ContactRecord>& a, const std::vector<ContactRecord>& b) {
  if (a.size() != b.size()) return false;
  for (size_t r = 0; r < a.size(); ++r)
    if (a[r].ti != b[r].ti || std::memcmp(a[r].pos, b[r].pos, sizeof a[r].pos) != 0 ||
        std::memcmp(a[r].val, b[r].val, sizeof a[r].val) != 0)
      return false;
  return true;
}

}  // namespace

// The ball sunk into the plate (or lifted clear of it) at random positions,
// turns and velocities; Euler parameters of unit length, off it by a little
// (the frames' slack covers it) and by much (the whole placement takes over).
// Every case against the loops, and the loads against the whole placement,
// to the bit, on 1, 2 and 3 threads.
TEST(ContactSpeed, BodyFrameSearchFindsWhatTheLoopsFind) {
  const double ctr[3] = {0.013, 0.097, -0.021};
  const Model m = plateAndBall(ctr);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  int touching = 0;
  for (int c = 0; c < 12; ++c) {
    SCOPED_TRACE(c);
    std::vector<double> Y(28, 0.0);
    Y[12] = Y[16] = 1.0;
    Y[3] = 0.2 * u(rng), Y[4] = c == 0 ? 0.05 : -0.04 + 0.02 * u(rng), Y[5] = 0.2 * u(rng);
    double q[4] = {u(rng), u(rng), u(rng), u(rng)};
    const double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    const double scale = c % 3 == 0 ? 1.0 : c % 3 == 1 ? 1.0 + 1e-7 : 1.02;
    for (int k = 0; k < 4; ++k) Y[16 + k] = scale * q[k] / len;
    for (int k = 0; k < 3; ++k) Y[9 + k] = u(rng), Y[24 + k] = u(rng);
    const std::vector<ContactRecord> want = orvref::loopRecords(m, 0, Y.data(), 3);
    const Loads whole = loads(applyContactPlacingAll, m, 1, Y);
    ASSERT_TRUE(sameBits(whole.records, want));
    touching += !want.empty();
    for (int threads : {1, 2, 3}) {
      SCOPED_TRACE(threads);
      const Loads l = loads(applyContact, m, threads, Y);
      EXPECT_TRUE(sameBits(l.records, want)) << l.records.size() << " vs " << want.size();
      EXPECT_EQ(l.any, whole.any);
      EXPECT_EQ(std::memcmp(l.F.data(), whole.F.data(), 6 * sizeof(double)), 0);
      EXPECT_EQ(std::memcmp(l.N.data(), whole.N.data(), 6 * sizeof(double)), 0);
    }
  }
  EXPECT_GE(touching, 8);
}

// A contact group run on 1 and 2 threads (its pairs searched in parallel):
// the same histories, to the bit.
TEST(ContactSpeed, GroupRunIsTheSameOnAnyThreadCount) {
  Settings one = orvtest::exampleSettings(), two = one;
  one.N_THREADS = 1, two.N_THREADS = 2;
  const std::string path = std::string(ORVALDYN_EXAMPLES) + "/contact_group.txt";
  const orvtest::Outcome a = orvtest::runFile(path, one), b = orvtest::runFile(path, two);
  ASSERT_EQ(a.status, AnalysisStatus::Completed) << a.message;
  EXPECT_GT(a.h.cont_value.size(), 0u);
  EXPECT_TRUE(b.status == a.status && b.h.p_YYY == a.h.p_YYY &&
              b.h.cont_position == a.h.cont_position && b.h.cont_value == a.h.cont_value);
}
