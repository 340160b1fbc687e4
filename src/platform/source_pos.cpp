#include "platform/source_pos.h"

namespace orv {

SourcePos positionIn(std::string_view text, std::size_t offset) {
  if (offset > text.size()) offset = text.size();
  SourcePos p{1, 1};
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i)
    if (text[i] == '\n') ++p.line, lineStart = i + 1;
  p.column = static_cast<int>(offset - lineStart) + 1;
  return p;
}

std::string placeLine(const std::string& file, SourcePos pos, const std::string& what) {
  // Records built in memory have neither a file nor a line.
  if (file.empty()) return pos.line > 0 ? "line " + std::to_string(pos.line) + ": " + what : what;
  std::string s = file;
  if (pos.line > 0) {
    s += ':' + std::to_string(pos.line);
    if (pos.column > 0) s += ':' + std::to_string(pos.column);
  }
  return s + ": " + what;
}

std::size_t byteOrderMarkLength(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

}  // namespace orv
