// Checks of the start of a run, on what the run evaluates: values, rows and
// gaps at the initial configuration, and rows that repeat others. Each
// problem is one line naming the record's place in the model file.
#pragma once

#include <string>

namespace orv {

struct Model;
struct DynamicsWork;

// Checks of the start of a run on what the run evaluates (w as set up for m):
// - the rates of the motions and the force6 components are finite at the start;
// - every constraint row is finite at the initial configuration;
// - every joint is assembled there: a gap above 1e-9 of the model size (or
//   1e-9 rad) is a warning line on the console, above 1% of it (or 1e-3 rad)
//   a refusal, since the stabilisation would pull the bodies together;
// - rows that repeat earlier rows agree with them (position gap and
//   prescribed rate), so that leaving them out changes nothing.
// False with one line per problem in `message`.
bool checkStartOfRun(const Model& m, const DynamicsWork& w, std::string& message);

}  // namespace orv
