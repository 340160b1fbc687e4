#include "results/result_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "results/text_file.h"

// Numbers go through to_chars/from_chars rather than printf/strtod: they are
// several times faster and ignore the process locale, which the GUI toolkit
// sets from the environment (a decimal comma would break the file).

namespace orv {

namespace {

// Longest version text written or accepted.
constexpr size_t kVersionMax = 255;

std::string modelFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& dir, const std::string& rel) {
  if (dir.empty()) return rel;
  return dir.back() == '/' ? dir + rel : dir + "/" + rel;
}

// Value of a store, 0 past its end: a short store must not make the writer
// read out of bounds.
template <class T>
T at(const std::vector<T>& v, size_t i) {
  return i < v.size() ? v[i] : T(0);
}

// ---------------------------------------------------------------- writing

// Builds the text in a buffer and hands it to the file in large pieces.
class Writer {
 public:
  explicit Writer(int fd) : fd_(fd), buf_(kChunk + kSlack) {}

  void text(std::string_view s) {
    for (char c : s) {
      buf_[pos_++] = c;
      if (pos_ >= kChunk) flush();
    }
  }
  // "%e"
  void number(double v) {
    pos_ = static_cast<size_t>(
        std::to_chars(&buf_[pos_], &buf_[pos_] + 32, v, std::chars_format::scientific, 6).ptr -
        buf_.data());
    if (pos_ >= kChunk) flush();
  }
  // "%e  "
  void value(double v) {
    number(v);
    text("  ");
  }
  // "%d\n"
  void integer(long long v) {
    pos_ = static_cast<size_t>(std::to_chars(&buf_[pos_], &buf_[pos_] + 24, v).ptr - buf_.data());
    text("\n");
  }
  // `rows` rows of `width` values "%e  ", row k starting at k * stride.
  void rows(const std::vector<double>& v, int rows, int width, size_t stride) {
    for (int k = 0; k < rows; ++k) {
      const size_t base = static_cast<size_t>(k) * stride;
      for (int j = 0; j < width; ++j) value(at(v, base + static_cast<size_t>(j)));
      text("\n");
    }
  }
  // False once any write failed (full disk, I/O error).
  bool flush() {
    size_t done = 0;
    while (done < pos_ && ok_) {
      const ssize_t n = ::write(fd_, buf_.data() + done, pos_ - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else if (n < 0 && errno == EINTR)
        continue;
      else
        ok_ = false;
    }
    pos_ = 0;
    return ok_;
  }

 private:
  static constexpr size_t kChunk = size_t(1) << 20;
  static constexpr size_t kSlack = 64;  // room for the longest single item
  int fd_;
  std::vector<char> buf_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// The version text as one token, so that a blank in it cannot shift every
// later token of the file.
std::string versionToken(const std::string& v) {
  if (v.empty()) return "0.00";
  std::string t = v.substr(0, kVersionMax);
  for (char& c : t) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) c = '_';
  }
  return t;
}

bool writeSections(Writer& w, const Model& m, const Histories& h) {
  const int nb = m.body_num(), nj = m.joint_num(), nm = m.motion_num();
  const int nf = m.force_num(), nc = m.contact_num(), no = m.output_num();
  const int N = h.anime_num > 0 ? h.anime_num : 0;

  w.text("Version\n");
  w.text(versionToken(h.version));
  w.text("\n%\ntime_num\n");
  w.integer(N);
  w.text("%\ntime\n");
  for (int k = 0; k < N; ++k) {
    w.number(at(h.p_time, static_cast<size_t>(k)));
    w.text("\n");
  }
  w.text("%\nmotion\n");
  w.rows(h.p_YYY, N, 14 * nb, 14 * static_cast<size_t>(nb));
  w.text("%\nF_const\n");
  if (nj > 0) w.rows(h.p_F_const, N, 6 * nj, 6 * static_cast<size_t>(nj));
  w.text("%\nC_const\n");
  // Only the joint entries; the motion entries of each row are not stored.
  if (nj > 0) w.rows(h.p_C_const, N, nj, static_cast<size_t>(nm) + static_cast<size_t>(nj));
  w.text("%\nF_force\n");
  if (nf > 0) w.rows(h.p_F_force, N, 6 * nf, 6 * static_cast<size_t>(nf));
  w.text("%\nF_contact\n");
  if (nc > 0) {
    // The index list decides the record count, so the three lists written
    // always agree even if one of them fell short.
    const size_t R = h.cont_time_index.size();
    w.text("position\n");
    w.integer(static_cast<long long>(3 * R));
    for (size_t i = 0; i < R; ++i) {
      for (size_t c = 0; c < 3; ++c) w.value(at(h.cont_position, 3 * i + c));
      w.text("\n");
    }
    w.text("value\n");
    w.integer(static_cast<long long>(3 * R));
    for (size_t i = 0; i < R; ++i) {
      for (size_t c = 0; c < 3; ++c) w.value(at(h.cont_value, 3 * i + c));
      w.text("\n");
    }
    w.text("time_index\n");
    w.integer(static_cast<long long>(R));
    for (size_t i = 0; i < R; ++i) w.integer(h.cont_time_index[i]);
    w.text("ti_st\n");
    for (int k = 0; k < N; ++k) w.integer(at(h.stl_cont_ti_st, static_cast<size_t>(k)));
    w.text("ti_num\n");
    for (int k = 0; k < N; ++k) w.integer(at(h.stl_cont_ti_num, static_cast<size_t>(k)));
  }
  w.text("%\noutput\n");
  if (no > 0) w.rows(h.p_output, N, no, static_cast<size_t>(no));
  w.text("%\n");
  return w.flush();
}

// A new empty file beside the result, so that the final rename stays within
// one file system. -1 when none can be created.
int createTemporary(const std::string& dir, std::string& tmp) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmp = dir + "/.result_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// ---------------------------------------------------------------- reading

struct BadFile {
  std::string what;
};

[[noreturn]] void fail(std::string what) { throw BadFile{std::move(what)}; }

std::string str(long long v) { return std::to_string(v); }

// The stores a file fills, held apart until the whole file is known good.
struct ReadResult {
  std::string version;
  int N = 0;
  std::vector<double> time, state, reaction, violation, force, output;
  std::vector<double> position, value;
  std::vector<int> time_index, ti_st, ti_num;
};

class Parser {
 public:
  Parser(const std::vector<char>& text, const Model& m) : in_(text), m_(m) {}

