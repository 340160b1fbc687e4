// The limits of an accepted STL file and the refusals of one beyond them:
// why (the text of the STL FILE ERROR line), where, what was found there and
// what was expected instead.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>

#include "platform/source_pos.h"

namespace orv {

class StlScanner;
struct Shape;

// Beyond this magnitude the squared lengths in the normal and circle
// computations could overflow; such files are refused rather than drawn with inf.
constexpr double kStlMaxCoord = 1e60;
inline bool stlInRange(double v) { return std::fabs(v) <= kStlMaxCoord; }  // false for NaN too

struct StlRefusal {
  std::string why;
  SourcePos at;
  std::string found, expected;
};

// A next() that found no token: a non-text byte, a read error, or the end of
// the file (`why` then).
StlRefusal noToken(const StlScanner& in, const std::string& why, const std::string& expected);
// The file ends before token `token` of facet `facet` (0-based, 21 tokens a facet).
StlRefusal endsInFacet(const StlScanner& in, int facet, int token);
// The token at in.at() is not "solid"; a facet beyond kStlMaxTriangles; a
// coordinate that is not a number; one out of range once scaled by `unit`.
StlRefusal notSolid(const StlScanner& in, const std::string& tok, bool overlong);
StlRefusal tooManyTriangles(const StlScanner& in, const std::string& tok, bool overlong);
StlRefusal notANumber(const StlScanner& in, int facet, const std::string& tok, bool overlong);
StlRefusal coordinateOutOfRange(const StlScanner& in, int facet, const std::string& tok,
                                bool overlong, double unit);
// A binary STL's layout, its triangle count at `count`.
StlRefusal binaryLayout(SourcePos count);
// The vertex at `at` makes node kStlMaxNodes + 1.
StlRefusal tooManyNodes(SourcePos at);
// Node `node` (0-based) of the shape's mesh placed at x by its frame; the
// place is the shape's record.
StlRefusal placedOutOfRange(const Shape& sh, std::size_t node, const double* x);

}  // namespace orv
