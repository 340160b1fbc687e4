// Places in text files, so that a reader's message can say where it stopped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

// 1-based line and column (counted in bytes) of a place in a text; 0 when
// not known.
struct SourcePos {
  int line = 0;
  int column = 0;
};

// Line and column of text[offset].
SourcePos positionIn(std::string_view text, std::size_t offset);

// "FILE:LINE:COLUMN: what"; the column, or line and column, are left out
// when they are 0 (and without a file, "line LINE: what" or just what). The
// one form every reader and check uses for the place of a fault.
std::string placeLine(const std::string& file, SourcePos pos, const std::string& what);

// Length of a UTF-8 byte-order mark at the start of text (3 or 0). Editors on
// some desktops write one; it is not part of the first token.
std::size_t byteOrderMarkLength(std::string_view text);

}  // namespace orv
