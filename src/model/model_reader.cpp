#include "model/model_reader.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "expr/evaluator.h"
#include "model/bmp.h"
#include "model/globals.h"
#include "model/model.h"
#include "model/stl_reader.h"
#include "model/tokens.h"
#include "platform/console.h"

namespace orv {

namespace {

// Sections in file order; the order also decides which tables a failure empties.
enum Section {
  kParameter,
  kBody,
  kFrame,
  kJoint,
  kMotion,
  kFunction,
  kForce,
  kShape,
  kTexture,
  kShadow,
  kContact,
  kContactGroup,
  kOutput,
  kGravity,
  kSimulationTime,
  kGraphicSize,
};

const char* kSectionLabel[] = {
    "parameter_info", "body_info",   "frame/local_coordinate_info",
    "joint_info",     "motion_info", "function_info",
    "force_info",     "shape_info",  "texture_info",
    "shadow_info",    "contact_info", "contact_group_info",
    "output_info",    "gravity",     "simulation_time",
    "graphic_size",
};

// A contact group may not expand into more pairs than this: the contact loops
// are quadratic in meshes and a runaway member count would exhaust memory.
constexpr long kMaxGroupContacts = 1000000;
// Samples an analysis may store; beyond this the histories would not fit memory.
constexpr double kMaxSamples = 10000000.0;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char buf[1024];
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

// Thrown inside the reader only, to unwind to readModelFile with the failing
// section; never leaves this file.
struct MissInput {
  Section section;
  int record;  // 1-based; 0 for the global sections
};

class Reader {
 public:
  Reader(TokenReader& in, const Settings& s, Model& t, Histories& h)
      : in_(in), s_(s), t_(t), h_(h) {}

  void run();

 private:
  // --- tokens --------------------------------------------------------------
  // Next token; "" at the end of the file. Over-long tokens fail in `sec`.
  std::string token(Section sec, int record) {
    std::string tok;
    in_.next(tok);
    if (static_cast<int>(tok.size()) > kTokenMax) throw MissInput{sec, record};
    return tok;
  }
  // A field inside a record: the end of the file or "%" is a short record.
  std::string field(Section sec, int record, int maxLen = kTokenMax) {
    std::string tok = token(sec, record);
    if (tok.empty() || tok == "%" || static_cast<int>(tok.size()) > maxLen)
      throw MissInput{sec, record};
    return tok;
  }
  std::string name(Section sec, int record) { return field(sec, record, kNameMax); }
  double expr(Section sec, int record) { return evaluate(field(sec, record, kExprMax), t_, h_); }
  void exprs(Section sec, int record, double* out, int n) {
    for (int k = 0; k < n; ++k) out[k] = expr(sec, record);
  }
  double number(Section sec) {
    double v;
    if (!parseDouble(field(sec, 0), v)) throw MissInput{sec, 0};
    return v;
  }

  // Reads the records of a list section after its keyword: the heading token,
  // then records until "%". `record` reads the fields after the first token.
  template <class Fn>
  int list(Section sec, const char* echo, Fn record) {
    token(sec, 1);  // heading, ignored
    int count = 0;
    for (;;) {
      std::string first = token(sec, count + 1);
      if (first.empty()) throw MissInput{sec, count + 1};
      cprintf(echo, first.c_str());
      if (first == "%") break;
      recordLine_ = in_.pos().line;
      record(first, count + 1);
      ++count;
    }
    return count;
  }

  void rewrite(Section sec, int record, std::string& text, size_t limit) {
    std::string why;
    if (!rewriteExpression(t_, text, limit, why)) {
      cprintf("  ### %s ###\n", why.c_str());
      throw MissInput{sec, record};
    }
  }

  // --- sections ------------------------------------------------------------
  void parameters();
  void bodies();
  void frames();
  void joints();
  void motions();
  void functions();
  void forces();
  void shapes();
  void textures();
  void shadows();
  void contacts();
  void contactGroups();
  void outputs();
  void gravity();
  void simulationTime();
  void graphicSize();
  void closing();

  void printContacts();
  void resolveContact(Contact& c);

