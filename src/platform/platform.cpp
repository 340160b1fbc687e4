#include "platform/platform.h"

#include <omp.h>

#include <sys/stat.h>

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
  int team = 1;
#pragma omp parallel shared(team)
  {
#pragma omp atomic write
    team = omp_get_num_threads();
  }
  return team;
}

}  // namespace orv
