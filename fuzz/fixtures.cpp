#include "fixtures.h"

#include "math/vec3.h"

namespace orvfuzz {

using namespace orv;

void expressionModel(Model& m, Kinematics& h) {
  m = Model{};
  const char* names[] = {"L1", "m1", "deg", "x", "g_acc"};
  const double values[] = {1.0, 2.5, 57.29577951, -3.0, 9.81};
  for (int i = 0; i < 5; ++i) m.parameters.push_back(Parameter{i, names[i], values[i], ""});
  m.bodies.resize(2);
  m.bodies[0].name = "ground", m.bodies[0].cg = "ground_cg";
  m.bodies[1].name = "arm", m.bodies[1].cg = "arm_cg", m.bodies[1].cg_pos[0] = 0.5;
  const struct {
    const char* name;
    int body;
    double pos[3], ang[3];
  } frames[] = {{"ground_cg", 0, {0, 0, 0}, {0, 0, 0}},
                {"pivot", 0, {0, 0, 0}, {0, 0, 0}},
                {"arm_cg", 1, {0.5, 0, 0}, {0, 0, 0}},
                {"tip", 1, {1, 0, 0}, {30, 90, 0}}};
  for (int i = 0; i < 4; ++i) {
    LocalCoordinate lc;
    lc.id = i, lc.name = frames[i].name, lc.body = frames[i].body;
    lc.body_name = m.bodies[lc.body].name;
    for (int k = 0; k < 3; ++k) lc.pos[k] = frames[i].pos[k], lc.ang[k] = frames[i].ang[k];
    m.frames.push_back(lc);
  }
  m.bodies[0].cg_lc = 0, m.bodies[1].cg_lc = 2;
  Joint j;
  j.name = "pin", j.type = "revolution", j.iframe = "tip", j.jframe = "pivot";
  j.i_lc = 3, j.j_lc = 1, j.i_body = 1, j.j_body = 0;
  m.joints.push_back(j);
  m.functions.push_back(ModelFunction{0, "ke", "(0.5*m1*V(arm_cg,pivot)*V(arm_cg,pivot))"});
  m.functions.push_back(ModelFunction{1, "span", "(DX(tip,pivot,pivot)+ke)"});
  resolveTypesAndAxes(m);

  h = Kinematics{};
  h.time = 0.25;
  const int nb = 2;
  h.Y.assign(14 * nb, 0.0);
  for (int i = 0; i < 3 * nb; ++i) h.Y[i] = 0.1 * (i + 1);            // displacements
  for (int i = 0; i < 3 * nb; ++i) h.Y[3 * nb + i] = -0.2 * (i + 1);  // velocities
  h.A.assign(9 * nb, 0.0);
  mat3Identity(&h.A[0]);
  mat3RotationZXZ(&h.A[9], 0.3, 0.2, -0.1);
  h.omega = {0, 0, 0, 0.5, -1.5, 2.0};
  h.reactions = {1, 2, 3, 4, 5, 6};
}

Model stlModel() {
  Model m;
  LocalCoordinate lc;
  lc.name = "base", lc.body = 0;
  lc.pos[0] = 1.0, lc.pos[2] = -2.0;
  lc.ang[0] = 30, lc.ang[1] = 45, lc.ang[2] = 60;
  m.frames.push_back(lc);
  Shape sh;
  sh.name = "part", sh.type = "STL", sh.frame = "base", sh.lc = 0;
  sh.unit = 0.001, sh.normal_sign = -1;
  m.shapes.push_back(sh);
  resolveTypesAndAxes(m);
  return m;
}

Model resultModel() {
  Model m;
  m.bodies.resize(2), m.joints.resize(1), m.motions.resize(1);
  m.forces.resize(1), m.contacts.resize(1), m.outputs.resize(2);
  m.sample_num = 8;
  m.path = "rig.txt";
  return m;
}

Histories resultHistories(const Model& m) {
  const int N = 5;
  const size_t nb = m.body_num(), nj = m.joint_num(), nm = m.motion_num();
  Histories h;
  auto fill = [](std::vector<double>& v, size_t n, double scale) {
    v.resize(n);
    for (size_t i = 0; i < n; ++i) v[i] = scale * (static_cast<double>(i % 17) - 8.0) / 3.0;
  };
  fill(h.p_time, N + 1, 0.01);
  fill(h.p_YYY, (N + 1) * 14 * nb, 1.0);
  fill(h.p_F_const, (N + 10) * 6 * nj, 250.0);
  fill(h.p_C_const, (N + 10) * (nm + nj), 1e-9);
  fill(h.p_F_force, (N + 10) * 6 * m.force_num(), -3.5);
  fill(h.p_output, (N + 1) * m.output_num(), 1e3);
  h.cont_time_index = {1, 1, 3};
  fill(h.cont_position, 9, 0.2);
  fill(h.cont_value, 9, 40.0);
  h.stl_cont_ti_st = {0, 0, 2, 2, 3, 3};
  h.stl_cont_ti_num = {0, 2, 0, 1, 0, 0};
  h.anime_num = N;
  h.version = "1.25";
  return h;
}

Model motionModel() {
  Model m;
  const char* bodies[] = {"ground", "upper", "lower"};
  for (int b = 0; b < 3; ++b) {
    m.bodies.emplace_back();
    m.bodies.back().id = b, m.bodies.back().name = bodies[b];
  }
  const struct {
    const char* name;
    const char* type;
    int i_body, j_body;
  } joints[] = {{"fix_ground", "ground", 0, -1},
                {"shoulder", "revolution", 0, 1},
                {"elbow", "revolution", 1, 2}};
  for (int j = 0; j < 3; ++j) {
    Joint J;
    J.id = j, J.name = joints[j].name, J.type = joints[j].type;
    J.i_body = joints[j].i_body, J.j_body = joints[j].j_body;
    m.joints.push_back(J);
  }
  m.outputs = {{0, "energy", "P(0)"}};
  m.sample_num = 2001;
  resolveTypesAndAxes(m);
  return m;
}

}  // namespace orvfuzz
