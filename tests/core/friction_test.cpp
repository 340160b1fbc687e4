// Friction: the regularised law's slope near rest bounds the step, a body at
// rest keeps no speed and no friction, sliding follows Coulomb's law, a load
// below the limit is held still by the stiction anchors, and without them
// only at the creep speed where the law balances it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "contact/detection.h"
#include "model/state_layout.h"
#include "test_util.h"

using namespace orv;
using orvtest::Outcome;

namespace {

constexpr double g = 9.81;

Settings law(double vs, double stick = 1.0) {
  Settings s = orvtest::exampleSettings();
  s.stiction_speed = vs, s.sliding_speed = 2e-3, s.stick_stiffness = stick;
  return s;
}

// A 1 kg box of 0.1 m resting on the plate, pushed along x by `force`; it
// slides between two rows of the plate's nodes, so only its corners touch.
std::string pushedBox(double force, double myu) {
  char b[1600];
  std::snprintf(b, sizeof b, R"(parameter_info  name_value  e  0.1  %%
body_info  name_cg_mass_Ixx_Iyy_Izz_vx_vy_vz_wx_wy_wz
  ground  ground_cg  1.0  1.0  1.0  1.0  0 0 0  0 0 0
  box  box_cg  1.0  e*e/6  e*e/6  e*e/6  0 0 0  0 0 0  %%
local_coordinate_info  name_body_x_y_z_a1_a2_a3
  ground_cg  ground  0 0 0  0 0 0
  box_cg  box  0 0.05-2.4525e-5 0.0625  0 0 0  %%
joint_info  flag_name_type_i_j  on  fix_ground  ground  ground_cg  non  %%
force_info  flag_name_type_i_j_r_values  on  push  force6  box_cg  ground_cg  ground_cg  %.17g 0 0 0 0 0  %%
shape_info  name_type_frame_color_trans_sizes
  plate_mesh  STL  ground_cg  silver  1.0  1.0  +  meshes/plate.stl
  box_mesh  STL  box_cg  orange  1.0  1.0  +  meshes/cube.stl  %%
contact_info  flag_name_i_j_k_c_d_e_mu  on  box_on_plate  box_mesh  plate_mesh  1e5  150  0.005  1.0  %.17g  %%
output_info  name_expression  x  DX(box_cg,ground_cg,ground_cg)  vx  VX(box_cg,ground_cg,ground_cg,ground_cg)  %%
gravity  g  on  y-  %%
simulation_time  start_step_end  0.0  0.001  1.0  %%
)",
                force, myu);
  return b;
}

Outcome example(const std::string& file, const Settings& s) {
  return orvtest::runFile(std::string(ORVALDYN_EXAMPLES) + "/" + file, s);
}

}  // namespace

TEST(Friction, LawRisesSmoothlyAndItsSlopeBoundsTheStep) {
  const struct {
    double vs, ratio, vd;
  } laws[] = {{1e-3, 1.0, 2e-3}, {1e-3, 1.3, 2e-3}, {2e-4, 2.0, 1e-3}};
  for (const auto& l : laws) {
    const ContactParams p = contactParams(1e5, 0, 0.01, 0.4, l.vs, l.ratio, l.vd);
    EXPECT_TRUE(frictionCoefficient(0.0, p) == 0.0 && frictionCoefficient(l.vd, p) == 0.4 &&
                std::fabs(frictionCoefficient(l.vs, p) - 0.4 * l.ratio) < 1e-15);
    // No jump anywhere, and no rise steeper than the slope the step rule uses.
    const double dv = l.vd * 1e-5, bound = frictionSlope(p);
    double steepest = 0.0;
    for (double v = 0.0; v < 1.5 * l.vd; v += dv)
      steepest =
          std::max(steepest, (frictionCoefficient(v + dv, p) - frictionCoefficient(v, p)) / dv);
    EXPECT_TRUE(steepest <= bound && steepest > 0.999 * bound) << steepest << " " << bound;
  }
  // Stiction speed 0 is the sign law: myu against any sliding, no damper.
  const ContactParams sign = contactParams(1e5, 0, 0.01, 0.4, 0.0, 1.3, 2e-3);
  EXPECT_TRUE(frictionCoefficient(2e-10, sign) == 0.4 && frictionSlope(sign) == 0.0);
}