  void run(ReadResult& r) {
    const int nb = m_.body_num(), nj = m_.joint_num(), nf = m_.force_num();
    const int nc = m_.contact_num(), no = m_.output_num();

    label("Version", "at the start", false);
    const std::string_view ver = next();
    if (ver.empty()) fail("Version: file ends before the version text");
    for (char c : ver)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) fail("Version: bad version text");
    if (ver.size() > kVersionMax) fail("Version: version text longer than " + str(kVersionMax));
    r.version.assign(ver);
    cprintf("Version:%s\n", r.version.c_str());

    label("%", "after Version", false);
    label("time_num", "after Version", false);
    const std::string_view cnt = next();
    int N = 0;
    if (!toInteger(cnt, N)) fail("time_num: sample count expected, found " + shownToken(cnt));
    if (N < 1 || N > m_.sample_num)
      fail("time_num: " + str(N) + " samples, the model has room for 1 to " + str(m_.sample_num));
    // Every sample needs its tokens, each at least one character and a blank:
    // a count the rest of the file cannot hold is refused before anything is
    // allocated from it.
    const uint64_t perSample = 1 + 14 * uint64_t(nb) + 7 * uint64_t(nj) + 6 * uint64_t(nf) +
                               uint64_t(no) + (nc > 0 ? 2 : 0);
    if (uint64_t(N) > remaining() / 2 / perSample)
      fail("time_num: " + str(N) + " samples cannot fit in the rest of the file");
    r.N = N;
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
    if (!next().empty()) fail("text after the last section");
  }

 private:
  uint64_t remaining() const { return in_.remaining(); }
  std::string_view next() { return in_.next(); }

