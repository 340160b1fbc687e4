// orvaldyn-batch: the desktop program's "Open Model File" and "Execute
// Analysis" (or "Open Mov File", or "Open Result File") without a window, for
// scripts, tests and benchmarks. Prints the same console texts; the exit code
// tells the outcome. --csv writes the output channels for plots made elsewhere.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "model/globals.h"
#include "files/csv_writer.h"
#include "files/model_reader.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "platform/replace_file.h"
#include "files/motion_import.h"
#include "files/result_file.h"
#include "session/run.h"
#include "files/settings_reader.h"

namespace {

// Exit codes.
constexpr int kSuccess = 0;
constexpr int kFailed =
    1;  // refused or failed: bad input, refused model, numerical failure, memory
constexpr int kUsage = 2;
constexpr int kStopped = 3;  // stopped by a run-time rule; the samples so far are written

const char kUsageText[] =
    "usage: orvaldyn-batch [--output FILE] [--csv FILE] MODELFILE\n"
    "       orvaldyn-batch --import-mov MOVFILE MODELFILE [--output FILE] [--csv FILE]\n"
    "       orvaldyn-batch --result RESULTFILE MODELFILE [--csv FILE]\n"
    "       orvaldyn-batch --help\n"
    "\n"
    "Reads setting/setting.txt and setting/color.txt from the working directory.\n"
    "An analysis writes log/result_<model file name>; an import of motion computed\n"
    "elsewhere (header.txt and the .jnt file beside MOVFILE) writes\n"
    "log/import_<model file name>. --output FILE writes FILE instead; a file\n"
    "replaced is kept as FILE.bak. --result RESULTFILE reads a result written\n"
    "before for MODELFILE instead of running. --csv FILE then writes every output\n"
    "channel to FILE: a header row of names, time first, one row per sample.\n"
    "\n"
    "exit codes: 0 success; 1 refused or failed (bad input, model refused,\n"
    "numerical failure, file not writable, not enough memory); 2 usage error;\n"
    "3 stopped by a run-time rule (the energy or a body's speed ran away, or the\n"
    "integration diverged), the samples so far written\n";

struct CommandLine {
  bool help = false;
  const char* model = nullptr;
  const char* mov = nullptr;     // --import-mov
  const char* output = nullptr;  // --output
  const char* result = nullptr;  // --result
  const char* csv = nullptr;     // --csv
};

// False on anything but one of the forms of the usage text.
bool parse(int argc, char** argv, CommandLine& c) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&](const char*& slot) {
      if (slot || i + 1 >= argc || argv[i + 1][0] == '\0') return false;
      slot = argv[++i];
      return true;
    };
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      c.help = true;
    } else if (std::strcmp(a, "--import-mov") == 0) {
      if (!value(c.mov)) return false;
    } else if (std::strcmp(a, "--output") == 0) {
      if (!value(c.output)) return false;
    } else if (std::strcmp(a, "--result") == 0) {
      if (!value(c.result)) return false;
    } else if (std::strcmp(a, "--csv") == 0) {
      if (!value(c.csv)) return false;
    } else if (a[0] == '-' || a[0] == '\0' || c.model) {
      return false;
    } else {
      c.model = a;
    }
  }
  // A result read is written nowhere but to the CSV.
  if (c.result && (c.mov || c.output)) return false;
  return c.help || c.model;
}

// What the program is doing, for the message should memory run out.
std::string g_doing = "start";

