// Cost of the equations of motion: one Runge-Kutta step (four evaluations)
// of an N-link pendulum chain on revolution joints, and a whole short run;
// the initial analysis of such chains. Ratios are measured side by side in
// one run, e.g.
//   build/bench/orvaldyn_bench --benchmark_filter='Chain(InitialAnalysis|StepGrowth)'
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "files/model_reader.h"
#include "model/settings.h"
#include "platform/console.h"
#include "session/run.h"
#include "dynamics/dynamics.h"
#include "model/state_layout.h"
#include "reference/dense_dynamics.h"
#include "chain_model.h"

namespace {

// Seconds of CPU time of this thread: on a machine shared with other jobs a
// ratio of wall times measures their load as much as the work.
double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Loaded {
  orv::Model m;
  orv::Histories h;
  orv::Settings s;
};

void load(Loaded& L, int n, double endTime) {
  char path[] = "/tmp/orvaldyn_bench_XXXXXX";
  int fd = mkstemp(path);
  FILE* f = fdopen(fd, "w");
  std::string text = orvbench::chainModel(n, endTime);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  FILE* null = std::fopen("/dev/null", "w");
  orv::setConsoleFile(null);
  std::string message;
  orv::readModelFile(path, L.s, L.m, L.h, message);
  orv::setConsoleFile(nullptr);
  std::fclose(null);
  std::remove(path);
}

// One Runge-Kutta step (four evaluations), per call, in block form or by the dense reference.
struct ChainStep {
  Loaded L;
  orv::DynamicsWork w;
  bool dense;
  std::vector<double> Y, dY;
  std::vector<int> dofs;
  FILE* null = std::fopen("/dev/null", "w");

  ChainStep(int n, bool denseReference) : dense(denseReference) {
    load(L, n, 1.0);
    const orv::StateLayout layout{L.m.body_num()};
    orv::setConsoleFile(null);
    orv::setupDynamics(L.m, w);
    L.h.p_C_const.assign(10 * (L.m.joint_num() + L.m.motion_num()), 0.0);
    L.h.p_F_const.assign(10 * 6 * L.m.joint_num(), 0.0);
    Y.assign(layout.size(), 0.0);
    dY.assign(layout.size(), 0.0);
    // A bent chain, moving, so that no term vanishes.
    for (int b = 0; b < layout.nb; ++b) {
      const double a = 0.1 * b;
      Y[layout.p(b)] = std::cos(a / 2);
      Y[layout.p(b) + 3] = std::sin(a / 2);
      Y[layout.pd(b) + 3] = 0.05;
    }
  }
  ~ChainStep() {
    orv::setConsoleFile(nullptr);
    std::fclose(null);
  }
  void step() {
    for (int k = 0; k < 4; ++k) {
      if (dense)
        denseEvaluation();
      else
        orv::computeStateDerivative(L.m, L.s, L.h, w, 0.0, Y.data(), dY.data(), dofs);
    }
  }
  // The stages of computeStateDerivative with the dense multipliers of the tests' reference.
  void denseEvaluation() {
    w.Y = Y;
    orv::setKinematics(w.kin, L.m.body_num(), w.Y.data());
    orv::appliedForces(L.m, L.h, w, w.Y.data(), 0.0, -1);
    orv::generalizedForces(L.m, w);
    orv::assembleConstraints(L.m, w, w.Y.data(), 0.0);
    orv::Vec lambda, acc;
    orvref::denseMultipliers(L.m, w, lambda, acc);
    for (size_t i = 0; i < w.acc.size(); ++i) w.acc[i] = acc[i];
    orv::stateRates(L.m, w, w.Y.data(), dY.data());
  }
  // Best CPU time of one step over a few repetitions, in seconds.
  double time(int reps) {
    double best = 1e30;
    for (int r = 0; r < reps; ++r) {
      const double t0 = cpuSeconds();
      step();
      best = std::min(best, cpuSeconds() - t0);
    }
    return best;
  }
};

// The block path, with the dense reference timed in the same run for the ratio.
void BM_ChainRungeKuttaStep(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double dense;
  {
    ChainStep d(n, true);
    dense = d.time(n >= 50 ? 3 : 20);
  }
  ChainStep c(n, false);
  for (auto _ : state) {
    c.step();
    benchmark::DoNotOptimize(c.dY.data());
  }
  const double block = c.time(50);
  state.counters["dense_us"] = dense * 1e6;
  state.counters["block_us"] = block * 1e6;
  state.counters["speedup"] = dense / block;
}
BENCHMARK(BM_ChainRungeKuttaStep)
    ->Arg(2)
    ->Arg(10)
    ->Arg(50)
    ->Arg(100)
    ->Unit(benchmark::kMicrosecond);

// One RK4 step at 1,000 links against ten times the step at 100 links:
// "per_100_links" near 1 means a step costs in proportion to the links.
void BM_ChainStepGrowth(benchmark::State& state) {
  double t100;
  {
    ChainStep small(100, false);
    t100 = small.time(30);
  }
  ChainStep c(1000, false);
  for (auto _ : state) {
    c.step();
    benchmark::DoNotOptimize(c.dY.data());
  }
  const double t1000 = c.time(10);
  state.counters["step_100_us"] = t100 * 1e6;
  state.counters["step_1000_us"] = t1000 * 1e6;
  state.counters["per_100_links"] = t1000 / (10 * t100);
}
BENCHMARK(BM_ChainStepGrowth)->Unit(benchmark::kMillisecond)->Iterations(3);

// The initial analysis of an N-link chain (console to /dev/null), in CPU seconds:
// the best of `reps`, by the dense path it replaced when `dense` is set.
double initialAnalysisTime(int n, bool dense, int reps) {
  Loaded L;
  load(L, n, 1.0);
  const orv::StateLayout layout{L.m.body_num()};
  std::vector<double> Y(layout.size());
  FILE* null = std::fopen("/dev/null", "w");
  orv::setConsoleFile(null);
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    orv::DynamicsWork w;
    orv::setupDynamics(L.m, w);
    const double t0 = cpuSeconds();
    if (dense)
      orvref::denseInitialAnalysis(L.m, w, 0.0, Y.data());
    else
      orv::initialAnalysis(L.m, w, 0.0, Y.data());
    best = std::min(best, cpuSeconds() - t0);
  }
  orv::setConsoleFile(nullptr);
  std::fclose(null);
  return best;
}

// The initial analysis of an N-link chain against the dense path it replaced
// ("speedup"; the dense one prints the whole Jacobian: at 1,000 links it
// takes minutes) and against the 100-link figure ("per_link_vs_100" near 1
// means linear growth).
void BM_ChainInitialAnalysis(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const double dense = initialAnalysisTime(n, true, 1);
  const double t100 = initialAnalysisTime(100, false, 5);
  double sparse = 0.0;
  for (auto _ : state) sparse = initialAnalysisTime(n, false, 3);
  state.counters["sparse_ms"] = sparse * 1e3;
  state.counters["dense_ms"] = dense * 1e3;
  state.counters["speedup"] = dense / sparse;
  state.counters["per_link_vs_100"] = (sparse / n) / (t100 / 100);
}
BENCHMARK(BM_ChainInitialAnalysis)
    ->Arg(100)
    ->Arg(300)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_ChainRunFifthSecond(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Loaded L;
  load(L, n, 0.2);
  orv::AnalysisOptions opt;
  opt.pauses = false;
  opt.writeResult = false;
  FILE* null = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    orv::setConsoleFile(null);
    std::string message;
    orv::runAnalysis(L.m, L.s, L.h, message, opt);
    orv::setConsoleFile(nullptr);
  }
  std::fclose(null);
}
BENCHMARK(BM_ChainRunFifthSecond)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace
