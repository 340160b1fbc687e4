// The double[9] helpers exist because the joint and force loops cannot afford
// TNT's heap allocation per 3x3 product; these keep that gap visible.
#include <benchmark/benchmark.h>

#include "math/linalg.h"
#include "math/vec3.h"

namespace {

void BM_Mat3Mul(benchmark::State& state) {
  double A[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10}, B[9] = {0.5, 1, 0, -1, 0.2, 0, 0, 0.3, 2}, C[9];
  for (auto _ : state) {
    benchmark::DoNotOptimize(orv::mat3Mul(C, A, B));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Mat3Mul);

void BM_TntMatmult3(benchmark::State& state) {
  orv::Mat A(3, 3), B(3, 3);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      A[i][j] = 1 + i * 3 + j;
      B[i][j] = (i == j) ? 2.0 : 0.1 * (i - j);
    }
  for (auto _ : state) {
    orv::Mat C = TNT::matmult(A, B);
    benchmark::DoNotOptimize(C[2][2]);
  }
}
BENCHMARK(BM_TntMatmult3);

}  // namespace
