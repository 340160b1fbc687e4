#include "session/live_run.h"

#include <new>

#include "model/model.h"
#include "model/state_layout.h"
#include "platform/platform.h"

namespace orv {

LiveRun::~LiveRun() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

void LiveRun::start(const Model& m, const Settings& s, const AnalysisOptions& opt) {
  if (worker_.joinable()) worker_.join();
  stop_ = false;
  ended_ = false;
  latest_ = Snapshot{};
  latest_.progress.sample_total = m.sample_num;
  messages_.clear();
  clock0_ = monotonicMs();
  AnalysisOptions o = opt;
  o.observer = this;
  worker_ = std::thread([this, &m, &s, o] {
    try {
      status_ = executeAnalysis(m, s, hist_, message_, o);
    } catch (const std::bad_alloc&) {
      // Half-filled histories are no result: the model's initial state is.
      status_ = AnalysisStatus::Failed;
      message_ = "Not enough memory to run the analysis";
      try {
        resetToInitialState(hist_, m);
      } catch (const std::bad_alloc&) {
      }
    }
    ended_ = true;
  });
}

LiveRun::Snapshot LiveRun::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  Snapshot s = latest_;
  s.wall_seconds = (monotonicMs() - clock0_) / 1000.0;
  return s;
}

std::vector<Message> LiveRun::takeMessages() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Message> out;
  out.swap(messages_);
  return out;
}

AnalysisStatus LiveRun::finish(std::string& message, Histories& out) {
  if (worker_.joinable()) worker_.join();
  message = message_;
  out = std::move(hist_);
  hist_ = Histories{};
  return status_;
}

void LiveRun::stepTaken(const RunProgress& p) {
  std::lock_guard<std::mutex> lock(mutex_);
  latest_.progress = p;
}

void LiveRun::sampleStored(const Model& m, const Histories& h, int ti, const RunProgress& p) {
  ConsoleObserver::sampleStored(m, h, ti, p);
  // Copied under the lock: the watcher never reads the histories the run is
  // writing, only this row of a sample that is complete.
  const size_t n = StateLayout{m.body_num()}.size();
  std::lock_guard<std::mutex> lock(mutex_);
  latest_.progress = p;
  latest_.sample = ti;
  latest_.time = h.p_time[ti];
  latest_.state.assign(h.p_YYY.begin() + ti * n, h.p_YYY.begin() + (ti + 1) * n);
}

void LiveRun::message(Severity severity, const std::string& text) {
  ConsoleObserver::message(severity, text);
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(Message{severity, text, "", 0});
}

}  // namespace orv
