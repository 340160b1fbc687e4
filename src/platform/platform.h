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
// Processor time of this process in milliseconds.
double processClockMs();

// Number of threads of a default OpenMP parallel team.
int openmpTeamSize();

}  // namespace orv
