// Checks of a model before an analysis starts: everything the solver needs
// and the reader cannot see record by record. Each problem is one line that
// names the record's place in the model file and what is wrong.
#pragma once

#include <string>

namespace orv {

struct Model;

// Checks what the solver needs and the reader accepts: resolved references of
// joints, motions, forces and contacts, supported motion types, positive
// masses and inertias, contacts between usable STL meshes with finite,
// non-negative constants. False with one line per problem in `message`.
bool checkModelForAnalysis(const Model& m, std::string& message);

}  // namespace orv
