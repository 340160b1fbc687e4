// Motion computed elsewhere: a header file describing tracked nodes, a motion
// file (.mov) with their positions, angles and velocities per sample, and a
// joint-force file (.jnt) with the loads of every joint. The import fills the
// same stores an analysis fills, so the view animates it and the graph window
// plots its channels; the model supplies the geometry.
//
// Files used for MOVFILE = <dir>/<name>.mov:
//   <dir>/header.txt
//   the motion path cut at its first "." plus ".jnt" (so a dot in a directory
//   name shortens it); when that file does not exist, <dir>/<name>.jnt.
#pragma once

#include <string>

namespace orv {

struct Model;
struct Histories;

// Imports header.txt, MOVFILE and its .jnt beside it for model m into h, with
// the channels' names (m is not changed); nothing changes unless all three
// were read completely.
bool importMotion(const std::string& movPath, const Model& m, Histories& h);

// The joint-force file paths tried for a motion file, in order (one or two).
// The second, if any, replaces only the motion file's own extension.
void jointForcePaths(const std::string& movPath, std::string& first, std::string& second);

// Euler parameters (e0 >= 0) of the rotation matrix A (row-major), stable for
// every angle including half turns.
void eulerParametersFromMatrix(const double* A, double* p);

}  // namespace orv
