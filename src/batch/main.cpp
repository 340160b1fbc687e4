// orvaldyn-batch: the desktop program's "Open Model File" and "Execute
// Analysis" (or "Open Mov File", or "Open Result File") without a window, for
// scripts, tests and benchmarks. Prints the same console texts; the exit code
// tells the outcome. --csv writes the output channels for plots made elsewhere;
// --set changes parameters for studies, --quiet keeps a study's log short.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

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
#include "model/histories.h"
#include "model/model.h"
#include "platform/tokens.h"

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
    "each form also takes [--set NAME=VALUE]... [--quiet]\n"
    "\n"
    "Reads setting/setting.txt and setting/color.txt from the working directory.\n"
    "An analysis writes log/result_<model file name>; an import of motion computed\n"
    "elsewhere (header.txt and the .jnt file beside MOVFILE) writes\n"
    "log/import_<model file name>. --output FILE writes FILE instead; a file\n"
    "replaced is kept as FILE.bak. --result RESULTFILE reads a result written\n"
    "before for MODELFILE instead of running. --csv FILE then writes every output\n"
    "channel to FILE: a header row of names, time first, one row per sample.\n"
    "--set NAME=VALUE gives the parameter NAME of parameter_info the number VALUE\n"
    "in place of the file's value, as if the file said so. --quiet prints nothing\n"
    "but errors and a last line: MODELFILE: done|stopped|refused|failed, ...\n"
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
  bool quiet = false;            // --quiet
  orv::ParameterValues values;   // --set, in the order given
};

// NAME=VALUE of --set; false when it is not of that form or NAME comes twice.
bool parseSet(const char* a, orv::ParameterValues& values) {
  const char* eq = std::strchr(a, '=');
  if (!eq || eq == a) return false;
  orv::ParameterValue v{std::string(a, eq), std::string(eq + 1)};
  for (const orv::ParameterValue& o : values)
    if (o.name == v.name) return false;
  values.push_back(v);
  return true;
}

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
    } else if (std::strcmp(a, "--set") == 0) {
      if (i + 1 >= argc || !parseSet(argv[++i], c.values)) return false;
    } else if (std::strcmp(a, "--quiet") == 0) {
      if (c.quiet) return false;
      c.quiet = true;
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

// How it ended, for the line --quiet prints last: the word a study files the
// run under, and the result file holding its samples ("" when none was written).
const char* g_ended = "refused";
std::string g_written;

// The outcome's exit code and word together.
int ended(int code, const char* word) {
  g_ended = word;
  return code;
}

// A --set value must be what a model file could hold as a plain number:
// decimal digits with an optional sign, point and exponent, and finite. The
// expression reader, not this check, gives it its value.
bool plainNumber(const std::string& t) {
  size_t k = 0;
  auto digits = [&] {
    const size_t from = k;
    while (k < t.size() && t[k] >= '0' && t[k] <= '9') ++k;
    return k - from;
  };
  if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
  size_t n = digits();
  if (k < t.size() && t[k] == '.') ++k, n += digits();
  if (n == 0) return false;
  if (k < t.size() && (t[k] == 'e' || t[k] == 'E')) {
    ++k;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
    if (digits() == 0) return false;
  }
  double v = 0.0;
  return k == t.size() && orv::parseDouble(t, v) && std::isfinite(v);
}

// Refuses --set values that are no number or name no parameter of the model
// read, listing the names it has; true when all are good.
bool checkValues(const CommandLine& c) {
  // The rows of parameter_info; the local coordinates and joints the reader
  // adds after them (line 0) are no values to set.
  std::vector<std::string> own;
  for (const orv::Parameter& p : orv::g_model.parameters)
    if (p.line > 0) own.push_back(p.name);
  std::string names;
  for (const std::string& n : own) names += (names.empty() ? "" : ", ") + n;
  if (names.empty()) names = "(none)";
  bool good = true;
  for (const orv::ParameterValue& v : c.values) {
    bool known = false;
    for (const std::string& n : own) known = known || n == v.name;
    if (!known)
      std::fprintf(stderr, "orvaldyn-batch: --set %s: %s has no parameter of that name\n",
                   v.name.c_str(), c.model);
    else if (!plainNumber(v.text))
      std::fprintf(stderr, "orvaldyn-batch: --set %s=%s: expected a number\n", v.name.c_str(),
                   v.text.c_str());
    else
      continue;
    good = false;
  }
  if (!good)
    std::fprintf(stderr, "orvaldyn-batch: the parameters of %s: %s\n", c.model, names.c_str());
  return good;
}

// Reads the settings and the model; false (after saying why) on failure.
bool openModel(const CommandLine& c) {
  const char* path = c.model;
  g_doing = "read the settings";
  if (!orv::readSettingsFiles("", orv::g_settings, orv::g_model, orv::g_hist)) {
    std::fflush(orv::consoleFile());
    // Without --quiet standard output has said which file is missing.
    if (c.quiet)
      std::fprintf(stderr, "orvaldyn-batch: setting/setting.txt or setting/color.txt is missing\n");
    return false;
  }
  g_doing = std::string("read the model file ") + path;
  std::string message;
  // Only numbers reach the reader; the others are refused below all the same.
  orv::ParameterValues numbers;
  for (const orv::ParameterValue& v : c.values)
    if (plainNumber(v.text)) numbers.push_back(v);
  orv::ReadStatus st = orv::openModelFile(path, message, numbers);
  std::fflush(orv::consoleFile());
  if (st == orv::ReadStatus::OpenError) {
    std::fprintf(stderr, "orvaldyn-batch: cannot open %s\n", path);
    return false;
  }
  if (st == orv::ReadStatus::InputError) {
    std::fprintf(stderr, "orvaldyn-batch: %s\n", message.c_str());
    return false;
  }
  return checkValues(c);
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
  if (!openModel(c) || !csvWritable(c)) return kFailed;
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
  g_written = c.result;
  const int code = writeCsv(c, kSuccess);
  return ended(code, code == kSuccess ? "done" : "failed");
}

int importMov(const CommandLine& c) {
  if (!openModel(c) || !csvWritable(c)) return kFailed;
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
    return kFailed;  // refused: the motion set is missing or malformed
  }
  g_doing = "write the result file " + out;
  const bool written = orv::writeResultFileAt(out, orv::g_model, orv::g_hist, &why);
  std::fflush(stdout);
  if (!written) {
    std::fprintf(stderr, "orvaldyn-batch: cannot write the result file: %s\n", why.c_str());
    return ended(kFailed, "failed");
  }
  g_written = out;
  const int code = writeCsv(c, kSuccess);
  return ended(code, code == kSuccess ? "done" : "failed");
}

