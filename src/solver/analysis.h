// The analysis driver: initial state, fourth-order Runge-Kutta steps with an
// energy- and contact-controlled step size, sampling, result file.
#pragma once

#include <string>

namespace orv {

struct Model;
struct Settings;
struct Histories;

enum class AnalysisStatus {
  Completed,  // ran to the end of the time span
  Stopped,    // the energy ratio jumped above 10 without contact
  Failed,     // the constraint system could not be solved; samples so far kept
  Refused,    // the model cannot be analysed; nothing ran
};

struct AnalysisOptions {
  bool pauses = true;        // the short pauses at the end of a run
  bool writeResult = true;   // write log/result_<model file name>
  std::string resultDir;     // directory holding log/ ("" = working directory)
  std::string outputPath;    // the result file instead ("" = the one above)
};

// Mechanical energy of state Y from the terms the settings select.
double totalEnergy(const Model& m, const Settings& s, const Histories& h, const double* Y);

// Runs one analysis of m, replacing the histories. A result file that cannot
// be written refuses the run before it starts. `message` explains a
// Refused or Failed run; after a run that went to its end it holds the report
// of redundant constraint rows left out ("" when there were none).
AnalysisStatus runAnalysis(const Model& m, const Settings& s, Histories& h, std::string& message,
                           const AnalysisOptions& opt = {});

// "Execute Analysis" on the process-wide objects: refuses without bodies and
// local coordinates ("No model for analysis") or on a failed model check,
// otherwise runs the analysis and prints "return to mainwindow".
AnalysisStatus executeAnalysis(std::string& message, const AnalysisOptions& opt = {});

}  // namespace orv
