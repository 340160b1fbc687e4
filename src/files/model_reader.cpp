// The model file reader: tokens and fields, the checks of what a field holds,
// sections 1 to 7 (parameters to forces), the order of the sections and the
// entry points. Sections 8 to 16 and the closing steps are in
// model_reader_scene.cpp.
#include "files/model_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

#include "expr/evaluator.h"
#include "files/bmp.h"
#include "model/globals.h"
#include "model/model.h"
#include "files/model_reader_impl.h"
#include "platform/tokens.h"
#include "platform/console.h"

namespace orv {
namespace reader {

namespace {

const char* const kSectionLabel[] = {
    "parameter_info", "body_info",   "frame/local_coordinate_info",
    "joint_info",     "motion_info", "function_info",
    "force_info",     "shape_info",  "texture_info",
    "shadow_info",    "contact_info", "contact_group_info",
    "output_info",    "gravity",     "simulation_time",
    "graphic_size",
};

const std::vector<std::string> kJointTypes = {"ground",      "sphere",  "fix",
                                              "revolution",  "revolution_", "cylinder",
                                              "translation", "in_line", "prismatic"};
const std::vector<std::string> kMotionTypes = {"R", "T"};
const std::vector<std::string> kForceTypes = {"spring1", "spring6", "force6"};

// Words of the expression language. A parameter of such a name would be
// shadowed where the keyword is read, or rewritten into texts where the
// keyword was meant; `time` also matches as the start of a longer word.
const char* const kKeywords[] = {"time", "sin", "cos",  "asin", "acos", "sgn",    "abs",
                                 "sqrt", "P",   "DX",   "DY",   "DZ",   "D",      "VX",
                                 "VY",   "VZ",  "V",    "WX",   "WY",   "WZ",     "A1",
                                 "A2",   "A3",  "SWITCH", "CONTACT", "F_JOINT"};

// How many tokens a record has, judged from its first tokens; -1 when they
// do not tell (an unknown type).
int expectedFields(Section sec, const std::vector<std::string>& tok) {
  auto at = [&](size_t k) { return k < tok.size() ? tok[k] : std::string(); };
  switch (sec) {
    case kParameter: return 2;
    case kBody: return 12;
    case kFrame: return 8;
    case kJoint: return 5;
    case kMotion: return 6;
    case kFunction: return 2;
    case kForce:
      if (at(2) == "spring1") return 8;
      if (at(2) == "spring6") return 18;
      if (at(2) == "force6") return 12;
      return -1;
    case kShape:
      if (at(1) == "sphere" || at(1) == "cube") return 6;
      if (at(1) == "solid" || at(1) == "cylinder") return 8;
      if (at(1) == "spring") return 10;
      if (at(1) == "pipe") return 9;
      if (at(1) == "STL") return 8;
      return -1;
    case kTexture:
      if (at(1) == "rect") return 9;
      if (at(1) == "cylinder_one") return 8;
      return -1;
    case kShadow: return 3;
    case kContact: return 9;
    case kContactGroup: {
      double n;
      if (!parseDouble(at(7), n) || !(n >= 0 && n < 1e6)) return -1;
      return 8 + static_cast<int>(n);
    }
    case kOutput: return 2;
    default: return -1;
  }
}

const char* recordKind(Section sec) {
  static const char* const kKinds[] = {"parameter", "body",    "local coordinate", "joint",
                                       "motion",    "function", "force",           "shape",
                                       "texture",   "shadow",   "contact",         "contact group",
                                       "output"};
  return sec <= kOutput ? kKinds[sec] : "";
}

std::string valueWord(double v) {
  if (std::isnan(v)) return "nan";
  return v > 0 ? "inf" : "-inf";
}

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

// --- places and messages -----------------------------------------------------

void Reader::warn(SourcePos p, const std::string& what) {
  pending_.push_back(at(p, what));
  ++warnings_;
}

void Reader::flushWarnings() {
  // After a section's echo, so that no warning splits an echo line.
  for (const std::string& w : pending_) cprintf("%s\n", w.c_str());
  pending_.clear();
}

void Reader::fail(Section sec, int record, SourcePos p, const std::string& what) const {
  throw MissInput{sec, record, at(p, what)};
}

// --- tokens ------------------------------------------------------------------

std::string Reader::token(Section sec, int record) {
  std::string tok;
  in_.next(tok);
  if (static_cast<int>(tok.size()) > kTokenMax)
    fail(sec, record, in_.pos(),
         format("%s is %zu characters long; a token holds at most %d", shownToken(tok).c_str(),
                tok.size(), kTokenMax));
  return tok;
}

std::string Reader::field(Section sec, int record, const std::string& what, int maxLen) {
  std::string tok = token(sec, record);
  if (tok.empty()) fail(sec, record, in_.pos(), "the file ends inside the record; expected " + what);
  if (tok == "%") fail(sec, record, in_.pos(), "'%' ends the record early; expected " + what);
  if (static_cast<int>(tok.size()) > maxLen)
    fail(sec, record, in_.pos(),
         format("%s is %zu characters long; expected %s of at most %d", shownToken(tok).c_str(),
                tok.size(), what.c_str(), maxLen));
  return tok;
}

void Reader::noteReading(SourcePos p, const std::string& tok, const ExprReading& r) {
  auto shifted = [&](size_t offset) { return SourcePos{p.line, p.column + static_cast<int>(offset)}; };
  for (const ExprReading::Name& n : r.names)
    if (!n.known) warn(shifted(n.at), "unknown name '" + n.name + "' read as 0");
  for (int k : r.parameterIndices)
    if (k < 0 || k >= t_.parameter_num())
      warn(p, format("P(%d) names no parameter; read as 0", k));
  if (r.stop < tok.size()) warn(p, format("'%s' read as %g", tok.c_str(), r.value));
}

double Reader::expr(Section sec, int record, const std::string& what) {
  const std::string tok = field(sec, record, what, kExprMax);
  const SourcePos p = in_.pos();
  const ExprReading r = readExpression(tok, t_);
  if (r.tooDeep)
    fail(sec, record, p,
         format("%s is nested deeper than %d brackets; expected %s", shownToken(tok).c_str(),
                kMaxExpressionNesting, what.c_str()));
  noteReading(p, tok, r);
  if (!std::isfinite(r.value))
    fail(sec, record, p,
         format("%s '%s' evaluates to %s; expected a finite number", what.c_str(), tok.c_str(),
                valueWord(r.value).c_str()));
  return r.value;
}

void Reader::exprs(Section sec, int record, double* out, int n, const char* const* what) {
  for (int k = 0; k < n; ++k) out[k] = expr(sec, record, what[k]);
}

std::string Reader::keyword(Section sec, int record, const char* kind,
                            const std::vector<std::string>& known) {
  const std::string word = name(sec, record, std::string("a ") + kind);
  if (std::find(known.begin(), known.end(), word) == known.end())
    fail(sec, record, in_.pos(),
         format("unknown %s %s (expected one of: %s)", kind, shownToken(word).c_str(),
                oneOf(known).c_str()));
  return word;
}

int Reader::flag(Section sec, int record, const std::string& word) {
  if (word == "on") return 1;
  if (word == "off") return 0;
  fail(sec, record, recordPos_,
       format("unknown flag %s (expected on or off)", shownToken(word).c_str()));
}

double Reader::number(Section sec, const std::string& what) {
  const std::string tok = field(sec, 0, what);
  double v;
  if (!parseDouble(tok, v))
    fail(sec, 0, in_.pos(), format("%s is not a number; expected %s", shownToken(tok).c_str(), what.c_str()));
  if (!std::isfinite(v))
    fail(sec, 0, in_.pos(), format("%s is not finite; expected %s", shownToken(tok).c_str(), what.c_str()));
  return v;
}

void Reader::recordName(Section sec, int record, const std::string& first, const char* kind) {
  if (static_cast<int>(first.size()) > kNameMax)
    fail(sec, record, recordPos_,
         format("%s is %zu characters long; a %s name holds at most %d", shownToken(first).c_str(),
                first.size(), kind, kNameMax));
}

void Reader::rewrite(Section sec, int record, SourcePos p, std::string& text, size_t limit) {
  std::string why;
  if (!rewriteExpression(t_, text, limit, why)) {
    cprintf("  ### %s ###\n", why.c_str());
    fail(sec, record, p, why);
  }
  if (nestedTooDeep(text))
    fail(sec, record, p,
         format("the expression is nested deeper than %d brackets (after functions are put in)",
                kMaxExpressionNesting));
}

MissInput Reader::blameShortRecord(Section sec, MissInput e) const {
  // Records usually stand one to a line. When they do, a record that lacks a
  // field takes the first token of the next line and the reader stumbles a
  // record later; the lines show which record was short. With records over
  // several lines, or several to a line, the lines tell nothing.
  const std::string& text = in_.text();
  size_t end = std::min(text.size(), in_.offset());
  while (end < text.size() && text[end] != '\n') ++end;
  struct Line {
    std::vector<std::string> tok;
    size_t endOffset = 0;  // just after the last token
    int number = 0;
  };
  std::vector<Line> lines;
  const SourcePos startPos = positionIn(text, sectionStart_);
  int lineNo = startPos.line;
  bool newLine = true;
  for (size_t i = sectionStart_; i < end;) {
    const char c = text[i];
    if (c == '\n') {
      ++lineNo, newLine = true, ++i;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < end && !(text[j] == ' ' || text[j] == '\t' || text[j] == '\n' || text[j] == '\r' ||
                        text[j] == '\v' || text[j] == '\f'))
      ++j;
    if (j - i == 1 && text[i] == '%') break;  // the end of the list
    if (newLine) lines.push_back(Line{{}, 0, lineNo}), newLine = false;
    lines.back().tok.emplace_back(text, i, j - i);
    lines.back().endOffset = j;
    i = j;
  }
  for (size_t k = 0; k < lines.size(); ++k) {
    const Line& L = lines[k];
    const int need = expectedFields(sec, L.tok);
    const int have = static_cast<int>(L.tok.size());
    if (need < 0 || have > need) return e;
    if (have == need) continue;
    // A short line: the record it holds lacks a field when the next line is a
    // whole record or the end of the list. When that record is the one that
    // failed, the failure already names it.
    const bool nextWhole = k + 1 >= lines.size() || expectedFields(sec, lines[k + 1].tok) ==
                                                        static_cast<int>(lines[k + 1].tok.size());
    if (!nextWhole || static_cast<int>(k) + 1 >= e.record) return e;
    const SourcePos p = positionIn(text, L.endOffset);
    // Records that start with their flag are known by the name after it.
    const bool flagged = sec == kJoint || sec == kMotion || sec == kForce || sec == kContact ||
                         sec == kContactGroup;
    const std::string& name = L.tok[flagged && L.tok.size() > 1 ? 1 : 0];
    return MissInput{sec, static_cast<int>(k) + 1,
                     at(p, format("%s record %s has %d fields; expected %d", recordKind(sec),
                                  shownToken(name).c_str(), have, need))};
  }
  return e;
}

void Reader::refuseKeywordName(Section sec, int record, const std::string& name, const char* kind) {
  bool keyword = name.compare(0, 4, "time") == 0;
  for (const char* k : kKeywords) keyword |= name == k;
  if (keyword)
    fail(sec, record, recordPos_,
         format("%s name '%s' is a word of the expression language; expected another name", kind,
                name.c_str()));
}

// --- sections 1 to 7 ---------------------------------------------------------

void Reader::parameters() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Parameter> rows;
  std::vector<SourcePos> valuePos;
  int n = list(kParameter, " %s, ", [&](const std::string& first, int rec) {
    recordName(kParameter, rec, first, "parameter");
    refuseKeywordName(kParameter, rec, first, "parameter");
    Parameter p;
    p.line = recordLine_;
    p.name = first;
    p.expr = field(kParameter, rec, "the parameter's value (an expression)", kExprMax);
    valuePos.push_back(in_.pos());
    rows.push_back(p);
  });
  cprintf("\nparameter_num=%d\n", n);
  if (n == 0) return;
  t_.parameters = rows;
  cprintf("Parameter\n");
  for (int i = 0; i < n; ++i) {
    Parameter& p = t_.parameters[i];
    p.id = i;
    // In order: a parameter sees the earlier ones. One that uses a later one
    // would read it as 0 here and as its value in the run.
    const ExprReading r = readExpression(p.expr, t_);
    if (r.tooDeep)
      fail(kParameter, i + 1, valuePos[i],
           format("the value is nested deeper than %d brackets", kMaxExpressionNesting));
    auto later = [&](int k, SourcePos at) {
      fail(kParameter, i + 1, at,
           format("parameter '%s' uses '%s', defined at line %d; a parameter may use only those "
                  "above it",
                  p.name.c_str(), t_.parameters[k].name.c_str(), t_.parameters[k].line));
    };
    for (const ExprReading::Name& nm : r.names)
      for (int k = 0; k < n; ++k)
        if (t_.parameters[k].name == nm.name) {
          if (k >= i) later(k, SourcePos{valuePos[i].line, valuePos[i].column + static_cast<int>(nm.at)});
          break;
        }
    for (int k : r.parameterIndices)
      if (k >= i && k < n) later(k, valuePos[i]);
    noteReading(valuePos[i], p.expr, r);
    p.value = r.value;
    cprintf("  %d:%s=%.3e,  ", i, p.name.c_str(), p.value);
  }
  cprintf("\n\n");
}

void Reader::bodies() {
  static const char* const kInertia[] = {"Ixx", "Iyy", "Izz"};
  static const char* const kVel[] = {"vx", "vy", "vz"};
  static const char* const kOmega[] = {"wx", "wy", "wz"};
  cprintf("%s\n", cur_.c_str());
  std::vector<Body> rows;
  int n = list(kBody, " %s, ", [&](const std::string& first, int rec) {
    recordName(kBody, rec, first, "body");
    Body b;
    b.line = recordLine_;
    b.name = first;
    b.cg = name(kBody, rec, "the name of the centre-of-gravity local coordinate");
    b.mass = expr(kBody, rec, "mass");
    exprs(kBody, rec, b.inertia, 3, kInertia);
    exprs(kBody, rec, b.vel0, 3, kVel);
    exprs(kBody, rec, b.omega0, 3, kOmega);
    rows.push_back(b);
  });
  refuseDuplicates(kBody, rows, "body");
  cprintf("\nbody_num=%d\n", n);
  if (n == 0) return;
  t_.bodies = rows;
  for (int i = 0; i < n; ++i) t_.bodies[i].id = i;
  cprintf("Body_info\n");
}

void Reader::frames() {
  static const char* const kPos[] = {"x", "y", "z"};
  static const char* const kAng[] = {"angle 1 (degrees)", "angle 2 (degrees)", "angle 3 (degrees)"};
  cprintf("%s\n", cur_.c_str());
  std::vector<LocalCoordinate> rows;
  int n = list(kFrame, " %s, ", [&](const std::string& first, int rec) {
    recordName(kFrame, rec, first, "local coordinate");
    LocalCoordinate lc;
    lc.line = recordLine_;
    lc.name = first;
    lc.body_name = name(kFrame, rec, "a body name");
    exprs(kFrame, rec, lc.pos, 3, kPos);
    exprs(kFrame, rec, lc.ang, 3, kAng);
    rows.push_back(lc);
  });
  refuseDuplicates(kFrame, rows, "local coordinate");
  cprintf("\nframe_num=%d\n", n);
  if (n == 0) return;
  t_.frames = rows;
  for (int i = 0; i < n; ++i) {
    LocalCoordinate& lc = t_.frames[i];
    lc.id = i;
    for (Body& b : t_.bodies) {
      if (b.name == lc.body_name) lc.body = b.id;
      if (b.cg == lc.name) {
        for (int k = 0; k < 3; ++k) b.cg_pos[k] = lc.pos[k];
        b.cg_lc = i;
      }
    }
  }
  // A centre of gravity marked on another body would carry this body's mass
  // about a point that moves with the other one.
  for (const Body& b : t_.bodies)
    if (b.cg_lc >= 0 && t_.frames[b.cg_lc].body != b.id)
      fail(kBody, b.id + 1, SourcePos{b.line, 0},
           format("the centre-of-gravity local coordinate '%s' of body '%s' lies on body '%s' "
                  "(line %d); expected a local coordinate of '%s'",
                  b.cg.c_str(), b.name.c_str(), t_.frames[b.cg_lc].body_name.c_str(),
                  t_.frames[b.cg_lc].line, b.name.c_str()));
  for (const Body& b : t_.bodies)
    cprintf("  %d, %s:cg=%s, %.3e,%.3e,%.3e\n        M=%.3e, I=%.3e,%.3e,%.3e\n", b.id,
            b.name.c_str(), b.cg.c_str(), b.cg_pos[0], b.cg_pos[1], b.cg_pos[2], b.mass,
            b.inertia[0], b.inertia[1], b.inertia[2]);
  for (const LocalCoordinate& lc : t_.frames) {
    cprintf("  %d, %s:Body=%s\n", lc.id, lc.name.c_str(), lc.body_name.c_str());
    cprintf("  pos=%.3e,%.3e,%.3e,", lc.pos[0], lc.pos[1], lc.pos[2]);
    cprintf("  ang=%.3e,%.3e,%.3e\n", lc.ang[0], lc.ang[1], lc.ang[2]);
  }
  computeLcBox(t_);
}

void Reader::joints() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Joint> rows;
  std::vector<SourcePos> sidePos;  // i and j local coordinate names
  int n = list(kJoint, " %s, ", [&](const std::string& first, int rec) {
    Joint j;
    j.line = recordLine_;
    j.flag = flag(kJoint, rec, first);
    j.name = name(kJoint, rec, "the joint's name");
    j.type = keyword(kJoint, rec, "joint type", kJointTypes);
    j.iframe = name(kJoint, rec, "the i local coordinate name");
    sidePos.push_back(in_.pos());
    j.jframe = name(kJoint, rec, "the j local coordinate name (or non)");
    sidePos.push_back(in_.pos());
    rows.push_back(j);
  });
  refuseDuplicates(kJoint, rows, "joint");
  cprintf("\njoint_num=%d\n", n);
  t_.const_num = 0;
  if (n == 0) return;
  t_.joints = rows;
  for (int i = 0; i < n; ++i) {
    Joint& j = t_.joints[i];
    j.id = i;
    for (const LocalCoordinate& lc : t_.frames) {
      if (lc.name == j.iframe) {
        j.i_lc = lc.id;
        j.i_body = lc.body;
      }
      if (lc.name == j.jframe) {
        j.j_lc = lc.id;
        j.j_body = lc.body;
      }
    }
    if (j.i_lc == -1 && j.iframe != "non" && j.iframe != "NON") {
      cprintf("### Wrong i_LC Name ###\n");
      warn(sidePos[2 * i], "no local coordinate is named '" + j.iframe + "'");
    }
    if (j.j_lc == -1 && j.jframe != "non" && j.jframe != "NON") {
      cprintf("### Wrong j_LC Name ###\n");
      warn(sidePos[2 * i + 1], "no local coordinate is named '" + j.jframe + "'");
    }
    t_.const_num += jointEquationCount(j.type);
    cprintf("  %d, %s:flag=%d, type=%s\n    iframe=%s[%d], jframe=%s[%d],", i, j.name.c_str(),
            j.flag, j.type.c_str(), j.iframe.c_str(), j.i_lc, j.jframe.c_str(), j.j_lc);
  }
  cprintf("\n");
  cprintf("const_num=%d\n", t_.const_num);
}

void Reader::motions() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Motion> rows;
  std::vector<SourcePos> jointPos, ratePos;
  int n = list(kMotion, " %s\n", [&](const std::string& first, int rec) {
    Motion mo;
    mo.line = recordLine_;
    mo.flag = flag(kMotion, rec, first);
    mo.name = name(kMotion, rec, "the motion's name");
    mo.type = keyword(kMotion, rec, "motion type", kMotionTypes);
    mo.joint_name = name(kMotion, rec, "a joint name");
    jointPos.push_back(in_.pos());
    mo.equ_type = name(kMotion, rec, "the equation type (velocity)");
    mo.dt_equ = field(kMotion, rec, "the rate (an expression)", kExprMax);
    ratePos.push_back(in_.pos());
    if (nestedTooDeep(mo.dt_equ))
      fail(kMotion, rec, in_.pos(),
           format("the rate is nested deeper than %d brackets", kMaxExpressionNesting));
    rows.push_back(mo);
  });
  cprintf("motion_num=%d\n", n);
  if (n == 0) return;
  t_.motions = rows;
  for (int i = 0; i < n; ++i) {
    Motion& mo = t_.motions[i];
    mo.id = i;
    mo.joint = findLastByName(t_.joints, mo.joint_name);
    if (mo.joint >= 0) {
      mo.i_body = t_.joints[mo.joint].i_body;
      mo.j_body = t_.joints[mo.joint].j_body;
    } else {
      warn(jointPos[i], "no joint is named '" + mo.joint_name + "'");
    }
    runTexts_.push_back({ratePos[i], &mo.dt_equ});
    t_.const_num += 1;
    cprintf("  %d, %s:flag=%d, type=%s, joint_name=%s, \n    equ_type=%s, dt_equ=%s\n", i,
            mo.name.c_str(), mo.flag, mo.type.c_str(), mo.joint_name.c_str(),
            mo.equ_type.c_str(), mo.dt_equ.c_str());
  }
}