int analyse(const CommandLine& c) {
  if (!openModel(c) || !csvWritable(c)) return kFailed;
  g_doing = std::string("run the analysis of ") + c.model;
  orv::AnalysisOptions opt;
  opt.pauses = false;  // the pauses let a window catch up; nothing here waits for them
  if (c.output) opt.outputPath = c.output;
  std::string message;
  orv::AnalysisStatus as = orv::executeAnalysis(message, opt);
  std::fflush(stdout);
  if (as != orv::AnalysisStatus::Refused)
    g_written = c.output ? c.output : orv::resultFilePath(orv::g_model);
  // Exit codes: 3 is kept for the run-time rules alone (energy, speed,
  // divergence); every other early end is 1.
  switch (as) {
    case orv::AnalysisStatus::Completed: {
      const int code = writeCsv(c, kSuccess);
      return ended(code, code == kSuccess ? "done" : "failed");
    }
    case orv::AnalysisStatus::Stopped: {  // the message says which rule and when
      std::fprintf(stderr, "orvaldyn-batch: the run stopped early: %s\n", message.c_str());
      const int code = writeCsv(c, kStopped);
      return ended(code, code == kStopped ? "stopped" : "failed");
    }
    case orv::AnalysisStatus::Refused:
      std::fprintf(stderr, "orvaldyn-batch: %s\n", message.c_str());
      return kFailed;
    case orv::AnalysisStatus::Failed:
    case orv::AnalysisStatus::Interrupted:
      std::fprintf(stderr, "orvaldyn-batch: %s\n", message.c_str());
      return ended(kFailed, "failed");
  }
  return ended(kFailed, "failed");
}

// The one line of --quiet: "MODEL: WORD[, N samples to t=T s, result FILE]".
void printSummary(const CommandLine& c) {
  std::string line = std::string(c.model) + ": " + g_ended;
  const int n = orv::g_hist.anime_num;
  if (!g_written.empty() && n > 0 && static_cast<int>(orv::g_hist.p_time.size()) >= n) {
    char buf[96];
    std::snprintf(buf, sizeof buf, ", %d sample%s to t=%g s", n, n == 1 ? "" : "s",
                  orv::g_hist.p_time[n - 1]);
    line += buf;
    line += ", result " + g_written;
  }
  std::printf("%s\n", line.c_str());
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
  // Quiet: the console texts go nowhere; standard error is as always.
  FILE* nowhere = c.quiet ? std::fopen("/dev/null", "w") : nullptr;
  if (nowhere) orv::setConsoleFile(nowhere);
  int code = kFailed;
  try {
    code = c.result ? readResult(c) : c.mov ? importMov(c) : analyse(c);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fprintf(stderr, "orvaldyn-batch: Not enough memory to %s\n", g_doing.c_str());
    code = ended(kFailed, "failed");
  }
  if (c.quiet) printSummary(c);
  return code;
}
