// Axes of a local coordinate in its body's axes.
#pragma once

namespace orv {

struct Model;

// Axes of local coordinate lc in its body's axes: the Z-X-Z rotation of its
// angles (cached per thread: the angles do not change during a run).
void localAxes(const Model& m, int lc, double* E);
// The same matrix in the thread's cache, valid until the thread's next call.
const double* localAxesRef(const Model& m, int lc);

}  // namespace orv
