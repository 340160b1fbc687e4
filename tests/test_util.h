// Helpers shared by the tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "model/settings.h"
#include "platform/console.h"
#include "session/run.h"

namespace orvtest {

// Collects everything written to the console while it lives; a capture
// inside another one takes the console back to the outer one at its end.
class ConsoleCapture {
 public:
  ConsoleCapture() : outer_(orv::consoleFile()), f_(open_memstream(&buf_, &len_)) {
    orv::setConsoleFile(f_);
  }
  ~ConsoleCapture() {
    orv::setConsoleFile(outer_);
    std::fclose(f_);
    std::free(buf_);
  }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  std::string text() {
    std::fflush(f_);
    return std::string(buf_, len_);
  }

 private:
  FILE* outer_;
  char* buf_ = nullptr;
  size_t len_ = 0;
  FILE* f_;
};

// A fresh empty directory under the system's temporary folder.
std::string makeTempDir();
// Writes `text` to `path`; false on failure.
bool writeFile(const std::string& path, const std::string& text);
// Whole contents of a file ("" if missing).
std::string readFile(const std::string& path);
inline bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
// "FILE:LINE:COLUMN" of an offset in a text, counted here from the text.
std::string placeOf(const std::string& file, const std::string& text, size_t offset);
// Everything the result reader and the motion import replace.
inline auto resultStores(const orv::Histories& h) {
  return std::tie(h.p_time, h.p_YYY, h.p_F_const, h.p_C_const, h.p_F_force, h.p_output,
                  h.channel_names, h.cont_time_index, h.cont_position, h.cont_value,
                  h.stl_cont_ti_st, h.stl_cont_ti_num, h.version, h.anime_num, h.current_frame,
                  h.analysis_finished, h.result_shape);
}
// True when `read`, run in a child process whose address space is capped at
// what it uses now plus `mib` MiB, returns false having printed `why`: a
// reader that tries a huge allocation fails it (not capped under
// AddressSanitizer, which needs the room).
bool refusedWithCappedMemory(long mib, const std::function<bool()>& read, const std::string& why);

// orvaldyn-batch as a user runs it: in `dir`, with `args` (shell words) after
// `prefix` (e.g. a ulimit).
struct BatchRun {
  int code;
  std::string out, err;
};
BatchRun runBatch(const std::string& dir, const std::string& args, const std::string& prefix = "");
// A fresh folder holding a copy of the files and folders of examples/ named.
std::string batchFolder(const std::vector<std::string>& examples = {"setting"});

// Settings of the runs in the tests: the step controlled on the energy terms
// named (P, T, R; with none, every step without contact is d_time long),
// contact steps of 0.1 d_time, and every colour the examples use.
orv::Settings runSettings(const std::string& energy = "", double minimumEnergy = 1e-12);
// The shipped settings of examples/setting.
const orv::Settings& exampleSettings();

// A model read and (unless only loaded) run without pauses or result file.
struct Outcome {
  orv::Model m;
  orv::Histories h;
  bool read = false;
  orv::AnalysisStatus status = orv::AnalysisStatus::Refused;
  std::string message, console;
  const double* state(int ti) const {
    return &h.p_YYY[static_cast<size_t>(ti) * 14 * m.body_num()];
  }
  double out(int ti, int c) const {
    return h.p_output[static_cast<size_t>(ti) * m.output_num() + c];
  }
};
// Reads the model file at `path`.
Outcome loadFile(const std::string& path, const orv::Settings& s);
// Reads model text, written to a fresh directory where the examples' meshes are found.
Outcome loadText(const std::string& text, const orv::Settings& s);
// The same, then run (after `edit`, if given, has changed the model).
Outcome runFile(const std::string& path, const orv::Settings& s,
                void (*edit)(orv::Model&) = nullptr);
Outcome runText(const std::string& text, const orv::Settings& s);
// The run of an example with the shipped settings, made once per process.
const Outcome& exampleRun(const std::string& file);

// Model texts. n bodies, each joined to an earlier one or the base (with
// `chain`, to the one before) by joints of mixed types, then `closures` joints
// between random bodies and, with `motions`, "R" motions on some revolutions,
// some twice. Every joint starts assembled: its two local coordinates share
// one place and one set of angles.
std::string jointedModel(int n, std::mt19937& rng, bool chain, int closures, bool motions);
// n links of the given "mass Ixx Iyy Izz" and length in a line along x from
// the ground, on revolutions; listed from the base or from the free end.
std::string chainModel(int n, double length, const std::string& link, bool fromTheFreeEnd);

}  // namespace orvtest
