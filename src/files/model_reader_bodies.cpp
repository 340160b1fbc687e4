// The model file reader, sections 1 to 3: parameters, bodies and local
// coordinates.
#include <vector>

#include "files/model_reader_impl.h"
#include "platform/console.h"

namespace orv {
namespace reader {

void Reader::parameters() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Parameter> rows;
  std::vector<SourcePos> valuePos;
  int n = list(kParameter, " %s, ", [&](const std::string& first, int rec) {
    recordName(kParameter, rec, first, "parameter");
    refuseKeywordName(kParameter, rec, first, "parameter");
    Parameter p;
    p.line = recordLine_;
    p.name = first;
    p.expr = field(kParameter, rec, "the parameter's value (an expression)", kExprMax);
    for (const ParameterValue& v : values_)
      if (v.name == first) p.expr = v.text;
    valuePos.push_back(in_.pos());
    rows.push_back(p);
  });
  cprintf("\nparameter_num=%d\n", n);
  if (n == 0) return;
  t_.parameters = rows;
  cprintf("Parameter\n");
  for (int i = 0; i < n; ++i) {
    Parameter& p = t_.parameters[i];
    p.id = i;
    // In order: a parameter sees the earlier ones. One that uses a later one
    // would read it as 0 here and as its value in the run.
    const ExprReading r = readExpression(p.expr, t_);
    if (r.tooDeep)
      fail(kParameter, i + 1, valuePos[i],
           format("the value is nested deeper than %d brackets", kMaxExpressionNesting));
    auto later = [&](int k, SourcePos at) {
      fail(kParameter, i + 1, at,
           format("parameter '%s' uses '%s', defined at line %d; a parameter may use only those "
                  "above it",
                  p.name.c_str(), t_.parameters[k].name.c_str(), t_.parameters[k].line));
    };
    for (const ExprReading::Name& nm : r.names)
      for (int k = 0; k < n; ++k)
        if (t_.parameters[k].name == nm.name) {
          if (k >= i)
            later(k, SourcePos{valuePos[i].line, valuePos[i].column + static_cast<int>(nm.at)});
          break;
        }
    for (int k : r.parameterIndices)
      if (k >= i && k < n) later(k, valuePos[i]);
    noteReading(valuePos[i], p.expr, r);
    p.value = r.value;
    cprintf("  %d:%s=%.3e,  ", i, p.name.c_str(), p.value);
  }
  cprintf("\n\n");
}

void Reader::bodies() {
  static const char* const kInertia[] = {"Ixx", "Iyy", "Izz"};
  static const char* const kVel[] = {"vx", "vy", "vz"};
  static const char* const kOmega[] = {"wx", "wy", "wz"};
  cprintf("%s\n", cur_.c_str());
  std::vector<Body> rows;
  int n = list(kBody, " %s, ", [&](const std::string& first, int rec) {
    recordName(kBody, rec, first, "body");
    Body b;
    b.line = recordLine_;
    b.name = first;
    b.cg = name(kBody, rec, "the name of the centre-of-gravity local coordinate");
    b.mass = expr(kBody, rec, "mass");
    exprs(kBody, rec, b.inertia, 3, kInertia);
    exprs(kBody, rec, b.vel0, 3, kVel);
    exprs(kBody, rec, b.omega0, 3, kOmega);
    rows.push_back(b);
  });
  refuseDuplicates(kBody, rows, "body");
  cprintf("\nbody_num=%d\n", n);
  if (n == 0) return;
  t_.bodies = rows;
  for (int i = 0; i < n; ++i) t_.bodies[i].id = i;
  cprintf("Body_info\n");
}

void Reader::frames() {
  static const char* const kPos[] = {"x", "y", "z"};
  static const char* const kAng[] = {"angle 1 (degrees)", "angle 2 (degrees)", "angle 3 (degrees)"};
  cprintf("%s\n", cur_.c_str());
  std::vector<LocalCoordinate> rows;
  int n = list(kFrame, " %s, ", [&](const std::string& first, int rec) {
    recordName(kFrame, rec, first, "local coordinate");
    LocalCoordinate lc;
    lc.line = recordLine_;
    lc.name = first;
    lc.body_name = name(kFrame, rec, "a body name");
    exprs(kFrame, rec, lc.pos, 3, kPos);
    exprs(kFrame, rec, lc.ang, 3, kAng);
    setLocalAxes(lc);
    rows.push_back(lc);
  });
  refuseDuplicates(kFrame, rows, "local coordinate");
  cprintf("\nframe_num=%d\n", n);
  if (n == 0) return;
  t_.frames = rows;
  for (int i = 0; i < n; ++i) {
    LocalCoordinate& lc = t_.frames[i];
    lc.id = i;
    for (Body& b : t_.bodies) {
      if (b.name == lc.body_name) lc.body = b.id;
      if (b.cg == lc.name) {
        for (int k = 0; k < 3; ++k) b.cg_pos[k] = lc.pos[k];
        b.cg_lc = i;
      }
    }
  }
  // A centre of gravity marked on another body would carry this body's mass
  // about a point that moves with the other one.
  for (const Body& b : t_.bodies)
    if (b.cg_lc >= 0 && t_.frames[b.cg_lc].body != b.id)
      fail(kBody, b.id + 1, SourcePos{b.line, 0},
           format("the centre-of-gravity local coordinate '%s' of body '%s' lies on body '%s' "
                  "(line %d); expected a local coordinate of '%s'",
                  b.cg.c_str(), b.name.c_str(), t_.frames[b.cg_lc].body_name.c_str(),
                  t_.frames[b.cg_lc].line, b.name.c_str()));
  for (const Body& b : t_.bodies)
    cprintf("  %d, %s:cg=%s, %.3e,%.3e,%.3e\n        M=%.3e, I=%.3e,%.3e,%.3e\n", b.id,
            b.name.c_str(), b.cg.c_str(), b.cg_pos[0], b.cg_pos[1], b.cg_pos[2], b.mass,
            b.inertia[0], b.inertia[1], b.inertia[2]);
  for (const LocalCoordinate& lc : t_.frames) {
    cprintf("  %d, %s:Body=%s\n", lc.id, lc.name.c_str(), lc.body_name.c_str());
    cprintf("  pos=%.3e,%.3e,%.3e,", lc.pos[0], lc.pos[1], lc.pos[2]);
    cprintf("  ang=%.3e,%.3e,%.3e\n", lc.ang[0], lc.ang[1], lc.ang[2]);
  }
  computeLcBox(t_);
}

}  // namespace reader
}  // namespace orv
