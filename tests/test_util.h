// Helpers shared by the tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console.h"

namespace orvtest {

// Collects everything written to the console while it lives; a capture
// inside another one takes the console back to the outer one at its end.
class ConsoleCapture {
 public:
  ConsoleCapture() : outer_(orv::consoleFile()), f_(open_memstream(&buf_, &len_)) {
    orv::setConsoleFile(f_);
  }
  ~ConsoleCapture() {
    orv::setConsoleFile(outer_);
    std::fclose(f_);
    std::free(buf_);
  }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  std::string text() {
    std::fflush(f_);
    return std::string(buf_, len_);
  }

 private:
  FILE* outer_;
  char* buf_ = nullptr;
  size_t len_ = 0;
  FILE* f_;
};

// A fresh empty directory under the system's temporary folder.
std::string makeTempDir();
// Writes `text` to `path`; false on failure.
bool writeFile(const std::string& path, const std::string& text);
// Whole contents of a file ("" if missing).
std::string readFile(const std::string& path);

}  // namespace orvtest
