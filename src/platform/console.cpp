#include "platform/console.h"

#include <cstdarg>

namespace orv {

static FILE* g_console = nullptr;

FILE* consoleFile() { return g_console ? g_console : stdout; }

void setConsoleFile(FILE* f) { g_console = f; }

void cprintf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(consoleFile(), fmt, ap);
  va_end(ap);
}

}  // namespace orv
