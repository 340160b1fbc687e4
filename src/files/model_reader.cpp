// The model file reader: the order of the sections and the entry points.
// Each section's records are read in the model_reader_*.cpp file named for
// them; model_reader_fields.cpp holds the tokens and field checks they share.
#include "files/model_reader.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "files/bmp.h"
#include "files/model_reader_impl.h"
#include "model/globals.h"
#include "model/model.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "platform/tokens.h"

namespace orv {
namespace reader {

namespace {

const char* const kSectionLabel[] = {
    "parameter_info", "body_info",    "frame/local_coordinate_info",
    "joint_info",     "motion_info",  "function_info",
    "force_info",     "shape_info",   "texture_info",
    "shadow_info",    "contact_info", "contact_group_info",
    "output_info",    "gravity",      "simulation_time",
    "graphic_size",
};

}  // namespace

const char* sectionLabel(Section s) { return kSectionLabel[s]; }

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char buf[1024];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

std::string oneOf(const std::vector<std::string>& words) {
  std::string s;
  for (size_t k = 0; k < words.size(); ++k) s += (k ? ", " : "") + words[k];
  return s;
}

void Reader::run() {
  if (in_.atEnd()) fail(kParameter, 0, SourcePos{}, "the model file is empty");
  // The first three sections each read a fresh token; a wrong one is consumed.
  cur_ = token(kParameter, 0);
  if (cur_ == "parameter_info") parameters(), flushWarnings();
  cur_ = token(kBody, 0);
  if (cur_ == "body_info") bodies(), flushWarnings();
  cur_ = token(kFrame, 0);
  if (cur_ == "frame_info" || cur_ == "local_coordinate_info") frames(), flushWarnings();

  // From here on one current token is tested against each optional section.
  auto advance = [&](Section sec) {
    flushWarnings();
    cur_ = token(sec, 0);
  };
  advance(kJoint);
  if (cur_ == "joint_info") joints(), advance(kMotion);
  if (cur_ == "motion_info") motions(), advance(kFunction);
  cprintf("const_num=%d\n", t_.const_num);
  if (cur_ == "function_info") functions(), advance(kForce);
  if (cur_ == "force_info") forces(), advance(kShape);
  t_.stl.clear();
  if (cur_ == "shape_info") shapes(), advance(kTexture);
  if (cur_ == "texture_info") textures(), advance(kShadow);
  loadTextureImages(t_);
  if (cur_ == "shadow_info") shadows(), advance(kContact);
  if (cur_ == "contact_info") contacts(), advance(kContactGroup);
  if (cur_ == "contact_group_info") contactGroups(), advance(kOutput);
  if (cur_ == "output_info") outputs(), advance(kGravity);
  buildGravity(t_, 0, "");
  if (cur_ == "gravity") gravity(), advance(kSimulationTime);
  const bool haveTime = cur_ == "simulation_time";
  const SourcePos keywordPos = in_.pos();
  if (haveTime) {
    simulationTime(), advance(kGraphicSize);
  } else {
    if (!cur_.empty() && cur_ != "graphic_size") {
      cprintf("  ### Unknown section keyword %s ###\n", cur_.c_str());
      fail(kSimulationTime, 0, keywordPos,
           format("unknown section keyword %s; expected the next section's keyword (joint_info, "
                  "motion_info, ..., simulation_time, graphic_size)",
                  shownToken(cur_).c_str()));
    }
    cprintf("  ### No simulation_time section ###\n");
    fail(kSimulationTime, 0, keywordPos, "no simulation_time section; a model needs its time span");
  }
  t_.sample_num =
      (sampleCount(t_.start_time, t_.d_time, t_.end_time) - 1) / t_.steps_per_sample + 1;
  if (cur_ == "graphic_size") {
    graphicSize();
  } else if (!cur_.empty()) {
    cprintf("  ### Unknown section keyword %s: the rest of the file is not read ###\n",
            cur_.c_str());
    warn(in_.pos(), format("unknown section keyword %s; the rest of the file is not read",
                           shownToken(cur_).c_str()));
  }
  flushWarnings();
  closing();
  flushWarnings();
}

// Whether a finished result in h was computed for a model shaped like m.
bool resultFits(const Histories& h, const Model& m) {
  return h.analysis_finished && h.result_shape == resultShapeOf(m);
}

}  // namespace reader

ReadStatus readModelFile(const std::string& path, const Settings& s, Model& m, Histories& h,
                         std::string& message) {
  TokenReader in(path);
  if (!in.ok()) {
    cprintf("MODEL FILE OPEN ERROR\n");
    report(Severity::Error, "The model file cannot be opened; the model held is kept", path);
    return ReadStatus::OpenError;
  }
  cprintf("MODEL FILE OPEN !!\n\n");

  // The file is read into a model of its own; only a whole, good read
  // replaces the model in hand, so a fault late in a file leaves the loaded
  // model, its results and the view as they were.
  Model t;
  t.path = path;
  t.model_opened = 1;
  reader::Reader r(in, s, t, h);
  try {
    r.run();
  } catch (const reader::MissInput& e) {
    r.flushWarnings();
    message = e.record > 0 ? reader::format("Miss input at %s: No.%d",
                                            reader::sectionLabel(e.section), e.record)
                           : reader::format("Miss input at %s", reader::sectionLabel(e.section));
    cprintf("  %s\n", message.c_str());
    if (!e.detail.empty()) {
      cprintf("%s\n", e.detail.c_str());
      message += "\n" + e.detail;
    }
    const std::string head = message.substr(0, message.find('\n'));
    report(Severity::Error, e.what.empty() ? head : head + ": " + e.what, path, e.line);
    return ReadStatus::InputError;
  }
  if (r.warnings() > 0)
    cprintf("Model read with %d warning%s\n", r.warnings(), r.warnings() == 1 ? "" : "s");
  m = std::move(t);
  if (!reader::resultFits(h, m)) {
    // A result held from another model would be drawn with this model's
    // bodies and joints, so it gives way to the initial state.
    resetToInitialState(h, m);
  }
  return ReadStatus::Ok;
}

ReadStatus openModelFile(const std::string& path, std::string& message) {
  cprintf("filename=%s\n", path.c_str());
  if (path.size() > static_cast<size_t>(kTokenMax)) {
    message = reader::format("Model file path is longer than %d characters", kTokenMax);
    cprintf("  %s\n", message.c_str());
    report(Severity::Error, message);
    return ReadStatus::InputError;
  }
  ReadStatus st = readModelFile(path, g_settings, g_model, g_hist, message);
  if (st == ReadStatus::InputError) cprintf("  %s\n", message.c_str());
  return st;
}

}  // namespace orv
