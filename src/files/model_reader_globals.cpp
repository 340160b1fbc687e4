// The model file reader, sections 14 to 16: gravity, the time span and the
// graphic sizes; then the closing steps of a good read.
#include <cmath>
#include <string>
#include <vector>

#include "files/model_reader_impl.h"
#include "platform/console.h"
#include "platform/tokens.h"

namespace orv {
namespace reader {

namespace {

// Samples an analysis may store; beyond this the histories would not fit memory.
constexpr double kMaxSamples = 10000000.0;
// Steps of d_time in a span; their index must fit an int.
constexpr double kMaxSteps = 1000000000.0;
const std::vector<std::string> kDirections = {"x+", "x-", "y+", "y-", "z+", "z-"};

}  // namespace

void Reader::gravity() {
  cprintf("%s\n", cur_.c_str());
  field(kGravity, 0, "a heading");  // ignored
  const std::string flagWord = field(kGravity, 0, "the gravity flag (on or off)");
  const SourcePos flagPos = in_.pos();
  cprintf(" %s\n", flagWord.c_str());
  const std::string direction = field(kGravity, 0, "the gravity direction");
  const SourcePos directionPos = in_.pos();
  cprintf(" %s\n", direction.c_str());
  const std::string close = token(kGravity, 0);
  if (close != "%")
    fail(kGravity, 0, in_.pos(),
         close.empty()
             ? std::string("the file ends; expected '%' after the gravity direction")
             : format("%s where '%%' should close the gravity section", shownToken(close).c_str()));
  if (flagWord != "on" && flagWord != "off")
    fail(kGravity, 0, flagPos,
         format("unknown flag %s (expected on or off)", shownToken(flagWord).c_str()));
  bool known = false;
  for (const std::string& d : kDirections) known |= direction == d;
  if (!known)
    fail(kGravity, 0, directionPos,
         format("unknown gravity direction %s (expected one of: %s)", shownToken(direction).c_str(),
                oneOf(kDirections).c_str()));
  buildGravity(t_, flagWord == "on" ? 1 : 0, direction);
}

void Reader::simulationTime() {
  cprintf("%s\n", cur_.c_str());
  field(kSimulationTime, 0, "a heading");  // ignored
  t_.start_time = number(kSimulationTime, "start_time (a number)");
  cprintf("  start_time=%e\n", t_.start_time);
  t_.d_time = number(kSimulationTime, "d_time (a number)");
  const SourcePos dPos = in_.pos();
  cprintf("  d_time=%e\n", t_.d_time);
  t_.end_time = number(kSimulationTime, "end_time (a number)");
  const SourcePos endPos = in_.pos();
  cprintf("  end_time=%e\n", t_.end_time);
  std::string close = token(kSimulationTime, 0);
  // An optional fourth value: the steps per stored sample (files without it
  // store every step, as they always did).
  t_.steps_per_sample = 1;
  if (!close.empty() && close != "%") {
    int k = 0;
    if (!parseInt(close, k) || k < 1)
      fail(kSimulationTime, 0, in_.pos(),
           format("%s is not a whole number of at least 1; expected steps_per_sample or '%%'",
                  shownToken(close).c_str()));
    t_.steps_per_sample = k;
    cprintf("  steps_per_sample=%d\n", k);
    close = token(kSimulationTime, 0);
  }
  if (close != "%")
    fail(kSimulationTime, 0, in_.pos(),
         close.empty() ? std::string("the file ends; expected '%' after end_time")
                       : format("%s where '%%' should close the simulation_time section",
                                shownToken(close).c_str()));
  // Without a positive output interval and a forward time span there is no
  // analysis to run and the sample count is undefined; an interval lost in
  // the start time's rounding would never advance the clock.
  const double steps = (t_.end_time - t_.start_time) / t_.d_time;
  const double samples = steps / t_.steps_per_sample + 1.0;
  std::string why;
  SourcePos where = dPos;
  if (!(t_.d_time > 0.0)) {
    why = format("d_time %g is not positive", t_.d_time);
  } else if (!(t_.end_time >= t_.start_time)) {
    why = format("end_time %g is before start_time %g", t_.end_time, t_.start_time);
    where = endPos;
  } else if (t_.start_time + t_.d_time == t_.start_time || t_.end_time - t_.d_time == t_.end_time) {
    why = format("d_time %g is lost in the rounding of times near %g; expected a larger d_time",
                 t_.d_time,
                 std::fabs(t_.start_time) > std::fabs(t_.end_time) ? t_.start_time : t_.end_time);
  } else if (!(samples < kMaxSamples)) {
    why = format("the span needs %.0f samples; at most %.0f are stored", samples, kMaxSamples);
  } else if (!(steps < kMaxSteps)) {
    why = format("the span needs %.0f steps of d_time; at most %.0f are taken", steps, kMaxSteps);
  }
  if (!why.empty()) {
    cprintf("  ### d_time must be positive, end_time not before start_time, and at most %.0f "
            "samples ###\n",
            kMaxSamples);
    fail(kSimulationTime, 0, where, why);
  }
}

void Reader::graphicSize() {
  cprintf("%s\n", cur_.c_str());
  field(kGraphicSize, 0, "a heading");
  field(kGraphicSize, 0, "the word frame");
  t_.frame_size = number(kGraphicSize, "the frame size (a number)");
  cprintf("  frame:%e\n", t_.frame_size);
  field(kGraphicSize, 0, "the word force");
  t_.force_size = number(kGraphicSize, "the force size (a number)");
  cprintf("  force:%e\n", t_.force_size);
  const std::string close = token(kGraphicSize, 0);
  if (close != "%")
    fail(kGraphicSize, 0, in_.pos(),
         close.empty() ? std::string("the file ends; expected '%' after the force size")
                       : format("%s where '%%' should close the graphic_size section",
                                shownToken(close).c_str()));
  in_.next(cur_);  // one more token, discarded
}

void Reader::closing() {
  cprintf("Parameter\n");
  std::vector<Parameter> rows = t_.parameters;
  for (Parameter& p : rows) {
    p.value = evaluate(p.expr, t_);
    cprintf("  %d:%s, %.3e,", p.id, p.name.c_str(), p.value);
  }
  cprintf("\n");
  // Local coordinates and joints read as parameters whose value is their index.
  auto addIndexRows = [&](const auto& table) {
    for (const auto& r : table) {
      Parameter p;
      p.id = static_cast<int>(rows.size());
      p.name = r.name;
      p.value = r.id;
      rows.push_back(p);
      cprintf("  %d:%s, %d,", r.id, r.name.c_str(), r.id);
    }
    cprintf("\n");
  };
  addIndexRows(t_.frames);
  addIndexRows(t_.joints);
  t_.parameters = rows;
  checkRunTexts();
  flushWarnings();
  cprintf("Model Complete\n");
}

}  // namespace reader
}  // namespace orv
