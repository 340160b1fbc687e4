#include "platform/work_share.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orv {

namespace {

// A job is claimed through one word, job number above and next chunk below,
// so a thread that wakes after its job ended fails the claim and never
// touches the ended job's function.
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

  void run(int threads, int chunks, const std::function<void(int)>& fn) {
    std::lock_guard<std::mutex> one(caller_);
    {
      std::lock_guard<std::mutex> lock(mu_);
      while (static_cast<int>(threads_.size()) < threads - 1)
        threads_.emplace_back([this, rank = static_cast<int>(threads_.size()) + 1] { serve(rank); });
      ++job_;
      fn_ = &fn;
      chunks_ = chunks;
      helpers_ = threads - 1;
      done_.store(0);
      claim_.store(static_cast<uint64_t>(job_) << 32);
    }
    wake_.notify_all();
    work(job_, chunks, fn);
    std::unique_lock<std::mutex> lock(mu_);
    finished_.wait(lock, [&] { return done_.load() == chunks; });
    fn_ = nullptr;
    claim_.store(static_cast<uint64_t>(job_ + 1) << 32);  // no claim of this job succeeds now
  }

 private:
  // Claims and runs chunks of job `job` while there are some.
  void work(uint32_t job, int chunks, const std::function<void(int)>& fn) {
    for (;;) {
      uint64_t c = claim_.load();
      int chunk;
      do {
        if (static_cast<uint32_t>(c >> 32) != job) return;
        chunk = static_cast<int>(c & 0xffffffffu);
        if (chunk >= chunks) return;
      } while (!claim_.compare_exchange_weak(c, c + 1));
      fn(chunk);
      if (done_.fetch_add(1) + 1 == chunks) {
        std::lock_guard<std::mutex> lock(mu_);
        finished_.notify_one();
      }
    }
  }

  // Pooled thread `rank` (from 1) takes part in jobs of more than rank threads.
  void serve(int rank) {
    uint32_t seen = 0;
    for (;;) {
      const std::function<void(int)>* fn;
      uint32_t job;
      int chunks;
      {
        std::unique_lock<std::mutex> lock(mu_);
        wake_.wait(lock, [&] { return quit_ || (fn_ && job_ != seen && rank <= helpers_); });
        if (quit_) return;
        seen = job = job_;
        fn = fn_;
        chunks = chunks_;
      }
      work(job, chunks, *fn);
    }
  }

  std::mutex caller_, mu_;
  std::condition_variable wake_, finished_;
  std::vector<std::thread> threads_;
  const std::function<void(int)>* fn_ = nullptr;
  uint32_t job_ = 0;
  int chunks_ = 0, helpers_ = 0;
  bool quit_ = false;
  std::atomic<uint64_t> claim_{0};
  std::atomic<int> done_{0};
};

}  // namespace

void shareWork(int threads, int chunks, const std::function<void(int)>& fn) {
  if (chunks <= 0) return;
  if (threads <= 1 || chunks == 1) {
    for (int c = 0; c < chunks; ++c) fn(c);
    return;
  }
  static Pool pool;
  pool.run(threads, chunks, fn);
}

}  // namespace orv
