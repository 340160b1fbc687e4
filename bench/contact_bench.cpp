// One contact evaluation: the example sphere mesh resting on the example
// plate mesh (and, for the pair-parallel mode to have pairs to share, four
// spheres on the plate), on 1 and 2 threads in both execution modes; and a
// 5,000-triangle sphere on a 20,000-triangle plate, searched through the
// triangle trees against the exhaustive loops (tests/contact_loops.h) in the
// same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "contact/contact.h"
#include "model/histories.h"
#include "model/model.h"
#include "files/model_reader.h"
#include "model/settings.h"
#include "model/state_layout.h"
#include "platform/console.h"
#include "../tests/contact_loops.h"

namespace {

std::string meshDir() {
  std::string here = __FILE__;
  return here.substr(0, here.find_last_of('/')) + "/../examples/meshes/";
}

// Balls sunk 2 mm into the plate, at rest, in one contact group.
struct Scene {
  orv::Model m;
  orv::Histories h;
  std::vector<orv::ContactRecord> records;
  std::vector<double> Y, F, N;
  bool ok = false;

  explicit Scene(int balls) {
    std::string bodies = "body_info B ground g_cg 1 1 1 1 0 0 0 0 0 0\n";
    std::string frames = "frame_info F g_cg ground 0 0 0 0 0 0\n";
    std::string shapes = "shape_info S plate STL g_cg red 1 1 + " + meshDir() + "plate.stl\n";
    std::string members;
    for (int b = 0; b < balls; ++b) {
      const std::string n = std::to_string(b);
      bodies += " ball" + n + " b" + n + " 0.5 5e-4 5e-4 5e-4 0 0 0 0 0 0\n";
      frames +=
          " b" + n + " ball" + n + " " + std::to_string(-0.3 + 0.2 * b) + " 0.048 0.1 0 0 0\n";
      shapes += " s" + n + " STL b" + n + " red 1 1 + " + meshDir() + "sphere.stl\n";
      members += " s" + n;
    }
    const std::string text = "parameter_info P %\n" + bodies + "%\n" + frames + "%\n" + shapes +
                             "%\ncontact_group_info G on g 1e5 100 0.008 1 0.3 " +
                             std::to_string(balls + 1) + " plate" + members +
                             " %\nsimulation_time T 0 0.001 1 %\n";
    char dir[] = "/tmp/orvaldyn_bench_XXXXXX";
    if (!mkdtemp(dir)) return;
    const std::string path = std::string(dir) + "/model.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return;
    std::fputs(text.c_str(), f);
    std::fclose(f);
    FILE* quiet = std::fopen("/dev/null", "w");
    orv::setConsoleFile(quiet);
    orv::Settings s;
    std::string msg;
    ok = orv::readModelFile(path, s, m, h, msg) == orv::ReadStatus::Ok;
    orv::setConsoleFile(nullptr);
    if (quiet) std::fclose(quiet);
    std::remove(path.c_str());
    std::remove(dir);
    const int nb = m.body_num();
    Y.assign(14 * nb, 0.0);
    for (int b = 0; b < nb; ++b) Y[6 * nb + 4 * b] = 1.0;
    F.assign(3 * nb, 0.0);
    N.assign(3 * nb, 0.0);
  }
};

void runContact(benchmark::State& state, int balls) {
  Scene scene(balls);
  if (!scene.ok) {
    state.SkipWithError("the example meshes could not be read");
    return;
  }
  orv::Settings s;
  s.N_THREADS = static_cast<int>(state.range(0));
  s.CONTACT_PARALLEL = static_cast<int>(state.range(1));
  size_t records = 0;
  for (auto _ : state) {
    scene.records.clear();
    orv::applyContact(scene.m, s, scene.Y.data(), scene.F.data(), scene.N.data(), 0, scene.records);
    records = scene.records.size();
    benchmark::DoNotOptimize(scene.F.data());
    benchmark::ClobberMemory();
  }
  state.counters["records"] = static_cast<double>(records);
}

// Arguments: threads, mode (0 ordered pairs with parallel searches, 1 pairs in parallel).
void BM_ContactSphereOnPlate(benchmark::State& state) { runContact(state, 1); }
BENCHMARK(BM_ContactSphereOnPlate)->ArgsProduct({{1, 2}, {0, 1}})->UseRealTime();

void BM_ContactFourSpheresOnPlate(benchmark::State& state) { runContact(state, 4); }
BENCHMARK(BM_ContactFourSpheresOnPlate)->ArgsProduct({{1, 2}, {0, 1}})->UseRealTime();

// A mesh shape as the reader makes it, placed where it is given.
void addMesh(orv::Model& m, int body, const std::vector<double>& node,
             const std::vector<int>& tri) {
  auto mesh = std::make_shared<orv::StlMesh>();
  mesh->node = node;
  mesh->tri = tri;
  orv::Shape sh;
  sh.type = "STL";
  sh.kind = orv::ShapeType::Stl;
  sh.body = body;
  sh.node_num = mesh->node_num();
  sh.stl_num = mesh->stl_num();
  sh.vertex_num = 3 * sh.stl_num;
  sh.mesh = mesh;
  m.shapes.push_back(sh);
}

// 5,000 triangles: 51 rings of 50 segments around (cx, cy, cz), radius 0.1.
void addSphere(orv::Model& m, int body, const double* ctr) {
  const int rings = 51, segs = 50;
  const double r = 0.1, pi = std::acos(-1.0);
  std::vector<double> node = {ctr[0], ctr[1] + r, ctr[2]};
  for (int i = 1; i < rings; ++i)
    for (int j = 0; j < segs; ++j) {
      const double th = pi * i / rings, ph = 2 * pi * j / segs;
      node.insert(node.end(), {ctr[0] + r * std::sin(th) * std::cos(ph), ctr[1] + r * std::cos(th),
                               ctr[2] + r * std::sin(th) * std::sin(ph)});
    }
  node.insert(node.end(), {ctr[0], ctr[1] - r, ctr[2]});
  const int bottom = 1 + (rings - 1) * segs;
  auto at = [&](int i, int j) { return 1 + (i - 1) * segs + (j % segs); };
  std::vector<int> tri;
  for (int j = 0; j < segs; ++j) {
    tri.insert(tri.end(), {0, at(1, j + 1), at(1, j)});
    for (int i = 1; i + 1 < rings; ++i)
      tri.insert(tri.end(), {at(i, j), at(i, j + 1), at(i + 1, j), at(i, j + 1), at(i + 1, j + 1),
                             at(i + 1, j)});
    tri.insert(tri.end(), {bottom, at(rings - 1, j), at(rings - 1, j + 1)});
  }
  addMesh(m, body, node, tri);
}

// 20,000 triangles: a 1 m square plate in y = 0 cut into 100 x 100 cells, normal +y.
void addPlate(orv::Model& m, int body) {
  const int cells = 100;
  const double size = 1.0;
  std::vector<double> node;
  for (int i = 0; i <= cells; ++i)
    for (int j = 0; j <= cells; ++j)
      node.insert(node.end(), {-size / 2 + size * j / cells, 0.0, -size / 2 + size * i / cells});
  std::vector<int> tri;
  for (int i = 0; i < cells; ++i)
    for (int j = 0; j < cells; ++j) {
      const int a = i * (cells + 1) + j, b = a + 1, c = a + cells + 1, d = c + 1;
      tri.insert(tri.end(), {a, c, b, b, c, d});
    }
  addMesh(m, body, node, tri);
}

// The sphere sunk 2 mm into the plate, at rest.
struct LargePair {
  orv::Model m;
  std::vector<double> Y;

