// Cost of the equations of motion: one Runge-Kutta step (four evaluations)
// of an N-link pendulum chain on revolution joints, and a whole short run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "platform/console.h"
#include "solver/analysis.h"
#include "solver/dynamics.h"

namespace {

// N links of 1 m along x, each hinged to the previous one about z; link 0
// hinged to a grounded base.
std::string chainModel(int n, double endTime) {
  std::string s = "parameter_info P %\nbody_info B base base_cg 1 1 1 1 0 0 0 0 0 0\n";
  for (int i = 0; i < n; ++i)
    s += "l" + std::to_string(i) + " c" + std::to_string(i) + " 1 0.01 0.1 0.1 0 0 0 0 0 0\n";
  s += "%\nframe_info F base_cg base 0 0 0 0 0 0\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    s += "c" + k + " l" + k + " " + std::to_string(i + 0.5) + " 0 0 0 0 0\n";
    s += "a" + k + " l" + k + " " + std::to_string(i) + " 0 0 0 0 0\n";
    s += "b" + k + " " + (i == 0 ? std::string("base") : "l" + std::to_string(i - 1)) + " " +
         std::to_string(i) + " 0 0 0 0 0\n";
  }
  s += "%\njoint_info J on g ground base_cg non\n";
  for (int i = 0; i < n; ++i)
    s += "on h" + std::to_string(i) + " revolution a" + std::to_string(i) + " b" +
         std::to_string(i) + "\n";
  s += "%\ngravity G on y- %\nsimulation_time T 0 0.001 " + std::to_string(endTime) + " %\n";
  return s;
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
  std::string text = chainModel(n, endTime);
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

void BM_ChainRungeKuttaStep(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Loaded L;
  load(L, n, 1.0);
  const int nb = L.m.body_num();
  FILE* null = std::fopen("/dev/null", "w");
  orv::setConsoleFile(null);
  orv::DynamicsWork w;
  orv::setupDynamics(L.m, L.h, w);
  L.h.p_C_const.assign(10 * (L.m.joint_num() + L.m.motion_num()), 0.0);
  L.h.p_F_const.assign(10 * 6 * L.m.joint_num(), 0.0);
  std::vector<double> Y(14 * nb, 0.0), dY(14 * nb);
  for (int b = 0; b < nb; ++b) Y[6 * nb + 4 * b] = 1.0;
  std::vector<int> dofs;
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k)
      orv::computeStateDerivative(L.m, L.s, L.h, w, 0.0, Y.data(), dY.data(), dofs);
    benchmark::DoNotOptimize(dY.data());
  }
  orv::setConsoleFile(nullptr);
  std::fclose(null);
}
BENCHMARK(BM_ChainRungeKuttaStep)->Arg(10)->Arg(20)->Arg(50)->Unit(benchmark::kMicrosecond);

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
