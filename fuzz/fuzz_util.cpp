#include "fuzz_util.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/console.h"

namespace orvfuzz {

namespace {

std::string g_scratch;

void removeScratch() {
  std::error_code ec;
  if (!g_scratch.empty()) std::filesystem::remove_all(g_scratch, ec);
}

}  // namespace

void makeScratch() {
  if (!g_scratch.empty()) return;
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/orvaldyn_fuzz_XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("orvaldyn fuzz: cannot create a scratch directory");
    std::abort();
  }
  g_scratch = tmpl;
  std::atexit(removeScratch);
}

void silenceConsole() {
  static FILE* null = std::fopen("/dev/null", "w");
  if (!null) std::abort();
  orv::setConsoleFile(null);
}

const std::string& scratch() { return g_scratch; }

std::string scratchPath(const std::string& name) { return g_scratch + "/" + name; }

void writeFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
      std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

std::vector<std::string> split(const uint8_t* data, size_t size, size_t parts) {
  std::vector<std::string> out;
  const char* p = reinterpret_cast<const char*>(data);
  const char* end = p + size;
  const size_t sepLen = std::strlen(kSeparator);
  while (out.size() + 1 < parts) {
    const void* hit = memmem(p, static_cast<size_t>(end - p), kSeparator, sepLen);
    if (!hit) break;
    const char* at = static_cast<const char*>(hit);
    out.emplace_back(p, at);
    p = at + sepLen;
  }
  out.emplace_back(p, end);
  out.resize(parts);
  return out;
}

}  // namespace orvfuzz
