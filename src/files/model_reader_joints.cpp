// The model file reader, sections 4 and 5: joints and the motions that drive
// them.
#include <vector>

#include "files/model_reader_impl.h"
#include "model/types.h"
#include "platform/console.h"

namespace orv {
namespace reader {

void Reader::joints() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Joint> rows;
  std::vector<SourcePos> sidePos;  // i and j local coordinate names
  int n = list(kJoint, " %s, ", [&](const std::string& first, int rec) {
    Joint j;
    j.line = recordLine_;
    j.flag = flag(kJoint, rec, first);
    j.name = name(kJoint, rec, "the joint's name");
    const JointTypeRow& type = typeWord(kJoint, rec, "joint type", kJointTypes);
    j.type = type.word;
    j.kind = type.type;
    j.iframe = name(kJoint, rec, "the i local coordinate name");
    sidePos.push_back(in_.pos());
    j.jframe = name(kJoint, rec, "the j local coordinate name (or non)");
    sidePos.push_back(in_.pos());
    rows.push_back(j);
  });
  refuseDuplicates(kJoint, rows, "joint");
  cprintf("\njoint_num=%d\n", n);
  t_.const_num = 0;
  if (n == 0) return;
  t_.joints = rows;
  for (int i = 0; i < n; ++i) {
    Joint& j = t_.joints[i];
    j.id = i;
    for (const LocalCoordinate& lc : t_.frames) {
      if (lc.name == j.iframe) {
        j.i_lc = lc.id;
        j.i_body = lc.body;
      }
      if (lc.name == j.jframe) {
        j.j_lc = lc.id;
        j.j_body = lc.body;
      }
    }
    if (j.i_lc == -1 && j.iframe != "non" && j.iframe != "NON") {
      cprintf("### Wrong i_LC Name ###\n");
      warn(sidePos[2 * i], "no local coordinate is named '" + j.iframe + "'");
    }
    if (j.j_lc == -1 && j.jframe != "non" && j.jframe != "NON") {
      cprintf("### Wrong j_LC Name ###\n");
      warn(sidePos[2 * i + 1], "no local coordinate is named '" + j.jframe + "'");
    }
    t_.const_num += jointEquationCount(j.kind);
    cprintf("  %d, %s:flag=%d, type=%s\n    iframe=%s[%d], jframe=%s[%d],", i, j.name.c_str(),
            j.flag, j.type.c_str(), j.iframe.c_str(), j.i_lc, j.jframe.c_str(), j.j_lc);
  }
  cprintf("\n");
  cprintf("const_num=%d\n", t_.const_num);
}

void Reader::motions() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Motion> rows;
  std::vector<SourcePos> jointPos, ratePos;
  int n = list(kMotion, " %s\n", [&](const std::string& first, int rec) {
    Motion mo;
    mo.line = recordLine_;
    mo.flag = flag(kMotion, rec, first);
    mo.name = name(kMotion, rec, "the motion's name");
    const MotionTypeRow& type = typeWord(kMotion, rec, "motion type", kMotionTypes);
    mo.type = type.word;
    mo.kind = type.type;
    mo.joint_name = name(kMotion, rec, "a joint name");
    jointPos.push_back(in_.pos());
    mo.equ_type = name(kMotion, rec, "the equation type (velocity)");
    mo.dt_equ = field(kMotion, rec, "the rate (an expression)", kExprMax);
    ratePos.push_back(in_.pos());
    if (nestedTooDeep(mo.dt_equ))
      fail(kMotion, rec, in_.pos(),
           format("the rate is nested deeper than %d brackets", kMaxExpressionNesting));
    rows.push_back(mo);
  });
  cprintf("motion_num=%d\n", n);
  if (n == 0) return;
  t_.motions = rows;
  for (int i = 0; i < n; ++i) {
    Motion& mo = t_.motions[i];
    mo.id = i;
    mo.joint = findLastByName(t_.joints, mo.joint_name);
    if (mo.joint >= 0) {
      mo.i_body = t_.joints[mo.joint].i_body;
      mo.j_body = t_.joints[mo.joint].j_body;
    } else {
      warn(jointPos[i], "no joint is named '" + mo.joint_name + "'");
    }
    runTexts_.push_back({ratePos[i], &mo.dt_equ});
    t_.const_num += 1;
    cprintf("  %d, %s:flag=%d, type=%s, joint_name=%s, \n    equ_type=%s, dt_equ=%s\n", i,
            mo.name.c_str(), mo.flag, mo.type.c_str(), mo.joint_name.c_str(), mo.equ_type.c_str(),
            mo.dt_equ.c_str());
  }
}

}  // namespace reader
}  // namespace orv
