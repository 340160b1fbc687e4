// orvaldyn-batch from start to exit on a small model (two bodies, ten
// samples), as a script that runs many models waits for it; against the
// program's start alone (--help) in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "chain_model.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Wall seconds of one run of the batch program with `args`, in `dir`, its
// output to /dev/null; negative when it does not exit with 0.
double runBatch(const fs::path& dir, const std::string& arg) {
  posix_spawn_file_actions_t io;
  posix_spawn_file_actions_init(&io);
  posix_spawn_file_actions_addopen(&io, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&io, 2, "/dev/null", O_WRONLY, 0);
  const fs::path here = fs::current_path();
  fs::current_path(dir);
  char* argv[] = {const_cast<char*>(ORVALDYN_BATCH), const_cast<char*>(arg.c_str()), nullptr};
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid;
  int status = -1;
  if (posix_spawn(&pid, ORVALDYN_BATCH, &io, nullptr, argv, environ) == 0) waitpid(pid, &status, 0);
  const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  fs::current_path(here);
  posix_spawn_file_actions_destroy(&io);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? t : -1.0;
}

void BM_BatchStartToExit(benchmark::State& state) {
  char tmpl[] = "/tmp/orvaldyn_batch_bench_XXXXXX";
  const fs::path dir = mkdtemp(tmpl);
  fs::copy(fs::path(ORVALDYN_EXAMPLES) / "setting", dir / "setting", fs::copy_options::recursive);
  fs::create_directory(dir / "log");
  FILE* f = std::fopen((dir / "two_bodies.txt").c_str(), "w");
  std::fputs(orvbench::chainModel(1, 0.009).c_str(), f);  // base and one link, samples 0..0.009 s
  std::fclose(f);
  double run = 1e30, start = 1e30;
  for (auto _ : state) {
    for (int k = 0; k < 5; ++k) {
      run = std::min(run, runBatch(dir, "two_bodies.txt"));
      start = std::min(start, runBatch(dir, "--help"));
    }
  }
  fs::remove_all(dir);
  if (run < 0 || start < 0) state.SkipWithError("orvaldyn-batch did not exit with 0");
  state.counters["run_ms"] = run * 1e3;
  state.counters["help_ms"] = start * 1e3;
  state.counters["run_vs_help"] = run / start;
}
BENCHMARK(BM_BatchStartToExit)->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace
