// Cost of the equations of motion: one Runge-Kutta step (four evaluations)
// of an N-link pendulum chain on revolution joints, and a whole short run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
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
  // Best time of one step over a few repetitions, in seconds.
  double time(int reps) {
    double best = 1e30;
    for (int r = 0; r < reps; ++r) {
      auto t0 = std::chrono::steady_clock::now();
      step();
      best = std::min(best,
                      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
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
