// Node merging of a mesh at the triangle limit: mergeNodes (hash grid)
// against the literal rule done as a quadratic scan — each corner becomes the
// first earlier node within the tolerance on all three axes, in node order —
// and the whole reader, which parses the file and then calls mergeNodes. The
// bench aborts unless all three give the same nodes and corners.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "model/model.h"
#include "contact/placed_mesh.h"
#include "files/node_merge.h"
#include "files/stl_reader.h"
#include "platform/console.h"

namespace {

constexpr double kTol = 1e-9;

// A wavy sheet of nx by ny quads, two triangles each, plus one triangle over
// existing nodes: 2 * 26 * 641 + 1 = 33333 triangles on 17334 nodes. Every
// corner is written with its own jitter well inside the tolerance, so that
// merging really depends on it. No coordinate is near 0, where a -0.0 would
// come back from placement as +0.0.
struct Mesh {
  static constexpr int nx = 641, ny = 26;
  std::vector<double> corners;  // 3 per corner, file order
  std::string path;

  Mesh() {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> jitter(-0.2 * kTol, 0.2 * kTol);
    auto point = [&](int i, int j) {
      const double x = 1.5 + 0.01 * i, y = 2.5 + 0.03 * j;
      return std::vector<double>{x + jitter(rng), y + jitter(rng),
                                 3.5 + 0.05 * std::sin(x * 7) * std::cos(y * 5) + jitter(rng)};
    };
    auto tri = [&](int i0, int j0, int i1, int j1, int i2, int j2) {
      for (const auto& p : {point(i0, j0), point(i1, j1), point(i2, j2)})
        corners.insert(corners.end(), p.begin(), p.end());
    };
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i) {
        tri(i, j, i + 1, j, i + 1, j + 1);
        tri(i, j, i + 1, j + 1, i, j + 1);
      }
    tri(0, 0, 2, 1, 0, 2);

    char dir[] = "/tmp/orvaldyn_stl_bench_XXXXXX";
    if (!mkdtemp(dir)) fail("cannot make a temporary directory");
    path = std::string(dir) + "/sheet.stl";
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) fail("cannot write the mesh file");
    std::fprintf(f, "solid sheet\n");
    for (std::size_t c = 0; c < corners.size(); c += 9) {
      std::fprintf(f, " facet normal 0 0 1\n  outer loop\n");
      for (int k = 0; k < 3; ++k)
        std::fprintf(f, "   vertex %.17g %.17g %.17g\n", corners[c + 3 * k], corners[c + 3 * k + 1],
                     corners[c + 3 * k + 2]);
      std::fprintf(f, "  endloop\n endfacet\n");
    }
    std::fprintf(f, "endsolid sheet\n");
    std::fclose(f);
  }
  ~Mesh() {
    std::remove(path.c_str());
    rmdir(path.substr(0, path.find_last_of('/')).c_str());
  }
  Mesh(const Mesh&) = delete;
  Mesh& operator=(const Mesh&) = delete;

  [[noreturn]] static void fail(const char* why) {
    std::fprintf(stderr, "stl_merge_bench: %s\n", why);
    std::abort();
  }
};

struct Merged {
  std::vector<double> nodes;
  std::vector<int> triNode;
};

// The rule itself, as a scan over all nodes so far.
Merged quadraticMerge(const std::vector<double>& corners) {
  Merged r;
  const std::size_t n = corners.size() / 3;
  r.triNode.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const double* p = &corners[3 * k];
    const std::size_t count = r.nodes.size() / 3;
    std::size_t found = count;
    for (std::size_t i = 0; i < count; ++i) {
      const double* c = &r.nodes[3 * i];
      if (std::fabs(c[0] - p[0]) < kTol && std::fabs(c[1] - p[1]) < kTol &&
          std::fabs(c[2] - p[2]) < kTol) {
        found = i;
        break;
      }
    }
    if (found == count) r.nodes.insert(r.nodes.end(), p, p + 3);
    r.triNode[k] = static_cast<int>(found);
  }
  return r;
}

Merged gridMerge(const std::vector<double>& corners) {
  Merged r;
  orv::mergeNodes(corners, r.nodes, r.triNode);
  return r;
}

Merged readerMerge(const Mesh& mesh) {
  orv::Model m;
  m.shapes.resize(1);
  m.shapes[0].type = "STL";
  if (!orv::readStl(m, 0, mesh.path)) Mesh::fail("readStl refused the mesh");
  return {m.shapes[0].mesh->node, m.shapes[0].mesh->tri};
}

void expectSame(const Merged& got, const Merged& ref, const char* who) {
  if (got.nodes.size() != ref.nodes.size() || got.triNode != ref.triNode ||
      std::memcmp(got.nodes.data(), ref.nodes.data(), ref.nodes.size() * sizeof(double)) != 0) {
    std::fprintf(stderr, "stl_merge_bench: %s: nodes or corner indices differ from the scan\n",
                 who);
    std::abort();
  }
}

template <class F>
double bestSeconds(F f, int reps) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(f());
    best = std::min(best,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// The timed loop is mergeNodes alone. The scan, mergeNodes and the whole
// reader are also timed here as the best of several runs each, so that
// `merge_speedup` compares figures from the same run and load.
void BM_StlNodeMerge(benchmark::State& state) {
  const Mesh mesh;
  FILE* null = std::fopen("/dev/null", "w");
  orv::setConsoleFile(null);

  const Merged ref = quadraticMerge(mesh.corners);
  expectSame(gridMerge(mesh.corners), ref, "mergeNodes");
  expectSame(readerMerge(mesh), ref, "readStl");

  for (auto _ : state) benchmark::DoNotOptimize(gridMerge(mesh.corners).nodes.data());
  const double scan = bestSeconds([&] { return quadraticMerge(mesh.corners).nodes.size(); }, 3);
  const double merge = bestSeconds([&] { return gridMerge(mesh.corners).nodes.size(); }, 50);
  const double reader = bestSeconds([&] { return readerMerge(mesh).nodes.size(); }, 10);

  orv::setConsoleFile(nullptr);
  std::fclose(null);
  state.counters["triangles"] = static_cast<double>(ref.triNode.size() / 3);
  state.counters["nodes"] = static_cast<double>(ref.nodes.size() / 3);
  state.counters["scan_ms"] = scan * 1e3;
  state.counters["merge_ms"] = merge * 1e3;
  state.counters["merge_speedup"] = scan / merge;
  state.counters["reader_ms"] = reader * 1e3;
}
BENCHMARK(BM_StlNodeMerge)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
