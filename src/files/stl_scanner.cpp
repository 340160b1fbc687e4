#include "files/stl_scanner.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace orv {

namespace {

bool isTokenByte(int c) { return c > 0x20 && c != 0x7f; }  // neither blank nor control
bool isBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

// The next byte, counting lines and columns: (line_, col_) is the place of
// the byte after it.
inline int StlScanner::get() {
  if (pos_ == len_) {
    len_ = std::fread(buf_.data(), 1, buf_.size(), f_);
    pos_ = 0;
    if (start_) {
      start_ = false;
      pos_ = byteOrderMarkLength(std::string_view(buf_.data(), len_));
    }
    if (pos_ == len_) {
      if (std::ferror(f_)) failed_ = true;
      stop_ = {line_, col_};
      return -1;
    }
  }
  const int c = static_cast<unsigned char>(buf_[pos_++]);
  if ((c < 0x20 && !isBlank(c)) || c == 0x7f) {
    binary_ = true;
    bad_ = static_cast<unsigned char>(c);
    stop_ = {line_, col_};
    return -1;
  }
  if (c == '\n')
    ++line_, col_ = 1;
  else
    ++col_;
  return c;
}

bool StlScanner::next(std::string& tok, bool& overlong) {
  tok.clear();
  overlong = false;
  int c;
  do {
    c = get();
    if (c < 0) {
      at_ = stop_;
      return false;
    }
  } while (isBlank(c));
  at_ = {line_, col_ - 1};
  while (c >= 0 && !isBlank(c)) {
    if (tok.size() < kStlTokenKeep)
      tok.push_back(static_cast<char>(c));
    else
      overlong = true;
    // The rest of the token as far as it is in the buffer, at once (no
    // line ends in it).
    const std::size_t from = pos_;
    while (pos_ < len_ && isTokenByte(static_cast<unsigned char>(buf_[pos_]))) ++pos_;
    col_ += static_cast<int>(pos_ - from);
    const std::size_t room = kStlTokenKeep - std::min(tok.size(), kStlTokenKeep);
    tok.append(&buf_[from], std::min(pos_ - from, room));
    if (pos_ - from > room) overlong = true;
    c = get();
  }
  if (binary_ || failed_) {
    at_ = stop_;
    return false;
  }
  return true;
}

bool hasBinaryLayout(FILE* f, long long size, SourcePos& count) {
  if (size < 84) return false;
  unsigned char h[84];
  const bool ok = std::fread(h, 1, 84, f) == 84;
  std::rewind(f);
  if (!ok) return false;
  const uint64_t n = static_cast<uint64_t>(h[80]) | static_cast<uint64_t>(h[81]) << 8 |
                     static_cast<uint64_t>(h[82]) << 16 | static_cast<uint64_t>(h[83]) << 24;
  count = positionIn(std::string_view(reinterpret_cast<const char*>(h), 84), 80);
  return static_cast<uint64_t>(size) == 84 + 50 * n;
}

}  // namespace orv
