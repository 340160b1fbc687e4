// Placeholders: every measure reads 0 until the kinematics of markers are in.
// They take no table entry, so any index is safe.
#include "expr/measures.h"

namespace orv {

double measureDisplacement(const Model&, const Histories&, int, int, int, char) { return 0.0; }

double measureVelocity(const Model&, const Histories&, int, int, int, int, char) { return 0.0; }

double measureAngularVelocity(const Model&, const Histories&, int, int, int, char) {
  return 0.0;
}

double measureAngle(const Model&, const Histories&, int, int, char) { return 0.0; }

double measureJointReaction(const Model&, const Histories&, int, int, int, int) { return 0.0; }

}  // namespace orv
