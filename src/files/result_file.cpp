// Writing a result file: the text is built in memory in large pieces and
// replaces the file only once it is complete on disk.
#include "files/result_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "model/histories.h"
#include "model/model.h"
#include "platform/console.h"
#include "platform/replace_file.h"

// Numbers go through to_chars/from_chars rather than printf/strtod: they are
// several times faster and ignore the process locale, which the GUI toolkit
// sets from the environment (a decimal comma would break the file).

namespace orv {

namespace {

std::string modelFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& dir, const std::string& rel) {
  if (dir.empty()) return rel;
  return dir.back() == '/' ? dir + rel : dir + "/" + rel;
}

std::string reason(int err) { return std::strerror(err); }

// Value of a store, 0 past its end: a short store must not make the writer
// read out of bounds.
template <class T>
T at(const std::vector<T>& v, size_t i) {
  return i < v.size() ? v[i] : T(0);
}

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
  // False once any write failed (full disk, I/O error); error() says why.
  bool flush() {
    size_t done = 0;
    while (done < pos_ && err_ == 0) {
      const ssize_t n = ::write(fd_, buf_.data() + done, pos_ - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else if (n < 0 && errno == EINTR)
        continue;
      else
        err_ = n < 0 ? errno : EIO;
    }
    pos_ = 0;
    return err_ == 0;
  }
  int error() const { return err_; }

 private:
  static constexpr size_t kChunk = size_t(1) << 20;
  static constexpr size_t kSlack = 64;  // room for the longest single item
  int fd_;
  std::vector<char> buf_;
  size_t pos_ = 0;
  int err_ = 0;
};

// A text as one token of at most `max` characters, so that a blank in it
// cannot shift every later token of the file.
std::string asToken(const std::string& v, size_t max) {
  std::string t = v.substr(0, max);
  for (char& c : t) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) c = '_';
  }
  return t;
}

std::string versionToken(const std::string& v) {
  return v.empty() ? "0.00" : asToken(v, kVersionMax);
}

// The contact block. Only records of stored samples (and of the step past
// the last, sample N) are written, in sample order, and the per-sample tables
// are counted from them: the file then holds what the reader checks,
// whatever the run left in the lists.
void writeContacts(Writer& w, const Histories& h, int N) {
  std::vector<size_t> rec;
  for (size_t i = 0; i < h.cont_time_index.size(); ++i)
    if (h.cont_time_index[i] >= 0 && h.cont_time_index[i] <= N) rec.push_back(i);
  std::stable_sort(rec.begin(), rec.end(),
                   [&](size_t a, size_t b) { return h.cont_time_index[a] < h.cont_time_index[b]; });
  const size_t R = rec.size();
  w.text("position\n");
  w.integer(static_cast<long long>(3 * R));
  for (size_t i : rec) {
    for (size_t c = 0; c < 3; ++c) w.value(at(h.cont_position, 3 * i + c));
    w.text("\n");
  }
  w.text("value\n");
  w.integer(static_cast<long long>(3 * R));
  for (size_t i : rec) {
    for (size_t c = 0; c < 3; ++c) w.value(at(h.cont_value, 3 * i + c));
    w.text("\n");
  }
  w.text("time_index\n");
  w.integer(static_cast<long long>(R));
  std::vector<long long> count(static_cast<size_t>(N) + 1, 0);
  for (size_t i : rec) {
    w.integer(h.cont_time_index[i]);
    ++count[static_cast<size_t>(h.cont_time_index[i])];
  }
  w.text("ti_st\n");
  long long first = 0;
  for (int k = 0; k < N; ++k) {
    w.integer(first);
    first += count[static_cast<size_t>(k)];
  }
  w.text("ti_num\n");
  for (int k = 0; k < N; ++k) w.integer(count[static_cast<size_t>(k)]);
}

bool writeSections(Writer& w, const Model& m, const Histories& h) {
  const int nb = m.body_num(), nj = m.joint_num(), nm = m.motion_num();
  const int nf = m.force_num(), nc = m.contact_num(), no = channelCount(m, h);
  const int N = h.anime_num > 0 ? h.anime_num : 0;

  w.text("Version\n");
  w.text(versionToken(h.version));
  w.text("\n%\n");
  // Channels that are not the model's output requests are named up front:
  // the reader needs their count, and their time span is not the model's.
  if (!h.channel_names.empty()) {
    w.text("channels\n");
    w.integer(no);
    for (const std::string& name : h.channel_names) {
      w.text(asToken(name.empty() ? "_" : name, kChannelNameMax));
      w.text("\n");
    }
    w.text("%\n");
  }
  w.text("time_num\n");
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
  if (nc > 0) writeContacts(w, h, N);
  w.text("%\noutput\n");
  if (no > 0) w.rows(h.p_output, N, no, static_cast<size_t>(no));
  w.text("%\n");
  return w.flush();
}

}  // namespace

std::string resultFilePath(const Model& m, const std::string& dir) {
  return joinPath(dir, "log/result_" + modelFileName(m.path));
}

std::string importFilePath(const Model& m, const std::string& dir) {
  return joinPath(dir, "log/import_" + modelFileName(m.path));
}

bool checkResultPath(const std::string& path, std::string& why) {
  if (checkWritableFile(path, why)) return true;
  why = "The result file " + path + " cannot be written: " + why;
  return false;
}

bool writeResultFileAt(const std::string& path, const Model& m, const Histories& h,
                       std::string* why) {
  const std::string name = modelFileName(m.path);
  cprintf("  %s\n", name.c_str());
  cprintf("  %s\n", path.c_str());
  std::string cause;
  auto failed = [&](const char* text) {
    cprintf("%s\n  %s\n", text, cause.c_str());
    if (why) *why = cause;
    return false;
  };

  std::string tmp;
  const int fd = createTemporaryFor(path, tmp, cause);
  if (fd < 0) return failed("FILE OPEN ERROR");
  cprintf("RESULT FILE OPEN !!\n");

  int err = 0;
  try {
    Writer w(fd);
    if (!writeSections(w, m, h)) err = w.error();
  } catch (const std::bad_alloc&) {
    err = ENOMEM;
    cause = "Not enough memory to write " + path;
  }
  // The data must be on disk before the rename makes it the result.
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0 && cause.empty()) cause = "cannot write " + path + ": " + reason(err);
  if (err == 0 && !replaceWithTemporary(tmp, path, cause)) return failed("FILE CLOSE ERROR");
  if (err != 0) {
    ::unlink(tmp.c_str());
    return failed("FILE CLOSE ERROR");
  }
  cprintf("FILE CLOSE !!\n");
  return true;
}

}  // namespace orv
