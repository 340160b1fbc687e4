#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "contact/contact.h"
#include "contact/detection.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "solver/analysis.h"
#include "solver/vec3.h"
#include "test_util.h"

using namespace orv;
using Items = std::vector<ContactItem>;

namespace {

// A mesh given in place, with normals and circumcircles as the reader makes them.
struct TestMesh {
  std::vector<double> node, normal, center, radius;
  std::vector<int> tri;
  std::vector<Bound> blocks;

  TestMesh(std::vector<double> nodes, std::vector<int> tris) : node(nodes), tri(tris) {
    for (size_t t = 0; t < tri.size() / 3; ++t) {
      const double* P0 = &node[3 * tri[3 * t]];
      double a[3], b[3], n[3], axb[3], w[3], c[3];
      vec3Sub(a, &node[3 * tri[3 * t + 1]], P0);
      vec3Sub(b, &node[3 * tri[3 * t + 2]], P0);
      normal.insert(normal.end(), n, unitNormal(n, a, b) + 3);
      vec3Sub(w, vec3Scale(w, vec3Dot(a, a), b), vec3Scale(c, vec3Dot(b, b), a));
      vec3Cross(axb, a, b);
      vec3Scale(c, 0.5 / vec3Dot(axb, axb), vec3Cross(c, w, axb));
      for (int k = 0; k < 3; ++k) center.push_back(P0[k] + c[k]);
      radius.push_back(vec3Norm(c[0], c[1], c[2]));
    }
  }
  PlacedMesh view(bool cull) {
    PlacedMesh M;
    M.node_num = static_cast<int>(node.size() / 3), M.stl_num = static_cast<int>(tri.size() / 3);
    M.tri = tri.data(), M.radius = radius.data();
    M.node = node.data(), M.normal = normal.data(), M.center = center.data();
    blocks.resize(2 * triBlockCount(M.stl_num));
    if (cull) buildBounds(M, blocks.data());
    return M;
  }
  Items points(TestMesh& J, double c = 0, const BodyMotion& bi = {}, const BodyMotion& bj = {},
               bool cull = false) {
    ContactParams p;
    p.k = 1e5, p.c = c, p.d = 0.01, p.myu = 0.3;
    Items out;
    pointContact(view(cull), J.view(cull), bi, bj, p, 0, static_cast<int>(node.size() / 3), out);
    return out;
  }
  Items edges(TestMesh& J, bool cull = false) {
    Items out;
    edgeContact(view(cull), J.view(cull), 1e5, 0, static_cast<int>(tri.size() / 3), out);
    return out;
  }
};

bool same(const Items& a, const Items& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(ContactItem)) == 0);
}

Settings settings(int threads = 1, int parallel = 0, int algorithm = 0) {
  Settings s;
  s.energy_flag[0] = s.energy_flag[1] = s.energy_flag[2] = 1;
  s.minimum_limit_energy = 1e-6, s.Energy_variation = 1e-3, s.contact_time_step_coefficient = 0.1;
  s.N_THREADS = threads, s.CONTACT_PARALLEL = parallel, s.CONTACT_ALGORITHM = algorithm;
  return s;
}

const std::string kExamples = ORVALDYN_EXAMPLES;

bool read(const std::string& path, Model& m, Histories& h) {
  orvtest::ConsoleCapture quiet;
  std::string msg;
  return readModelFile(path, settings(), m, h, msg) == ReadStatus::Ok;
}

// A plate, a tilted cube sunk into it and two balls sunk into the plate and
// into each other, all in one contact group.
bool readPile(Model& m, Histories& h, const char* flag = "on") {
  const std::string dir = orvtest::makeTempDir(), sphere = kExamples + "/meshes/sphere.stl";
  orvtest::writeFile(
      dir + "/pile.txt",
      "parameter_info P %\nbody_info B ground g_cg 1 1 1 1 0 0 0 0 0 0\n"
      " cube c_cg 1 0.002 0.002 0.002 0 0 0 0 0 0\n ball1 b1_cg 0.5 5e-4 5e-4 5e-4 0 0 0 0 0 0\n"
      " ball2 b2_cg 0.5 5e-4 5e-4 5e-4 0 0 0 0 0 0 %\nframe_info F g_cg ground 0 0 0 0 0 0\n"
      " c_cg cube -0.2 0.049 0.05 5 93 0\n b1_cg ball1 0.25 0.043 0 0 0 0\n"
      " b2_cg ball2 0.345 0.05 0.01 0 0 0 %\njoint_info J on fix ground g_cg non %\n"
      "shape_info S plate STL g_cg red 1 1 + " + kExamples + "/meshes/plate.stl\n"
      " cube STL c_cg red 1 1 + " + kExamples + "/meshes/cube.stl\n s1 STL b1_cg red 1 1 + " +
          sphere + "\n s2 STL b2_cg red 1 1 + " + sphere + " %\ncontact_group_info G " + flag +
          " pile 1e5 50 0.01 1 0.3 4 plate cube s1 s2 %\nsimulation_time T 0 0.001 0.1 %\n");
  return read(dir + "/pile.txt", m, h);
}

