#include "test_util.h"

#include <fstream>
#include <sstream>

namespace orvtest {

std::string makeTempDir() {
  char tmpl[] = "/tmp/orvaldyn_test_XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? std::string(d) : std::string("/tmp");
}

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return static_cast<bool>(f);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace orvtest
