// Whole-file loading and blank-separated tokens, shared by the readers of
// result and motion files (the loader also feeds the token reader of model
// and settings files). Numbers go through from_chars rather than strtod: it
// ignores the process locale, which the GUI toolkit sets from the
// environment (a decimal comma would break every file).
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Larger files are refused outright; a real result or motion is far smaller.
constexpr uint64_t kMaxTextFileBytes = uint64_t(4) << 30;

enum class TextLoad { kOk, kCannotOpen, kTooLarge, kReadError };

// Whole content of a regular file, without a leading UTF-8 byte-order mark.
// Anything else (a directory, a pipe that
// could block forever, a device) counts as not openable.
TextLoad loadTextFile(const std::string& path, std::vector<char>& text);

// The C locale's white space.
inline bool isBlankChar(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// A token as it may appear in a message: short and printable.
std::string shownToken(std::string_view tok);

// from_chars takes no leading '+', which the numeric input of C accepts.
inline std::string_view withoutPlus(std::string_view t) {
  if (t.size() > 1 && t[0] == '+' && t[1] != '+' && t[1] != '-') t.remove_prefix(1);
  return t;
}

// The whole token is a finite decimal number.
bool toFiniteDouble(std::string_view t, double& v);
// The whole token is a decimal number, an infinity or a NaN (as the writers
// of this program spell them: "inf", "-inf", "nan", "-nan").
bool toDouble(std::string_view t, double& v);

// The whole token is a decimal integer that fits Int.
template <class Int>
bool toInteger(std::string_view t, Int& v) {
  t = withoutPlus(t);
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

// Blank-separated tokens of text in memory (not owned).
class TextTokens {
 public:
  TextTokens(const char* begin, const char* end) : b_(begin), p_(begin), e_(end), t_(begin) {}
  explicit TextTokens(const std::vector<char>& text)
      : TextTokens(text.data(), text.data() + text.size()) {}

  // Next token; empty at the end of the text.
  std::string_view next() {
    while (p_ < e_ && isBlankChar(*p_)) ++p_;
    t_ = p_;
    while (p_ < e_ && !isBlankChar(*p_)) ++p_;
    return std::string_view(t_, static_cast<size_t>(p_ - t_));
  }
  // Next token without taking it.
  std::string_view peek() {
    const char *p = p_, *t = t_;
    const std::string_view v = next();
    p_ = p, t_ = t;
    return v;
  }
  // True when only blanks are left.
  bool atEnd() {
    while (p_ < e_ && isBlankChar(*p_)) ++p_;
    return p_ == e_;
  }
  // Bytes not yet read: the bound on what the rest of the text can hold.
  uint64_t remaining() const { return static_cast<uint64_t>(e_ - p_); }
  // Offset in the text of the token last read (the end of the text after
  // the last one): where a message about it points.
  size_t offset() const { return static_cast<size_t>(t_ - b_); }
  // The whole text, for turning an offset into a line and column.
  std::string_view text() const { return std::string_view(b_, static_cast<size_t>(e_ - b_)); }

 private:
  const char* b_;
  const char* p_;
  const char* e_;
  const char* t_;  // start of the token last read
};

}  // namespace orv
