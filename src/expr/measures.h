// Measures of the current state that expressions can read: distances,
// velocities, angular velocities and angles between markers (local
// coordinates), and joint reactions. Indices outside their table give 0.
//
// A measure is taken in two steps: what it needs of the model (bodies,
// marker offsets, marker axes) is looked up into a BoundMeasure, which is
// then evaluated against the kinematics of an evaluation. The measure* functions do both at
// every call; a compiled expression bound to a model keeps the first step's
// result and repeats only the second, with the same arithmetic.
#pragma once

#include <cstddef>
#include <vector>

namespace orv {

struct Model;
struct Kinematics;
struct TurnCount;

// D (mode 'd') and DX/DY/DZ ('x','y','z'): P_i - P_j, in marker k's axes.
double measureDisplacement(const Model& m, const Kinematics& kin, int i, int j, int k, char mode);
// V ('d') and VX/VY/VZ: velocity of marker i relative to j, in k's axes, observed from l.
double measureVelocity(const Model& m, const Kinematics& kin, int i, int j, int k, int l,
                       char mode);
// WX/WY/WZ: angular velocity of i's body relative to j's body, in k's axes.
double measureAngularVelocity(const Model& m, const Kinematics& kin, int i, int j, int k,
                              char mode);
// A1/A2/A3 ('1','2','3'): Z-X-Z angles (radians) of j's body relative to i's body.
double measureAngle(const Model& m, const Kinematics& kin, int i, int j, char mode);
// TURN: angle of system j's x axis about system i's z axis, from i's x axis
// (radians); continued from the count in kin.turns for (i, j) when there is
// one, else in (-pi, pi].
double measureTurn(const Model& m, const Kinematics& kin, int i, int j);
// Moves every count in `turns` on to the state of `at` (its A set): by the
// change of angle of less than half a turn that gets there.
void advanceTurns(const Model& m, const Kinematics& at, std::vector<TurnCount>& turns);
// F_JOINT: component c (0-5, 6 |f|, 7 |tau|) of a joint's reaction, side 0/1, frame 0 global / 1
// body.
double measureJointReaction(const Model& m, const Kinematics& kin, int joint, int c, int side,
                            int frame);

// A marker as the model places it on its body.
struct MarkerRef {
  int body = -1;             // -1: no such marker or body; the measure is 0
  double cg[3] = {0, 0, 0};  // initial cg of the body
  double s[3] = {0, 0, 0};   // marker origin minus cg, in the body's initial axes
};

// One measure with its model lookups done.
struct BoundMeasure {
  enum Kind : unsigned char {
    Zero,
    Displacement,
    Velocity,
    AngularVelocity,
    Angle,
    JointReaction,
    Turn
  };
  Kind kind = Zero;
  char mode = 0;
  std::size_t nb = 0;          // body count of the model
  MarkerRef ref[4];            // i, j, k, l (joint reaction: the joint's i and j sides)
  double axis[3] = {0, 0, 0};  // axis measures: column of marker k's initial axes
  int joint = -1, c = 0, side = 0, frame = 0;  // joint reaction
  int lc[2] = {-1, -1};                        // turn: systems i and j, by index
  double turnAxes[9] = {};                     // turn: i's initial x and y axes, j's initial x axis
};

// Model lookups of each measure; a measure that is 0 whatever the state
// (unknown mode, marker or joint) binds as Zero.
BoundMeasure bindDisplacement(const Model& m, int i, int j, int k, char mode);
BoundMeasure bindVelocity(const Model& m, int i, int j, int k, int l, char mode);
BoundMeasure bindAngularVelocity(const Model& m, int i, int j, int k, char mode);
BoundMeasure bindAngle(const Model& m, int i, int j, char mode);
BoundMeasure bindJointReaction(const Model& m, int joint, int c, int side, int frame);
BoundMeasure bindTurn(const Model& m, int i, int j);

// Value of a bound measure for the state in kin; kin must belong to the model it was bound to.
double evaluateMeasure(const BoundMeasure& b, const Kinematics& kin);

}  // namespace orv
