// orvaldyn-batch: the desktop program's "Open Model File" and "Execute
// Analysis" without a window, for scripts, tests and benchmarks. Prints the
// same console texts and exits non-zero on any failure.
//
//   orvaldyn-batch MODELFILE                       analyse, write the result file
//   orvaldyn-batch --import-mov MOVFILE MODELFILE  import motion computed elsewhere
//                                                  and write it as the result file
#include <cstdio>
#include <cstring>
#include <string>

#include "model/globals.h"
#include "model/model_reader.h"
#include "platform/console.h"
#include "results/motion_import.h"
#include "results/result_file.h"
#include "solver/analysis.h"

namespace {

// Reads the settings and the model; false (after saying why) on failure.
bool openModel(const char* path) {
  orv::readSettings();
  std::string message;
  orv::ReadStatus st = orv::openModelFile(path, message);
  std::fflush(stdout);
  if (st == orv::ReadStatus::OpenError) {
    std::fprintf(stderr, "orvaldyn-batch: cannot open %s\n", path);
    return false;
  }
  if (st == orv::ReadStatus::InputError) {
    std::fprintf(stderr, "orvaldyn-batch: %s\n", message.c_str());
    return false;
  }
  return true;
}

int importMov(const char* mov, const char* model) {
  if (!openModel(model)) return 1;
  const bool imported = orv::importMotion(mov, orv::g_model, orv::g_hist);
  std::fflush(stdout);
  if (!imported) {
    std::fprintf(stderr, "orvaldyn-batch: cannot import %s\n", mov);
    return 1;
  }
  const bool written = orv::writeResultFile(orv::g_model, orv::g_hist);
  std::fflush(stdout);
  if (!written) {
    std::fprintf(stderr, "orvaldyn-batch: cannot write the result file\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--import-mov") == 0 && argv[2][0] != '\0' &&
      argv[3][0] != '\0')
    return importMov(argv[2], argv[3]);
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || argv[1][0] == '\0') {
    std::fprintf(stderr,
                 "usage: orvaldyn-batch MODELFILE\n"
                 "       orvaldyn-batch --import-mov MOVFILE MODELFILE\n");
    return 2;
  }
  if (!openModel(argv[1])) return 1;

  std::string message;
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
