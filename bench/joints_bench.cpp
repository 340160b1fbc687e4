// One evaluation of an axial joint: the cost paid per joint at every
// evaluation of the equations of motion.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "joints/axial_joints.h"
#include "model/kinematics.h"
#include "model/model.h"
#include "math/vec3.h"

namespace {

// Two bodies, LCs off their centres with turned axes, both bodies moving.
struct JointScene {
  orv::Model m;
  orv::Kinematics h;
  std::vector<double> Y;

  explicit JointScene(const char* type) {
    m.bodies.resize(2);
    m.bodies[0].cg_pos[0] = 0.1, m.bodies[1].cg_pos[1] = 0.8;
    m.frames.resize(2);
    const double pos[2][3] = {{0.3, 0.4, -0.2}, {0.35, 0.38, -0.1}};
    const double ang[2][3] = {{10, 20, 30}, {12, 18, 33}};
    for (int f = 0; f < 2; ++f) {
      m.frames[f].body = f;
      for (int k = 0; k < 3; ++k) m.frames[f].pos[k] = pos[f][k], m.frames[f].ang[k] = ang[f][k];
    }
    m.joints.resize(1);
    m.joints[0].type = type;
    m.joints[0].i_lc = 0;
    m.joints[0].j_lc = 1;
    orv::resolveTypesAndAxes(m);
    Y.assign(28, 0.0);
    const double p[2][4] = {{0.9, 0.1, -0.3, 0.2}, {0.8, -0.2, 0.4, 0.1}};
    h.A.assign(18, 0.0);
    h.omega = {0.5, -1.0, 2.0, -0.3, 0.7, 0.1};
    for (int b = 0; b < 2; ++b) {
      double q[4], n = 0;
      for (int c = 0; c < 4; ++c) n += p[b][c] * p[b][c];
      for (int c = 0; c < 4; ++c) q[c] = p[b][c] / std::sqrt(n), Y[12 + 4 * b + c] = q[c];
      orv::mat3FromEulerParameters(&h.A[9 * b], q);
      for (int k = 0; k < 3; ++k) Y[3 * b + k] = 0.01 * (k + b), Y[6 + 3 * b + k] = 0.2 * (k - b);
    }
  }
};

using Evaluator = void (*)(const orv::Model&, const orv::Kinematics&, const double*, double, int,
                           orv::ConstraintRows&);

void runJoint(benchmark::State& state, const char* type, Evaluator evaluate) {
  JointScene scene(type);
  orv::ConstraintRows rows;
  for (auto _ : state) {
    evaluate(scene.m, scene.h, scene.Y.data(), 0.0, 0, rows);
    benchmark::DoNotOptimize(rows.gamma);
    benchmark::ClobberMemory();
  }
}

void BM_RevolutionJoint(benchmark::State& state) {
  runJoint(state, "revolution", orv::revolutionJoint);
}
BENCHMARK(BM_RevolutionJoint);

void BM_CylinderJoint(benchmark::State& state) { runJoint(state, "cylinder", orv::cylinderJoint); }
BENCHMARK(BM_CylinderJoint);

}  // namespace
