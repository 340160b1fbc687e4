// The model file reader: sections, echo, name resolution, expression
// rewriting, meshes and images.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;
struct Settings;
struct Histories;

enum class ReadStatus { Ok, OpenError, InputError };

// A parameter value given from outside the file (orvaldyn-batch --set). It
// replaces the value text of the parameter of that name as it is read, so the
// model is what the file edited to hold that text would give, to the bit.
struct ParameterValue {
  std::string name;
  std::string text;
};
using ParameterValues = std::vector<ParameterValue>;

// Reads the model file at `path` into m, echoing it on the console.
// OpenError: the file could not be opened; m and h are unchanged.
// InputError: `message` holds "Miss input at ..."; a failure in the first three
// sections leaves m unchanged, a later one leaves the model read so far with
// every section from the local coordinates through the failing one emptied, so
// nothing of two models is mixed and no analysis can start.
// On success, h keeps a finished result only when it fits the new model;
// otherwise it gets the one-sample arrays of the initial state. `values`
// replace the value texts of the parameters they name; a name the file does
// not have is left for the caller to refuse (its model is read all the same).
ReadStatus readModelFile(const std::string& path, const Settings& s, Model& m, Histories& h,
                         std::string& message, const ParameterValues& values = {});

// Rewrites function, local-coordinate and parameter names in `text` (functions
// expanded in place, local coordinates by index, parameters as P(i)). False with
// `why` set when a function refers to itself or the result exceeds `limit`.
bool rewriteExpression(const Model& m, std::string& text, size_t limit, std::string& why);

// "Open Model File": prints the path, reads it into the process-wide model and
// on an input error prints the message. Returns the reader's status.
ReadStatus openModelFile(const std::string& path, std::string& message,
                         const ParameterValues& values = {});

}  // namespace orv
