#include "solver/model_check.h"

#include <vector>

#include "joints/constraints.h"
#include "joints/motions.h"
#include "model/model.h"
#include "model/source_pos.h"

namespace orv {

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
  for (const Contact& c : m.contacts) {
    if (c.i_shape < 0 || c.j_shape < 0 || c.i_body < 0 || c.j_body < 0)
      refuse(c.line, "Contact " + c.name + ": shape " + (c.i_shape < 0 ? c.iSTL : c.jSTL) +
                         " not found or on no body");
  }
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