  TokenReader& in_;
  const Settings& s_;
  Model& t_;
  Histories& h_;
  std::string cur_;  // current token from the joint section on
  int recordLine_ = 0;  // line of the record being read
};

void Reader::parameters() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Parameter> rows;
  int n = list(kParameter, " %s, ", [&](const std::string& first, int rec) {
    if (static_cast<int>(first.size()) > kNameMax) throw MissInput{kParameter, rec};
    Parameter p;
    p.line = recordLine_;
    p.name = first;
    p.expr = field(kParameter, rec, kExprMax);
    rows.push_back(p);
  });
  cprintf("\nparameter_num=%d\n", n);
  if (n == 0) return;
  t_.parameters = rows;
  cprintf("Parameter\n");
  for (int i = 0; i < n; ++i) {
    Parameter& p = t_.parameters[i];
    p.id = i;
    p.value = evaluate(p.expr, t_, h_);  // in order: a parameter sees the earlier ones
    cprintf("  %d:%s=%.3e,  ", i, p.name.c_str(), p.value);
  }
  cprintf("\n\n");
}

void Reader::bodies() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Body> rows;
  int n = list(kBody, " %s, ", [&](const std::string& first, int rec) {
    if (static_cast<int>(first.size()) > kNameMax) throw MissInput{kBody, rec};
    Body b;
    b.line = recordLine_;
    b.name = first;
    b.cg = name(kBody, rec);
    b.mass = expr(kBody, rec);
    exprs(kBody, rec, b.inertia, 3);
    exprs(kBody, rec, b.vel0, 3);
    exprs(kBody, rec, b.omega0, 3);
    rows.push_back(b);
  });
  cprintf("\nbody_num=%d\n", n);
  if (n == 0) return;
  t_.bodies = rows;
  for (int i = 0; i < n; ++i) t_.bodies[i].id = i;
  cprintf("Body_info\n");
}

void Reader::frames() {
  cprintf("%s\n", cur_.c_str());
  std::vector<LocalCoordinate> rows;
  int n = list(kFrame, " %s, ", [&](const std::string& first, int rec) {
    if (static_cast<int>(first.size()) > kNameMax) throw MissInput{kFrame, rec};
    LocalCoordinate lc;
    lc.line = recordLine_;
    lc.name = first;
    lc.body_name = name(kFrame, rec);
    exprs(kFrame, rec, lc.pos, 3);
    exprs(kFrame, rec, lc.ang, 3);
    rows.push_back(lc);
  });
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

void Reader::joints() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Joint> rows;
  int n = list(kJoint, " %s, ", [&](const std::string& first, int rec) {
    Joint j;
    j.line = recordLine_;
    j.flag = first == "on" ? 1 : 0;
    j.name = name(kJoint, rec);
    j.type = name(kJoint, rec);
    j.iframe = name(kJoint, rec);
    j.jframe = name(kJoint, rec);
    rows.push_back(j);
  });
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
    if (j.i_lc == -1 && j.iframe != "non" && j.iframe != "NON") cprintf("### Wrong i_LC Name ###\n");
    if (j.j_lc == -1 && j.jframe != "non" && j.jframe != "NON") cprintf("### Wrong j_LC Name ###\n");
    int neq = jointEquationCount(j.type);
    if (neq == 0) cprintf("### Wrong Constraint Name ###\n");
    t_.const_num += neq;
    cprintf("  %d, %s:flag=%d, type=%s\n    iframe=%s[%d], jframe=%s[%d],", i, j.name.c_str(),
            j.flag, j.type.c_str(), j.iframe.c_str(), j.i_lc, j.jframe.c_str(), j.j_lc);
  }
  cprintf("\n");
  cprintf("const_num=%d\n", t_.const_num);
}

void Reader::motions() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Motion> rows;
  int n = list(kMotion, " %s\n", [&](const std::string& first, int rec) {
    Motion mo;
    mo.line = recordLine_;
    mo.flag = first == "on" ? 1 : 0;
    mo.name = name(kMotion, rec);
    mo.type = name(kMotion, rec);
    mo.joint_name = name(kMotion, rec);
    mo.equ_type = name(kMotion, rec);
    mo.dt_equ = field(kMotion, rec, kExprMax);
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
    }
    t_.const_num += 1;
    cprintf("  %d, %s:flag=%d, type=%s, joint_name=%s, \n    equ_type=%s, dt_equ=%s\n", i,
            mo.name.c_str(), mo.flag, mo.type.c_str(), mo.joint_name.c_str(),
            mo.equ_type.c_str(), mo.dt_equ.c_str());
  }
}

