#include <gtest/gtest.h>

#include "model/histories.h"
#include "model/model.h"

using namespace orv;

TEST(ModelData, SampleCountTruncates) {
  EXPECT_EQ(sampleCount(0.0, 0.001, 1.0), 1001);
  EXPECT_EQ(sampleCount(0.0, 0.01, 1.0), 101);
  EXPECT_EQ(sampleCount(0.5, 0.1, 0.5), 1);
  EXPECT_EQ(sampleCount(0.0, 0.3, 1.0), 4);
  // A span that is a whole number of steps keeps its end, whatever the rounding.
  EXPECT_EQ(sampleCount(0.0, 1e-5, 0.03), 3001);
  EXPECT_EQ(sampleCount(-1.0, 0.01, 1.0), 201);
  EXPECT_EQ(sampleCount(1e5, 1e-3, 1e5 + 0.35), 351);
  EXPECT_EQ(sampleCount(0.0, 0.1, -0.05), 0);
  // Degenerate spans never become undefined casts.
  EXPECT_EQ(sampleCount(0.0, 0.0, 0.0), 0);
  EXPECT_EQ(sampleCount(0.0, 1e-300, 1e300), 2147483647);
}

TEST(ModelData, GravityLoads) {
  Model m;
  m.bodies.resize(2);
  m.bodies[0].mass = 2.0;
  m.bodies[1].mass = 3.0;
  buildGravity(m, 1, "y-");
  ASSERT_EQ(m.gravity.size(), 2u);
  EXPECT_DOUBLE_EQ(m.gravity[0].F[1], -19.62);
  EXPECT_EQ(m.gravity[0].F[0], 0.0);
  buildGravity(m, 1, "z-");
  EXPECT_DOUBLE_EQ(m.gravity[1].F[2], -29.43);
  buildGravity(m, 0, "z-");
  EXPECT_EQ(m.gravity[1].F[2], 0.0);
  buildGravity(m, 1, "down");  // unknown direction: x axis, plus sign
  EXPECT_DOUBLE_EQ(m.gravity[1].F[0], 29.43);
}

TEST(ModelData, LocalCoordinateBox) {
  Model m;
  computeLcBox(m);
  EXPECT_EQ(m.max_length, 0.0);
  m.frames.resize(3);
  computeLcBox(m);
  EXPECT_EQ(m.max_length, 0.0);  // all at the origin
  m.frames[0].pos[0] = -1.0;
  m.frames[1].pos[1] = 4.0;
  m.frames[2].pos[0] = 2.0;
  computeLcBox(m);
  EXPECT_EQ(m.lc_min[0], -1.0);
  EXPECT_EQ(m.lc_max[0], 2.0);
  EXPECT_EQ(m.max_length, 4.0);
}

TEST(ModelData, OneSampleResultShowsTheInitialState) {
  Model m;
  m.bodies.resize(2);
  m.joints.resize(1);
  m.forces.resize(3);
  Histories h;
  h.anime_num = 7;
  setOneSampleResult(h, m);
  ASSERT_EQ(h.p_YYY.size(), 28u);
  for (int i = 0; i < 28; ++i) EXPECT_EQ(h.p_YYY[i], (i == 12 || i == 16) ? 1.0 : 0.0) << i;
  EXPECT_EQ(h.p_F_const.size(), 6u);
  EXPECT_EQ(h.p_C_const.size(), 1u);
  EXPECT_EQ(h.p_F_force.size(), 18u);
  EXPECT_EQ(h.anime_num, 1);
}

TEST(ModelData, NameResolutionLastMatchWins) {
  std::vector<Body> bodies(3);
  bodies[0].name = "arm";
  bodies[1].name = "base";
  bodies[2].name = "arm";
  EXPECT_EQ(findLastByName(bodies, "arm"), 2);
  EXPECT_EQ(findLastByName(bodies, "base"), 1);
  EXPECT_EQ(findLastByName(bodies, "Arm"), -1);
}
