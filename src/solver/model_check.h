// Checks of a model before an analysis starts: everything the solver needs
// and the reader cannot see record by record. Each problem is one line that
// names the record's place in the model file and what is wrong.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;
struct Settings;
struct DynamicsWork;

// Checks what the solver needs and the reader accepts: resolved references of
// joints, motions, forces and contacts, supported motion types, positive
// masses and inertias, joints between two bodies, contacts between usable
// STL meshes with finite, non-negative constants. False with one line per
// problem in `message`.
bool checkModelForAnalysis(const Model& m, std::string& message);

// Warnings (the run goes on) for contacts too stiff for the step they are
// integrated with: a contact point of stiffness k and damping c between the
// contact's bodies moves as mu x'' + c x' + k x = 0 (mu the reduced mass of
// the bodies not held by a ground joint; omega = sqrt(k / mu)), and
// fourth-order Runge-Kutta at the contact step h = contact_time_step_coefficient
// x d_time is stable only while |R(lambda h)| <= 1 for both roots lambda
// (omega h <= 2.83 undamped). One line per such contact, naming its place,
// omega h and the largest stable d_time.
std::vector<std::string> contactStepWarnings(const Model& m, const Settings& s);

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
