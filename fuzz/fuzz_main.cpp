// The libFuzzer entry points of one target; ORVFUZZ_TARGET names its harness.
#include <cstdio>
#include <cstdlib>

#include "fuzz_util.h"
#include "harness.h"

namespace {
orvfuzz::Harness g_run = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvfuzz::makeScratch();
  orvfuzz::silenceConsole();
  g_run = orvfuzz::harnessNamed(ORVFUZZ_TARGET);
  if (!g_run) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string broken = g_run(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "orvaldyn fuzz %s: broken invariant: %s\n", ORVFUZZ_TARGET,
                 broken.c_str());
    std::abort();
  }
  return 0;
}
