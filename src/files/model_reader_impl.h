// The model file reader's inner workings, shared by its source files: the
// section list, the refusal that unwinds a read, and the Reader that walks
// the file. Nothing outside src/files/model_reader*.cpp includes this.
#pragma once

#include <string>
#include <vector>

#include "expr/evaluator.h"
#include "files/model_reader.h"
#include "model/model.h"
#include "model/types.h"
#include "platform/source_pos.h"
#include "platform/tokens.h"
#include "platform/console.h"
#include "platform/text_file.h"

namespace orv {

struct Settings;
struct Histories;

namespace reader {

// Sections in file order.
enum Section {
  kParameter,
  kBody,
  kFrame,
  kJoint,
  kMotion,
  kFunction,
  kForce,
  kShape,
  kTexture,
  kShadow,
  kContact,
  kContactGroup,
  kOutput,
  kGravity,
  kSimulationTime,
  kGraphicSize,
};

// The section's name in "Miss input at ..." messages.
const char* sectionLabel(Section s);

// Thrown inside the reader only, to unwind to readModelFile with the failing
// section; never leaves the reader.
struct MissInput {
  Section section;
  int record;          // 1-based; 0 for the global sections
  std::string detail;  // "FILE:LINE:COLUMN: what was found, what was expected"
  int line = 0;        // of the place in detail (0: not known)
  std::string what;    // detail without its place
};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "a, b or c" of a list of words, for "expected one of" messages.
std::string oneOf(const std::vector<std::string>& words);

class Reader {
 public:
  Reader(TokenReader& in, const Settings& s, Model& t, Histories& h, const ParameterValues& values)
      : in_(in), s_(s), t_(t), h_(h), values_(values) {}

  void run();
  int warnings() const { return warnings_; }
  // Prints the warnings held back while a section was echoed.
  void flushWarnings();

 private:
  // --- places and messages ---------------------------------------------------
  std::string at(SourcePos p, const std::string& what) const { return placeLine(t_.path, p, what); }
  // A warning line, printed once the section's echo is out: the read goes
  // on, and the warnings are counted.
  void warn(SourcePos p, const std::string& what);
  [[noreturn]] void fail(Section sec, int record, SourcePos p, const std::string& what) const;

  // --- tokens ----------------------------------------------------------------
  // Next token; "" at the end of the file. Over-long tokens fail in `sec`.
  std::string token(Section sec, int record);
  // A field inside a record, `what` saying what it should hold: the end of the
  // file, "%" or a token longer than maxLen fail in `sec`.
  std::string field(Section sec, int record, const std::string& what, int maxLen = kTokenMax);
  std::string name(Section sec, int record, const std::string& what) {
    return field(sec, record, what, kNameMax);
  }
  // An expression field evaluated at once: warns of a tail that does not parse
  // and of unknown names, refuses a value that is not finite.
  double expr(Section sec, int record, const std::string& what);
  void exprs(Section sec, int record, double* out, int n, const char* const* what);
  // A type word that must be one of the words of a type table (joints,
  // shapes, ...), `kind` naming it in the refusal of any other word.
  template <class Row, size_t N>
  const Row& typeWord(Section sec, int record, const char* kind, const Row (&table)[N]);
  [[noreturn]] void unknownWord(Section sec, int record, const char* kind, const std::string& word,
                                const std::vector<std::string>& known);
  // A record's on/off flag: 1 for "on", 0 for "off"; other words are refused.
  int flag(Section sec, int record, const std::string& word);
  // A plain decimal number of the global sections.
  double number(Section sec, const std::string& what);
  // The name of a record, `kind` saying what it names.
  void recordName(Section sec, int record, const std::string& first, const char* kind);

  // Reads the records of a list section after its keyword: the heading token,
  // then records until "%". `record` reads the fields after the first token.
  template <class Fn>
  int list(Section sec, const char* echo, Fn record);

  // Warnings for what evaluating `tok` at p silently leaves out.
  void noteReading(SourcePos p, const std::string& tok, const ExprReading& r);
  // Rewrites a stored expression in place; refuses a self-referring function,
  // a text grown past `limit` and one nested too deep.
  void rewrite(Section sec, int record, SourcePos p, std::string& text, size_t limit);
  // A MissInput of a list section blamed, where the lines of the file show it,
  // on the record that lacks a field rather than on the one that ran short.
  MissInput blameShortRecord(Section sec, MissInput e) const;
  // Two records of one table with one name.
  template <class Record>
  void refuseDuplicates(Section sec, const std::vector<Record>& rows, const char* kind);
  // Names the expression language reads as its own words.
  void refuseKeywordName(Section sec, int record, const std::string& name, const char* kind);

  // --- sections ----------------------------------------------------------------
  void parameters();
  void bodies();
  void frames();
  void joints();
  void motions();
  void functions();
  void forces();
  void shapes();
  void textures();
  void shadows();
  void contacts();
  void contactGroups();
  void outputs();
  void gravity();
  void simulationTime();
  void graphicSize();
  void closing();
  // Warnings for names and unread tails of the texts evaluated during the run,
  // once the parameter table holds every name.
  void checkRunTexts();

  void printContacts();
  void resolveContact(Contact& c);

  // A stored expression and where it came from.
  struct TextPlace {
    SourcePos pos;
    const std::string* text;  // into t_, valid once the table is in place
  };

  TokenReader& in_;
  const Settings& s_;
  Model& t_;
  Histories& h_;
  // Value texts given in place of the file's (orvaldyn-batch --set).
  const ParameterValues& values_;
  std::string cur_;          // current token from the joint section on
  int recordLine_ = 0;       // line of the record being read
  SourcePos recordPos_;      // place of its first token
  size_t sectionStart_ = 0;  // offset after the heading of the list being read
  int warnings_ = 0;
  struct Pending {
    SourcePos pos;
    std::string what;
  };
  std::vector<Pending> pending_;  // warnings not printed yet
  // The texts evaluated during the run, checked once every name is known.
  std::vector<TextPlace> runTexts_;
};

template <class Fn>
int Reader::list(Section sec, const char* echo, Fn record) {
  const std::string heading = token(sec, 1);  // ignored
  sectionStart_ = in_.offset() + heading.size();
  int count = 0;
  for (;;) {
    std::string first = token(sec, count + 1);
    if (first.empty()) fail(sec, count + 1, in_.pos(), "the file ends; expected a record or '%'");
    cprintf(echo, first.c_str());
    if (first == "%") break;
    recordLine_ = in_.pos().line;
    recordPos_ = in_.pos();
    try {
      record(first, count + 1);
    } catch (const MissInput& e) {
      throw blameShortRecord(sec, e);
    }
    ++count;
  }
  return count;
}

template <class Row, size_t N>
const Row& Reader::typeWord(Section sec, int record, const char* kind, const Row (&table)[N]) {
  const std::string word = name(sec, record, std::string("a ") + kind);
  if (const Row* row = findTypeWord(table, word)) return *row;
  std::vector<std::string> known;
  for (const Row& row : table) known.push_back(row.word);
  unknownWord(sec, record, kind, word, known);
}

template <class Record>
void Reader::refuseDuplicates(Section sec, const std::vector<Record>& rows, const char* kind) {
  for (size_t b = 1; b < rows.size(); ++b)
    for (size_t a = 0; a < b; ++a)
      if (rows[a].name == rows[b].name)
        fail(sec, static_cast<int>(b) + 1, SourcePos{rows[b].line, 0},
             format("%s name '%s' is used again (first at line %d); expected a name of its own",
                    kind, rows[b].name.c_str(), rows[a].line));
}

}  // namespace reader
}  // namespace orv
