// Cost of the expressions the analysis evaluates at every step (force6
// components, motion rates, output channels of the example models), parsed
// at every evaluation versus compiled once. Each text is checked to give the
// same value both ways before anything is timed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "expr/evaluator.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "platform/console.h"
#include "solver/vec3.h"

namespace {

std::string examplesDir() {
  std::string here = __FILE__;
  return here.substr(0, here.find_last_of('/')) + "/../examples/";
}

struct Loaded {
  orv::Model m;
  orv::Histories h;
  orv::Histories bare;  // no state: every measure returns at its first check
};

struct Text {
  const Loaded* model;
  std::string text;
  orv::CompiledExpr compiled;
};

// Turned bodies, moving markers and joint reactions, so that the measures do
// their whole computation rather than stop at an empty table.
void fillState(Loaded& L) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const std::size_t nb = L.m.bodies.size(), nj = L.m.joints.size();
  L.h.A.assign(9 * nb, 0.0);
  L.h.omega.resize(3 * nb);
  L.h.p_Yi.resize(14 * nb);
  L.h.p_F_const_i.resize(6 * nj);
  for (std::size_t b = 0; b < nb; ++b) orv::mat3RotationZXZ(&L.h.A[9 * b], u(rng), u(rng), u(rng));
  for (double& v : L.h.omega) v = u(rng);
  for (double& v : L.h.p_Yi) v = u(rng);
  for (double& v : L.h.p_F_const_i) v = u(rng);
  L.h.time = 0.3;
}

struct Examples {
  std::vector<std::unique_ptr<Loaded>> models;
  std::vector<Text> texts;

  Examples() {
    const std::string dir = examplesDir();
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0)
          files.push_back(dir + name);
      }
      closedir(d);
    }
    std::sort(files.begin(), files.end());
    FILE* null = std::fopen("/dev/null", "w");
    orv::setConsoleFile(null);
    for (const std::string& f : files) {
      auto L = std::make_unique<Loaded>();
      std::string message;
      if (orv::readModelFile(f, orv::Settings{}, L->m, L->h, message) != orv::ReadStatus::Ok)
        continue;
      fillState(*L);
      std::vector<std::string> list;
      for (const orv::Force& e : L->m.forces)
        if (e.type == "force6") list.insert(list.end(), e.equ, e.equ + 6);
      for (const orv::Motion& mo : L->m.motions) list.push_back(mo.dt_equ);
      for (const orv::OutputRequest& o : L->m.outputs) list.push_back(o.equ);
      for (const std::string& t : list) texts.push_back({L.get(), t, orv::CompiledExpr(t)});
      models.push_back(std::move(L));
    }
    orv::setConsoleFile(nullptr);
    std::fclose(null);
    if (texts.empty()) {
      std::fprintf(stderr, "expr_bench: no example expressions under %s\n", dir.c_str());
      std::abort();
    }
    for (const Text& t : texts) {
      const double a = orv::evaluate(t.text, t.model->m, t.model->h);
      const double b = t.compiled.evaluate(t.model->m, t.model->h);
      if (std::memcmp(&a, &b, sizeof a) != 0) {
        std::fprintf(stderr, "expr_bench: \"%s\" gives %.17g parsed, %.17g compiled\n",
                     t.text.c_str(), a, b);
        std::abort();
      }
    }
  }
};

const Examples& examples() {
  static const Examples ex;
  return ex;
}

// Bare: against empty histories, so that what remains is the expression
// machinery itself (parse and dispatch, or replay), not the measures' geometry.
template <bool Bare>
double interpretedPass(const Examples& ex) {
  double sum = 0.0;
  for (const Text& t : ex.texts)
    sum += orv::evaluate(t.text, t.model->m, Bare ? t.model->bare : t.model->h);
  return sum;
}
// As the per-step call sites do it: the compiled form found by its text.
template <bool Bare>
double cachedPass(const Examples& ex) {
  double sum = 0.0;
  for (const Text& t : ex.texts)
    sum += orv::compileCached(t.text).evaluate(t.model->m, Bare ? t.model->bare : t.model->h);
  return sum;
}
// Without the look-up: what a caller holding the compiled form pays.
template <bool Bare>
double heldPass(const Examples& ex) {
  double sum = 0.0;
  for (const Text& t : ex.texts)
    sum += t.compiled.evaluate(t.model->m, Bare ? t.model->bare : t.model->h);
  return sum;
}

// Best time of one pass over all texts, in seconds per evaluation.
template <class Pass>
double bestPerEval(const Examples& ex, Pass pass, int reps) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(pass(ex));
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best / static_cast<double>(ex.texts.size());
}

// The timed loop runs the call sites' form; the parsed and the held forms are
// timed in the same run for the ratios. Times are per evaluation.
void BM_ExampleExpressions(benchmark::State& state) {
  const Examples& ex = examples();
  const double parsed = bestPerEval(ex, interpretedPass<false>, 200);
  for (auto _ : state) benchmark::DoNotOptimize(cachedPass<false>(ex));
  const double cached = bestPerEval(ex, cachedPass<false>, 2000);
  const double held = bestPerEval(ex, heldPass<false>, 2000);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ex.texts.size()));
  state.counters["texts"] = static_cast<double>(ex.texts.size());
  state.counters["parsed_ns"] = parsed * 1e9;
  state.counters["compiled_ns"] = cached * 1e9;
  state.counters["held_ns"] = held * 1e9;
  state.counters["speedup"] = parsed / cached;
  state.counters["speedup_held"] = parsed / held;
}
BENCHMARK(BM_ExampleExpressions)->Unit(benchmark::kMicrosecond);

// The same texts with the measures cut short: the cost of the evaluator alone.
void BM_ExampleExpressionsBare(benchmark::State& state) {
  const Examples& ex = examples();
  const double parsed = bestPerEval(ex, interpretedPass<true>, 200);
  for (auto _ : state) benchmark::DoNotOptimize(cachedPass<true>(ex));
  const double cached = bestPerEval(ex, cachedPass<true>, 2000);
  const double held = bestPerEval(ex, heldPass<true>, 2000);
  state.counters["parsed_ns"] = parsed * 1e9;
  state.counters["compiled_ns"] = cached * 1e9;
  state.counters["held_ns"] = held * 1e9;
  state.counters["speedup"] = parsed / cached;
  state.counters["speedup_held"] = parsed / held;
}
BENCHMARK(BM_ExampleExpressionsBare)->Unit(benchmark::kMicrosecond);

}  // namespace
