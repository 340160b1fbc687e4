// The types a model file names by a word: joints, motions, forces, shapes and
// textures. One table per kind holds every fact of a type; the reader turns
// each record's word into its enum once, and the run tests only enums.
#pragma once

#include <cstddef>
#include <string>

namespace orv {

enum class JointType {
  Ground,
  Sphere,
  Revolution,
  Cylinder,
  Translation,
  InLine,
  Prismatic,
  Fix,
  Unknown
};
enum class MotionType { Rotation, Translation, Unknown };
enum class ForceType { Spring1, Spring6, Force6, Unknown };
enum class ShapeType { Sphere, Cube, Solid, Cylinder, Spring, Pipe, Stl, Unknown };
enum class TextureType { Rect, CylinderOne, Unknown };

// What a joint row holds at position level: a distance (metres) or an angle
// (radians) that the stabilisation pulls to zero, or nothing it corrects
// ("ground" and the equal angular velocities of "fix" act on velocities, the
// x_i.y_j row of "translation" and "prismatic" keeps its start value). At
// rest a stabilised row's right side is -beta^2 Phi, so its violation Phi
// can be read back from gamma.
enum class RowLevel { Length, Angle, Held };

struct JointTypeRow {
  const char* word;
  JointType type;
  // One letter per constraint row, in the order the evaluators write them:
  // L length, A angle, H held (RowLevel).
  const char* rows;
  int jnt_values;  // values of the joint's line in an imported .jnt file
};

struct MotionTypeRow {
  const char* word;
  MotionType type;
};

struct ForceTypeRow {
  const char* word;
  ForceType type;
  int fields;  // tokens of its record in the model file
};

struct ShapeTypeRow {
  const char* word;
  ShapeType type;
  int fields;  // tokens of its record in the model file
  int sizes;   // size values it reads (an STL shape reads a unit, a sign and a file)
};

struct TextureTypeRow {
  const char* word;
  TextureType type;
  int fields;  // tokens of its record in the model file
};

// In the order the reader lists the words when it refuses another one.
inline constexpr JointTypeRow kJointTypes[] = {
    {"ground", JointType::Ground, "HHHHHH", 12},
    {"sphere", JointType::Sphere, "LLL", 18},
    {"fix", JointType::Fix, "LLLHHH", 18},
    {"revolution", JointType::Revolution, "LLLAA", 18},
    {"revolution_", JointType::Revolution, "LLLAA", 19},  // a revolution with one more .jnt value
    {"cylinder", JointType::Cylinder, "AALL", 18},
    {"translation", JointType::Translation, "AALLH", 18},
    {"in_line", JointType::InLine, "LL", 12},
    {"prismatic", JointType::Prismatic, "AAH", 12},
};
inline constexpr MotionTypeRow kMotionTypes[] = {
    {"R", MotionType::Rotation},
    {"T", MotionType::Translation},
};
inline constexpr ForceTypeRow kForceTypes[] = {
    {"spring1", ForceType::Spring1, 8},
    {"spring6", ForceType::Spring6, 18},
    {"force6", ForceType::Force6, 12},
};
inline constexpr ShapeTypeRow kShapeTypes[] = {
    {"sphere", ShapeType::Sphere, 6, 1},  {"cube", ShapeType::Cube, 6, 1},
    {"solid", ShapeType::Solid, 8, 3},    {"cylinder", ShapeType::Cylinder, 8, 3},
    {"spring", ShapeType::Spring, 10, 4}, {"pipe", ShapeType::Pipe, 9, 4},
    {"STL", ShapeType::Stl, 8, 0},
};
inline constexpr TextureTypeRow kTextureTypes[] = {
    {"rect", TextureType::Rect, 9},
    {"cylinder_one", TextureType::CylinderOne, 8},
};

// The row of a table whose word is `word`, byte for byte; null for none.
template <class Row, std::size_t N>
const Row* findTypeWord(const Row (&table)[N], const std::string& word) {
  for (const Row& r : table)
    if (word == r.word) return &r;
  return nullptr;
}

// The type of `word` in a table, Unknown for a word it does not hold.
template <class Row, std::size_t N>
auto typeOfWord(const Row (&table)[N], const std::string& word) {
  const Row* r = findTypeWord(table, word);
  return r ? r->type : decltype(Row::type)::Unknown;
}

// Constraint rows of a joint type (0 for Unknown).
int jointEquationCount(JointType type);

// Level of row k of a joint of this type (Held past its rows).
RowLevel jointRowLevel(JointType type, int k);

}  // namespace orv