TEST(Friction, BodiesComeToRestAndStay) {
  // The shipped settings, and the law alone ten times stiffer, which only
  // the step rule keeps stable.
  for (const Settings& s : {law(1e-3), law(1e-4, 0.0)}) {
    SCOPED_TRACE(s.stiction_speed);
    const Outcome r = example("contact_drop.txt", s);
    ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
    const int last = r.h.anime_num - 1;
    for (int ti = last / 3; ti <= last; ++ti) {  // from 0.5 s on
      const double* v = &r.state(ti)[StateLayout{2}.v(1)];
      ASSERT_LT(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]), 1e-6) << r.h.p_time[ti];
    }
    double F[3] = {0, 0, 0};
    for (int k = r.h.stl_cont_ti_st[last]; k < r.h.stl_cont_ti_st[last] + r.h.stl_cont_ti_num[last];
         ++k)
      for (int a = 0; a < 3; ++a) F[a] += r.h.cont_value[3 * k + a];
    EXPECT_LT(std::hypot(F[0], F[2]), 1e-3);
    EXPECT_NEAR(F[1], g, 1e-4 * g);
  }
  // friction_stick.txt: a box slides to a stop after v0^2 / (2 myu g) and stays.
  const Outcome& r = orvtest::exampleRun("friction_stick.txt");
  ASSERT_EQ(r.status, AnalysisStatus::Completed) << r.message;
  const int last = r.h.anime_num - 1;
  EXPECT_NEAR(r.out(last, 0), r.out(last, 2), 1e-3 * r.out(last, 2));
  EXPECT_LT(std::fabs(r.out(last, 1)), 1e-6);
}

TEST(Friction, SlidingFollowsCoulombsLaw) {
  const double theta = std::atan(0.3);
  // Above the limit, from `from` s on: a = (F - myu N) / m, to 0.5 %.
  const struct {
    Outcome r;
    double from, a;
  } sliding[] = {
      {example("ramp_slide.txt", law(1e-3)), 0.01, -g * (std::sin(theta) - 0.15 * std::cos(theta))},
      {orvtest::runText(pushedBox(1.02 * 0.5 * g, 0.5), law(1e-3)), 0.1, 0.02 * 0.5 * g}};
  for (const auto& c : sliding) {
    ASSERT_EQ(c.r.status, AnalysisStatus::Completed) << c.r.message;
    const int last = c.r.h.anime_num - 1, ti = static_cast<int>(std::lround(c.from / 0.001));
    const int vout = c.r.m.output_num() - 1;
    const double a =
        (c.r.out(last, vout) - c.r.out(ti, vout)) / (c.r.h.p_time[last] - c.r.h.p_time[ti]);
    EXPECT_NEAR(a, c.a, 0.005 * std::fabs(c.a));
  }
}

TEST(Friction, AnchorsHoldWhatTheLawLetsCreep) {
  // The box on the 0.3 slope (myu 0.5), settled by 0.2 s, for 11 s more; and
  // the box pushed at 0.98 of the limit, whose back corners, unloaded by the
  // push's moment, slide at their cap while the front ones hold the rest.
  const auto to11200ms = [](Model& m) {
    m.end_time = 11.2, m.sample_num = sampleCount(m.start_time, m.d_time, m.end_time);
  };
  const Outcome slope = orvtest::runFile(std::string(ORVALDYN_EXAMPLES) + "/ramp_stay.txt",
                                         law(1e-3), to11200ms);
  const Outcome pushed = orvtest::runText(pushedBox(0.98 * 0.5 * g, 0.5), law(1e-3));
  for (const Outcome* r : {&slope, &pushed}) {
    ASSERT_EQ(r->status, AnalysisStatus::Completed) << r->message;
    const int last = r->h.anime_num - 1, vout = r->m.output_num() - 1;
    const int mid = std::min(1200, last);  // 1 s after settling
    EXPECT_LT(std::fabs(r->out(mid, 0) - r->out(200, 0)), 1e-5);
    EXPECT_LT(std::fabs(r->out(last, 0) - r->out(mid, 0)), 1e-5);
    EXPECT_LT(std::fabs(r->out(last, vout)), 1e-6);
  }
  // Without anchors the law holds the pushed box no better than creeping at
  // the speed where its rising branch balances the load: v_s x with
  // x (3 - x^2) / 2 = 0.98.
  const Outcome creep = orvtest::runText(pushedBox(0.98 * 0.5 * g, 0.5), law(1e-3, 0.0));
  ASSERT_EQ(creep.status, AnalysisStatus::Completed) << creep.message;
  double x = 0.5;
  for (int it = 0; it < 30; ++it) x -= (0.5 * x * (3.0 - x * x) - 0.98) / (1.5 * (1.0 - x * x));
  for (int ti : {500, 1000}) EXPECT_NEAR(std::fabs(creep.out(ti, 1)), 1e-3 * x, 1e-5) << ti;
}