void Reader::functions() {
  cprintf("%s\n", cur_.c_str());
  std::vector<ModelFunction> rows;
  int n = list(kFunction, " %s\n", [&](const std::string& first, int rec) {
    if (static_cast<int>(first.size()) > kNameMax) throw MissInput{kFunction, rec};
    ModelFunction f;
    f.line = recordLine_;
    f.name = first;
    f.expr = field(kFunction, rec, kExprMax);
    rows.push_back(f);
  });
  cprintf("func_num=%d\n", n);
  if (n == 0) return;
  t_.functions = rows;
  cprintf("Function\n");
  for (int i = 0; i < n; ++i) {
    t_.functions[i].id = i;
    cprintf("  %d:%s, %s\n", i, t_.functions[i].name.c_str(), t_.functions[i].expr.c_str());
  }
}

void Reader::forces() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Force> rows;
  int n = list(kForce, " %s, ", [&](const std::string& first, int rec) {
    Force f;
    f.line = recordLine_;
    f.flag = first == "on" ? 1 : 0;
    f.name = name(kForce, rec);
    f.type = name(kForce, rec);
    f.iframe = name(kForce, rec);
    f.jframe = name(kForce, rec);
    f.rframe = name(kForce, rec);
    if (f.type == "spring1") {
      f.k[0] = expr(kForce, rec);
      f.c[0] = expr(kForce, rec);
    } else if (f.type == "spring6") {
      exprs(kForce, rec, f.k, 6);
      exprs(kForce, rec, f.c, 6);
    } else if (f.type == "force6") {
      for (int k = 0; k < 6; ++k) f.equ[k] = field(kForce, rec, kTokenMax);
    } else {
      throw MissInput{kForce, rec};
    }
    rows.push_back(f);
  });
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
    if (f.type == "force6")
      for (int k = 0; k < 6; ++k) rewrite(kForce, i + 1, f.equ[k], kForceExprMax);
  }
  t_.forces = rows;
  for (const Force& f : t_.forces) {
    cprintf("  %d, %s:flag=%d, type=%s\n", f.id, f.name.c_str(), f.flag, f.type.c_str());
    cprintf("    iframe=%s, jframe=%s, rframe=%s\n", f.iframe.c_str(), f.jframe.c_str(),
            f.rframe.c_str());
    if (f.type == "force6") {
      cprintf("    Fx:%s\n", f.equ[0].c_str());
      cprintf("    Fy:%s\n", f.equ[1].c_str());
      cprintf("    Fz:%s\n", f.equ[2].c_str());
      cprintf("    Tx:%s\n", f.equ[3].c_str());
      cprintf("    Ty:%s\n", f.equ[4].c_str());
      cprintf("    Tz:%s\n", f.equ[5].c_str());
    }
  }
}

void Reader::shapes() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Shape> rows;
  std::vector<std::string> stlFiles;
  int n = list(kShape, " %s,", [&](const std::string& first, int rec) {
    if (static_cast<int>(first.size()) > kNameMax) throw MissInput{kShape, rec};
    Shape sh;
    sh.line = recordLine_;
    sh.name = first;
    sh.type = name(kShape, rec);
    sh.frame = name(kShape, rec);
    sh.color = name(kShape, rec);
    sh.trans = expr(kShape, rec);
    std::string file;
    if (sh.type == "sphere" || sh.type == "cube") {
      exprs(kShape, rec, sh.size, 1);
    } else if (sh.type == "solid" || sh.type == "cylinder") {
      exprs(kShape, rec, sh.size, 3);
    } else if (sh.type == "spring") {
      sh.force_name = name(kShape, rec);
      sh.force = findLastByName(t_.forces, sh.force_name);
      exprs(kShape, rec, sh.size, 4);
    } else if (sh.type == "pipe") {
      exprs(kShape, rec, sh.size, 4);
    } else if (sh.type == "STL") {
      sh.size[0] = expr(kShape, rec);
      std::string sign = field(kShape, rec);
      sh.size[1] = sign == "+" ? 1.0 : sign == "-" ? -1.0 : 0.0;
      file = field(kShape, rec);
    } else {
      throw MissInput{kShape, rec};
    }
    rows.push_back(sh);
    stlFiles.push_back(file);
  });
  cprintf("shape_num=%d\n", n);
  cprintf("\n");
  if (n == 0) return;
  t_.shapes = rows;
  for (int i = 0; i < n; ++i) {
    Shape& sh = t_.shapes[i];
    sh.id = i;
    sh.lc = findLastByName(t_.frames, sh.frame);
    sh.body = sh.lc >= 0 ? t_.frames[sh.lc].body : -1;
    if (!lookupColor(s_, sh.color, sh.RGB)) {
      // An unknown colour is drawn mid-grey rather than with undefined values.
      sh.RGB[0] = sh.RGB[1] = sh.RGB[2] = 0.5;
      cprintf("  ### Unknown color %s: drawn gray ###\n", sh.color.c_str());
    }
    sh.unit = 1.0;
    sh.normal_sign = 1;
    if (sh.type == "STL") {
      sh.unit = sh.size[0];
      sh.normal_sign = static_cast<int>(sh.size[1]);
      readStl(t_, i, resolveModelFile(t_, stlFiles[i]));
    }
    cprintf("  %d, %s:Type=%s, Ref.frame=%s, id=%d, Body_id=%d\n          trans=%e, size=%e,%e,%e\n",
            i, sh.name.c_str(), sh.type.c_str(), sh.frame.c_str(), sh.lc, sh.body, sh.trans,
            sh.size[0], sh.size[1], sh.size[2]);
    cprintf("          color=%s, RGB=%.2e,%.2e,%.2e\n", sh.color.c_str(), sh.RGB[0], sh.RGB[1],
            sh.RGB[2]);
  }
}

