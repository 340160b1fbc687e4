// White-space separated tokens of a text file, the lexical form of the model,
// settings, STL and motion files.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/source_pos.h"

namespace orv {

class TokenReader {
 public:
  // Reads the whole file; ok() is false when it cannot be opened or is not a
  // regular file (a directory, a pipe, a device).
  explicit TokenReader(const std::string& path);

  bool ok() const { return ok_; }
  // The next token into `tok`; false (tok emptied) at the end of the text.
  bool next(std::string& tok);
  // True when only white space is left.
  bool atEnd();
  // The token next() would return, without taking it ("" at the end), and
  // the line it stands on.
  std::string peek(int& line);

  // Where the token last returned by next() starts (after the end of the
  // text: where the text ends).
  SourcePos pos() const { return last_; }
  // Byte offset of that token in text().
  size_t offset() const { return lastOffset_; }
  // The whole text, without a leading byte-order mark.
  const std::string& text() const { return text_; }

 private:
  // Skips white space, counting lines as it goes.
  void skipBlanks();

  std::string text_;
  size_t pos_ = 0;
  bool ok_ = false;
  int line_ = 1;          // line of pos_
  size_t lineStart_ = 0;  // offset where that line starts
  SourcePos last_;
  size_t lastOffset_ = 0;
};

// Opens a file the model names (mesh, image) for reading; nullptr for a
// directory or a file that cannot be opened, with its status in st. A pipe
// that nobody writes to reads as empty instead of blocking.
FILE* openInputFile(const std::string& path, struct stat& st);

// Whole text parses as a decimal floating-point number (strtod syntax).
bool parseDouble(const std::string& tok, double& out);
// Whole text parses as a decimal integer that fits an int.
bool parseInt(const std::string& tok, int& out);
// Truncates toward zero with a defined result for NaN (0) and out-of-range values (clamped).
int truncToInt(double v);

}  // namespace orv
