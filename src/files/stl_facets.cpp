#include "files/stl_facets.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstring>
#include <vector>

#include "files/node_merge.h"
#include "files/stl_refusal.h"
#include "files/stl_scanner.h"
#include "model/model.h"
#include "platform/console.h"
#include "platform/tokens.h"

namespace orv {

namespace {

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

// Reads facets after the header into corners (3 doubles per corner, scaled)
// and the place of each corner's `vertex` token. Throws StlRefusal.
void readFacets(StlScanner& in, double unit, std::vector<double>& corners,
                std::vector<SourcePos>& cornerAt) {
  std::string tok;
  bool overlong = false;
  const bool plainDecimals = std::strcmp(std::localeconv()->decimal_point, ".") == 0;
  for (int facet = 0;; ++facet) {
    for (int k = 0; k < 21; ++k) {
      if (!in.next(tok, overlong)) throw endsInFacet(in, facet, k);
      if (k == 0) {
        if (!overlong && tok == "endsolid") return;
        // Refuse at the first facet beyond the limit, before reading it.
        if (facet >= kStlMaxTriangles) throw tooManyTriangles(in, tok, overlong);
      }
      if (k >= 7 && k < 19 && (k - 7) % 4 == 0) cornerAt.push_back(in.at());
      // The stored normal (k 2..4) is recomputed; only corners are numbers.
      if (k < 8 || k >= 19 || (k - 7) % 4 == 0) continue;
      double x = 0.0;
      if (overlong || !parseCoordinate(tok, plainDecimals, x))
        throw notANumber(in, facet, tok, overlong);
      x *= unit;
      if (!stlInRange(x)) throw coordinateOutOfRange(in, facet, tok, overlong, unit);
      corners.push_back(x);
    }
  }
}

}  // namespace

std::shared_ptr<const StlMesh> readMesh(FILE* f, const struct stat& st, const std::string& path,
                                        double unit, long long coordAt, long long normalAt,
                                        long long triAt, bool quiet) {
  std::vector<double> corners;  // scaled, file order, 3 per corner
  std::vector<SourcePos> cornerAt;
  SourcePos count;
  if (S_ISREG(st.st_mode) && hasBinaryLayout(f, static_cast<long long>(st.st_size), count))
    throw binaryLayout(count);
  StlScanner in(f);
  std::string tok;
  bool overlong = false;
  if (!in.next(tok, overlong)) throw noToken(in, "does not start with \"solid\"", "`solid`");
  if (overlong || tok != "solid") throw notSolid(in, tok, overlong);
  if (!in.next(tok, overlong))  // the solid's name, ignored
    throw noToken(in, "file ends before \"endsolid\"", "the solid's name");
  if (!quiet) cprintf("  unit=%.3e, ", unit);
  // A facet takes at least 42 bytes (21 tokens and their separators), so
  // these bounds spare the copies of growing vectors.
  if (S_ISREG(st.st_mode)) {
    const size_t facets = static_cast<size_t>(
        std::min<long long>(static_cast<long long>(st.st_size) / 42, kStlMaxTriangles));
    corners.reserve(9 * facets);
    cornerAt.reserve(3 * facets);
  }
  readFacets(in, unit, corners, cornerAt);

  if (!quiet) {
    cprintf("  stl_num=%d, ", static_cast<int>(corners.size() / 9));
    cprintf("  v_stl_coord:%lld, ", coordAt);
    cprintf("  v_stl_normal:%lld, ", normalAt);
    cprintf("  v_stl_tri:%lld, ", triAt);
  }

  auto mesh = std::make_shared<StlMesh>();
  mesh->path = path;
  mesh->unit = unit;
  mergeNodes(corners, mesh->node, mesh->tri);
  if (mesh->node.size() / 3 > static_cast<size_t>(kStlMaxNodes)) {
    // The corner that started the first node beyond the limit.
    size_t k = 0;
    while (mesh->tri[k] < kStlMaxNodes) ++k;
    throw tooManyNodes(cornerAt[k]);
  }
  mesh->node.shrink_to_fit();  // mergeNodes reserved room for every corner
  return mesh;
}

void printMeshRead(const StlMesh& mesh, long long coordAt, long long normalAt, long long triAt) {
  cprintf("  unit=%.3e, ", mesh.unit);
  cprintf("  stl_num=%d, ", mesh.stl_num());
  cprintf("  v_stl_coord:%lld, ", coordAt);
  cprintf("  v_stl_normal:%lld, ", normalAt);
  cprintf("  v_stl_tri:%lld, ", triAt);
}

}  // namespace orv
