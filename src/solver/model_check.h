// Checks of a model before an analysis starts: everything the solver needs
// and the reader cannot see record by record. Each problem is one line that
// names the record's place in the model file and what is wrong.
#pragma once

#include <string>

namespace orv {

struct Model;
struct DynamicsWork;

// Checks what the solver needs and the reader accepts: resolved references of
// joints, motions, forces and contacts, supported motion types, positive
// masses and inertias, joints between two bodies. False with one line per
// problem in `message`.
bool checkModelForAnalysis(const Model& m, std::string& message);

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