void Reader::functions() {
  cprintf("%s\n", cur_.c_str());
  std::vector<ModelFunction> rows;
  int n = list(kFunction, " %s\n", [&](const std::string& first, int rec) {
    recordName(kFunction, rec, first, "function");
    refuseKeywordName(kFunction, rec, first, "function");
    ModelFunction f;
    f.line = recordLine_;
    f.name = first;
    f.expr = field(kFunction, rec, "the function's expression", kExprMax);
    rows.push_back(f);
  });
  cprintf("func_num=%d\n", n);
  if (n == 0) return;
  t_.functions = rows;
  cprintf("Function\n");
  for (int i = 0; i < n; ++i) {
    t_.functions[i].id = i;
    cprintf("  %d:%s, %s\n", i, t_.functions[i].name.c_str(), t_.functions[i].expr.c_str());
  }
}

void Reader::forces() {
  static const char* const kK[] = {"k1", "k2", "k3", "k4", "k5", "k6"};
  static const char* const kC[] = {"c1", "c2", "c3", "c4", "c5", "c6"};
  static const char* const kComponent[] = {"Fx", "Fy", "Fz", "Tx", "Ty", "Tz"};
  cprintf("%s\n", cur_.c_str());
  std::vector<Force> rows;
  std::vector<std::vector<SourcePos>> componentPos;
  int n = list(kForce, " %s, ", [&](const std::string& first, int rec) {
    Force f;
    f.line = recordLine_;
    f.flag = flag(kForce, rec, first);
    f.name = name(kForce, rec, "the force's name");
    f.type = keyword(kForce, rec, "force type", kForceTypes);
    f.iframe = name(kForce, rec, "the i local coordinate name");
    f.jframe = name(kForce, rec, "the j local coordinate name");
    f.rframe = name(kForce, rec, "the reference local coordinate name");
    std::vector<SourcePos> at;
    if (f.type == "spring1") {
      f.k[0] = expr(kForce, rec, "the stiffness k");
      f.c[0] = expr(kForce, rec, "the damping c");
    } else if (f.type == "spring6") {
      exprs(kForce, rec, f.k, 6, kK);
      exprs(kForce, rec, f.c, 6, kC);
    } else {  // force6
      for (int k = 0; k < 6; ++k) {
        f.equ[k] = field(kForce, rec, std::string("the component ") + kComponent[k] +
                                          " (an expression)", kTokenMax);
        at.push_back(in_.pos());
      }
    }
    componentPos.push_back(at);
    rows.push_back(f);
  });
  refuseDuplicates(kForce, rows, "force");
  cprintf("\nforce_num=%d\n", n);
  if (n == 0) return;
  for (int i = 0; i < n; ++i) {
    Force& f = rows[i];
    f.id = i;
    for (const LocalCoordinate& lc : t_.frames) {
      if (lc.name == f.iframe) f.i_lc = lc.id, f.i_body = lc.body;
      if (lc.name == f.jframe) f.j_lc = lc.id, f.j_body = lc.body;
      if (lc.name == f.rframe) f.r_lc = lc.id, f.r_body = lc.body;
    }
    if (f.type == "force6")
      for (int k = 0; k < 6; ++k) rewrite(kForce, i + 1, componentPos[i][k], f.equ[k], kForceExprMax);
  }
  t_.forces = rows;
  for (int i = 0; i < n; ++i)
    if (t_.forces[i].type == "force6")
      for (int k = 0; k < 6; ++k) runTexts_.push_back({componentPos[i][k], &t_.forces[i].equ[k]});
  for (const Force& f : t_.forces) {
    cprintf("  %d, %s:flag=%d, type=%s\n", f.id, f.name.c_str(), f.flag, f.type.c_str());
    cprintf("    iframe=%s, jframe=%s, rframe=%s\n", f.iframe.c_str(), f.jframe.c_str(),
            f.rframe.c_str());
    if (f.type == "force6") {
      cprintf("    Fx:%s\n", f.equ[0].c_str());
      cprintf("    Fy:%s\n", f.equ[1].c_str());
      cprintf("    Fz:%s\n", f.equ[2].c_str());
      cprintf("    Tx:%s\n", f.equ[3].c_str());
      cprintf("    Ty:%s\n", f.equ[4].c_str());
      cprintf("    Tz:%s\n", f.equ[5].c_str());
    }
  }
}