  LargePair() {
    const double ctr[3] = {0.0013, 0.098, 0.0027};
    m.bodies.resize(2);
    for (int k = 0; k < 3; ++k) m.bodies[1].cg_pos[k] = ctr[k];
    addPlate(m, 0);
    addSphere(m, 1, ctr);
    orv::Contact c;
    c.i_shape = 1, c.j_shape = 0, c.i_body = 1, c.j_body = 0;
    c.k = 1e5, c.c = 100, c.d = 0.008, c.myu = 0.3;
    m.contacts.push_back(c);
    Y.assign(14 * 2, 0.0);
    Y[12] = Y[16] = 1.0;
  }
};

struct Outcome {
  double seconds = 0;  // per evaluation, the fastest run
  std::vector<orv::ContactRecord> records;
  std::vector<double> F, N;
};

// `reps` evaluations of the pair, the fastest one kept: through the trees,
// or by the exhaustive loops (records only).
Outcome evaluate(const LargePair& p, const orv::Settings& s, bool loops, int reps) {
  Outcome o;
  o.seconds = 1e300;
  for (int r = 0; r < reps; ++r) {
    o.F.assign(6, 0.0);
    o.N.assign(6, 0.0);
    o.records.clear();
    const auto t0 = std::chrono::steady_clock::now();
    if (loops)
      o.records = orvref::loopRecords(p.m, s.CONTACT_ALGORITHM, p.Y.data(), 0);
    else
      orv::applyContact(p.m, s, p.Y.data(), o.F.data(), o.N.data(), 0, o.records);
    const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
    o.seconds = std::min(o.seconds, dt.count());
  }
  return o;
}

// Same records in the same order, to the bit.
bool identical(const Outcome& a, const Outcome& b) {
  if (a.records.size() != b.records.size()) return false;
  for (size_t r = 0; r < a.records.size(); ++r)
    if (std::memcmp(a.records[r].pos, b.records[r].pos, 3 * sizeof(double)) != 0 ||
        std::memcmp(a.records[r].val, b.records[r].val, 3 * sizeof(double)) != 0)
      return false;
  return true;
}

// One evaluation of the large pair through the trees (the timed loop), with
// the exhaustive loops timed before it in the same run: point only, and for
// algorithm 1 point and edge, whose edge part is the difference of the two.
// The exhaustive edge loops take seconds, so they run once per argument set.
// ratio: the exhaustive loops' fastest run over the trees' mean; identical:
// whether both found the same records to the bit.
void BM_ContactLargePair(benchmark::State& state) {
  static const LargePair pair;
  orv::Settings s;
  s.N_THREADS = static_cast<int>(state.range(0));
  s.CONTACT_ALGORITHM = static_cast<int>(state.range(1));
  static std::map<std::pair<int, int>, Outcome> slow;  // exhaustive, per threads and algorithm
  auto exhaustive = [&](int algorithm) -> const Outcome& {
    const auto key = std::make_pair(s.N_THREADS, algorithm);
    auto it = slow.find(key);
    if (it == slow.end()) {
      orv::Settings e = s;
      e.CONTACT_ALGORITHM = algorithm;
      const int reps = algorithm == 0 ? 3 : 1;
      it = slow.emplace(key, evaluate(pair, e, true, reps)).first;
    }
    return it->second;
  };
  const Outcome& slowNow = exhaustive(s.CONTACT_ALGORITHM);
  const Outcome check = evaluate(pair, s, false, 1);

  std::vector<orv::ContactRecord> records;
  std::vector<double> F(6, 0.0), N(6, 0.0);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    records.clear();
    orv::applyContact(pair.m, s, pair.Y.data(), F.data(), N.data(), 0, records);
    benchmark::DoNotOptimize(F.data());
    benchmark::ClobberMemory();
  }
  const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
  const double fast = dt.count() / static_cast<double>(state.iterations());

