// What one evaluation reads besides the model: the time and state it is
// evaluated at and every body's rotation and angular velocity. Expressions
// (the keyword `time`, the measures), joints, motions and force elements
// read it; the dynamics sets it at every evaluation. An empty one is no
// state at all: `time` is 0 and every measure 0, as when a file is read.
#pragma once

#include <vector>

namespace orv {

// What TURN(i,j) has counted in a run: the angle of system j about system
// i's z axis at the run's latest accepted state, continued through whole
// turns. An evaluation reads the angle nearest it, so the stages of a step
// and a step tried again never move it; only an accepted state does.
struct TurnCount {
  int i = -1, j = -1;  // the local coordinates, by index
  double angle = 0.0;
};

struct Kinematics {
  double time = 0.0;
  // 14nb: the state the measures read, as the integrator gave it (A and
  // omega come from the evaluation's copy of it).
  std::vector<double> Y;
  std::vector<double> reactions;  // 6nj: joint reactions of the latest sample (F_JOINT)
  std::vector<double> omega;      // 3nb: angular velocity, body axes
  std::vector<double> A;          // 9nb: rotation matrices, row-major
  std::vector<TurnCount> turns;   // none outside a run: TURN reads (-pi, pi]
  // Scale of the joints' Baumgarte terms in their right sides: 1, or 0 in a
  // run that projects every step onto the constraints, where the terms would
  // only add the stiff stabilisation dynamics to each step's error.
  double stabilisation = 1.0;
};

// The kinematics stage: omega and A of every body from the Euler parameters
// and their rates in Y (nb bodies).
void setKinematics(Kinematics& kin, int nb, const double* Y);

}  // namespace orv
