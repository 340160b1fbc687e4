// Where each quantity of a body stands in the vectors of an analysis.
#pragma once

#include <cstddef>

namespace orv {

// The state Y, 14 nb doubles: every body's cg displacement r (3), then every
// body's velocity v (3), Euler parameters p (4) and their rates pd (4).
// Integrated to first order in rotation, the integrator's own vectors hold
// the body-axis angular velocity in the place of pd: w (3, then a 0).
// The 6 nb vectors of velocities, loads and accelerations (qdot, Q) hold
// every body's translational part, then every body's rotational part (body
// axes): trans(b) and rot(b).
struct StateLayout {
  int nb = 0;

  std::size_t size() const { return 14 * static_cast<std::size_t>(nb); }
  int r(int b) const { return 3 * b; }
  int v(int b) const { return 3 * nb + 3 * b; }
  int p(int b) const { return 6 * nb + 4 * b; }
  int pd(int b) const { return 10 * nb + 4 * b; }
  int w(int b) const { return pd(b); }

  int trans(int b) const { return 3 * b; }
  int rot(int b) const { return 3 * nb + 3 * b; }
};

}  // namespace orv
