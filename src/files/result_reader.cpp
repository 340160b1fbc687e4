// Reading a result file: token by token, checked against the loaded model,
// into stores held apart until the whole file is known good.
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "platform/source_pos.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "files/loaded_result.h"
#include "files/result_file.h"
#include "platform/text_file.h"

namespace orv {

namespace {

struct BadFile {
  std::string what;       // the message after "RESULT FILE ERROR: path: "
  size_t offset;          // place of the token at fault (npos: the whole file)
  std::string found;      // that token as shown
  std::string expected;   // what belonged there
  std::string line = {};  // "FILE:LINE:COLUMN: found ..., expected ...", once placed
  int lineNo = 0;         // the line of that place
};

// The file cannot be opened: told apart from a bad file.
struct CannotOpen {};

std::string str(long long v) { return std::to_string(v); }

std::string shownOrEnd(std::string_view t) {
  return t.empty() ? "the end of the file" : shownToken(t);
}

// The first value of a file that is not a finite number: the writer keeps
// whatever a run computed, so such values are read, with a warning.
struct NonFinite {
  long long count = 0;
  size_t offset = 0;
  std::string token, where;
};

class Parser {
 public:
  Parser(const std::vector<char>& text, const Model& m) : in_(text), m_(m) {}

  const NonFinite& nonFinite() const { return nonFinite_; }
  std::string_view text() const { return in_.text(); }

  void run(LoadedResult& r) {
    const int nb = m_.body_num(), nj = m_.joint_num(), nf = m_.force_num();
    const int nc = m_.contact_num();

    label("Version", "at the start", false);
    const std::string_view ver = next();
    if (ver.empty()) fail("Version: file ends before the version text", "a version text");
    for (char c : ver)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
        fail("Version: bad version text", "a version text without control characters");
    if (ver.size() > kVersionMax)
      fail("Version: version text longer than " + str(kVersionMax),
           "a version text of at most " + str(kVersionMax) + " characters");
    r.version.assign(ver);
    cprintf("Version:%s\n", r.version.c_str());

    label("%", "after Version", false);
    // A result that brings its own channels (an imported motion) names them
    // here, and its time span is its own; otherwise both are the model's.
    int no = m_.output_num();
    const bool own = in_.peek() == "channels";
    if (own) {
      next();
      channels(r.channels);
      no = static_cast<int>(r.channels.size());
      label("%", "after channels", false);
    }
    label("time_num", own ? "after channels" : "after Version", false);
    const std::string_view cnt = next();
    int N = 0;
    if (!toInteger(cnt, N))
      fail("time_num: sample count expected, found " + shownToken(cnt), "an integer");
    if (own && N < 1)
      fail("time_num: " + str(N) + " samples; at least 1 is needed", "an integer of 1 or more");
    if (!own && (N < 1 || N > m_.sample_num))
      fail("time_num: " + str(N) + " samples, the model has room for 1 to " + str(m_.sample_num),
           "an integer from 1 to " + str(m_.sample_num));
    // Every sample needs its tokens, each at least one character and a blank:
    // a count the rest of the file cannot hold is refused before anything is
    // allocated from it.
    const uint64_t perSample = 1 + 14 * uint64_t(nb) + 7 * uint64_t(nj) + 6 * uint64_t(nf) +
                               uint64_t(no) + (nc > 0 ? 2 : 0);
    if (uint64_t(N) > remaining() / 2 / perSample)
      fail("time_num: " + str(N) + " samples cannot fit in the rest of the file",
           "a sample count the rest of the file can hold");
    r.samples = N;
    cprintf("time_num=%d\n", N);

    label("%", "after time_num", true);
    label("time", "after time_num", true);
    rows("time", N, 1, r.time);
    label("%", "after time", true);
    label("motion", "after time", true);
    rows("motion", N, 14 * nb, r.state);
    label("%", "after motion", true);
    label("F_const", "after motion", true);
    if (nj > 0) rows("F_const", N, 6 * nj, r.reaction);
    label("%", "after F_const", true);
    label("C_const", "after F_const", true);
    if (nj > 0) rows("C_const", N, nj, r.violation);
    label("%", "after C_const", true);
    label("F_force", "after C_const", true);
    if (nf > 0) rows("F_force", N, 6 * nf, r.force);
    label("%", "after F_force", true);
    label("F_contact", "after F_force", true);
    if (nc > 0) contacts(N, r);
    label("%", "after F_contact", true);
    label("output", "after F_contact", true);
    if (no > 0) rows("output", N, no, r.output);
    label("%", "after output", true);
    const std::string_view rest = next();
    if (!rest.empty()) fail("text after the last section", "the end of the file");
  }