void Reader::textures() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Texture> rows;
  int n = list(kTexture, " %s\n", [&](const std::string& first, int rec) {
    if (static_cast<int>(first.size()) > kNameMax) throw MissInput{kTexture, rec};
    Texture tx;
    tx.line = recordLine_;
    tx.name = first;
    tx.type = name(kTexture, rec);
    tx.body_name = name(kTexture, rec);
    tx.frame = name(kTexture, rec);
    if (tx.type == "rect") {
      tx.Lx = expr(kTexture, rec);
      tx.Ly = expr(kTexture, rec);
      tx.dx = truncToInt(expr(kTexture, rec));
      tx.dy = truncToInt(expr(kTexture, rec));
    } else if (tx.type == "cylinder_one") {
      tx.Lx = expr(kTexture, rec);
      tx.Ly = expr(kTexture, rec);
      tx.dx = truncToInt(expr(kTexture, rec));
      tx.dy = 1;
    } else {
      throw MissInput{kTexture, rec};
    }
    tx.file = name(kTexture, rec);
    rows.push_back(tx);
  });
  cprintf("texture_num=%d\n", n);
  if (n == 0) return;
  t_.textures = rows;
  for (int i = 0; i < n; ++i) {
    Texture& tx = t_.textures[i];
    tx.id = i;
    tx.body = findLastByName(t_.bodies, tx.body_name);
    tx.lc = findLastByName(t_.frames, tx.frame);
    cprintf("  %d, %s:%s, %s, %s[%d], %s\n", i, tx.name.c_str(), tx.type.c_str(),
            tx.body_name.c_str(), tx.frame.c_str(), tx.lc, tx.file.c_str());
    cprintf("          Lx=%.3e, Ly=%.3e, dx=%d, dy=%d\n", tx.Lx, tx.Ly, tx.dx, tx.dy);
  }
}

void Reader::shadows() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Shadow> rows;
  int n = list(kShadow, " %s, ", [&](const std::string& first, int rec) {
    if (static_cast<int>(first.size()) > kNameMax) throw MissInput{kShadow, rec};
    Shadow sd;
    sd.line = recordLine_;
    sd.name = first;
    sd.frame = name(kShadow, rec);
    cprintf(" %s, ", sd.frame.c_str());
    sd.shape_name = name(kShadow, rec);
    cprintf(" %s\n", sd.shape_name.c_str());
    rows.push_back(sd);
  });
  cprintf("shadow_num=%d\n", n);
  if (n == 0) return;
  t_.shadows = rows;
  for (int i = 0; i < n; ++i) {
    Shadow& sd = t_.shadows[i];
    sd.id = i;
    sd.lc = findLastByName(t_.frames, sd.frame);
    sd.shape = findLastByName(t_.shapes, sd.shape_name);
    cprintf("  %d, %s: %s[%d], %s[%d]\n", i, sd.name.c_str(), sd.frame.c_str(), sd.lc,
            sd.shape_name.c_str(), sd.shape);
  }
}

