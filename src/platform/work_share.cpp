#include "platform/work_share.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orv {

namespace {

// How long a thread polls for what it waits on before it sleeps: back-to-back
// jobs (the evaluations of one step) then start without a wake-up through the
// system, which can take longer than a job. The poll yields the core to
// anything else that wants it, so a loaded machine loses next to nothing.
constexpr std::chrono::microseconds kPoll{200};

// A job whose caller, its own chunks done, waited for the pooled threads'
// longer than it worked and longer than kSlowWait was held up by a thread the
// system stopped in the middle of a chunk (another process wants its core):
// the jobs of the next while run on the caller alone, for a while that
// doubles each time the next shared job is held up again, up to kAloneMax,
// and starts over from kAloneMin after one that is not.
constexpr std::chrono::microseconds kSlowWait{20};
constexpr std::chrono::microseconds kAloneMin{2000}, kAloneMax{500000};

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Polls until ready() or kPoll has passed; returns ready().
template <class Ready>
bool poll(const Ready& ready) {
  const auto until = std::chrono::steady_clock::now() + kPoll;
  for (int i = 1;; ++i) {
    if (ready()) return true;
    relax();
    if (i % 64 == 0) {
      std::this_thread::yield();
      if (std::chrono::steady_clock::now() > until) return ready();
    }
  }
}

// A job's chunks are claimed in units (one chunk each up to kMaxUnits
// chunks, runs of neighbouring chunks beyond) through one word: the job
// number in the high 32 bits, then the first unit not yet claimed from the
// front and one past the last not yet claimed from the back, 16 bits each.
// A thread that wakes after its job ended fails the claim and never touches
// the ended job's function.
constexpr int kMaxUnits = 0xffff;

class Pool {
 public:
  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  void run(int threads, int chunks, const std::function<void(int, int)>& fn,
           const std::function<void(int)>* finish) {
    std::lock_guard<std::mutex> one(caller_);
    const int units = std::min(chunks, kMaxUnits);
    const auto start = std::chrono::steady_clock::now();
    if (start < aloneUntil_) {
      for (int c = 0; c < chunks; ++c) fn(c, 0);
      if (finish) (*finish)(0);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      while (static_cast<int>(threads_.size()) < threads - 1)
        threads_.emplace_back([this, rank = static_cast<int>(threads_.size()) + 1] { serve(rank); });
      job_.store(job_.load() + 1);
      fn_ = &fn;
      finish_ = finish;
      chunks_ = chunks;
      units_ = units;
      helpers_ = threads - 1;
      done_.store(0);
      claim_.store(static_cast<uint64_t>(job_) << 32 | static_cast<uint64_t>(units));
    }
    wake_.notify_all();
    const uint32_t job = job_.load();
    work(job, chunks, units, fn, finish, 0);
    const auto own = std::chrono::steady_clock::now();
    if (!poll([&] { return done_.load() == units; })) {
      std::unique_lock<std::mutex> lock(mu_);
      finished_.wait(lock, [&] { return done_.load() == units; });
    }
    const auto end = std::chrono::steady_clock::now();
    if (end - own > std::max<std::chrono::steady_clock::duration>(own - start, kSlowWait)) {
      aloneUntil_ = end + alone_;
      alone_ = std::min<std::chrono::steady_clock::duration>(2 * alone_, kAloneMax);
    } else {
      alone_ = kAloneMin;
    }
    std::lock_guard<std::mutex> lock(mu_);
    fn_ = nullptr;
    claim_.store(static_cast<uint64_t>(job + 1) << 32);  // no claim of this job succeeds now
  }

 private:
  // Claims and runs units of job `job` while there are some, as thread
  // `rank`: even ranks (the caller) from the first unit on, odd ranks from
  // the last back, so that each runs a run of neighbouring chunks, which in
  // the contact searches touch neighbouring parts of a mesh, already in that
  // core's cache; they meet wherever their speeds make them meet. Counts the
  // units done once at the end (one shared write per thread), after its
  // finish when it ran any.
  void work(uint32_t job, int chunks, int units, const std::function<void(int, int)>& fn,
            const std::function<void(int)>* finish, int rank) {
    const bool fromBack = rank % 2 == 1;
    int ran = 0;
    for (;;) {
      uint64_t c = claim_.load();
      int unit = -1;
      while (static_cast<uint32_t>(c >> 32) == job) {
        const int front = static_cast<int>(c >> 16 & 0xffff), end = static_cast<int>(c & 0xffff);
        if (front >= end) break;
        if (claim_.compare_exchange_weak(c, fromBack ? c - 1 : c + (uint64_t{1} << 16))) {
          unit = fromBack ? end - 1 : front;
          break;
        }
      }
      if (unit < 0) break;
      const long long lo = static_cast<long long>(chunks) * unit / units;
      const long long hi = static_cast<long long>(chunks) * (unit + 1) / units;
      for (long long k = lo; k < hi; ++k) fn(static_cast<int>(k), rank);
      ++ran;
    }
    if (ran > 0 && finish) (*finish)(rank);
    if (ran > 0 && done_.fetch_add(ran) + ran == units) {
      std::lock_guard<std::mutex> lock(mu_);
      finished_.notify_one();
    }
  }

  // Pooled thread `rank` (from 1) takes part in jobs of more than rank threads.
  void serve(int rank) {
    uint32_t seen = 0;
    for (;;) {
      const std::function<void(int, int)>* fn;
      const std::function<void(int)>* finish;
      uint32_t job;
      int chunks, units;
      poll([&] { return quit_.load() || job_.load() != seen; });
      {
        std::unique_lock<std::mutex> lock(mu_);
        wake_.wait(lock, [&] { return quit_ || (fn_ && job_ != seen && rank <= helpers_); });
        if (quit_) return;
        seen = job = job_;
        fn = fn_;
        finish = finish_;
        chunks = chunks_;
        units = units_;
      }
      work(job, chunks, units, *fn, finish, rank);
    }
  }

  std::chrono::steady_clock::time_point aloneUntil_;  // under caller_
  std::chrono::steady_clock::duration alone_ = kAloneMin;
  std::mutex caller_, mu_;
  std::condition_variable wake_, finished_;
  std::vector<std::thread> threads_;
  const std::function<void(int, int)>* fn_ = nullptr;
  const std::function<void(int)>* finish_ = nullptr;
  std::atomic<uint32_t> job_{0};  // changed under mu_, polled without it
  int chunks_ = 0, units_ = 0, helpers_ = 0;
  std::atomic<bool> quit_{false};
  alignas(64) std::atomic<uint64_t> claim_{0};
  alignas(64) std::atomic<int> done_{0};
};

}  // namespace

void shareWork(int threads, int chunks, const std::function<void(int, int)>& fn,
               const std::function<void(int)>& finish) {
  if (chunks <= 0) return;
  if (threads <= 1 || chunks == 1) {
    for (int c = 0; c < chunks; ++c) fn(c, 0);
    if (finish) finish(0);
    return;
  }
  static Pool pool;
  pool.run(threads, chunks, fn, finish ? &finish : nullptr);
}

}  // namespace orv