 private:
  uint64_t remaining() const { return in_.remaining(); }
  std::string_view next() { return in_.next(); }

  // The token last read is at fault.
  [[noreturn]] void fail(std::string what, std::string expected) {
    const std::string_view t = in_.text().substr(in_.offset());
    size_t len = 0;
    while (len < t.size() && !isBlankChar(t[len])) ++len;
    throw BadFile{std::move(what), in_.offset(), shownOrEnd(t.substr(0, len)), std::move(expected)};
  }

  void label(const char* want, const char* where, bool echo) {
    const std::string_view t = next();
    if (t != want) {
      const std::string expected = std::string("`") + want + "`";
      if (t.empty())
        fail(std::string("file ends where '") + want + "' belongs (" + where + ")", expected);
      fail(std::string("'") + want + "' expected " + where + ", found " + shownToken(t), expected);
    }
    if (echo) cprintf("%s\n", want);
  }

  std::string place(const char* sec, int row, int col) const {
    return std::string(sec) + ": row " + str(row) + ", value " + str(col);
  }

  double number(const char* sec, int row, int col) {
    const std::string_view t = next();
    double v;
    if (toFiniteDouble(t, v)) return v;
    if (toDouble(t, v)) {
      if (nonFinite_.count++ == 0) {
        nonFinite_.offset = in_.offset();
        nonFinite_.token = shownToken(t);
        nonFinite_.where = place(sec, row, col);
      }
      return v;
    }
    const std::string at = place(sec, row, col);
    if (t.empty()) fail(at + ": file ends", "a number");
    fail(at + ": " + shownToken(t) + " is not a finite number", "a number");
  }

  int integer(const char* sec, long long row) {
    const std::string_view t = next();
    int v;
    if (toInteger(t, v)) return v;
    const std::string at = std::string(sec) + ": entry " + str(row);
    if (t.empty()) fail(at + ": file ends", "an integer");
    fail(at + ": " + shownToken(t) + " is not an integer", "an integer");
  }

  void rows(const char* sec, int N, int width, std::vector<double>& out) {
    out.resize(static_cast<size_t>(N) * static_cast<size_t>(width));
    size_t i = 0;
    for (int k = 0; k < N; ++k)
      for (int j = 0; j < width; ++j) out[i++] = number(sec, k, j);
  }

  // A record count of a contact list, checked against what the rest of the
  // file could hold before anything is allocated from it.
  int count(const char* sec) {
    const std::string_view t = next();
    int n;
    if (!toInteger(t, n))
      fail(std::string(sec) + ": count expected, found " + shownToken(t), "an integer");
    if (n < 0) fail(std::string(sec) + ": negative count " + str(n), "a count of 0 or more");
    if (uint64_t(n) > remaining() / 2)
      fail(std::string(sec) + ": count " + str(n) + " exceeds what the rest of the file holds",
           "a count the rest of the file can hold");
    return n;
  }

  void triples(const char* sec, int values, std::vector<double>& out) {
    out.resize(static_cast<size_t>(values));
    for (int i = 0; i < values; ++i) out[static_cast<size_t>(i)] = number(sec, i / 3, i % 3);
  }

