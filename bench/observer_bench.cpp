// What watching a run costs: the window runs the analysis on a thread of its
// own with an observer that copies every sample for the view, while it polls
// the progress 20 times a second. Timed side by side with the batch program's
// path (the console observer on the calling thread), interleaved, best of
// each, contact on one thread, in processor time of the process; the counters
// `watched_over_batch` (best over best) and `median_pair_ratio` are the ratios.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "files/model_reader.h"
#include "files/settings_reader.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/settings.h"
#include "platform/console.h"
#include "session/live_run.h"
#include "session/run.h"
#include "chain_model.h"

namespace {

// Processor time of the whole process (the run's thread and the poller): on a
// machine busy with other work, wall time measures the others as well.
double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + 1e-9 * t.tv_nsec;
}

// An example model read with the shipped settings, its run shortened to `end` s.
struct Example {
  orv::Model m;
  orv::Histories h;
  orv::Settings s;
  bool ok = false;
  // A model text instead, written to a temporary folder.
  Example(const std::string& file, double end, const std::string& text) {
    char dir[] = "/tmp/orvaldyn_bench_XXXXXX";
    if (!mkdtemp(dir)) return;
    const std::string path = std::string(dir) + "/" + file;
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    std::fputs(text.c_str(), f);
    std::fclose(f);
    std::string message;
    ok = orv::readModelFile(path, s, m, h, message) == orv::ReadStatus::Ok;
    std::remove(path.c_str());
    std::remove(dir);
    shorten(end);
  }
  void shorten(double end) {
    m.end_time = std::min(m.end_time, end);
    m.sample_num = orv::sampleCount(m.start_time, m.d_time, m.end_time);
  }
  Example(const std::string& file, double end) {
    const std::string dir = std::string(ORVALDYN_EXAMPLES);
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd) || chdir(dir.c_str()) != 0) return;
    std::string message;
    ok = orv::readSettingsFiles(dir, s, m, h) &&
         orv::readModelFile(dir + "/" + file, s, m, h, message) == orv::ReadStatus::Ok;
    if (chdir(cwd) != 0) ok = false;
    shorten(end);
  }
};

void BM_WatchedRun(benchmark::State& state, const char* file, double end) {
  FILE* null = std::fopen("/dev/null", "w");
  orv::setConsoleFile(null);
  const std::string name = file;
  Example e = name.rfind("chain", 0) == 0
                  ? Example(name, end, orvbench::chainModel(std::stoi(name.substr(5)), end))
                  : Example(name, end);
  if (!e.ok) {
    orv::setConsoleFile(nullptr);
    state.SkipWithError("example not read");
    return;
  }
  // One thread: with a team, a machine busy elsewhere swamps the difference.
  e.s.N_THREADS = 1;
  orv::AnalysisOptions opt;
  opt.pauses = false;
  opt.writeResult = false;
  double batch = 1e30, watched = 1e30;
  std::vector<double> ratios;
  for (auto _ : state) {
    double t0 = cpuSeconds();
    std::string message;
    orv::executeAnalysis(e.m, e.s, e.h, message, opt);
    batch = std::min(batch, cpuSeconds() - t0);

    const double b = cpuSeconds() - t0;
    t0 = cpuSeconds();
    orv::LiveRun run;
    run.start(e.m, e.s, opt);
    // The window's timer: a snapshot every 50 ms.
    while (!run.ended()) {
      benchmark::DoNotOptimize(run.snapshot());
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    orv::Histories h;
    if (run.finish(message, h) != orv::AnalysisStatus::Completed || h.anime_num != e.m.sample_num)
      state.SkipWithError(("the watched run did not complete: " + message).c_str());
    const double wt = cpuSeconds() - t0;
    watched = std::min(watched, wt);
    ratios.push_back(wt / b);
  }
  orv::setConsoleFile(nullptr);
  std::fclose(null);
  state.counters["batch_ms"] = batch * 1e3;
  state.counters["watched_ms"] = watched * 1e3;
  state.counters["watched_over_batch"] = watched / batch;
  // Each pair ran back to back under the same load: their median ratio is
  // the steadier figure on a machine shared with other work.
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  state.counters["median_pair_ratio"] = ratios[ratios.size() / 2];
}
BENCHMARK_CAPTURE(BM_WatchedRun, chain10, "chain10", 5.0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);
BENCHMARK_CAPTURE(BM_WatchedRun, contact_group, "contact_group.txt", 1.0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

}  // namespace
