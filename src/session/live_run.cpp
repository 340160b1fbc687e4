#include "session/live_run.h"

#include <deque>
#include <functional>
#include <new>
#include <thread>

#include "model/model.h"
#include "model/state_layout.h"
#include "platform/platform.h"

namespace orv {

namespace {

// The thread every run of the process runs on, one run after another.
class RunThread {
 public:
  static RunThread& get() {
    static RunThread t;
    return t;
  }
  void post(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    cv_.notify_all();
  }
  ~RunThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  RunThread() : thread_([this] { loop(); }) {}
  void loop() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  bool quit_ = false;
  std::thread thread_;  // last: it starts once the rest is built
};

}  // namespace

LiveRun::~LiveRun() {
  stop_ = true;
  waitForEnd();
}

void LiveRun::waitForEnd() {
  std::unique_lock<std::mutex> lock(endMutex_);
  endCv_.wait(lock, [this] { return ended_.load(); });
}

void LiveRun::start(const Model& m, const Settings& s, const AnalysisOptions& opt) {
  waitForEnd();
  stop_ = false;
  ended_ = false;
  latest_ = Snapshot{};
  latest_.progress.sample_total = m.sample_num;
  messages_.clear();
  clock0_ = monotonicMs();
  AnalysisOptions o = opt;
  o.observer = this;
  RunThread::get().post([this, &m, &s, o] {
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
    // Set and told under the lock: a waiter cannot miss it, and this object
    // (which a waiter may destroy at once) is not touched after the unlock.
    std::lock_guard<std::mutex> lock(endMutex_);
    ended_ = true;
    endCv_.notify_all();
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
  waitForEnd();
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
