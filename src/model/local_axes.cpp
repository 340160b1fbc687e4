#include "model/local_axes.h"

#include <vector>

#include "math/vec3.h"
#include "model/model.h"

namespace orv {

const double* localAxesRef(const Model& m, int lc) {
  // Six sines and cosines per call add up in every joint and measure, while
  // the angles only change when a model is read; the cached matrix is checked
  // against the angles it was made from, so any model may be passed.
  struct Entry {
    double ang[3] = {0, 0, 0};
    double E[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  };
  thread_local std::vector<Entry> cache;
  const double* a = m.frames[lc].ang;
  if (lc >= static_cast<int>(cache.size())) cache.resize(lc + 1);
  Entry& e = cache[lc];
  if (e.ang[0] != a[0] || e.ang[1] != a[1] || e.ang[2] != a[2]) {
    mat3RotationZXZ(e.E, degToRad(a[0]), degToRad(a[1]), degToRad(a[2]));
    for (int k = 0; k < 3; ++k) e.ang[k] = a[k];
  }
  return e.E;
}

void localAxes(const Model& m, int lc, double* E) {
  const double* c = localAxesRef(m, lc);
  for (int k = 0; k < 9; ++k) E[k] = c[k];
}

}  // namespace orv