// --- the order of the sections -------------------------------------------------

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
  t_.sample_num = sampleCount(t_.start_time, t_.d_time, t_.end_time);
  if (cur_ == "graphic_size") {
    graphicSize();
  } else if (!cur_.empty()) {
    cprintf("  ### Unknown section keyword %s: the rest of the file is not read ###\n", cur_.c_str());
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

bool rewriteExpression(const Model& m, std::string& text, size_t limit, std::string& why) {
  auto isBefore = [](char c) { return c == '+' || c == '-' || c == '*' || c == '/' || c == ',' || c == '('; };
  auto isAfter = [](char c) { return c == '+' || c == '-' || c == '*' || c == '/' || c == ',' || c == ')'; };
  auto standsAsName = [&](size_t pos, size_t len) {
    size_t end = pos + len;
    return (end == text.size() || isAfter(text[end])) && (pos == 0 || isBefore(text[pos - 1]));
  };
  // First occurrence of `name` in text, if it stands as a name there.
  auto findName = [&](const std::string& name, size_t& pos) {
    if (name.empty()) return false;
    pos = text.find(name);
    return pos != std::string::npos && standsAsName(pos, name.size());
  };
  // Local-coordinate indices and P(i) put in are final and never matched
  // again: otherwise names that read like them ("0", "P(1)") make a pass
  // replace forever. Every replacement then uses up text that was there
  // before the pass, so the passes end.
  std::vector<bool> put;  // per character of text: put in by a replacement
  auto findFreeName = [&](const std::string& name, size_t& pos) {
    if (name.empty()) return false;
    for (pos = text.find(name); pos != std::string::npos; pos = text.find(name, pos + 1)) {
      const auto from = put.begin() + static_cast<std::ptrdiff_t>(pos);
      if (std::find(from, from + static_cast<std::ptrdiff_t>(name.size()), true) ==
          from + static_cast<std::ptrdiff_t>(name.size()))
        return standsAsName(pos, name.size());
    }
    return false;
  };
  auto replaceFinal = [&](size_t pos, size_t len, const std::string& by) {
    text.replace(pos, len, by);
    const auto at = put.begin() + static_cast<std::ptrdiff_t>(pos);
    put.insert(put.erase(at, at + static_cast<std::ptrdiff_t>(len)), by.size(), true);
  };
  // A pass restarts from the first record after every replacement. Function
  // expansion can cycle (f uses g, g uses f) without growing, so both the
  // number of expansions and the intermediate length are bounded.
  const size_t kGrowthLimit = 1 << 16;
  const int kMaxExpansions = 100000;
  std::vector<int> uses(m.functions.size(), 0);
  int expansions = 0;
  for (size_t j = 0; j < m.functions.size(); ++j) {
    size_t pos;
    if (!findName(m.functions[j].name, pos)) continue;
    text.replace(pos, m.functions[j].name.size(), m.functions[j].expr);
    ++uses[j];
    if (++expansions > kMaxExpansions || text.size() > kGrowthLimit) {
      size_t worst = 0;
      for (size_t k = 1; k < uses.size(); ++k)
        if (uses[k] > uses[worst]) worst = k;
      why = "Function " + m.functions[worst].name + " refers to itself";
      return false;
    }
    j = static_cast<size_t>(-1);
  }
  put.assign(text.size(), false);
  for (size_t j = 0; j < m.frames.size(); ++j) {
    size_t pos;
    if (!findFreeName(m.frames[j].name, pos)) continue;
    replaceFinal(pos, m.frames[j].name.size(), std::to_string(j));
    j = static_cast<size_t>(-1);
  }
  for (size_t j = 0; j < m.parameters.size(); ++j) {
    size_t pos;
    if (!findFreeName(m.parameters[j].name, pos)) continue;
    replaceFinal(pos, m.parameters[j].name.size(), "P(" + std::to_string(j) + ")");
    if (text.size() > kGrowthLimit) break;
    j = static_cast<size_t>(-1);
  }
  if (text.size() > limit) {
    why = reader::format("Expression is longer than %zu characters after rewriting", limit);
    return false;
  }
  return true;
}

ReadStatus readModelFile(const std::string& path, const Settings& s, Model& m, Histories& h,
                         std::string& message) {
  TokenReader in(path);
  if (!in.ok()) {
    cprintf("MODEL FILE OPEN ERROR\n");
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
    message = e.record > 0
                  ? reader::format("Miss input at %s: No.%d", reader::sectionLabel(e.section), e.record)
                  : reader::format("Miss input at %s", reader::sectionLabel(e.section));
    cprintf("  %s\n", message.c_str());
    if (!e.detail.empty()) {
      cprintf("%s\n", e.detail.c_str());
      message += "\n" + e.detail;
    }
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
    return ReadStatus::InputError;
  }
  ReadStatus st = readModelFile(path, g_settings, g_model, g_hist, message);
  if (st == ReadStatus::InputError) cprintf("  %s\n", message.c_str());
  return st;
}

}  // namespace orv