void Reader::resolveContact(Contact& c) {
  c.i_shape = findLastByName(t_.shapes, c.iSTL);
  c.j_shape = findLastByName(t_.shapes, c.jSTL);
  if (c.i_shape >= 0) {
    c.i_body = t_.shapes[c.i_shape].body;
    c.i_stl_num = t_.shapes[c.i_shape].stl_num;
  }
  if (c.j_shape >= 0) {
    c.j_body = t_.shapes[c.j_shape].body;
    c.j_stl_num = t_.shapes[c.j_shape].stl_num;
  }
}

void Reader::printContacts() {
  for (const Contact& c : t_.contacts) {
    cprintf("  %d, %s:flag=%d\n", c.id, c.name.c_str(), c.flag);
    cprintf("          iSTL=%s, jSTL=%s, k=%.3e, c=%.3e, d=%.3e, e=%.3e, myu=%.3e\n",
            c.iSTL.c_str(), c.jSTL.c_str(), c.k, c.c, c.d, c.e, c.myu);
  }
}

void Reader::contacts() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Contact> rows;
  int n = list(kContact, " %s\n", [&](const std::string& first, int rec) {
    Contact c;
    c.line = recordLine_;
    c.flag = first == "on" ? 1 : 0;
    c.name = name(kContact, rec);
    c.iSTL = name(kContact, rec);
    c.jSTL = name(kContact, rec);
    c.k = expr(kContact, rec);
    c.c = expr(kContact, rec);
    c.d = expr(kContact, rec);
    c.e = expr(kContact, rec);
    c.myu = expr(kContact, rec);
    rows.push_back(c);
  });
  cprintf("contact_num=%d\n", n);
  if (n == 0) return;
  t_.contacts = rows;
  for (int i = 0; i < n; ++i) {
    t_.contacts[i].id = i;
    resolveContact(t_.contacts[i]);
  }
  printContacts();
}

void Reader::contactGroups() {
  struct Group {
    int line;
    int flag;
    double k, c, d, e, myu;
    std::vector<std::string> members;
  };
  cprintf("%s\n", cur_.c_str());
  std::vector<Group> groups;
  long pairs = 0;
  int n = list(kContactGroup, " %s\n", [&](const std::string& first, int rec) {
    Group g;
    g.line = recordLine_;
    g.flag = first == "off" ? 0 : 1;
    name(kContactGroup, rec);  // the group name is not kept
    g.k = expr(kContactGroup, rec);
    g.c = expr(kContactGroup, rec);
    g.d = expr(kContactGroup, rec);
    g.e = expr(kContactGroup, rec);
    g.myu = expr(kContactGroup, rec);
    int members = truncToInt(expr(kContactGroup, rec));
    for (int k = 0; k < members; ++k) {
      g.members.push_back(name(kContactGroup, rec));
      pairs += static_cast<long>(g.members.size()) - 1;
      if (pairs > kMaxGroupContacts) {
        cprintf("  ### Contact groups expand to more than %ld contacts ###\n", kMaxGroupContacts);
        throw MissInput{kContactGroup, rec};
      }
    }
    for (size_t a = 0; a < g.members.size(); ++a)
      for (size_t b = a + 1; b < g.members.size(); ++b)
        if (4 + g.members[a].size() + 1 + g.members[b].size() > static_cast<size_t>(kNameMax)) {
          cprintf("  ### Contact name CNT_%s_%s is longer than %d characters ###\n",
                  g.members[a].c_str(), g.members[b].c_str(), kNameMax);
          throw MissInput{kContactGroup, rec};
        }
    groups.push_back(std::move(g));
  });
  cprintf("contact_group_num=%d\n", n);
  if (n == 0) return;
  t_.contacts.clear();
  t_.contacts.reserve(pairs);
  cprintf("contact_num=%ld\n", pairs);
  for (const Group& g : groups) {
    for (size_t a = 0; a < g.members.size(); ++a) {
      for (size_t b = a + 1; b < g.members.size(); ++b) {
        Contact c;
        c.id = static_cast<int>(t_.contacts.size());
        c.line = g.line;
        c.flag = g.flag;
        c.name = "CNT_" + g.members[a] + "_" + g.members[b];
        c.iSTL = g.members[a];
        c.jSTL = g.members[b];
        c.k = g.k;
        c.c = g.c;
        c.d = g.d;
        c.e = g.e;
        c.myu = g.myu;
        resolveContact(c);
        t_.contacts.push_back(c);
      }
    }
  }
  printContacts();
}

