// Regularised friction: the law's slope near rest bounds the step, a body at
// rest keeps no speed and no friction, sliding follows Coulomb's law, and a
// load below the limit is held at the creep speed where the law balances it.
#include <gtest/gtest.h>

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

Settings law(double vs, double ratio = 1.0, double vd = 2e-3) {
  Settings s = orvtest::exampleSettings();
  s.stiction_speed = vs, s.static_friction_ratio = ratio, s.sliding_speed = vd;
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
  // The shipped law, and one ten times stiffer that only the step rule keeps stable.
  for (double vs : {1e-3, 1e-4}) {
    SCOPED_TRACE(vs);
    const Outcome r = example("contact_drop.txt", law(vs));
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

TEST(Friction, SlidingAndCreepFollowTheLaw) {
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
  // Below it (a share `load` of the largest friction), the body creeps at the
  // speed where the rising branch balances the load, steadily: the law holds
  // it no better than that, v_s x with x (3 - x^2) / 2 = load. The box on the
  // slope, under a law stiff enough to hold it within 1e-5 m for 1 s, catches
  // steps that jump across the narrow band around rest and hop about it.
  const auto to1200ms = [](Model& m) {
    m.end_time = 1.2, m.sample_num = sampleCount(m.start_time, m.d_time, m.end_time);
  };
  const struct {
    Outcome r;
    double vs, load;
  } creeping[] = {{orvtest::runFile(std::string(ORVALDYN_EXAMPLES) + "/ramp_stay.txt",
                                    law(2e-5, 1.0, 4e-5), to1200ms),
                   2e-5, 0.3 / 0.5},
                  {orvtest::runText(pushedBox(0.98 * 0.5 * g, 0.5), law(1e-3)), 1e-3, 0.98},
                  {orvtest::runText(pushedBox(0.98 * 0.5 * g, 0.5), law(2e-4, 1.3, 5e-4)), 2e-4,
                   0.98 / 1.3}};
  for (const auto& c : creeping) {
    ASSERT_EQ(c.r.status, AnalysisStatus::Completed) << c.r.message;
    double x = 0.5;  // Newton on x (3 - x^2) / 2 = load
    for (int it = 0; it < 30; ++it) x -= (0.5 * x * (3.0 - x * x) - c.load) / (1.5 * (1.0 - x * x));
    const int last = c.r.h.anime_num - 1, vout = c.r.m.output_num() - 1;
    for (int ti : {last / 2, last})
      EXPECT_NEAR(std::fabs(c.r.out(ti, vout)), c.vs * x, 0.01 * c.vs) << ti;
  }
  const Outcome& slope = creeping[0].r;  // from 0.2 s, settled, to 1.2 s
  EXPECT_LT(std::fabs(slope.out(1200, 0) - slope.out(200, 0)), 1e-5);
}
