// The model file reader, section 7: force elements.
#include <vector>

#include "files/model_reader_impl.h"
#include "model/types.h"
#include "platform/console.h"

namespace orv {
namespace reader {

void Reader::forces() {
  static const char* const kK[] = {"k1", "k2", "k3", "k4", "k5", "k6"};
  static const char* const kC[] = {"c1", "c2", "c3", "c4", "c5", "c6"};
  static const char* const kComponent[] = {"Fx", "Fy", "Fz", "Tx", "Ty", "Tz"};
  cprintf("%s\n", cur_.c_str());
  std::vector<Force> rows;
  std::vector<std::vector<SourcePos>> componentPos;
  int n = list(kForce, " %s, ", [&](const std::string& first, int rec) {
    Force f;
    f.line = recordLine_;
    f.flag = flag(kForce, rec, first);
    f.name = name(kForce, rec, "the force's name");
    const ForceTypeRow& type = typeWord(kForce, rec, "force type", kForceTypes);
    f.type = type.word;
    f.kind = type.type;
    f.iframe = name(kForce, rec, "the i local coordinate name");
    f.jframe = name(kForce, rec, "the j local coordinate name");
    f.rframe = name(kForce, rec, "the reference local coordinate name");
    std::vector<SourcePos> at;
    if (f.kind == ForceType::Spring1) {
      f.k[0] = expr(kForce, rec, "the stiffness k");
      f.c[0] = expr(kForce, rec, "the damping c");
      // An optional free length: a further field on the line of c. Records
      // are one per line, so a word on the next line stays the next record's
      // flag (and is refused as one when it is not on or off).
      const int cLine = in_.pos().line;
      int nextLine = 0;
      const std::string next = in_.peek(nextLine);
      if (!next.empty() && nextLine == cLine && next != "%" && next != "on" && next != "off") {
        f.free_length = expr(kForce, rec, "the free length L0");
        if (!(f.free_length >= 0.0))
          fail(kForce, rec, in_.pos(),
               format("the free length '%s' is %g; expected a length of 0 or more",
                      next.c_str(), f.free_length));
      }
    } else if (f.kind == ForceType::Spring6) {
      exprs(kForce, rec, f.k, 6, kK);
      exprs(kForce, rec, f.c, 6, kC);
    } else {  // force6
      for (int k = 0; k < 6; ++k) {
        f.equ[k] =
            field(kForce, rec, std::string("the component ") + kComponent[k] + " (an expression)",
                  kTokenMax);
        at.push_back(in_.pos());
      }
    }
    componentPos.push_back(at);
    rows.push_back(f);
  });
  refuseDuplicates(kForce, rows, "force");
  cprintf("\nforce_num=%d\n", n);
  if (n == 0) return;
  for (int i = 0; i < n; ++i) {
    Force& f = rows[i];
    f.id = i;
    for (const LocalCoordinate& lc : t_.frames) {
      if (lc.name == f.iframe) f.i_lc = lc.id, f.i_body = lc.body;
      if (lc.name == f.jframe) f.j_lc = lc.id, f.j_body = lc.body;
      if (lc.name == f.rframe) f.r_lc = lc.id, f.r_body = lc.body;
    }
    if (f.kind == ForceType::Force6)
      for (int k = 0; k < 6; ++k)
        rewrite(kForce, i + 1, componentPos[i][k], f.equ[k], kForceExprMax);
  }
  t_.forces = rows;
  for (int i = 0; i < n; ++i)
    if (t_.forces[i].kind == ForceType::Force6)
      for (int k = 0; k < 6; ++k) runTexts_.push_back({componentPos[i][k], &t_.forces[i].equ[k]});
  for (const Force& f : t_.forces) {
    cprintf("  %d, %s:flag=%d, type=%s\n", f.id, f.name.c_str(), f.flag, f.type.c_str());
    cprintf("    iframe=%s, jframe=%s, rframe=%s\n", f.iframe.c_str(), f.jframe.c_str(),
            f.rframe.c_str());
    if (f.kind == ForceType::Spring1 && f.free_length >= 0.0)
      cprintf("    L0=%.3e\n", f.free_length);
    if (f.kind == ForceType::Force6) {
      cprintf("    Fx:%s\n", f.equ[0].c_str());
      cprintf("    Fy:%s\n", f.equ[1].c_str());
      cprintf("    Fz:%s\n", f.equ[2].c_str());
      cprintf("    Tx:%s\n", f.equ[3].c_str());
      cprintf("    Ty:%s\n", f.equ[4].c_str());
      cprintf("    Tz:%s\n", f.equ[5].c_str());
    }
  }
}

}  // namespace reader
}  // namespace orv