// The pile moving: velocities, spins and a turned cube.
std::vector<double> pileState(int nb) {
  std::vector<double> Y(14 * nb, 0.0);
  const double v[3][3] = {{0.1, -0.2, 0.05}, {-0.3, -0.1, 0.2}, {0.2, 0.0, -0.1}};
  const double w[3][3] = {{1.0, -2.0, 0.5}, {0.0, 3.0, 1.0}, {-1.0, 0.5, 2.0}};
  const double p[4] = {0.99995, 0.005, 0.008, 0.0}, n = vec3Norm(p[0], p[1], p[2]);
  for (int b = 0; b < nb; ++b) Y[6 * nb + 4 * b] = 1.0;
  for (int k = 0; k < 4; ++k) Y[6 * nb + 4 + k] = p[k] / n;
  for (int b = 1; b < nb; ++b) {
    for (int k = 0; k < 3; ++k) Y[3 * nb + 3 * b + k] = v[b - 1][k];
    eulerRatesFromOmega(&Y[10 * nb + 4 * b], &Y[6 * nb + 4 * b], w[b - 1]);
  }
  return Y;
}

struct Loads {
  std::vector<double> F, N;
  std::vector<ContactRecord> records;
  int flag = 0;
};

Loads evaluate(const Model& m, const Settings& s, const std::vector<double>& Y) {
  Histories h;
  Loads l;
  l.F.assign(3 * m.body_num(), 0.0);
  l.N.assign(3 * m.body_num(), 0.0);
  applyContact(m, s, h, Y.data(), l.F.data(), l.N.data(), 7);
  l.records = h.attempt_contacts;
  l.flag = h.contact_flag;
  return l;
}

// An example model run to its end on one thread; channel `c` of sample `ti`.
struct Example {
  Model m;
  Histories h;
  AnalysisStatus status = AnalysisStatus::Refused;
  explicit Example(const char* file) {
    if (!read(kExamples + "/" + file, m, h)) return;
    AnalysisOptions opt;
    opt.pauses = false, opt.writeResult = false;
    std::string msg;
    orvtest::ConsoleCapture quiet;
    status = runAnalysis(m, settings(), h, msg, opt);
  }
  double out(int ti, int c) const { return h.p_output[static_cast<size_t>(ti) * m.output_num() + c]; }
};

}  // namespace

TEST(ContactPoint, DepthWindowAndTriangleBounds) {
  // Two triangles in y = 0, normal +y, sharing the edge x = z; d = 0.01.
  TestMesh J({0, 0, 0, 0, 0, 2, 2, 0, 0, 2, 0, 2}, {0, 1, 3, 0, 3, 2});
  const struct {
    double x, y, z;
    size_t hits;
  } cases[] = {{0.5, 0.0, 1.5, 0},   {0.5, -1e-11, 1.5, 0},  {0.5, 1e-3, 1.5, 0},
               {0.5, -1e-9, 1.5, 1}, {0.5, -0.0099, 1.5, 1}, {0.5, -0.0101, 1.5, 0},
               {-0.01, -1e-3, 1, 0},  // beside the triangles, inside their spheres
               {1.0, -1e-3, 1.0, 2},  // on the shared edge: both triangles
               {5.0, -1e-3, 5.0, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(TestMesh({c.x, c.y, c.z}, {}).points(J).size(), c.hits) << c.x << " " << c.y;
  // At rest the force is the elastic one alone, exactly.
  const Items rest = TestMesh({0.5, -0.002, 1.5}, {}).points(J, 50);
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].force[0], 0.0);
  EXPECT_EQ(rest[0].force[1], 0.002 * 1e5);
  EXPECT_EQ(rest[0].force[2], 0.0);
  // A degenerate (collinear) triangle yields nothing.
  TestMesh line({0, 0, 0, 1, 0, 0, 2, 0, 0}, {0, 1, 2});
  EXPECT_TRUE(TestMesh({1.0, -1e-3, 0.0}, {}).points(line).empty());
}

