// The result file is written after every analysis and read by "Open Result
// File"; a 10-body mechanism over 10001 samples is a typical large run.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/histories.h"
#include "model/model.h"
#include "platform/console.h"
#include "files/result_file.h"

namespace {

struct Run {
  orv::Model m;
  orv::Histories h;
  std::string dir;
  std::string path;
  FILE* quiet = std::fopen("/dev/null", "w");

  Run() {
    const int nb = 10, nj = 9, nf = 2, no = 4, N = 10001;
    m.bodies.resize(nb);
    m.joints.resize(nj);
    m.forces.resize(nf);
    m.contacts.resize(1);
    m.outputs.resize(no);
    m.sample_num = N;
    m.path = "bench/chain.txt";
    std::srand(5);
    auto fill = [](std::vector<double>& v, size_t n) {
      v.resize(n);
      for (double& x : v) x = (std::rand() - RAND_MAX / 2) * 1e-6;
    };
    fill(h.p_time, N);
    fill(h.p_YYY, size_t(N) * 14 * nb);
    fill(h.p_F_const, size_t(N) * 6 * nj);
    fill(h.p_C_const, size_t(N) * nj);
    fill(h.p_F_force, size_t(N) * 6 * nf);
    fill(h.p_output, size_t(N) * no);
    // A contact every tenth sample.
    h.stl_cont_ti_st.assign(N, 0);
    h.stl_cont_ti_num.assign(N, 0);
    for (int k = 0; k < N; ++k) {
      h.stl_cont_ti_st[k] = static_cast<int>(h.cont_time_index.size());
      if (k % 10 == 0) {
        h.cont_time_index.push_back(k);
        h.stl_cont_ti_num[k] = 1;
      }
    }
    fill(h.cont_position, 3 * h.cont_time_index.size());
    fill(h.cont_value, 3 * h.cont_time_index.size());
    h.anime_num = N;

    char tmpl[] = "/tmp/orvaldyn_bench_XXXXXX";
    dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    path = dir + "/log/result_chain.txt";
    orv::setConsoleFile(quiet);
    orv::writeResultFileAt(orv::resultFilePath(m, dir), m, h);
    orv::setConsoleFile(nullptr);
  }
  ~Run() {
    std::remove(path.c_str());
    std::remove((dir + "/log").c_str());
    std::remove(dir.c_str());
    std::fclose(quiet);
  }
  long long bytes() const {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    const long long n = std::ftell(f);
    std::fclose(f);
    return n;
  }
};

Run& run() {
  static Run r;
  return r;
}

void BM_ResultFileWrite(benchmark::State& state) {
  Run& r = run();
  orv::setConsoleFile(r.quiet);
  const std::string path = orv::resultFilePath(r.m, r.dir);
  for (auto _ : state) benchmark::DoNotOptimize(orv::writeResultFileAt(path, r.m, r.h));
  orv::setConsoleFile(nullptr);
  state.SetBytesProcessed(state.iterations() * r.bytes());
}
BENCHMARK(BM_ResultFileWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ResultFileRead(benchmark::State& state) {
  Run& r = run();
  orv::setConsoleFile(r.quiet);
  orv::Histories h;
  for (auto _ : state) benchmark::DoNotOptimize(orv::readResultFile(r.path, r.m, h));
  orv::setConsoleFile(nullptr);
  if (h.anime_num != r.m.sample_num) state.SkipWithError("result file not read back");
  state.SetBytesProcessed(state.iterations() * r.bytes());
}
BENCHMARK(BM_ResultFileRead)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
