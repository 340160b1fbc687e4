// What the entry points (the window, the batch program) do with one analysis:
// run it and keep its result as a file.
#pragma once

#include <string>

#include "analysis/analysis.h"

namespace orv {

struct AnalysisOptions {
  bool pauses = true;       // the short pauses at the end of a run
  bool writeResult = true;  // write log/result_<model file name>
  std::string resultDir;    // directory holding log/ ("" = working directory)
  std::string outputPath;   // the result file instead ("" = the one above)
  RunObserver* observer = nullptr;  // nullptr: the console's account
};

// Runs one analysis of m, replacing the histories, and writes its result
// file (also of a run that stopped). A result file that cannot be written
// refuses the run before it starts. `message` as simulate() gives it.
AnalysisStatus runAnalysis(const Model& m, const Settings& s, Histories& h, std::string& message,
                           const AnalysisOptions& opt = {});

// "Execute Analysis" on the process-wide objects: refuses without bodies and
// local coordinates ("No model for analysis") or on a failed model check,
// otherwise runs the analysis and prints "return to mainwindow".
AnalysisStatus executeAnalysis(std::string& message, const AnalysisOptions& opt = {});
// The same on the given objects.
AnalysisStatus executeAnalysis(const Model& m, const Settings& s, Histories& h,
                               std::string& message, const AnalysisOptions& opt = {});

}  // namespace orv
