#include "platform/platform.h"

#include <omp.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace orv {

bool makeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  struct stat st;
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void sleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double monotonicMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

int openmpTeamSize() {
  // Without dynamic adjustment a team has the size the settings give it; a
  // team started only to count itself would keep its threads spinning for a
  // while after it, on cores the program then wants.
  if (!omp_get_dynamic()) return std::max(1, std::min(omp_get_max_threads(), omp_get_thread_limit()));
  int team = 1;
#pragma omp parallel shared(team)
  {
#pragma omp atomic write
    team = omp_get_num_threads();
  }
  return team;
}

}  // namespace orv
