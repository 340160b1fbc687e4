// The model file reader's tokens and fields: places and messages, what a
// field must hold, and the record blamed for a short list.
#include <algorithm>
#include <cmath>
#include <vector>

#include "files/model_reader_impl.h"
#include "model/types.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "platform/tokens.h"

namespace orv {
namespace reader {

namespace {

// Words of the expression language. A parameter of such a name would be
// shadowed where the keyword is read, or rewritten into texts where the
// keyword was meant; `time` also matches as the start of a longer word.
const char* const kKeywords[] = {"time", "sin", "cos",    "asin",    "acos",    "sgn", "abs",
                                 "sqrt", "P",   "DX",     "DY",      "DZ",      "D",   "VX",
                                 "VY",   "VZ",  "V",      "WX",      "WY",      "WZ",  "A1",
                                 "A2",   "A3",  "SWITCH", "CONTACT", "F_JOINT", "TURN"};

// How many tokens a record has, judged from its first tokens; -1 when they
// do not tell (an unknown type).
int expectedFields(Section sec, const std::vector<std::string>& tok) {
  auto at = [&](size_t k) { return k < tok.size() ? tok[k] : std::string(); };
  // Records with a type have as many fields as their type's table says.
  auto fieldsOf = [&](const auto& table, size_t k) {
    const auto* row = findTypeWord(table, at(k));
    return row ? row->fields : -1;
  };
  switch (sec) {
    case kParameter: return 2;
    case kBody: return 12;
    case kFrame: return 8;
    case kJoint: return 5;
    case kMotion: return 6;
    case kFunction: return 2;
    case kForce: return fieldsOf(kForceTypes, 2);
    case kShape: return fieldsOf(kShapeTypes, 1);
    case kTexture: return fieldsOf(kTextureTypes, 1);
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
  static const char* const kKinds[] = {
      "parameter", "body",    "local coordinate", "joint",   "motion",        "function", "force",
      "shape",     "texture", "shadow",           "contact", "contact group", "output"};
  return sec <= kOutput ? kKinds[sec] : "";
}

std::string valueWord(double v) {
  if (std::isnan(v)) return "nan";
  return v > 0 ? "inf" : "-inf";
}

}  // namespace

// --- places and messages -----------------------------------------------------

void Reader::warn(SourcePos p, const std::string& what) {
  pending_.push_back(Pending{p, what});
  ++warnings_;
}

void Reader::flushWarnings() {
  // After a section's echo, so that no warning splits an echo line.
  for (const Pending& w : pending_) {
    cprintf("%s\n", at(w.pos, w.what).c_str());
    report(Severity::Warning, w.what, t_.path, w.pos.line);
  }
  pending_.clear();
}

void Reader::fail(Section sec, int record, SourcePos p, const std::string& what) const {
  throw MissInput{sec, record, at(p, what), p.line, what};
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
  if (tok.empty())
    fail(sec, record, in_.pos(), "the file ends inside the record; expected " + what);
  if (tok == "%") fail(sec, record, in_.pos(), "'%' ends the record early; expected " + what);
  if (static_cast<int>(tok.size()) > maxLen)
    fail(sec, record, in_.pos(),
         format("%s is %zu characters long; expected %s of at most %d", shownToken(tok).c_str(),
                tok.size(), what.c_str(), maxLen));
  return tok;
}

void Reader::noteReading(SourcePos p, const std::string& tok, const ExprReading& r) {
  auto shifted = [&](size_t offset) {
    return SourcePos{p.line, p.column + static_cast<int>(offset)};
  };
  for (const ExprReading::Name& n : r.names)
    if (!n.known) warn(shifted(n.at), "unknown name '" + n.name + "' read as 0");
  for (int k : r.parameterIndices)
    if (k < 0 || k >= t_.parameter_num()) warn(p, format("P(%d) names no parameter; read as 0", k));
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

void Reader::unknownWord(Section sec, int record, const char* kind, const std::string& word,
                         const std::vector<std::string>& known) {
  fail(sec, record, in_.pos(),
       format("unknown %s %s (expected one of: %s)", kind, shownToken(word).c_str(),
              oneOf(known).c_str()));
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
    fail(sec, 0, in_.pos(),
         format("%s is not a number; expected %s", shownToken(tok).c_str(), what.c_str()));
  if (!std::isfinite(v))
    fail(sec, 0, in_.pos(),
         format("%s is not finite; expected %s", shownToken(tok).c_str(), what.c_str()));
  return v;
}

void Reader::recordName(Section sec, int record, const std::string& first, const char* kind) {
  if (static_cast<int>(first.size()) > kNameMax)
    fail(sec, record, recordPos_,
         format("%s is %zu characters long; a %s name holds at most %d", shownToken(first).c_str(),
                first.size(), kind, kNameMax));
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
    const bool flagged =
        sec == kJoint || sec == kMotion || sec == kForce || sec == kContact || sec == kContactGroup;
    const std::string& name = L.tok[flagged && L.tok.size() > 1 ? 1 : 0];
    const std::string what = format("%s record %s has %d fields; expected %d", recordKind(sec),
                                    shownToken(name).c_str(), have, need);
    return MissInput{sec, static_cast<int>(k) + 1, at(p, what), p.line, what};
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

}  // namespace reader
}  // namespace orv
