// The result file: everything an analysis produced (sample times, states,
// reactions, violations, forces, contact records, output channels) as plain
// text, so that a result can be shown again without re-running the analysis.
// A result whose channels are not the model's own (an imported motion) lists
// their names after the version, before the sample count.
#pragma once

#include <cstddef>
#include <string>

namespace orv {

// Longest version text and channel name a result file holds.
constexpr std::size_t kVersionMax = 255;
constexpr std::size_t kChannelNameMax = 255;

struct Model;
struct Histories;

// <dir>/log/result_<model file name> ("" = working directory): an analysis's result.
std::string resultFilePath(const Model& m, const std::string& dir = "");
// <dir>/log/import_<model file name>: an imported motion's result, apart from the analysis's.
std::string importFilePath(const Model& m, const std::string& dir = "");

// Whether a result can be written at `path` before anything is computed for
// it: its folder exists or can be made (one level, as log/ is) and a file can
// be created there. Otherwise false, with `why` naming the path and the reason.
bool checkResultPath(const std::string& path, std::string& why);

// Writes the result of h and m at `path`. A file already there is kept as
// <path>.bak, and temporary files of writers that died are removed from the
// folder first. On failure `why` (if given) says what failed and why.
bool writeResultFileAt(const std::string& path, const Model& m, const Histories& h,
                       std::string* why = nullptr);

// Reads a result file for the loaded model m into h; h is unchanged unless the whole file is good.
bool readResultFile(const std::string& path, const Model& m, Histories& h);

}  // namespace orv