void Reader::outputs() {
  cprintf("%s\n", cur_.c_str());
  std::vector<OutputRequest> rows;
  int n = list(kOutput, " %s, ", [&](const std::string& first, int rec) {
    if (static_cast<int>(first.size()) > kNameMax) throw MissInput{kOutput, rec};
    OutputRequest o;
    o.line = recordLine_;
    o.name = first;
    o.equ = field(kOutput, rec, kTokenMax);
    rows.push_back(o);
  });
  cprintf("output_num=%d\n", n);
  if (n == 0) return;
  for (int i = 0; i < n; ++i) {
    rows[i].id = i;
    rewrite(kOutput, i + 1, rows[i].equ, kExprMax);
  }
  t_.outputs = rows;
  for (const OutputRequest& o : t_.outputs)
    cprintf("  %d, %s:equ=%s\n", o.id, o.name.c_str(), o.equ.c_str());
}

void Reader::gravity() {
  cprintf("%s\n", cur_.c_str());
  field(kGravity, 0);  // heading, ignored
  std::string flag = field(kGravity, 0);
  cprintf(" %s\n", flag.c_str());
  std::string direction = field(kGravity, 0);
  cprintf(" %s\n", direction.c_str());
  if (token(kGravity, 0) != "%") throw MissInput{kGravity, 0};
  if (direction.size() > 7) direction.resize(7);  // the direction field holds 7 characters
  static const char* kDirections[] = {"x+", "x-", "y+", "y-", "z+", "z-"};
  bool known = false;
  for (const char* d : kDirections) known |= direction == d;
  if (!known) cprintf("  ### Wrong gravity direction %s: x+ is used ###\n", direction.c_str());
  buildGravity(t_, flag == "on" ? 1 : 0, direction);
}

void Reader::simulationTime() {
  cprintf("%s\n", cur_.c_str());
  field(kSimulationTime, 0);  // heading, ignored
  t_.start_time = number(kSimulationTime);
  cprintf("  start_time=%e\n", t_.start_time);
  t_.d_time = number(kSimulationTime);
  cprintf("  d_time=%e\n", t_.d_time);
  t_.end_time = number(kSimulationTime);
  cprintf("  end_time=%e\n", t_.end_time);
  if (token(kSimulationTime, 0) != "%") throw MissInput{kSimulationTime, 0};
}

void Reader::graphicSize() {
  cprintf("%s\n", cur_.c_str());
  field(kGraphicSize, 0);
  field(kGraphicSize, 0);
  t_.frame_size = number(kGraphicSize);
  cprintf("  frame:%e\n", t_.frame_size);
  field(kGraphicSize, 0);
  t_.force_size = number(kGraphicSize);
  cprintf("  force:%e\n", t_.force_size);
  if (token(kGraphicSize, 0) != "%") throw MissInput{kGraphicSize, 0};
  in_.next(cur_);  // one more token, discarded
}

void Reader::closing() {
  cprintf("Parameter\n");
  std::vector<Parameter> rows = t_.parameters;
  for (Parameter& p : rows) {
    p.value = evaluate(p.expr, t_, h_);
    cprintf("  %d:%s, %.3e,", p.id, p.name.c_str(), p.value);
  }
  cprintf("\n");
  for (const LocalCoordinate& lc : t_.frames) {
    Parameter p;
    p.line = recordLine_;
    p.id = static_cast<int>(rows.size());
    p.name = lc.name;
    p.value = lc.id;
    rows.push_back(p);
    cprintf("  %d:%s, %d,", lc.id, lc.name.c_str(), lc.id);
  }
  cprintf("\n");
  for (const Joint& j : t_.joints) {
    Parameter p;
    p.line = recordLine_;
    p.id = static_cast<int>(rows.size());
    p.name = j.name;
    p.value = j.id;
    rows.push_back(p);
    cprintf("  %d:%s, %d,", j.id, j.name.c_str(), j.id);
  }
  cprintf("\n");
  t_.parameters = rows;
  cprintf("Model Complete\n");
}