// Reads the settings and the model; false (after saying why) on failure.
bool openModel(const char* path) {
  g_doing = "read the settings";
  orv::readSettings();
  g_doing = std::string("read the model file ") + path;
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

// Whether the CSV asked for (if any) can be written; checked before the run.
bool csvWritable(const CommandLine& c) {
  std::string why;
  if (!c.csv || orv::checkWritableFile(c.csv, why)) return true;
  std::fprintf(stderr, "orvaldyn-batch: The CSV file %s cannot be written: %s\n", c.csv,
               why.c_str());
  return false;
}

// Writes the CSV asked for (if any) from the histories held now; `code` is the
// outcome so far, kept unless the CSV fails.
int writeCsv(const CommandLine& c, int code) {
  if (!c.csv) return code;
  g_doing = std::string("write the CSV file ") + c.csv;
  std::string why;
  if (orv::writeChannelsCsv(c.csv, orv::g_model, orv::g_hist, {}, &why)) return code;
  std::fprintf(stderr, "orvaldyn-batch: %s\n", why.c_str());
  return kFailed;
}

int readResult(const CommandLine& c) {
  if (!openModel(c.model) || !csvWritable(c)) return kFailed;
  g_doing = std::string("read the result file ") + c.result;
  // The reader says on the console what it found; the message names the file
  // and line for standard error.
  std::string refusal;
  orv::setMessageSink([&](const orv::Message& m) {
    if (m.severity != orv::Severity::Error || !refusal.empty()) return;
    refusal = m.file;
    if (m.line > 0) refusal += ":" + std::to_string(m.line);
    refusal += ": " + m.text;
  });
  const bool read = orv::readResultFile(c.result, orv::g_model, orv::g_hist);
  orv::setMessageSink(nullptr);
  std::fflush(stdout);
  if (!read) {
    std::fprintf(stderr, "orvaldyn-batch: %s\n", refusal.c_str());
    return kFailed;
  }
  return writeCsv(c, kSuccess);
}

int importMov(const CommandLine& c) {
  if (!openModel(c.model) || !csvWritable(c)) return kFailed;
  // Never the analysis's result: an import has a file of its own.
  const std::string out = c.output ? c.output : orv::importFilePath(orv::g_model);
  std::string why;
  if (!orv::checkResultPath(out, why)) {
    std::fprintf(stderr, "orvaldyn-batch: %s\n", why.c_str());
    return kFailed;
  }
  g_doing = std::string("import the motion ") + c.mov;
  const bool imported = orv::importMotion(c.mov, orv::g_model, orv::g_hist);
  std::fflush(stdout);
  if (!imported) {
    std::fprintf(stderr, "orvaldyn-batch: cannot import %s\n", c.mov);
    return kFailed;
  }
  g_doing = "write the result file " + out;
  const bool written = orv::writeResultFileAt(out, orv::g_model, orv::g_hist, &why);
  std::fflush(stdout);
  if (!written) {
    std::fprintf(stderr, "orvaldyn-batch: cannot write the result file: %s\n", why.c_str());
    return kFailed;
  }
  return writeCsv(c, kSuccess);
}

int analyse(const CommandLine& c) {
  if (!openModel(c.model) || !csvWritable(c)) return kFailed;
  g_doing = std::string("run the analysis of ") + c.model;
  orv::AnalysisOptions opt;
  if (c.output) opt.outputPath = c.output;
  std::string message;
  orv::AnalysisStatus as = orv::executeAnalysis(message, opt);
  std::fflush(stdout);
  switch (as) {
    case orv::AnalysisStatus::Completed: return writeCsv(c, kSuccess);
    case orv::AnalysisStatus::Stopped:  // the message says which rule and when
      std::fprintf(stderr, "orvaldyn-batch: the run stopped early: %s\n", message.c_str());
      return writeCsv(c, kStopped);
    case orv::AnalysisStatus::Failed:
    case orv::AnalysisStatus::Refused:
    case orv::AnalysisStatus::Interrupted:
      std::fprintf(stderr, "orvaldyn-batch: %s\n", message.c_str());
      return kFailed;
  }
  return kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine c;
  if (!parse(argc, argv, c)) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  if (c.help) {
    std::fputs(kUsageText, stdout);
    return kSuccess;
  }
  try {
    return c.result ? readResult(c) : c.mov ? importMov(c) : analyse(c);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "orvaldyn-batch: Not enough memory to %s\n", g_doing.c_str());
    return kFailed;
  }
}
