// The result file: everything an analysis produced (sample times, states,
// reactions, violations, forces, contact records, output channels) as plain
// text, so that a result can be shown again without re-running the analysis.
#pragma once

#include <string>

namespace orv {

struct Model;
struct Histories;

// Writes log/result_<model file name> under `dir` ("" = working directory) from h and m.
bool writeResultFile(const Model& m, const Histories& h, const std::string& dir = "");
// Reads a result file for the loaded model m into h; h is unchanged unless the whole file is good.
bool readResultFile(const std::string& path, const Model& m, Histories& h);

}  // namespace orv
