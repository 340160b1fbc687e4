#include "platform/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/text_file.h"

namespace orv {

namespace {

// Temporary files are "<kTempPrefix><pid>_<serial><kTempSuffix>".
constexpr std::string_view kTempPrefix = ".result_";
constexpr std::string_view kTempSuffix = ".tmp";

std::string reason(int err) { return std::strerror(err); }

std::string inFolder(const std::string& dir, const std::string& name) {
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The process a temporary file name belongs to; false for other names.
bool temporaryOwner(std::string_view name, long& pid) {
  if (name.size() <= kTempPrefix.size() + kTempSuffix.size() ||
      name.substr(0, kTempPrefix.size()) != kTempPrefix ||
      name.substr(name.size() - kTempSuffix.size()) != kTempSuffix)
    return false;
  name = name.substr(kTempPrefix.size(), name.size() - kTempPrefix.size() - kTempSuffix.size());
  const size_t cut = name.find('_');
  unsigned long serial;
  return cut != std::string_view::npos && toInteger(name.substr(0, cut), pid) && pid > 0 &&
         pid <= 0x7fffffff && toInteger(name.substr(cut + 1), serial);
}

// A writer killed between creating its temporary file and the rename leaves
// the file behind. Those whose process is gone are removed; a live one's
// (this process's included) may still be being written.
void removeStaleTemporaries(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    long pid;
    if (!temporaryOwner(e->d_name, pid)) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    ::unlink(inFolder(dir, e->d_name).c_str());
  }
  ::closedir(d);
}

// A new empty file in dir; -1 (errno set) when none can be created.
int createTemporary(const std::string& dir, std::string& tmp) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmp = inFolder(dir, std::string(kTempPrefix) + std::to_string(::getpid()) + "_" +
                            std::to_string(serial++) + std::string(kTempSuffix));
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Makes the folder if it is missing (one level, as log/ is).
bool ensureFolder(const std::string& dir, std::string& why) {
  if (::mkdir(dir.c_str(), 0777) == 0) return true;
  const int err = errno;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    why = "cannot use " + dir + " as a folder: " + reason(ENOTDIR);
    return false;
  }
  why = "cannot create the folder " + dir + ": " + reason(err);
  return false;
}

// Keeps a regular file at `path` as <path>.bak: a hard link, so that the file
// itself is never missing; where links are not possible, a rename (`moved`
// tells the caller to put it back should the replacement fail).
bool keepBackup(const std::string& path, bool& moved, std::string& why) {
  moved = false;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  const std::string bak = path + ".bak";
  if (::unlink(bak.c_str()) != 0 && errno != ENOENT) {
    why = "cannot replace " + bak + ": " + reason(errno);
    return false;
  }
  if (::link(path.c_str(), bak.c_str()) == 0) return true;
  if (::rename(path.c_str(), bak.c_str()) == 0) {
    moved = true;
    return true;
  }
  why = "cannot keep the previous file as " + bak + ": " + reason(errno);
  return false;
}

// The folder a path names a file in ("." for a bare name).
std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool checkWritableFile(const std::string& path, std::string& why) {
  struct stat st;
  if (path.empty() || path.back() == '/') {
    why = "not a file name";
    return false;
  }
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    why = reason(EISDIR);
    return false;
  }
  const std::string dir = folderOf(path);
  if (!ensureFolder(dir, why)) return false;
  std::string probe;
  const int fd = createTemporary(dir, probe);
  if (fd < 0) {
    why = "cannot create a file in " + dir + ": " + reason(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

int createTemporaryFor(const std::string& path, std::string& tmp, std::string& why) {
  const std::string dir = folderOf(path);
  if (!ensureFolder(dir, why)) return -1;
  removeStaleTemporaries(dir);
  const int fd = createTemporary(dir, tmp);
  if (fd < 0) why = "cannot create a file in " + dir + ": " + reason(errno);
  return fd;
}

bool replaceWithTemporary(const std::string& tmp, const std::string& path, std::string& why) {
  bool moved = false;
  bool ok = keepBackup(path, moved, why);
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    why = "cannot replace " + path + ": " + reason(errno);
    if (moved) ::rename((path + ".bak").c_str(), path.c_str());
    ok = false;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace orv
