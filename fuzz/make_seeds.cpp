// Writes the seeds no shipped file provides: result files of the fuzz
// targets' fixed model. Usage: fuzz_seeds DIR (writes DIR/log/result_*).
#include <cstdio>
#include <string>

#include "fixtures.h"
#include "platform/console.h"
#include "files/result_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  FILE* null = std::fopen("/dev/null", "w");
  orv::setConsoleFile(null);
  orv::Model m = orvfuzz::resultModel();
  orv::Histories h = orvfuzz::resultHistories(m);
  bool ok = orv::writeResultFileAt(orv::resultFilePath(m, argv[1]), m, h);
  // One sample without contact records: the smallest complete file.
  m.path = "rig_one.txt";
  h.anime_num = 1;
  h.cont_time_index.clear();
  h.stl_cont_ti_st = {0};
  h.stl_cont_ti_num = {0};
  ok = orv::writeResultFileAt(orv::resultFilePath(m, argv[1]), m, h) && ok;
  return ok ? 0 : 1;
}