  // The names of a result's own channels.
  void channels(std::vector<std::string>& names) {
    const int C = count("channels");
    if (C < 1)
      fail("channels: count 0; a result names at least one channel", "a count of 1 or more");
    names.resize(static_cast<size_t>(C));
    for (int c = 0; c < C; ++c) {
      const std::string_view t = next();
      const std::string at = "channels: name " + str(c + 1);
      if (t.empty()) fail(at + ": file ends", "a channel name");
      for (char ch : t)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
          fail(at + ": contains a control character", "a channel name");
      if (t.size() > kChannelNameMax)
        fail(at + ": longer than " + str(kChannelNameMax) + " characters",
             "a channel name of at most " + str(kChannelNameMax) + " characters");
      names[static_cast<size_t>(c)].assign(t);
    }
  }

  void contacts(int N, LoadedResult& r) {
    label("position", "in F_contact", false);
    const int P = count("position");
    if (P % 3 != 0)
      fail("position: count " + str(P) + " is not a multiple of 3", "a multiple of 3");
    triples("position", P, r.contactPosition);
    label("value", "after position", false);
    const int V = count("value");
    if (V != P)
      fail("value: count " + str(V) + " differs from the position count " + str(P), str(P));
    triples("value", V, r.contactValue);
    label("time_index", "after value", false);
    const int R = count("time_index");
    if (int64_t(R) * 3 != P)
      fail("time_index: " + str(R) + " records for " + str(P / 3) + " contact positions",
           str(P / 3));
    r.contactSample.resize(static_cast<size_t>(R));
    for (int i = 0; i < R; ++i) {
      const int ti = integer("time_index", i);
      // Sample N is the step that passed the last sample time: a run records
      // the contacts it ended in, though no sample shows them.
      if (ti < 0 || ti > N)
        fail("time_index: entry " + str(i) + ": sample " + str(ti) + " outside 0.." + str(N),
             "an integer from 0 to " + str(N));
      if (i > 0 && ti < r.contactSample[static_cast<size_t>(i) - 1])
        fail("time_index: entry " + str(i) + ": sample " + str(ti) + " before the previous one",
             "an integer from " + str(r.contactSample[static_cast<size_t>(i) - 1]) + " to " +
                 str(N));
      r.contactSample[static_cast<size_t>(i)] = ti;
    }
    // Where each table entry stands, for a message about it.
    std::vector<size_t> stAt(static_cast<size_t>(N)), numAt(static_cast<size_t>(N));
    label("ti_st", "after time_index", false);
    r.sampleFirstContact.resize(static_cast<size_t>(N));
    for (int k = 0; k < N; ++k) {
      r.sampleFirstContact[static_cast<size_t>(k)] = integer("ti_st", k);
      stAt[static_cast<size_t>(k)] = in_.offset();
    }
    label("ti_num", "after ti_st", false);
    r.sampleContacts.resize(static_cast<size_t>(N));
    for (int k = 0; k < N; ++k) {
      r.sampleContacts[static_cast<size_t>(k)] = integer("ti_num", k);
      numAt[static_cast<size_t>(k)] = in_.offset();
    }

    // The view walks records ti_st..ti_st+ti_num-1 of a sample: they must
    // exist and be that sample's. A failing sample stops at its first record,
    // and passing samples cover disjoint records, so this is linear.
    for (int k = 0; k < N; ++k) {
      const size_t K = static_cast<size_t>(k);
      const int st = r.sampleFirstContact[K], num = r.sampleContacts[K];
      if (st < 0 || st > R)
        throw BadFile{"ti_st: sample " + str(k) + ": first record " + str(st) + " outside 0.." +
                          str(R),
                      stAt[K], shownToken(str(st)), "an integer from 0 to " + str(R)};
      if (num < 0 || num > R - st)
        throw BadFile{"ti_num: sample " + str(k) + ": " + str(num) + " records from " + str(st) +
                          " exceed the " + str(R) + " records",
                      numAt[K], shownToken(str(num)), "an integer from 0 to " + str(R - st)};
      for (int i = st; i < st + num; ++i)
        if (r.contactSample[static_cast<size_t>(i)] != k)
          throw BadFile{"ti_st: sample " + str(k) + ": record " + str(i) + " belongs to sample " +
                            str(r.contactSample[static_cast<size_t>(i)]),
                        stAt[K], shownToken(str(st)), "the first record of sample " + str(k)};
    }
  }

