#include "solver/model_check.h"

#include <cmath>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

#include "joints/constraints.h"
#include "joints/motions.h"
#include "model/model.h"
#include "model/source_pos.h"

namespace orv {

namespace {

// Contacts that cannot be evaluated: a shape not found or on no body, not an
// STL shape or without a usable mesh, and contact constants that are
// negative or not finite. The pairs of a contact group share the group's
// line, so each problem is told once per line.
void checkContacts(const Model& m, std::vector<std::string>& problems) {
  std::set<std::pair<int, std::string>> told;
  auto refuse = [&](const Contact& c, const std::string& what) {
    if (told.insert({c.line, what}).second)
      problems.push_back(placeLine(m.path, SourcePos{c.line, 0}, "Contact " + c.name + ": " + what));
  };
  for (const Contact& c : m.contacts) {
    const struct { int shape, body; const std::string& name; } sides[2] = {
        {c.i_shape, c.i_body, c.iSTL}, {c.j_shape, c.j_body, c.jSTL}};
    for (const auto& side : sides) {
      if (side.shape < 0 || side.shape >= m.shape_num() || side.body < 0) {
        refuse(c, "shape " + side.name + " not found or on no body");
        continue;
      }
      const Shape& sh = m.shapes[side.shape];
      if (sh.type != "STL")
        refuse(c, "shape " + sh.name + " is of type " + sh.type + ", not an STL mesh");
      else if (!sh.mesh)
        refuse(c, "shape " + sh.name + " has no mesh: mesh file " + sh.stl_file + ": " +
                      (sh.stl_error.empty() ? "not read" : sh.stl_error));
      else if (sh.mesh->stl_num() == 0)
        refuse(c, "shape " + sh.name + " has no mesh: mesh file " + sh.stl_file +
                      ": no triangles");
    }
    const struct { const char* name; double value; } constants[] = {
        {"k", c.k}, {"c", c.c}, {"d", c.d}, {"e", c.e}, {"myu", c.myu}};
    for (const auto& k : constants)
      if (!(std::isfinite(k.value) && k.value >= 0.0)) {
        char value[32];
        std::snprintf(value, sizeof value, "%g", k.value);
        refuse(c, std::string(k.name) + " = " + value + ": the contact constants k, c, d, e and "
                  "myu must be finite and not negative");
      }
  }
}

}  // namespace

bool checkModelForAnalysis(const Model& m, std::string& message) {
  std::vector<std::string> problems;
  auto refuse = [&](int line, const std::string& what) {
    problems.push_back(placeLine(m.path, SourcePos{line, 0}, what));
  };
  auto lcOk = [&](int lc) { return lc >= 0 && lc < m.frame_num() && m.frames[lc].body >= 0; };
  for (const Body& b : m.bodies) {
    if (b.cg_lc < 0)
      refuse(b.line, "Body " + b.name + ": centre-of-gravity local coordinate " + b.cg + " not found");
    if (!(b.mass > 0.0) || !(b.inertia[0] > 0.0) || !(b.inertia[1] > 0.0) || !(b.inertia[2] > 0.0))
      refuse(b.line, "Body " + b.name + ": mass and moments of inertia must be positive");
  }
  for (const LocalCoordinate& lc : m.frames)
    if (lc.body < 0)
      refuse(lc.line, "Local coordinate " + lc.name + ": body " + lc.body_name + " not found");
  for (const Joint& J : m.joints) {
    const JointType type = jointTypeOf(J.type);
    if (type == JointType::Unknown) continue;  // no rows: reported when the model was read
    if (!lcOk(J.i_lc))
      refuse(J.line, "Joint " + J.name + ": i local coordinate " + J.iframe + " not usable");
    if (type != JointType::Ground && !lcOk(J.j_lc))
      refuse(J.line, "Joint " + J.name + ": j local coordinate " + J.jframe + " not usable");
  }
  for (const Motion& mo : m.motions) {
    if (mo.joint < 0)
      refuse(mo.line, "Motion " + mo.name + ": joint " + mo.joint_name + " not found");
    else if (jointTypeOf(m.joints[mo.joint].type) == JointType::Unknown ||
             jointTypeOf(m.joints[mo.joint].type) == JointType::Ground || mo.i_body < 0 ||
             mo.j_body < 0)
      refuse(mo.line, "Motion " + mo.name + ": joint " + mo.joint_name + " does not join two bodies");
    if (!isSupportedMotionType(mo.type))
      refuse(mo.line, "Motion " + mo.name + ": type " + mo.type + " is not supported (use R or T)");
  }
  for (const Force& f : m.forces) {
    if (f.type != "spring1" && f.type != "force6") continue;  // no load, no references needed
    if (!lcOk(f.i_lc) || !lcOk(f.j_lc) || (f.type == "force6" && !lcOk(f.r_lc)))
      refuse(f.line, "Force " + f.name + ": a local coordinate is not usable");
  }
  checkContacts(m, problems);
  message.clear();
  for (size_t k = 0; k < problems.size(); ++k) {
    if (k == 20) {
      message += "\n... and " + std::to_string(problems.size() - 20) + " more";
      break;
    }
    if (k) message += "\n";
    message += problems[k];
  }
  return problems.empty();
}

}  // namespace orv
