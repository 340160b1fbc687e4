#include "platform/tokens.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/text_file.h"

namespace orv {

// The C locale's white space: what fscanf("%s") skips.
static bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

TokenReader::TokenReader(const std::string& path) {
  // A pipe nobody writes to would block the open, and /dev/zero would fill
  // the memory: only regular files of bounded size are read.
  std::vector<char> text;
  if (loadTextFile(path, text) != TextLoad::kOk) return;
  text_.assign(text.begin(), text.end());
  ok_ = true;
}

FILE* openInputFile(const std::string& path, struct stat& st) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // A directory opens but reads as nothing: treat it as missing.
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  // Blocking reads again: a pipe without a writer still ends at once.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* f = ::fdopen(fd, "rb");
  if (!f) ::close(fd);
  return f;
}

void TokenReader::skipBlanks() {
  while (pos_ < text_.size() && isBlank(text_[pos_])) {
    if (text_[pos_] == '\n') ++line_, lineStart_ = pos_ + 1;
    ++pos_;
  }
}

bool TokenReader::next(std::string& tok) {
  skipBlanks();
  size_t start = pos_;
  last_ = SourcePos{line_, static_cast<int>(start - lineStart_) + 1};
  lastOffset_ = start;
  while (pos_ < text_.size() && !isBlank(text_[pos_])) ++pos_;
  tok.assign(text_, start, pos_ - start);
  return pos_ > start;
}

std::string TokenReader::peek(int& at) {
  const size_t pos = pos_, lineStart = lineStart_, lastOffset = lastOffset_;
  const int line = line_;
  const SourcePos last = last_;
  std::string tok;
  next(tok);
  at = last_.line;
  pos_ = pos, lineStart_ = lineStart, lastOffset_ = lastOffset, line_ = line, last_ = last;
  return tok;
}

bool TokenReader::atEnd() {
  skipBlanks();
  return pos_ >= text_.size();
}

bool parseDouble(const std::string& tok, double& out) {
  if (tok.empty()) return false;
  const char* s = tok.c_str();
  char* end = nullptr;
  double v = std::strtod(s, &end);
  if (end == s || *end != '\0') return false;
  out = v;
  return true;
}

bool parseInt(const std::string& tok, int& out) {
  if (tok.empty()) return false;
  const char* s = tok.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

int truncToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace orv