void Reader::run() {
  // The first three sections each read a fresh token; a wrong one is consumed.
  cur_ = token(kParameter, 0);
  if (cur_ == "parameter_info") parameters();
  cur_ = token(kBody, 0);
  if (cur_ == "body_info") bodies();
  cur_ = token(kFrame, 0);
  if (cur_ == "frame_info" || cur_ == "local_coordinate_info") frames();

  // From here on one current token is tested against each optional section.
  auto advance = [&](Section sec) { cur_ = token(sec, 0); };
  advance(kJoint);
  if (cur_ == "joint_info") joints(), advance(kMotion);
  if (cur_ == "motion_info") motions(), advance(kFunction);
  cprintf("const_num=%d\n", t_.const_num);
  if (cur_ == "function_info") functions(), advance(kForce);
  if (cur_ == "force_info") forces(), advance(kShape);
  t_.stl.clear();
  if (cur_ == "shape_info") shapes(), advance(kTexture);
  if (cur_ == "texture_info") textures(), advance(kShadow);
  loadTextureImages(t_);
  if (cur_ == "shadow_info") shadows(), advance(kContact);
  if (cur_ == "contact_info") contacts(), advance(kContactGroup);
  if (cur_ == "contact_group_info") contactGroups(), advance(kOutput);
  if (cur_ == "output_info") outputs(), advance(kGravity);
  buildGravity(t_, 0, "");
  if (cur_ == "gravity") gravity(), advance(kSimulationTime);
  bool haveTime = cur_ == "simulation_time";
  if (haveTime) simulationTime(), advance(kGraphicSize);
  // Without a positive output interval and a forward time span there is no
  // analysis to run and the sample count is undefined.
  double samples = (t_.end_time - t_.start_time) / t_.d_time + 1.0;
  if (!haveTime || !(t_.d_time > 0.0) || !(t_.end_time >= t_.start_time) ||
      !(samples < kMaxSamples)) {
    if (!haveTime && !cur_.empty() && cur_ != "graphic_size")
      cprintf("  ### Unknown section keyword %s ###\n", cur_.c_str());
    else if (!haveTime)
      cprintf("  ### No simulation_time section ###\n");
    else
      cprintf("  ### d_time must be positive, end_time not before start_time, and at most %.0f samples ###\n",
              kMaxSamples);
    throw MissInput{kSimulationTime, 0};
  }
  t_.sample_num = sampleCount(t_.start_time, t_.d_time, t_.end_time);
  if (cur_ == "graphic_size")
    graphicSize();
  else if (!cur_.empty())
    cprintf("  ### Unknown section keyword %s: the rest of the file is not read ###\n", cur_.c_str());
  closing();
}

// Whether a finished result in h was computed for a model shaped like m.
bool resultFits(const Histories& h, const Model& m) {
  return h.analysis_finished && h.result_shape == resultShapeOf(m);
}

}  // namespace

