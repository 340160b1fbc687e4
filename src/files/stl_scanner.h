// The bytes of an STL file: white-space separated tokens streamed with their
// places, and the test for a binary STL's layout.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/source_pos.h"

namespace orv {

// Longest token kept; longer ones are consumed but never a valid number.
constexpr std::size_t kStlTokenKeep = 256;

// Streams white-space separated tokens from an open file without holding the
// whole file, so a huge file costs no memory, and keeps the place of each.
// Flags control bytes, which an ASCII STL never contains but a binary one
// practically always does. A byte-order mark at the start is skipped, as
// editors on some desktops write one; columns count from after it.
class StlScanner {
 public:
  explicit StlScanner(FILE* f) : f_(f) {}

  // Next token into tok; false at the end of the file, on a read error or on
  // a non-text byte (see binary() / failed()). `overlong` is set when the
  // token was longer than kStlTokenKeep and only its start is in tok.
  bool next(std::string& tok, bool& overlong);
  bool binary() const { return binary_; }
  bool failed() const { return failed_; }
  // Where the token last read starts; after a false next(), where reading
  // stopped: the non-text byte, or the end of the file.
  SourcePos at() const { return at_; }
  // The non-text byte met.
  unsigned char badByte() const { return bad_; }

 private:
  int get();

  FILE* f_;
  std::vector<char> buf_ = std::vector<char>(65536);  // heap: callers may run on small stacks
  std::size_t len_ = 0, pos_ = 0;
  bool start_ = true;
  bool binary_ = false;
  bool failed_ = false;
  unsigned char bad_ = 0;
  int line_ = 1, col_ = 1;
  SourcePos at_{1, 1}, stop_{1, 1};
};

// A binary STL is an 80-byte header, a little-endian triangle count and 50
// bytes per triangle. An ASCII file cannot match this below tens of
// gigabytes, since header bytes 80..83 as text make the count enormous.
// `count` is then the place of the count. Rewinds f.
bool hasBinaryLayout(FILE* f, long long size, SourcePos& count);

}  // namespace orv