  void label(const char* want, const char* where, bool echo) {
    const std::string_view t = next();
    if (t != want) {
      if (t.empty()) fail(std::string("file ends where '") + want + "' belongs (" + where + ")");
      fail(std::string("'") + want + "' expected " + where + ", found " + shownToken(t));
    }
    if (echo) cprintf("%s\n", want);
  }

  double number(const char* sec, int row, int col) {
    const std::string_view t = next();
    double v;
    if (toFiniteDouble(t, v)) return v;
    const std::string at = std::string(sec) + ": row " + str(row) + ", value " + str(col);
    if (t.empty()) fail(at + ": file ends");
    fail(at + ": " + shownToken(t) + " is not a finite number");
  }

  int integer(const char* sec, long long row) {
    const std::string_view t = next();
    int v;
    if (toInteger(t, v)) return v;
    const std::string at = std::string(sec) + ": entry " + str(row);
    if (t.empty()) fail(at + ": file ends");
    fail(at + ": " + shownToken(t) + " is not an integer");
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
    if (!toInteger(t, n)) fail(std::string(sec) + ": count expected, found " + shownToken(t));
    if (n < 0) fail(std::string(sec) + ": negative count " + str(n));
    if (uint64_t(n) > remaining() / 2)
      fail(std::string(sec) + ": count " + str(n) + " exceeds what the rest of the file holds");
    return n;
  }

  void triples(const char* sec, int values, std::vector<double>& out) {
    out.resize(static_cast<size_t>(values));
    for (int i = 0; i < values; ++i) out[static_cast<size_t>(i)] = number(sec, i / 3, i % 3);
  }

  void contacts(int N, ReadResult& r) {
    label("position", "in F_contact", false);
    const int P = count("position");
    if (P % 3 != 0) fail("position: count " + str(P) + " is not a multiple of 3");
    triples("position", P, r.position);
    label("value", "after position", false);
    const int V = count("value");
    if (V != P) fail("value: count " + str(V) + " differs from the position count " + str(P));
    triples("value", V, r.value);
    label("time_index", "after value", false);
    const int R = count("time_index");
    if (int64_t(R) * 3 != P)
      fail("time_index: " + str(R) + " records for " + str(P / 3) + " contact positions");
    r.time_index.resize(static_cast<size_t>(R));
    for (int i = 0; i < R; ++i) {
      const int ti = integer("time_index", i);
      if (ti < 0 || ti >= N)
        fail("time_index: entry " + str(i) + ": sample " + str(ti) + " outside 0.." + str(N - 1));
      if (i > 0 && ti < r.time_index[static_cast<size_t>(i) - 1])
        fail("time_index: entry " + str(i) + ": sample " + str(ti) + " before the previous one");
      r.time_index[static_cast<size_t>(i)] = ti;
    }
    label("ti_st", "after time_index", false);
    r.ti_st.resize(static_cast<size_t>(N));
    for (int k = 0; k < N; ++k) r.ti_st[static_cast<size_t>(k)] = integer("ti_st", k);
    label("ti_num", "after ti_st", false);
    r.ti_num.resize(static_cast<size_t>(N));
    for (int k = 0; k < N; ++k) r.ti_num[static_cast<size_t>(k)] = integer("ti_num", k);

    // The view walks records ti_st..ti_st+ti_num-1 of a sample: they must
    // exist and be that sample's. A failing sample stops at its first record,
    // and passing samples cover disjoint records, so this is linear.
    for (int k = 0; k < N; ++k) {
      const int st = r.ti_st[static_cast<size_t>(k)], num = r.ti_num[static_cast<size_t>(k)];
      if (st < 0 || st > R) fail("ti_st: sample " + str(k) + ": first record " + str(st) +
                                 " outside 0.." + str(R));
      if (num < 0 || num > R - st)
        fail("ti_num: sample " + str(k) + ": " + str(num) + " records from " + str(st) +
             " exceed the " + str(R) + " records");
      for (int i = st; i < st + num; ++i)
        if (r.time_index[static_cast<size_t>(i)] != k)
          fail("ti_st: sample " + str(k) + ": record " + str(i) + " belongs to sample " +
               str(r.time_index[static_cast<size_t>(i)]));
    }
  }