  TextTokens in_;
  const Model& m_;
  NonFinite nonFinite_;
};

// The warning about values that are not finite: the console line, the text
// without its place, and its line.
struct NonFiniteWarning {
  std::string console, what;
  int line = 0;
};

// Loads and parses the file at `path` into r; the warning about values that
// are not finite, if any. Throws BadFile.
void parseResult(const std::string& path, const Model& m, LoadedResult& r,
                 NonFiniteWarning& warning) {
  std::vector<char> text;
  const TextLoad load = loadTextFile(path, text);
  if (load == TextLoad::kCannotOpen) throw CannotOpen{};
  cprintf("RESULT FILE OPEN !!\n");
  if (load == TextLoad::kTooLarge)
    throw BadFile{"file larger than " + str(kMaxTextFileBytes >> 30) + " GiB", std::string::npos,
                  "", ""};
  if (load == TextLoad::kReadError) throw BadFile{"read error", std::string::npos, "", ""};

  Parser parser(text, m);
  try {
    parser.run(r);
  } catch (BadFile& e) {
    // The place line needs the text, which goes with this scope.
    if (e.offset != std::string::npos) {
      const SourcePos at = positionIn(parser.text(), e.offset);
      e.line = placeLine(path, at, "found " + e.found + ", expected " + e.expected);
      e.lineNo = at.line;
    }
    throw;
  }
  const NonFinite& nonFinite = parser.nonFinite();
  if (nonFinite.count > 0) {
    const SourcePos at = positionIn(parser.text(), nonFinite.offset);
    warning.what = str(nonFinite.count) + " values are not finite numbers; the first is " +
                   nonFinite.token + " (" + nonFinite.where + "); read as written";
    warning.console = placeLine(path, at, "warning: " + warning.what);
    warning.line = at.line;
  }
}

// The stores as an analysis leaves them: violation rows of nm+nj entries,
// motion entries 0, so readers indexing a sample's row stay in bounds; the
// record tables all zero without contact pairs.
void completeResult(const Model& m, LoadedResult& r) {
  const size_t nj = static_cast<size_t>(m.joint_num());
  const size_t width = static_cast<size_t>(m.motion_num()) + nj;
  const size_t N = static_cast<size_t>(r.samples);
  std::vector<double> joints(N * width, 0.0);
  for (size_t k = 0; k < N; ++k)
    for (size_t j = 0; j < nj; ++j) joints[k * width + j] = r.violation[k * nj + j];
  r.violation.swap(joints);
  if (m.contact_num() == 0) {
    r.sampleFirstContact.assign(N, 0);
    r.sampleContacts.assign(N, 0);
  }
}

}  // namespace

bool readResultFile(const std::string& path, const Model& m, Histories& h) {
  LoadedResult r;
  NonFiniteWarning warning;
  // Nothing of a refused file is taken: the result held stays.
  const std::string refused = "Result file not read: ";
  try {
    parseResult(path, m, r, warning);
    completeResult(m, r);
  } catch (const CannotOpen&) {
    cprintf("RESULT FILE OPEN ERROR\n");
    report(Severity::Error, refused + "the file cannot be opened", path);
    return false;
  } catch (const BadFile& e) {
    cprintf("RESULT FILE ERROR: %s: %s\n", path.c_str(), e.what.c_str());
    if (!e.line.empty()) cprintf("%s\n", e.line.c_str());
    // The console's place line says what was found; e.what names it already.
    report(Severity::Error,
           refused + e.what + (e.line.empty() ? std::string() : "; expected " + e.expected), path,
           e.lineNo);
    return false;
  } catch (const std::bad_alloc&) {
    cprintf("RESULT FILE ERROR: %s: Not enough memory to read the result file\n", path.c_str());
    report(Severity::Error, refused + "not enough memory to read it", path);
    return false;
  }
  if (!warning.console.empty()) {
    cprintf("%s\n", warning.console.c_str());
    report(Severity::Warning, warning.what, path, warning.line);
  }
  takeLoadedResult(h, r, m);
  cprintf("FILE CLOSE !!\n");
  return true;
}

}  // namespace orv
