#include "files/settings_reader.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "expr/evaluator.h"
#include "model/globals.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/settings.h"
#include "platform/tokens.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/text_file.h"

namespace orv {

namespace {

// Reads the label/value pairs of setting.txt. The labels of the first eleven
// are not compared with anything (that part of the file is positional); the
// pairs added since are found by their labels. A value that is missing or of the
// wrong kind keeps the default and says so, with its place in the file.
class SettingPairs {
 public:
  SettingPairs(TokenReader& r, std::string path) : r_(r), path_(std::move(path)) {}

  bool word(const char* what, std::string& value) {
    std::string label;
    if (!r_.next(label) || !r_.next(value)) {
      endsBefore(what);
      value.clear();
      return false;
    }
    return true;
  }

  void number(const char* what, double& value) {
    std::string tok;
    if (!word(what, tok)) return;
    double v;
    if (parseDouble(tok, v))
      value = v;
    else
      notA(what, tok, "number");
  }

  void integer(const char* what, int& value) {
    std::string tok;
    if (!word(what, tok)) return;
    int v;
    if (parseInt(tok, v))
      value = v;
    else
      notA(what, tok, "integer");
  }

  // A setting added after the files in use were written: a file that ends
  // before it keeps the default without a word.
  // The label of the next pair, or false at the end of the file.
  bool label(std::string& label) { return r_.next(label); }

  // The value after a label just read.
  bool value(const char* what, std::string& tok) {
    if (r_.next(tok)) return true;
    endsBefore(what);
    return false;
  }
  void numberValue(const char* what, double& value) {
    std::string tok;
    if (!this->value(what, tok)) return;
    double v;
    if (parseDouble(tok, v))
      value = v;
    else
      notA(what, tok, "number");
  }

  // A label that names no setting: its value is skipped.
  void unknown(const std::string& label, const char* expected) {
    cprintf("  setting.txt: unknown setting \"%s\" (expected one of: %s); it is skipped\n",
            label.c_str(), expected);
    report(Severity::Warning, "unknown setting " + shownToken(label) + "; it is skipped", path_,
           r_.pos().line);
    cprintf("%s\n",
            placeLine(path_, r_.pos(), "unknown setting; expected one of: " + std::string(expected))
                .c_str());
    std::string skipped;
    r_.next(skipped);
  }

  // A word that is none of the words `expected` lists.
  void notOneOf(const char* what, const std::string& tok, const std::string& expected) {
    const std::string why = shownToken(tok) + " is not " + expected;
    cprintf("  setting.txt: %s \"%s\" is not %s; the default is kept\n", what, tok.c_str(),
            expected.c_str());
    report(Severity::Warning, std::string(what) + " " + why + "; the default is kept", path_,
           r_.pos().line);
    cprintf("%s\n", placeLine(path_, r_.pos(), why + "; expected " + what).c_str());
  }

  // The light position is three numbers after one label.
  void numbers3(const char* what, float value[3]) {
    std::string label, tok;
    if (!r_.next(label)) {
      endsBefore(what);
      return;
    }
    for (int k = 0; k < 3; ++k) {
      if (!r_.next(tok)) {
        endsBefore(what);
        return;
      }
      double v;
      if (parseDouble(tok, v))
        value[k] = static_cast<float>(v);
      else
        notA(what, tok, "number");
    }
  }

  void notA(const char* what, const std::string& tok, const char* kind) {
    cprintf("  setting.txt: %s \"%s\" is not a%s %s; the default is kept\n", what, tok.c_str(),
            kind[0] == 'i' ? "n" : "", kind);
    report(Severity::Warning,
           std::string(what) + " " + shownToken(tok) + " is not a" + (kind[0] == 'i' ? "n " : " ") +
               kind + "; the default is kept",
           path_, r_.pos().line);
    cprintf("%s\n",
            placeLine(path_, r_.pos(),
                      shownToken(tok) + " is not a" + (kind[0] == 'i' ? "n " : " ") + kind +
                          "; expected " + what + " as a" + (kind[0] == 'i' ? "n " : " ") + kind)
                .c_str());
  }

 private:
  void endsBefore(const char* what) {
    cprintf("  setting.txt ends before %s; the default is kept\n", what);
    if (endSaid_) return;  // once: every setting after it is missing too
    endSaid_ = true;
    report(Severity::Warning,
           std::string("the file ends before ") + what + "; the defaults are kept from here on",
           path_, r_.pos().line);
    cprintf("%s\n", placeLine(path_, r_.pos(),
                              std::string("the file ends; expected ") + what + " and its value")
                        .c_str());
  }