  TextTokens in_;
  const Model& m_;
};

}  // namespace

bool writeResultFile(const Model& m, const Histories& h, const std::string& dir) {
  const std::string name = modelFileName(m.path);
  cprintf("  %s\n", name.c_str());
  const std::string logDir = joinPath(dir, "log");
  const std::string path = logDir + "/result_" + name;
  cprintf("  %s\n", path.c_str());

  makeDirectory(logDir);  // a failure shows as the open failure below
  std::string tmp;
  const int fd = createTemporary(logDir, tmp);
  if (fd < 0) {
    cprintf("FILE OPEN ERROR\n");
    return false;
  }
  cprintf("RESULT FILE OPEN !!\n");

  bool ok = false;
  try {
    Writer w(fd);
    ok = writeSections(w, m, h);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  // The data must be on disk before the rename makes it the result.
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(tmp.c_str());
    cprintf("FILE CLOSE ERROR\n");
    return false;
  }
  cprintf("FILE CLOSE !!\n");
  return true;
}

bool readResultFile(const std::string& path, const Model& m, Histories& h) {
  ReadResult r;
  std::vector<double> joints, current, currentReaction;
  try {
    std::vector<char> text;
    const TextLoad load = loadTextFile(path, text);
    if (load == TextLoad::kCannotOpen) {
      cprintf("RESULT FILE OPEN ERROR\n");
      return false;
    }
    cprintf("RESULT FILE OPEN !!\n");
    if (load == TextLoad::kTooLarge)
      fail("file larger than " + str(kMaxTextFileBytes >> 30) + " GiB");
    if (load == TextLoad::kReadError) fail("read error");

    Parser(text, m).run(r);

    // Rows of nm+nj entries, motion entries 0, so readers indexing a
    // sample's row stay in bounds.
    const size_t nj = static_cast<size_t>(m.joint_num());
    const size_t width = static_cast<size_t>(m.motion_num()) + nj;
    const size_t N = static_cast<size_t>(r.N);
    joints.assign(N * width, 0.0);
    for (size_t k = 0; k < N; ++k)
      for (size_t j = 0; j < nj; ++j) joints[k * width + j] = r.violation[k * nj + j];
    // Without contact pairs the per-sample record tables are all zero.
    if (m.contact_num() == 0) {
      r.ti_st.assign(N, 0);
      r.ti_num.assign(N, 0);
    }
    const size_t ns = 14 * static_cast<size_t>(m.body_num());
    current.assign(r.state.begin(), r.state.begin() + static_cast<std::ptrdiff_t>(ns));
    currentReaction.assign(r.reaction.begin(),
                           r.reaction.begin() + static_cast<std::ptrdiff_t>(6 * nj));
  } catch (const BadFile& e) {
    cprintf("RESULT FILE ERROR: %s: %s\n", path.c_str(), e.what.c_str());
    return false;
  } catch (const std::bad_alloc&) {
    cprintf("RESULT FILE ERROR: %s: out of memory\n", path.c_str());
    return false;
  }

  // Nothing below allocates: h is replaced completely or not at all.
  h.p_time.swap(r.time);
  h.p_YYY.swap(r.state);
  h.p_F_const.swap(r.reaction);
  h.p_C_const.swap(joints);
  h.p_F_force.swap(r.force);
  h.p_output.swap(r.output);
  h.cont_position.swap(r.position);
  h.cont_value.swap(r.value);
  h.cont_time_index.swap(r.time_index);
  h.stl_cont_ti_st.swap(r.ti_st);
  h.stl_cont_ti_num.swap(r.ti_num);
  h.p_Yi.swap(current);
  h.p_F_const_i.swap(currentReaction);
  h.version.swap(r.version);
  cprintf("FILE CLOSE !!\n");
  h.analysis_finished = 1;
  h.anime_num = r.N;
  h.current_frame = 0;
  h.result_shape = resultShapeOf(m);
  return true;
}

}  // namespace orv
