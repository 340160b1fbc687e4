// The console: every echo, progress and error text of the program goes here.
// Standard output by default; tests point it at a memory stream.
#pragma once

#include <cstdio>

namespace orv {

// The stream console texts are written to.
FILE* consoleFile();
// Redirects console texts (nullptr restores standard output).
void setConsoleFile(FILE* f);
// printf to the console.
void cprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orv