  TokenReader& r_;
  std::string path_;
  bool endSaid_ = false;
};

std::string joinPath(const std::string& dir, const char* rel) {
  if (dir.empty()) return rel;
  return dir.back() == '/' ? dir + rel : dir + "/" + rel;
}

void readSettingFile(TokenReader& r, const std::string& path, Settings& s, const Model& m) {
  SettingPairs in(r, path);
  std::string w;

  in.word("energy_flag", w);
  const char letters[3] = {'P', 'T', 'R'};
  int pos[3];
  for (int k = 0; k < 3; ++k) {
    size_t p = w.find(letters[k]);
    pos[k] = p == std::string::npos ? -1 : static_cast<int>(p);
    s.energy_flag[k] = pos[k] >= 0 ? 1 : 0;
  }
  cprintf("energy_flag: {%d, %d, %d}\n", pos[0], pos[1], pos[2]);
  cprintf("energy_flag: {%d, %d, %d}\n", s.energy_flag[0], s.energy_flag[1], s.energy_flag[2]);

  in.number("minimum_limit_energy", s.minimum_limit_energy);
  cprintf("minimum_limit_energy: %.3e\n", s.minimum_limit_energy);
  in.number("Energy_variation", s.Energy_variation);
  cprintf("Energy_variation: %.3e\n", s.Energy_variation);
  in.number("contact_time_step_coefficient", s.contact_time_step_coefficient);
  cprintf("contact_time_step_coefficient: %.3e\n", s.contact_time_step_coefficient);

  in.numbers3("Main_Light_Position", s.Main_Light_Position);
  cprintf("Main_Light_Position: %.3e, %.3e, %.3e\n", s.Main_Light_Position[0],
          s.Main_Light_Position[1], s.Main_Light_Position[2]);

  s.max_threads = openmpTeamSize();
  if (in.word("N_THREADS", w) && w == "MAX") {
    cprintf("  N_THREADS:%s\n", w.c_str());
    s.N_THREADS = s.max_threads;
    cprintf("  N_THREADS:%d\n", s.N_THREADS);
  } else {
    int n = w.empty() ? 1 : truncToInt(evaluate(w, m));
    cprintf("  N_THREADS:%d\n", n);
    if (n > s.max_threads) n = s.max_threads;
    if (n < 1) n = 1;  // a team needs at least the calling thread
    s.N_THREADS = n;
    cprintf("  N_THREADS:%d\n", s.N_THREADS);
  }

  in.word("CONTACT_ALGORITHM", w);
  s.CONTACT_ALGORITHM = w == "point_and_edge" ? 1 : 0;
  cprintf("CONTACT_ALGORITHM: %s[%d]\n", w.c_str(), s.CONTACT_ALGORITHM);
  in.word("CONTACT_PARALLEL", w);
  s.CONTACT_PARALLEL = w == "all" ? 1 : 0;
  cprintf("CONTACT_PARALLEL: %s[%d]\n", w.c_str(), s.CONTACT_PARALLEL);

  in.integer("Qt_Timer[ms]", s.Qt_Timer_ms);
  cprintf("Qt_Timer[ms]: %d\n", s.Qt_Timer_ms);

  if (in.word("Force_Graphic", w)) s.Force_Graphic = w == "on" ? 1 : 0;
  cprintf("Force_Graphic: %s[%d]\n", w.c_str(), s.Force_Graphic);
  if (in.word("Force_Value", w)) s.Force_Value = w == "on" ? 1 : 0;
  cprintf("Force_Value: %s[%d]\n", w.c_str(), s.Force_Value);

  // The settings added since are optional and found by their labels, in any
  // order: files kept from before have none of them, and a file may give one
  // without the others. Rotation, the integrator and the projection are not
  // echoed, and the friction law only when on, so that a run that selects
  // the former behaviour prints what it printed before. The
  // projection is on without the pair: with it, each step is as accurate as
  // the plain solve's or more, and singular positions are passed.
  s.constraint_projection = 1;
  std::string label;
  while (in.label(label)) {
    if (label == "ROTATION_INTEGRATION") {
      if (!in.value("ROTATION_INTEGRATION", w)) break;
      if (w == "first_order")
        s.rotation = RotationIntegration::FirstOrder;
      else if (w == "second_order")
        s.rotation = RotationIntegration::SecondOrder;
      else
        in.notOneOf("ROTATION_INTEGRATION", w, "first_order or second_order");
    } else if (label == "INTEGRATOR") {
      if (!in.value("INTEGRATOR", w)) break;
      if (w == "runge_kutta4")
        s.integrator = Integrator::RungeKutta4;
      else if (w == "implicit")
        s.integrator = Integrator::Implicit;
      else
        in.notOneOf("INTEGRATOR", w, "runge_kutta4 or implicit");
    } else if (label == "implicit_tolerance") {
      if (!in.value("implicit_tolerance", w)) break;
      double v;
      if (parseDouble(w, v) && v > 0.0 && std::isfinite(v))
        s.implicit_tolerance = v;
      else
        in.notA("implicit_tolerance", w, "positive number");
    } else if (label == "stiction_speed") {
      in.numberValue("stiction_speed", s.stiction_speed);
    } else if (label == "static_friction_ratio") {
      in.numberValue("static_friction_ratio", s.static_friction_ratio);
    } else if (label == "sliding_speed") {
      in.numberValue("sliding_speed", s.sliding_speed);
    } else if (label == "stick_stiffness") {
      in.numberValue("stick_stiffness", s.stick_stiffness);
    } else if (label == "constraint_projection") {
      if (!in.value("constraint_projection", w)) break;
      s.constraint_projection = w == "on" ? 1 : 0;
    } else {
      in.unknown(label,
                 "ROTATION_INTEGRATION, INTEGRATOR, implicit_tolerance, stiction_speed, "
                 "static_friction_ratio, sliding_speed, stick_stiffness, constraint_projection");
    }
  }
  if (s.stiction_speed > 0.0)
    cprintf("stiction_speed: %.3e\nstatic_friction_ratio: %.3e\nsliding_speed: %.3e\n",
            s.stiction_speed, s.static_friction_ratio, s.sliding_speed);
  // Off, the echo stays as it was before anchors existed.
  if (s.stick_stiffness > 0.0) cprintf("stick_stiffness: %.3e\n", s.stick_stiffness);
}

void readColorFile(TokenReader& r, Settings& s, const Model& m) {
  struct Group {
    std::string name, rgb[3];
  };
  std::vector<Group> groups;
  for (;;) {
    Group g;
    if (!r.next(g.name) || g.name == "END") break;
    // A group cut short by the end of the file is not a colour.
    if (!r.next(g.rgb[0]) || !r.next(g.rgb[1]) || !r.next(g.rgb[2])) break;
    groups.push_back(g);
  }
  cprintf("\n");
  cprintf("color_num=%d\n", static_cast<int>(groups.size()));
  if (groups.empty()) return;
  s.colors.clear();
  for (const Group& g : groups) {
    Color c;
    c.name = g.name;
    for (int k = 0; k < 3; ++k) c.rgb[k] = evaluate(g.rgb[k], m);
    s.colors.push_back(c);
  }
}

// Names the settings file that could not be opened, as an absolute path: the
// programs look in their working directory, easy to miss when started from
// elsewhere.
void explainMissing(const std::string& path) {
  std::string shown = path;
  if (path.empty() || path[0] != '/') {
    if (char* cwd = ::getcwd(nullptr, 0)) {
      shown = std::string(cwd) + "/" + path;
      std::free(cwd);
    }
  }
  cprintf("  cannot open %s: the program reads setting/ from its working directory\n",
          shown.c_str());
  report(Severity::Error, "cannot be opened: the program reads setting/ from its working directory",
         shown);
}

}  // namespace

bool readSettingsFiles(const std::string& dir, Settings& s, Model& m, Histories& h) {
  cprintf("orvaldyn_ver0.0\n");
  makeDirectory(joinPath(dir, "log"));

  // Start-up defaults: an empty model with one sample at time 0.
  s = Settings{};
  m = Model{};
  h = Histories{};
  h.p_time.assign(1, 0.0);

  const std::string settingPath = joinPath(dir, "setting/setting.txt");
  TokenReader settingFile(settingPath);
  if (!settingFile.ok()) {
    cprintf("SETTING FILE OPEN ERROR\n");
    explainMissing(settingPath);
    return false;
  }
  cprintf("SETTING FILE OPEN !!\n");
  readSettingFile(settingFile, settingPath, s, m);

  const std::string colorPath = joinPath(dir, "setting/color.txt");
  TokenReader colorFile(colorPath);
  if (!colorFile.ok()) {
    cprintf("COLOR FILE OPEN ERROR\n");
    explainMissing(colorPath);
    return false;
  }
  cprintf("COLOR FILE OPEN !!\n");
  readColorFile(colorFile, s, m);
  return true;
}

void readSettings() {
  if (!readSettingsFiles("", g_settings, g_model, g_hist)) {
    std::fflush(consoleFile());
    std::exit(1);
  }
}

}  // namespace orv
