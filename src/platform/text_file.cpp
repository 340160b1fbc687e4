#include "platform/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "platform/source_pos.h"

namespace orv {

TextLoad loadTextFile(const std::string& path, std::vector<char>& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return TextLoad::kCannotOpen;
  struct stat st;
  TextLoad res = TextLoad::kOk;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    res = TextLoad::kCannotOpen;
  } else if (static_cast<uint64_t>(st.st_size) > kMaxTextFileBytes) {
    res = TextLoad::kTooLarge;
  } else {
    // A file growing while it is read is taken at its size at opening.
    text.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
      if (n > 0)
        done += static_cast<size_t>(n);
      else if (n < 0 && errno == EINTR)
        continue;
      else if (n == 0)
        break;
      else {
        res = TextLoad::kReadError;
        break;
      }
    }
    text.resize(done);
    const size_t bom = byteOrderMarkLength(std::string_view(text.data(), text.size()));
    text.erase(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(bom));
  }
  ::close(fd);
  return res;
}

std::string shownToken(std::string_view tok) {
  std::string s = "'";
  for (size_t i = 0; i < tok.size() && i < 24; ++i) {
    const unsigned char c = static_cast<unsigned char>(tok[i]);
    s += (c < 0x20 || c >= 0x7f) ? '?' : static_cast<char>(c);
  }
  if (tok.size() > 24) s += "...";
  return s + "'";
}

bool toDouble(std::string_view t, double& v) {
  t = withoutPlus(t);
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

bool toFiniteDouble(std::string_view t, double& v) { return toDouble(t, v) && std::isfinite(v); }

}  // namespace orv
