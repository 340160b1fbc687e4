#include "files/stl_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "model/model.h"
#include "platform/source_pos.h"
#include "platform/tokens.h"
#include "platform/console.h"
#include "contact/placed_mesh.h"
#include "files/node_merge.h"
#include "math/vec3.h"

namespace orv {

namespace {

// Beyond this magnitude the squared lengths in the normal and circle
// computations could overflow; such files are refused rather than drawn with inf.
constexpr double kMaxCoord = 1e60;
// Longest token kept; longer ones are consumed but never a valid number.
constexpr size_t kTokenKeep = 256;

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
  // token was longer than kTokenKeep and only its start is in tok.
  bool next(std::string& tok, bool& overlong) {
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
      if (tok.size() < kTokenKeep)
        tok.push_back(static_cast<char>(c));
      else
        overlong = true;
      // The rest of the token as far as it is in the buffer, at once (no
      // line ends in it).
      const size_t from = pos_;
      while (pos_ < len_ && isTokenByte(static_cast<unsigned char>(buf_[pos_]))) ++pos_;
      col_ += static_cast<int>(pos_ - from);
      const size_t room = kTokenKeep - std::min(tok.size(), kTokenKeep);
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
  bool binary() const { return binary_; }
  bool failed() const { return failed_; }
  // Where the token last read starts; after a false next(), where reading
  // stopped: the non-text byte, or the end of the file.
  SourcePos at() const { return at_; }
  // The non-text byte met.
  unsigned char badByte() const { return bad_; }

 private:
  static bool isTokenByte(int c) { return c > 0x20 && c != 0x7f; }  // neither blank nor control
  static bool isBlank(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }
  // The next byte, counting lines and columns: (line_, col_) is the place of
  // the byte after it.
  int get() {
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

  FILE* f_;
  std::vector<char> buf_ = std::vector<char>(65536);  // heap: callers may run on small stacks
  size_t len_ = 0, pos_ = 0;
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
// `count` is then the place of the count.
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

// Why a file is refused (the text of the STL FILE ERROR line), and where:
// what was found there and what was expected instead.
struct Refusal {
  std::string why;
  SourcePos at;
  std::string found, expected;
};

bool inRange(double v) { return std::fabs(v) <= kMaxCoord; }  // false for NaN too

// A token as a message quotes it: at most 32 characters.
std::string quoted(const std::string& tok, bool overlong) {
  return "\"" + tok.substr(0, 32) + (overlong || tok.size() > 32 ? "..." : "") + "\"";
}

// parseDouble's result, several times faster on plain decimal numbers:
// from_chars rounds correctly as strtod does, so the doubles are the same.
// Whatever it does not take whole (a '+' sign, hex, out of range), or what
// does not end in a digit or '.' (inf, nan), goes to parseDouble, and so does
// everything where strtod's decimal point is not '.' (`plainDecimals` false).
bool parseCoordinate(const std::string& tok, bool plainDecimals, double& x) {
  if (plainDecimals && !tok.empty() &&
      ((tok.back() >= '0' && tok.back() <= '9') || tok.back() == '.')) {
    const char* end = tok.data() + tok.size();
    double v;
    const std::from_chars_result r = std::from_chars(tok.data(), end, v);
    if (r.ec == std::errc() && r.ptr == end) {
      x = v;
      return true;
    }
  }
  return parseDouble(tok, x);
}

// The refusal for a next() that found no token: a non-text byte, a read
// error, or the end of the file (`why` then).
Refusal noToken(const StlScanner& in, const std::string& why, const std::string& expected) {
  if (in.binary()) {
    char byte[40];
    std::snprintf(byte, sizeof byte, "byte 0x%02X", in.badByte());
    return {"binary STL is not supported", in.at(), byte, "ASCII STL text"};
  }
  if (in.failed()) return {"read error", in.at(), "a read error", expected};
  return {why, in.at(), "the end of the file", expected};
}

// What each token of a facet is, in order (the keywords are not compared:
// the file's layout is trusted).
constexpr const char* kFacetTokens[] = {
    "`facet` or `endsolid`", "`normal`", "a number", "a number", "a number", "`outer`", "`loop`",
    "`vertex`", "a number", "a number", "a number", "`vertex`", "a number", "a number", "a number",
    "`vertex`", "a number", "a number", "a number", "`endloop`", "`endfacet`"};
// The part of the facet the file ends in, as the error names it.
const char* facetPart(int token) {
  return token < 7 ? "normal" : token < 19 ? "vertex" : token == 19 ? "endloop" : "endfacet";
}

// Reads facets after the header into corners (3 doubles per corner, scaled)
// and the place of each corner's `vertex` token. Throws Refusal on anything
// outside the accepted grammar or limits.
void readFacets(StlScanner& in, double unit, std::vector<double>& corners,
                std::vector<SourcePos>& cornerAt) {
  std::string tok;
  bool overlong = false;
  const bool plainDecimals = std::strcmp(std::localeconv()->decimal_point, ".") == 0;
  for (int facet = 0;; ++facet) {
    for (int k = 0; k < 21; ++k) {
      if (!in.next(tok, overlong)) {
        char msg[96];
        if (k == 0)
          std::snprintf(msg, sizeof msg, "file ends before \"endsolid\"");
        else
          std::snprintf(msg, sizeof msg, "file ends inside facet %d (%s)", facet + 1, facetPart(k));
        throw noToken(in, msg, kFacetTokens[k]);
      }
      if (k == 0) {
        if (!overlong && tok == "endsolid") return;
        // Refuse at the first facet beyond the limit, before reading it.
        if (facet >= kStlMaxTriangles) {
          char msg[64], expected[64];
          std::snprintf(msg, sizeof msg, "more than %d triangles", kStlMaxTriangles);
          std::snprintf(expected, sizeof expected, "`endsolid` after %d triangles",
                        kStlMaxTriangles);
          throw Refusal{msg, in.at(), quoted(tok, overlong), expected};
        }
      }
      if (k >= 7 && k < 19 && (k - 7) % 4 == 0) cornerAt.push_back(in.at());
      // The stored normal (k 2..4) is recomputed; only corners are numbers.
      if (k < 8 || k >= 19 || (k - 7) % 4 == 0) continue;
      double x = 0.0;
      if (overlong || !parseCoordinate(tok, plainDecimals, x)) {
        char msg[128];
        std::snprintf(msg, sizeof msg, "facet %d: %s is not a number", facet + 1,
                      quoted(tok, overlong).c_str());
        throw Refusal{msg, in.at(), quoted(tok, overlong), "a number"};
      }
      x *= unit;
      if (!inRange(x)) {
        char msg[96], expected[96];
        std::snprintf(msg, sizeof msg, "facet %d: coordinate not finite or beyond %.0e", facet + 1,
                      kMaxCoord);
        std::snprintf(expected, sizeof expected,
                      "a number within %.0e once scaled by the unit %g", kMaxCoord, unit);
        throw Refusal{msg, in.at(), quoted(tok, overlong), expected};
      }
      corners.push_back(x);
    }
  }
}

void clearMesh(Shape& sh) {
  sh.node_num = sh.vertex_num = sh.stl_num = 0;
  sh.mesh.reset();
  mat3Identity(sh.mesh_A);
  sh.mesh_pos[0] = sh.mesh_pos[1] = sh.mesh_pos[2] = 0.0;
  sh.stl_file.clear();
  sh.stl_error.clear();
}

struct FileCloser {
  FILE* f;
  ~FileCloser() { std::fclose(f); }
};

// The places tried for `name`: as given, and beside the model file when that
// is another place (resolveModelFile's order).
std::string placesTried(const Model& m, const std::string& name) {
  std::string s = name;
  const size_t slash = m.path.find_last_of('/');
  if (!name.empty() && name[0] != '/' && slash != std::string::npos)
    s += " and " + m.path.substr(0, slash + 1) + name;
  return s;
}

// Reads and merges the mesh of an open file. Prints as it goes; throws
// Refusal.
std::shared_ptr<const StlMesh> readMesh(FILE* f, const struct stat& st, const std::string& path,
                                        double unit, long long coordAt, long long normalAt,
                                        long long triAt) {
  std::vector<double> corners;  // scaled, file order, 3 per corner
  std::vector<SourcePos> cornerAt;
  SourcePos count;
  if (S_ISREG(st.st_mode) && hasBinaryLayout(f, static_cast<long long>(st.st_size), count))
    throw Refusal{"binary STL is not supported", count, "a binary STL's triangle count",
                  "ASCII STL text"};
  StlScanner in(f);
  std::string tok;
  bool overlong = false;
  if (!in.next(tok, overlong)) throw noToken(in, "does not start with \"solid\"", "`solid`");
  if (overlong || tok != "solid")
    throw Refusal{"does not start with \"solid\"", in.at(), quoted(tok, overlong), "`solid`"};
  if (!in.next(tok, overlong))  // the solid's name, ignored
    throw noToken(in, "file ends before \"endsolid\"", "the solid's name");
  cprintf("  unit=%.3e, ", unit);
  // A facet takes at least 42 bytes (21 tokens and their separators), so
  // these bounds spare the copies of growing vectors.
  if (S_ISREG(st.st_mode)) {
    const size_t facets = static_cast<size_t>(
        std::min<long long>(static_cast<long long>(st.st_size) / 42, kStlMaxTriangles));
    corners.reserve(9 * facets);
    cornerAt.reserve(3 * facets);
  }
  readFacets(in, unit, corners, cornerAt);

  const int stl_num = static_cast<int>(corners.size() / 9);
  cprintf("  stl_num=%d, ", stl_num);
  cprintf("  v_stl_coord:%lld, ", coordAt);
  cprintf("  v_stl_normal:%lld, ", normalAt);
  cprintf("  v_stl_tri:%lld, ", triAt);

  auto mesh = std::make_shared<StlMesh>();
  mesh->path = path;
  mesh->unit = unit;
  mergeNodes(corners, mesh->node, mesh->tri);
  if (mesh->node.size() / 3 > static_cast<size_t>(kStlMaxNodes)) {
    // The corner that started the first node beyond the limit.
    size_t k = 0;
    while (mesh->tri[k] < kStlMaxNodes) ++k;
    char msg[64], expected[64];
    std::snprintf(msg, sizeof msg, "more than %d nodes", kStlMaxNodes);
    std::snprintf(expected, sizeof expected, "at most %d distinct corners", kStlMaxNodes);
    throw Refusal{msg, cornerAt[k], "a vertex making node " + std::to_string(kStlMaxNodes + 1),
                  expected};
  }
  mesh->node.shrink_to_fit();  // mergeNodes reserved room for every corner
  return mesh;
}

}  // namespace

bool readStl(Model& m, int shape, const std::string& name) {
  const std::string path = resolveModelFile(m, name);
  if (shape < 0 || shape >= m.shape_num()) {
    cprintf("  STL FILE ERROR: %s: no shape %d\n", path.c_str(), shape);
    return false;
  }
  Shape& sh = m.shapes[shape];
  clearMesh(sh);
  sh.stl_file = path;
  StlLists& L = m.stl;

  // Read before at the same unit, bit for bit: -0.0 scales to other corners.
  std::shared_ptr<const StlMesh> mesh;
  for (const auto& known : L.meshes)
    if (known->path == path && std::memcmp(&known->unit, &sh.unit, sizeof sh.unit) == 0)
      mesh = known;

  // The open line may still be pending, so a refusal starts a line of its
  // own; the next one says where, in the mesh file or, for `place` false, in
  // the model file's shape record.
  auto refuse = [&](const Refusal& r, bool inMesh = true) {
    cprintf("\n  STL FILE ERROR: %s: %s\n", path.c_str(), r.why.c_str());
    const std::string what = "found " + r.found + ", expected " + r.expected;
    cprintf("%s\n", (inMesh ? placeLine(path, r.at, what)
                            : placeLine(m.path, r.at, "shape " + sh.name + ": " + what))
                        .c_str());
    clearMesh(sh);
    sh.stl_file = path;
    sh.stl_error = r.why;
    return false;
  };

  if (mesh) {
    // Printed as for a first reading, so that every shape shows its mesh.
    cprintf("  STL FILE OPEN,  ");
    cprintf("  unit=%.3e, ", sh.unit);
    cprintf("  stl_num=%d, ", mesh->stl_num());
    cprintf("  v_stl_coord:%lld, ", L.coord_count);
    cprintf("  v_stl_normal:%lld, ", L.normal_count);
    cprintf("  v_stl_tri:%lld, ", L.tri_count);
  } else {
    struct stat st;
    errno = 0;
    FILE* f = openInputFile(path, st);
    if (!f) {
      const int err = errno;
      struct stat probe;
      const bool dir = ::stat(path.c_str(), &probe) == 0 && S_ISDIR(probe.st_mode);
      sh.stl_error = std::string("cannot be opened (") +
                     (dir ? "a directory" : err ? std::strerror(err) : "not readable") +
                     "; looked for " + placesTried(m, name) + ")";
      cprintf("  STL FILE OPEN ERROR\n");
      cprintf("%s\n", placeLine(m.path, {sh.line, 0},
                                "shape " + sh.name + ": mesh file " + name + " " + sh.stl_error)
                          .c_str());
      return false;
    }
    FileCloser closer{f};
    cprintf("  STL FILE OPEN,  ");
    try {
      mesh = readMesh(f, st, path, sh.unit, L.coord_count, L.normal_count, L.tri_count);
    } catch (const Refusal& r) {
      return refuse(r);
    }
    L.meshes.push_back(mesh);
  }
  const int node_num = mesh->node_num(), stl_num = mesh->stl_num();
  cprintf("  node_num=%d, ", node_num);

  // An unresolved reference frame places the mesh as given.
  double A[9], p[3] = {0.0, 0.0, 0.0};
  mat3Identity(A);
  if (sh.lc >= 0 && sh.lc < m.frame_num()) {
    const LocalCoordinate& lc = m.frames[sh.lc];
    mat3RotationZXZ(A, degToRad(lc.ang[0]), degToRad(lc.ang[1]), degToRad(lc.ang[2]));
    p[0] = lc.pos[0]; p[1] = lc.pos[1]; p[2] = lc.pos[2];
  }
  std::vector<double> placed;
  placeNodes(*mesh, A, p, placed);
  for (size_t i = 0; i < placed.size(); i += 3)
    if (!inRange(placed[i]) || !inRange(placed[i + 1]) || !inRange(placed[i + 2])) {
      // The frame (or the unit) put it there: the place is the shape's record.
      char why[80], found[160];
      std::snprintf(why, sizeof why, "placed coordinate not finite or beyond %.0e", kMaxCoord);
      std::snprintf(found, sizeof found, "node %zu of the mesh placed at (%g, %g, %g)", i / 3 + 1,
                    placed[i], placed[i + 1], placed[i + 2]);
      return refuse({why, {sh.line, 0}, found, "coordinates within 1e+60 through frame " + sh.frame},
                    false);
    }

  // Accepted: only now touch the shape and the running lengths.
  sh.mesh = mesh;
  std::memcpy(sh.mesh_A, A, sizeof A);
  std::memcpy(sh.mesh_pos, p, sizeof p);
  sh.stl_num = stl_num;
  sh.vertex_num = 3 * stl_num;
  sh.node_num = node_num;
  L.coord_count += 3LL * node_num;
  L.normal_count += 3LL * stl_num;
  L.tri_count += 3LL * stl_num;
  cprintf("  stl_num=%d, ", stl_num);
  cprintf("  node_num=%d\n", node_num);
  return true;
}

}  // namespace orv
