#include "files/stl_refusal.h"

#include <cstdio>

#include "files/stl_scanner.h"
#include "model/model.h"

namespace orv {

namespace {

// A token as a message quotes it: at most 32 characters.
std::string quoted(const std::string& tok, bool overlong) {
  return "\"" + tok.substr(0, 32) + (overlong || tok.size() > 32 ? "..." : "") + "\"";
}

// What each token of a facet is, in order (the keywords are not compared:
// the file's layout is trusted).
constexpr const char* kFacetTokens[] = {"`facet` or `endsolid`",
                                        "`normal`",
                                        "a number",
                                        "a number",
                                        "a number",
                                        "`outer`",
                                        "`loop`",
                                        "`vertex`",
                                        "a number",
                                        "a number",
                                        "a number",
                                        "`vertex`",
                                        "a number",
                                        "a number",
                                        "a number",
                                        "`vertex`",
                                        "a number",
                                        "a number",
                                        "a number",
                                        "`endloop`",
                                        "`endfacet`"};

// The part of the facet the file ends in, as the error names it.
const char* facetPart(int token) {
  return token < 7 ? "normal" : token < 19 ? "vertex" : token == 19 ? "endloop" : "endfacet";
}

}  // namespace

StlRefusal noToken(const StlScanner& in, const std::string& why, const std::string& expected) {
  if (in.binary()) {
    char byte[40];
    std::snprintf(byte, sizeof byte, "byte 0x%02X", in.badByte());
    return {"binary STL is not supported", in.at(), byte, "ASCII STL text"};
  }
  if (in.failed()) return {"read error", in.at(), "a read error", expected};
  return {why, in.at(), "the end of the file", expected};
}

StlRefusal endsInFacet(const StlScanner& in, int facet, int token) {
  char msg[96];
  if (token == 0)
    std::snprintf(msg, sizeof msg, "file ends before \"endsolid\"");
  else
    std::snprintf(msg, sizeof msg, "file ends inside facet %d (%s)", facet + 1, facetPart(token));
  return noToken(in, msg, kFacetTokens[token]);
}

StlRefusal notSolid(const StlScanner& in, const std::string& tok, bool overlong) {
  return {"does not start with \"solid\"", in.at(), quoted(tok, overlong), "`solid`"};
}

StlRefusal tooManyTriangles(const StlScanner& in, const std::string& tok, bool overlong) {
  char msg[64], expected[64];
  std::snprintf(msg, sizeof msg, "more than %d triangles", kStlMaxTriangles);
  std::snprintf(expected, sizeof expected, "`endsolid` after %d triangles", kStlMaxTriangles);
  return {msg, in.at(), quoted(tok, overlong), expected};
}

StlRefusal notANumber(const StlScanner& in, int facet, const std::string& tok, bool overlong) {
  char msg[128];
  std::snprintf(msg, sizeof msg, "facet %d: %s is not a number", facet + 1,
                quoted(tok, overlong).c_str());
  return {msg, in.at(), quoted(tok, overlong), "a number"};
}

StlRefusal coordinateOutOfRange(const StlScanner& in, int facet, const std::string& tok,
                                bool overlong, double unit) {
  char msg[96], expected[96];
  std::snprintf(msg, sizeof msg, "facet %d: coordinate not finite or beyond %.0e", facet + 1,
                kStlMaxCoord);
  std::snprintf(expected, sizeof expected, "a number within %.0e once scaled by the unit %g",
                kStlMaxCoord, unit);
  return {msg, in.at(), quoted(tok, overlong), expected};
}

StlRefusal binaryLayout(SourcePos count) {
  return {"binary STL is not supported", count, "a binary STL's triangle count", "ASCII STL text"};
}

StlRefusal tooManyNodes(SourcePos at) {
  char msg[64], expected[64];
  std::snprintf(msg, sizeof msg, "more than %d nodes", kStlMaxNodes);
  std::snprintf(expected, sizeof expected, "at most %d distinct corners", kStlMaxNodes);
  return {msg, at, "a vertex making node " + std::to_string(kStlMaxNodes + 1), expected};
}

StlRefusal placedOutOfRange(const Shape& sh, std::size_t node, const double* x) {
  char why[80], found[160];
  std::snprintf(why, sizeof why, "placed coordinate not finite or beyond %.0e", kStlMaxCoord);
  std::snprintf(found, sizeof found, "node %zu of the mesh placed at (%g, %g, %g)", node + 1, x[0],
                x[1], x[2]);
  return {why, {sh.line, 0}, found, "coordinates within 1e+60 through frame " + sh.frame};
}

}  // namespace orv