bool rewriteExpression(const Model& m, std::string& text, size_t limit, std::string& why) {
  auto isBefore = [](char c) { return c == '+' || c == '-' || c == '*' || c == '/' || c == ',' || c == '('; };
  auto isAfter = [](char c) { return c == '+' || c == '-' || c == '*' || c == '/' || c == ',' || c == ')'; };
  auto standsAsName = [&](size_t pos, size_t len) {
    size_t end = pos + len;
    return (end == text.size() || isAfter(text[end])) && (pos == 0 || isBefore(text[pos - 1]));
  };
  // First occurrence of `name` in text, if it stands as a name there.
  auto findName = [&](const std::string& name, size_t& pos) {
    if (name.empty()) return false;
    pos = text.find(name);
    return pos != std::string::npos && standsAsName(pos, name.size());
  };
  // Local-coordinate indices and P(i) put in are final and never matched
  // again: otherwise names that read like them ("0", "P(1)") make a pass
  // replace forever. Every replacement then uses up text that was there
  // before the pass, so the passes end.
  std::vector<bool> put;  // per character of text: put in by a replacement
  auto findFreeName = [&](const std::string& name, size_t& pos) {
    if (name.empty()) return false;
    for (pos = text.find(name); pos != std::string::npos; pos = text.find(name, pos + 1)) {
      const auto from = put.begin() + static_cast<std::ptrdiff_t>(pos);
      if (std::find(from, from + static_cast<std::ptrdiff_t>(name.size()), true) ==
          from + static_cast<std::ptrdiff_t>(name.size()))
        return standsAsName(pos, name.size());
    }
    return false;
  };
  auto replaceFinal = [&](size_t pos, size_t len, const std::string& by) {
    text.replace(pos, len, by);
    const auto at = put.begin() + static_cast<std::ptrdiff_t>(pos);
    put.insert(put.erase(at, at + static_cast<std::ptrdiff_t>(len)), by.size(), true);
  };
  // A pass restarts from the first record after every replacement. Function
  // expansion can cycle (f uses g, g uses f) without growing, so both the
  // number of expansions and the intermediate length are bounded.
  const size_t kGrowthLimit = 1 << 16;
  const int kMaxExpansions = 100000;
  std::vector<int> uses(m.functions.size(), 0);
  int expansions = 0;
  for (size_t j = 0; j < m.functions.size(); ++j) {
    size_t pos;
    if (!findName(m.functions[j].name, pos)) continue;
    text.replace(pos, m.functions[j].name.size(), m.functions[j].expr);
    ++uses[j];
    if (++expansions > kMaxExpansions || text.size() > kGrowthLimit) {
      size_t worst = 0;
      for (size_t k = 1; k < uses.size(); ++k)
        if (uses[k] > uses[worst]) worst = k;
      why = "Function " + m.functions[worst].name + " refers to itself";
      return false;
    }
    j = static_cast<size_t>(-1);
  }
  put.assign(text.size(), false);
  for (size_t j = 0; j < m.frames.size(); ++j) {
    size_t pos;
    if (!findFreeName(m.frames[j].name, pos)) continue;
    replaceFinal(pos, m.frames[j].name.size(), std::to_string(j));
    j = static_cast<size_t>(-1);
  }
  for (size_t j = 0; j < m.parameters.size(); ++j) {
    size_t pos;
    if (!findFreeName(m.parameters[j].name, pos)) continue;
    replaceFinal(pos, m.parameters[j].name.size(), "P(" + std::to_string(j) + ")");
    if (text.size() > kGrowthLimit) break;
    j = static_cast<size_t>(-1);
  }
  if (text.size() > limit) {
    why = format("Expression is longer than %zu characters after rewriting", limit);
    return false;
  }
  return true;
}

ReadStatus readModelFile(const std::string& path, const Settings& s, Model& m, Histories& h,
                         std::string& message) {
  TokenReader in(path);
  if (!in.ok()) {
    cprintf("MODEL FILE OPEN ERROR\n");
    return ReadStatus::OpenError;
  }
  cprintf("MODEL FILE OPEN !!\n\n");

  Model t;
  t.path = path;
  t.model_opened = 1;
  Reader reader(in, s, t, h);
  try {
    reader.run();
  } catch (const MissInput& e) {
    message = e.record > 0 ? format("Miss input at %s: No.%d", kSectionLabel[e.section], e.record)
                           : format("Miss input at %s", kSectionLabel[e.section]);
    cprintf("  %s\n", message.c_str());
    if (e.section <= kFrame) return ReadStatus::InputError;
    // The model read so far replaces the old one, with the local coordinates
    // and every section up to the failing one emptied: the analysis refuses
    // to start and nothing of the previous model is left behind.
    t.frames.clear();
    for (Body& b : t.bodies) b.cg_lc = -1;  // it indexed the local coordinates just dropped
    t.joints.clear();
    t.motions.clear();
    t.functions.clear();
    t.forces.clear();
    t.shapes.clear();
    t.textures.clear();
    t.shadows.clear();
    t.contacts.clear();
    t.stl.clear();
    t.const_num = 0;
    if (e.section <= kOutput) t.outputs.clear();
    t.gravity.clear();
    m = std::move(t);
    resetToInitialState(h, m);
    return ReadStatus::InputError;
  }
  m = std::move(t);
  if (!resultFits(h, m)) {
    // A result held from another model would be drawn with this model's
    // bodies and joints, so it gives way to the initial state.
    resetToInitialState(h, m);
  }
  return ReadStatus::Ok;
}

ReadStatus openModelFile(const std::string& path, std::string& message) {
  cprintf("filename=%s\n", path.c_str());
  if (path.size() > static_cast<size_t>(kTokenMax)) {
    message = format("Model file path is longer than %d characters", kTokenMax);
    cprintf("  %s\n", message.c_str());
    return ReadStatus::InputError;
  }
  ReadStatus st = readModelFile(path, g_settings, g_model, g_hist, message);
  if (st == ReadStatus::InputError) cprintf("  %s\n", message.c_str());
  return st;
}

}  // namespace orv
