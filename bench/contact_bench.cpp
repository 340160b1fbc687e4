// One contact evaluation: the example sphere mesh resting on the example
// plate mesh (and, for the pair-parallel mode to have pairs to share, four
// spheres on the plate), on 1 and 2 threads in both execution modes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "contact/contact.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/model_reader.h"
#include "model/settings.h"
#include "platform/console.h"

namespace {

std::string meshDir() {
  std::string here = __FILE__;
  return here.substr(0, here.find_last_of('/')) + "/../examples/meshes/";
}

// Balls sunk 2 mm into the plate, at rest, in one contact group.
struct Scene {
  orv::Model m;
  orv::Histories h;
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
      frames += " b" + n + " ball" + n + " " + std::to_string(-0.3 + 0.2 * b) + " 0.048 0.1 0 0 0\n";
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
    scene.h.attempt_contacts.clear();
    orv::applyContact(scene.m, s, scene.h, scene.Y.data(), scene.F.data(), scene.N.data(), 0);
    records = scene.h.attempt_contacts.size();
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

}  // namespace
