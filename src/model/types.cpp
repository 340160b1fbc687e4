#include "model/types.h"

#include <cstring>

namespace orv {

namespace {

// The letters of a joint type's rows; "revolution_" shares those of "revolution".
const char* jointRows(JointType type) {
  for (const JointTypeRow& r : kJointTypes)
    if (r.type == type) return r.rows;
  return "";
}

}  // namespace

int jointEquationCount(JointType type) { return static_cast<int>(std::strlen(jointRows(type))); }

RowLevel jointRowLevel(JointType type, int k) {
  const char* rows = jointRows(type);
  if (k < 0 || k >= static_cast<int>(std::strlen(rows))) return RowLevel::Held;
  return rows[k] == 'L' ? RowLevel::Length : rows[k] == 'A' ? RowLevel::Angle : RowLevel::Held;
}

}  // namespace orv