  state.counters["records"] = static_cast<double>(check.records.size());
  state.counters["identical"] = identical(check, slowNow) ? 1 : 0;
  state.counters["exhaustive_ms"] = 1e3 * slowNow.seconds;
  state.counters["ratio"] = slowNow.seconds / fast;
  if (s.CONTACT_ALGORITHM == 1) {
    orv::Settings p = s;
    p.CONTACT_ALGORITHM = 0;
    // Fastest of many against fastest of many, as for the exhaustive loops.
    const double fastEdge =
        evaluate(pair, s, false, 200).seconds - evaluate(pair, p, false, 200).seconds;
    const double slowEdge = slowNow.seconds - exhaustive(0).seconds;
    state.counters["edge_exhaustive_ms"] = 1e3 * slowEdge;
    state.counters["edge_ms"] = 1e3 * fastEdge;
    state.counters["edge_ratio"] = slowEdge / fastEdge;
  }
}
// Arguments: threads, algorithm (0 point, 1 point and edge).
BENCHMARK(BM_ContactLargePair)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// A child process that keeps one core busy until stopped.
struct Spinner {
  pid_t pid = -1;
  Spinner() {
    pid = fork();
    if (pid == 0)
      for (volatile unsigned long n = 0;; n = n + 1) {
      }
  }
  ~Spinner() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

// Seconds per call of `evals` calls of f.
double timed(const std::function<void()>& f, int evals) {
  const auto t0 = std::chrono::steady_clock::now();
  for (int e = 0; e < evals; ++e) f();
  const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
  return dt.count() / evals;
}

// Fastest of `reps` timings of `evals` calls, in seconds per call.
double fastest(const std::function<void()>& f, int reps, int evals) {
  double best = 1e300;
  for (int r = 0; r < reps; ++r) best = std::min(best, timed(f, evals));
  return best;
}

// b over a, timed back to back in `rounds` rounds (b first in every other
// round, so neither always runs second): the median of the rounds' ratios
// and the ratio of the fastest times. This host's speed drifts by a third
// from one second to the next; a ratio of two times taken a few
// milliseconds apart follows the programs, not the drift, and the median
// of many is what a user typically sees.
struct Paired {
  double median = 0, fastest = 0;
};
Paired paired(const std::function<void()>& a, const std::function<void()>& b, int rounds,
              int evals) {
  std::vector<double> ratio;
  double ta = 1e300, tb = 1e300;
  for (int r = 0; r < rounds; ++r) {
    double x, y;
    if (r % 2) {
      y = timed(b, evals), x = timed(a, evals);
    } else {
      x = timed(a, evals), y = timed(b, evals);
    }
    ratio.push_back(y / x);
    ta = std::min(ta, x), tb = std::min(tb, y);
  }
  std::nth_element(ratio.begin(), ratio.begin() + rounds / 2, ratio.end());
  return {ratio[rounds / 2], tb / ta};
}

// Contact of one scene (point contact; with `algorithm` 1 point and edge
// contact, which places the meshes whole) on 1 and 2 threads, in paired
// rounds (see Paired), then the same while a child process spins on one
// core; and the whole-placement path (applyContactPlacingAll, as before
// the body-frame search) against applyContact on one thread. Counters:
// 1t_over_2t (the aim is at least 1.7) and busy_2t_over_1t (below 1.1 is
// the aim) as medians, with the ratios of fastest times beside them
// (_fastest), and before_over_1t.
void threadRatios(benchmark::State& state, const orv::Model& m, const std::vector<double>& Y,
                  int algorithm = 0) {
  const int nb = m.body_num();
  std::vector<double> F(3 * nb), N(3 * nb);
  std::vector<orv::ContactRecord> records;
  orv::Settings one, two;
  one.N_THREADS = 1;
  two.N_THREADS = 2;
  one.CONTACT_ALGORITHM = two.CONTACT_ALGORITHM = algorithm;
  auto now = [&](const orv::Settings& s) {
    return [&m, &Y, &F, &N, &records, s] {
      records.clear();
      orv::applyContact(m, s, Y.data(), F.data(), N.data(), 0, records);
    };
  };
  auto before = [&](const orv::Settings& s) {
    return [&m, &Y, &F, &N, &records, s] {
      records.clear();
      orv::applyContactPlacingAll(m, s, Y.data(), F.data(), N.data(), 0, records);
    };
  };
  const int evals = 20, rounds = 25;
  Paired idle, busy, old;
  // The idle rounds come first: after a busy core the pool runs jobs on the
  // caller alone for up to half a second, which is not what they measure.
  for (auto _ : state) {
    old = paired(now(one), before(one), 5, evals);
    idle = paired(now(two), now(one), rounds, evals);
    {
      Spinner spinning;
      busy = paired(now(one), now(two), rounds, evals);
    }
    // So that the next benchmark's idle rounds start with the pool shared.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
  }
  state.counters["records"] = static_cast<double>(records.size());
  state.counters["us_1t"] = 1e6 * timed(now(one), evals);
  state.counters["before_over_1t"] = old.median;
  state.counters["1t_over_2t"] = idle.median;
  state.counters["1t_over_2t_fastest"] = idle.fastest;
  state.counters["busy_2t_over_1t"] = busy.median;
  state.counters["busy_2t_over_1t_fastest"] = busy.fastest;
}

void BM_ContactThreadsLargePair(benchmark::State& state) {
  static const LargePair pair;
  threadRatios(state, pair.m, pair.Y);
}
BENCHMARK(BM_ContactThreadsLargePair)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same with edge contact, which places the meshes whole.
void BM_ContactThreadsLargePairEdges(benchmark::State& state) {
  static const LargePair pair;
  threadRatios(state, pair.m, pair.Y, 1);
}
BENCHMARK(BM_ContactThreadsLargePairEdges)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One evaluation with the sphere 0.5 m above the plate (falling free) against
// one with it resting in the plate, on one thread, interleaved; counter
// free_over_contact (the aim is at most 0.02).
void BM_ContactFreeFallShare(benchmark::State& state) {
  static const LargePair pair;
  std::vector<double> high = pair.Y;
  high[orv::StateLayout{2}.r(1) + 1] += 0.5;
  std::vector<double> F(6), N(6);
  std::vector<orv::ContactRecord> records;
  orv::Settings one;
  one.N_THREADS = 1;
  auto at = [&](const std::vector<double>& Y) {
    return [&, Y] {
      records.clear();
      orv::applyContact(pair.m, one, Y.data(), F.data(), N.data(), 0, records);
    };
  };
  double freeFall = 1e300, touching = 1e300;
  for (auto _ : state)
    for (int round = 0; round < 5; ++round) {
      freeFall = std::min(freeFall, fastest(at(high), 3, 1000));
      touching = std::min(touching, fastest(at(pair.Y), 3, 20));
    }
  state.counters["free_us"] = 1e6 * freeFall;
  state.counters["contact_us"] = 1e6 * touching;
  state.counters["free_over_contact"] = freeFall / touching;
}
BENCHMARK(BM_ContactFreeFallShare)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ContactThreadsFourSpheres(benchmark::State& state) {
  static Scene scene(4);
  if (!scene.ok) {
    state.SkipWithError("the example meshes could not be read");
    return;
  }
  threadRatios(state, scene.m, scene.Y);
}
BENCHMARK(BM_ContactThreadsFourSpheres)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
