// The few operating-system services the program needs.
#pragma once

#include <string>

namespace orv {

// Creates a directory; true if it exists afterwards.
bool makeDirectory(const std::string& path);
// Blocks the calling thread for `ms` milliseconds.
void sleepMs(int ms);
// Monotonic clock in milliseconds since an arbitrary origin.
double monotonicMs();

// Number of threads of a default OpenMP parallel team.
int openmpTeamSize();

}  // namespace orv
