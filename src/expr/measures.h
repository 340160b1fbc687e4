// Measures of the current state that expressions can read: distances,
// velocities, angular velocities and angles between markers (local
// coordinates), and joint reactions. Indices outside their table give 0.
#pragma once

namespace orv {

struct Model;
struct Histories;

// D (mode 'd') and DX/DY/DZ ('x','y','z'): P_i - P_j, in marker k's axes.
double measureDisplacement(const Model& m, const Histories& h, int i, int j, int k, char mode);
// V ('d') and VX/VY/VZ: velocity of marker i relative to j, in k's axes, observed from l.
double measureVelocity(const Model& m, const Histories& h, int i, int j, int k, int l, char mode);
// WX/WY/WZ: angular velocity of i's body relative to j's body, in k's axes.
double measureAngularVelocity(const Model& m, const Histories& h, int i, int j, int k, char mode);
// A1/A2/A3 ('1','2','3'): Z-X-Z angles (radians) of j's body relative to i's body.
double measureAngle(const Model& m, const Histories& h, int i, int j, char mode);
// F_JOINT: component c (0-5, 6 |f|, 7 |tau|) of a joint's reaction, side 0/1, frame 0 global / 1 body.
double measureJointReaction(const Model& m, const Histories& h, int joint, int c, int side, int frame);

}  // namespace orv
