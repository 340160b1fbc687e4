// Cost of the expressions the analysis evaluates at every step (force6
// components, motion rates, output channels of the example models), parsed
// at every evaluation versus compiled once. "bound" is what a run evaluates:
// the compiled form bound to its model at the start of the run. "compiled"
// is the unbound form, which reads parameters and markers when evaluated.
// Each text is checked to give the same value every way before anything is
// timed.
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
#include "files/model_reader.h"
#include "model/settings.h"
#include "platform/console.h"
#include "math/vec3.h"

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
  orv::CompiledExpr bound;
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
        if (e.kind == orv::ForceType::Force6) list.insert(list.end(), e.equ, e.equ + 6);
      for (const orv::Motion& mo : L->m.motions) list.push_back(mo.dt_equ);
      for (const orv::OutputRequest& o : L->m.outputs) list.push_back(o.equ);
      for (const std::string& t : list) {
        orv::CompiledExpr c(t);
        texts.push_back({L.get(), t, c, c.bind(L->m)});
      }
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
      const double c = t.bound.evaluate(t.model->m, t.model->h);
      if (std::memcmp(&a, &b, sizeof a) != 0 || std::memcmp(&a, &c, sizeof a) != 0) {
        std::fprintf(stderr, "expr_bench: \"%s\" gives %.17g parsed, %.17g compiled, %.17g bound\n",
                     t.text.c_str(), a, b, c);
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
// The compiled form not bound to a model.
template <bool Bare>
double compiledPass(const Examples& ex) {
  double sum = 0.0;
  for (const Text& t : ex.texts)
    sum += t.compiled.evaluate(t.model->m, Bare ? t.model->bare : t.model->h);
  return sum;
}
// As a run does it: the program bound to the model at the start of the run.
template <bool Bare>
double boundPass(const Examples& ex) {
  double sum = 0.0;
  for (const Text& t : ex.texts)
    sum += t.bound.evaluate(t.model->m, Bare ? t.model->bare : t.model->h);
  return sum;
}

// Seconds per evaluation of one pass, timed once.
template <class Pass>
double perEval(const Examples& ex, Pass pass) {
  const auto t0 = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(pass(ex));
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return s / static_cast<double>(ex.texts.size());
}

// Best times of the three paths, taken in alternation so that a change of
// machine speed during the run touches all three alike.
struct Times {
  double parsed = 1e30, compiled = 1e30, bound = 1e30;
};
template <bool Bare>
Times bestTimes(const Examples& ex, int rounds) {
  Times t;
  for (int r = 0; r < rounds; ++r) {
    t.parsed = std::min(t.parsed, perEval(ex, interpretedPass<Bare>));
    for (int k = 0; k < 10; ++k) {
      t.compiled = std::min(t.compiled, perEval(ex, compiledPass<Bare>));
      t.bound = std::min(t.bound, perEval(ex, boundPass<Bare>));
    }
  }
  return t;
}

void report(benchmark::State& state, const Examples& ex, const Times& t) {
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ex.texts.size()));
  state.counters["texts"] = static_cast<double>(ex.texts.size());
  state.counters["parsed_ns"] = t.parsed * 1e9;
  state.counters["bound_ns"] = t.bound * 1e9;
  state.counters["compiled_ns"] = t.compiled * 1e9;
  state.counters["speedup"] = t.parsed / t.bound;
  state.counters["speedup_compiled"] = t.parsed / t.compiled;
}

// The timed loop runs a run's form; the other two are timed in the same run
// for the ratios. Times are per evaluation.
void BM_ExampleExpressions(benchmark::State& state) {
  const Examples& ex = examples();
  for (auto _ : state) benchmark::DoNotOptimize(boundPass<false>(ex));
  report(state, ex, bestTimes<false>(ex, 300));
}
BENCHMARK(BM_ExampleExpressions)->Unit(benchmark::kMicrosecond);

// The same texts with the measures cut short: the cost of the evaluator alone.
void BM_ExampleExpressionsBare(benchmark::State& state) {
  const Examples& ex = examples();
  for (auto _ : state) benchmark::DoNotOptimize(boundPass<true>(ex));
  report(state, ex, bestTimes<true>(ex, 300));
}
BENCHMARK(BM_ExampleExpressionsBare)->Unit(benchmark::kMicrosecond);

}  // namespace