TEST(ContactPoint, DampingAndFriction) {
  TestMesh J({0, 0, 0, 0, 0, 2, 2, 0, 0, 2, 0, 2}, {0, 1, 3, 0, 3, 2});
  const double el = 0.002 * 1e5;
  auto force = [&](const BodyMotion& pen, const BodyMotion& struck) {
    const Items items = TestMesh({0.5, -0.002, 1.5}, {}).points(J, 50, pen, struck);
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? ContactItem{} : items[0];
  };
  BodyMotion slow, creep, approach, spin;
  slow.vel[0] = 1e-10;  // at the sliding threshold: no friction
  EXPECT_EQ(force(slow, {}).force[0], 0.0);
  creep.vel[0] = 2e-10;
  EXPECT_NEAR(force(creep, {}).force[0], -0.3 * el, 1e-12);
  approach.vel[1] = -0.4;  // purely normal: damping, no friction
  EXPECT_NEAR(force(approach, {}).force[1], el + 50 * 0.4, 1e-9);
  EXPECT_EQ(force(approach, {}).force[0], 0.0);
  // The struck body turning under the point: its surface there moves with
  // (0, 2, 0) x (0.5, -0.002, 1.5) = (3, 0, -1), and friction acts along it.
  spin.omega[1] = 2.0;
  const ContactItem f = force({}, spin);
  EXPECT_NEAR(f.force[0], 0.3 * el * 3 / std::sqrt(10.0), 1e-9);
  EXPECT_NEAR(f.force[2], -0.3 * el / std::sqrt(10.0), 1e-9);
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
  // The same edge shared by two triangles of I counts once for each.
  TestMesh two({0.2, 0.05, 0.3, -0.1, -0.1, 0.3, 0.2, 0.5, 0.8, 0.2, 0.5, -0.2}, {0, 1, 2, 1, 0, 3});
  EXPECT_EQ(two.edges(J).size(), 2u);
  // Both ends below the plane, or the lower end's foot inside: no edge contact.
  EXPECT_TRUE(TestMesh({0.2, -0.01, 0.3, 0.1, -0.02, 0.3, 0.2, -0.5, 0.3}, {0, 1, 2}).edges(J).empty());
  EXPECT_TRUE(TestMesh({0.2, 0.05, 0.3, 0.3, -0.05, 0.3, 0.2, 0.5, 0.8}, {0, 1, 2}).edges(J).empty());
}

TEST(ContactCulling, FindsWhatTheFullSearchFinds) {
  // A ball sunk into the plate and into another ball in many poses.
  Model m;
  Histories h;
  ASSERT_TRUE(readPile(m, h));
  TestMesh plate(m.shapes[0].node, m.shapes[0].tri_node), ball(m.shapes[2].node, m.shapes[2].tri_node);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> jitter(-0.06, 0.06);
  size_t found = 0;
  for (int trial = 0; trial < 40; ++trial) {
    TestMesh moved = ball;
    const double shift[3] = {jitter(rng), -0.045 + jitter(rng) / 10, jitter(rng)};
    for (size_t i = 0; i < moved.node.size(); ++i) moved.node[i] += shift[i % 3];
    for (size_t i = 0; i < moved.center.size(); ++i) moved.center[i] += shift[i % 3];
    for (TestMesh* J : {&plate, &ball}) {
      const Items full = moved.points(*J), fullE = moved.edges(*J);
      EXPECT_TRUE(same(full, moved.points(*J, 0, {}, {}, true))) << trial;
      EXPECT_TRUE(same(fullE, moved.edges(*J, true))) << trial;
      found += full.size() + fullE.size();
    }
  }
  EXPECT_GT(found, 100u);
}

TEST(ContactApply, BalancedAndTheSameForAnyThreadCountAndMode) {
  Model m;
  Histories h;
  ASSERT_TRUE(readPile(m, h));
  const int nb = m.body_num();
  const std::vector<double> Y = pileState(nb);
  const Loads l = evaluate(m, settings(1, 0, 1), Y);
  EXPECT_EQ(l.flag, 1);
  ASSERT_GT(l.records.size(), 10u);
  for (const ContactRecord& r : l.records) EXPECT_EQ(r.ti, 7);
  // Equal and opposite: no net force, no net moment about the origin.
  double F[3] = {0, 0, 0}, M[3] = {0, 0, 0};
  for (int b = 0; b < nb; ++b) {
    double A[9], pos[3], t[3];
    mat3FromEulerParameters(A, &Y[6 * nb + 4 * b]);
    vec3Add(pos, m.bodies[b].cg_pos, &Y[3 * b]);
    vec3Add(F, F, &l.F[3 * b]);
    vec3Add(M, M, vec3Cross(t, pos, &l.F[3 * b]));
    vec3Add(M, M, mat3MulVec(t, A, &l.N[3 * b]));
  }
  const double scale = vec3Norm(l.F[0], l.F[1], l.F[2]);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(F[k], 0.0, 1e-12 * scale);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(M[k], 0.0, 1e-12 * scale);
  // Records in the same order and the same sums, bit for bit, whatever the
  // thread count and mode; edge contacts only with point_and_edge.
  for (int algorithm : {0, 1}) {
    const Loads ref = evaluate(m, settings(1, 0, algorithm), Y);
    EXPECT_EQ(ref.records.size() < l.records.size(), algorithm == 0);
    for (int threads : {1, 2})
      for (int mode : {0, 1}) {
        const Loads o = evaluate(m, settings(threads, mode, algorithm), Y);
        ASSERT_EQ(o.records.size(), ref.records.size());
        for (size_t r = 0; r < ref.records.size(); ++r)
          EXPECT_EQ(std::memcmp(o.records[r].pos, ref.records[r].pos, 6 * sizeof(double)), 0)
              << threads << " threads, mode " << mode << ", record " << r;
        EXPECT_EQ(o.F, ref.F);
        EXPECT_EQ(o.N, ref.N);
      }
  }
}

