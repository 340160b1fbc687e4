// Checks of a model before an analysis starts: everything the solver needs
// and the reader cannot see record by record. Each problem is one line that
// names the record's place in the model file and what is wrong.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;
struct Settings;

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

// The problems as the message of a refusal: one a line, the first 20 (and
// how many more). True when there are none.
bool listProblems(const std::vector<std::string>& problems, std::string& message);

}  // namespace orv
