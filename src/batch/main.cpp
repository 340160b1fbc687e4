// orvaldyn-batch: the desktop program's "Open Model File" and "Execute
// Analysis" without a window, for scripts, tests and benchmarks. Prints the
// same console texts and exits non-zero on any failure.
#include <cstdio>
#include <cstring>
#include <string>

#include "model/globals.h"
#include "model/model_reader.h"
#include "platform/console.h"
#include "solver/analysis.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: orvaldyn-batch MODELFILE\n");
    return 2;
  }
  orv::readSettings();

  std::string message;
  orv::ReadStatus st = orv::openModelFile(argv[1], message);
  std::fflush(stdout);
  if (st == orv::ReadStatus::OpenError) {
    std::fprintf(stderr, "orvaldyn-batch: cannot open %s\n", argv[1]);
    return 1;
  }
  if (st == orv::ReadStatus::InputError) {
    std::fprintf(stderr, "orvaldyn-batch: %s\n", message.c_str());
    return 1;
  }
  orv::AnalysisStatus as = orv::executeAnalysis(message);
  std::fflush(stdout);
  switch (as) {
    case orv::AnalysisStatus::Completed:
      return 0;
    case orv::AnalysisStatus::Stopped:
      std::fprintf(stderr, "orvaldyn-batch: the run stopped early: the energy changed by more "
                           "than ten times in one step\n");
      return 1;
    case orv::AnalysisStatus::Failed:
    case orv::AnalysisStatus::Refused:
      std::fprintf(stderr, "orvaldyn-batch: %s\n", message.c_str());
      return 1;
  }
  return 1;
}
