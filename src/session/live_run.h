// One analysis on a thread of its own, watched from another (the window):
// the watcher polls its progress and latest complete sample, asks it to
// stop, and takes its histories once it has ended. The console keeps its
// account as in the batch program.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "analysis/observer.h"
#include "model/histories.h"
#include "session/run.h"

namespace orv {

class LiveRun : public ConsoleObserver {
 public:
  // What the watcher sees of a run in progress.
  struct Snapshot {
    RunProgress progress;
    double wall_seconds = 0.0;  // since the run started
    int sample = -1;            // the latest complete sample (-1: none yet)
    double time = 0.0;          // its time
    std::vector<double> state;  // its state row (StateLayout)
  };

  LiveRun() = default;
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;
  // Asks a run still going to stop and waits for it.
  ~LiveRun() override;

  // Starts "Execute Analysis" of m with s on the process's run thread, into
  // histories of its own. m and s must stay unchanged until the run has
  // ended. One thread serves every run, so that what a run keeps per thread
  // (the contact scratch) stays warm from one run to the next, as it does on
  // the batch program's main thread.
  void start(const Model& m, const Settings& s, const AnalysisOptions& opt = {});
  // The run ends at the end of the step in progress; callable from any thread.
  void requestStop() { stop_ = true; }
  bool stopRequested() override { return stop_; }
  // True once the run has ended.
  bool ended() const { return ended_; }

  Snapshot snapshot() const;
  // Messages since the last call, in order.
  std::vector<Message> takeMessages();

  // Waits for the run to end and hands out its status, message and
  // histories. Only once per start().
  AnalysisStatus finish(std::string& message, Histories& out);

  void stepTaken(const RunProgress& p) override;
  void sampleStored(const Model& m, const Histories& h, int ti, const RunProgress& p) override;
  void message(Severity severity, const std::string& text) override;

 private:
  // Waits until no run of this object is going.
  void waitForEnd();

  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{true};
  std::mutex endMutex_;
  std::condition_variable endCv_;
  double clock0_ = 0.0;

  mutable std::mutex mutex_;  // guards what follows
  Snapshot latest_;
  std::vector<Message> messages_;

  // Written by the worker, read after it has been joined.
  Histories hist_;
  AnalysisStatus status_ = AnalysisStatus::Refused;
  std::string message_;
};

}  // namespace orv