TEST(ContactApply, WhatComputesNothing) {
  Model m;
  Histories h;
  ASSERT_TRUE(readPile(m, h, "off"));
  const std::vector<double> Y = pileState(m.body_num());
  EXPECT_EQ(m.contacts[1].flag, 0);  // the on/off flag is not consulted
  m.contacts = {m.contacts[1]};      // plate and ball 1, which touch
  ASSERT_FALSE(evaluate(m, settings(), Y).records.empty());
  const std::vector<void (*)(Model&)> breaks = {
      [](Model& b) { b.contacts.clear(); },
      [](Model& b) { b.contacts[0].i_shape = 99; },
      [](Model& b) { b.contacts[0].j_shape = -1; },
      [](Model& b) { b.contacts[0].i_body = 1; },  // not the body of the shape
      [](Model& b) { b.shapes[2].stl_num = 0; },
      [](Model& b) { b.shapes[2].tri_start = 1 << 20; },
      [](Model& b) { b.stl.v_stl_tri[b.shapes[0].tri_start + 4] = 9999; },
      [](Model& b) { b.stl.v_stl_radius.resize(b.shapes[2].normal_start / 3 + 5); },
  };
  for (size_t k = 0; k < breaks.size(); ++k) {
    Model broken = m;
    breaks[k](broken);
    for (int threads : {1, 2}) {
      const Loads l = evaluate(broken, settings(threads, threads - 1), Y);
      EXPECT_TRUE(l.flag == 0 && l.records.empty()) << k;
      EXPECT_EQ(l.F, std::vector<double>(l.F.size(), 0.0)) << k;
      EXPECT_EQ(l.N, std::vector<double>(l.N.size(), 0.0)) << k;
    }
  }
}

TEST(ContactPhysics, DroppedCubeSettlesOnPlateWithItsWeight) {
  const Example e("contact_drop.txt");
  ASSERT_EQ(e.status, AnalysisStatus::Completed);
  // The records of a sample are those of the last evaluation of its step.
  const int last = e.h.anime_num - 1, before = last - static_cast<int>(0.5 / e.m.d_time);
  double Fy = 0;
  for (int r = e.h.stl_cont_ti_st[last]; r < e.h.stl_cont_ti_st[last] + e.h.stl_cont_ti_num[last]; ++r)
    Fy += e.h.cont_value[3 * r + 1];
  EXPECT_NEAR(Fy, 9.81, 0.01 * 9.81);
  // On a face (channel 0 the height, 1 the drift) for the last 0.5 s.
  EXPECT_NEAR(e.out(last, 0), 0.05, 1e-4);
  EXPECT_NEAR(e.out(last, 0), e.out(before, 0), 1e-6);
  EXPECT_NEAR(e.out(last, 1), e.out(before, 1), 5e-4);
}

TEST(ContactPhysics, BoxOnRampSlidesOnlyWhenSteeperThanFriction) {
  // Slope tan(theta) = 0.3: myu 0.15 slides with g (sin - myu cos), 0.5 holds.
  const double theta = std::atan(0.3);
  for (const char* file : {"ramp_slide.txt", "ramp_stay.txt"}) {
    const Example e(file);
    ASSERT_EQ(e.status, AnalysisStatus::Completed);
    const int last = e.h.anime_num - 1;
    const double t = e.h.p_time[last], moved = e.out(0, 0) - e.out(last, 0), myu = e.m.contacts[0].myu;
    const double expected = myu < 0.3 ? 0.5 * 9.81 * (std::sin(theta) - myu * std::cos(theta)) * t * t : 0;
    EXPECT_NEAR(moved, expected, myu < 0.3 ? 0.01 * expected : 0.005) << file;  // 0.005: creep
  }
}
