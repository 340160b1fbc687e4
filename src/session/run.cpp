#include "session/run.h"

#include "files/result_file.h"
#include "model/globals.h"
#include "platform/console.h"

namespace orv {

namespace {

// The result file at one path: checked before the run, written after it.
class ResultFileStore : public ResultStore {
 public:
  explicit ResultFileStore(std::string path) : path_(std::move(path)) {}
  bool ready(std::string& why) override { return checkResultPath(path_, why); }
  bool keep(const Model& m, const Histories& h, std::string& why) override {
    return writeResultFileAt(path_, m, h, &why);
  }

 private:
  std::string path_;
};

}  // namespace

AnalysisStatus runAnalysis(const Model& m, const Settings& s, Histories& h, std::string& message,
                           const AnalysisOptions& opt) {
  ResultFileStore file(opt.outputPath.empty() ? resultFilePath(m, opt.resultDir) : opt.outputPath);
  SimulationOptions sim;
  sim.pauses = opt.pauses;
  sim.store = opt.writeResult ? &file : nullptr;
  sim.observer = opt.observer;
  return simulate(m, s, h, message, sim);
}

AnalysisStatus executeAnalysis(std::string& message, const AnalysisOptions& opt) {
  return executeAnalysis(g_model, g_settings, g_hist, message, opt);
}

AnalysisStatus executeAnalysis(const Model& m, const Settings& s, Histories& h,
                               std::string& message, const AnalysisOptions& opt) {
  if (!(m.body_num() > 0 && m.frame_num() > 0)) {
    message = "No model for analysis";
    cprintf("  %s\n", message.c_str());
    return AnalysisStatus::Refused;
  }
  AnalysisStatus st = runAnalysis(m, s, h, message, opt);
  if (st == AnalysisStatus::Refused) {
    cprintf("  %s\n", message.c_str());
    return st;
  }
  cprintf("return to mainwindow\n");
  return st;
}

}  // namespace orv
