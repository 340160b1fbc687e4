// The model file reader, sections 8 to 16: shapes, textures, shadows,
// contacts and contact groups, output channels, gravity, the time span and
// the graphic sizes; then the closing steps of a good read.
#include <cmath>
#include <vector>

#include "files/bmp.h"
#include "files/model_reader.h"
#include "files/model_reader_impl.h"
#include "model/settings.h"
#include "files/stl_reader.h"

namespace orv {
namespace reader {

namespace {

// A contact group may not expand into more pairs than this: the contact loops
// are quadratic in meshes and a runaway member count would exhaust memory.
constexpr long kMaxGroupContacts = 1000000;
// Samples an analysis may store; beyond this the histories would not fit memory.
constexpr double kMaxSamples = 10000000.0;

const std::vector<std::string> kShapeTypes = {"sphere", "cube", "solid", "cylinder",
                                              "spring", "pipe", "STL"};
const std::vector<std::string> kTextureTypes = {"rect", "cylinder_one"};
const std::vector<std::string> kDirections = {"x+", "x-", "y+", "y-", "z+", "z-"};

}  // namespace

void Reader::shapes() {
  static const char* const kSize[] = {"size 1", "size 2", "size 3", "size 4"};
  cprintf("%s\n", cur_.c_str());
  std::vector<Shape> rows;
  std::vector<std::string> stlFiles;
  std::vector<SourcePos> colorPos;
  int n = list(kShape, " %s,", [&](const std::string& first, int rec) {
    recordName(kShape, rec, first, "shape");
    Shape sh;
    sh.line = recordLine_;
    sh.name = first;
    sh.type = keyword(kShape, rec, "shape type", kShapeTypes);
    sh.frame = name(kShape, rec, "the reference local coordinate name");
    sh.color = name(kShape, rec, "a colour name");
    colorPos.push_back(in_.pos());
    sh.trans = expr(kShape, rec, "the opacity");
    std::string file;
    if (sh.type == "sphere" || sh.type == "cube") {
      exprs(kShape, rec, sh.size, 1, kSize);
    } else if (sh.type == "solid" || sh.type == "cylinder") {
      exprs(kShape, rec, sh.size, 3, kSize);
    } else if (sh.type == "spring") {
      sh.force_name = name(kShape, rec, "a force name");
      sh.force = findLastByName(t_.forces, sh.force_name);
      exprs(kShape, rec, sh.size, 4, kSize);
    } else if (sh.type == "pipe") {
      exprs(kShape, rec, sh.size, 4, kSize);
    } else {  // STL
      sh.size[0] = expr(kShape, rec, "the unit of the mesh");
      const std::string sign = field(kShape, rec, "the normal sign (+ or -)");
      if (sign != "+" && sign != "-")
        fail(kShape, rec, in_.pos(),
             format("unknown normal sign %s (expected + or -)", shownToken(sign).c_str()));
      sh.size[1] = sign == "+" ? 1.0 : -1.0;
      file = field(kShape, rec, "an STL file name");
    }
    rows.push_back(sh);
    stlFiles.push_back(file);
  });
  refuseDuplicates(kShape, rows, "shape");
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
      warn(colorPos[i], "unknown colour '" + sh.color + "' drawn grey");
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
    recordName(kTexture, rec, first, "texture");
    Texture tx;
    tx.line = recordLine_;
    tx.name = first;
    tx.type = keyword(kTexture, rec, "texture type", kTextureTypes);
    tx.body_name = name(kTexture, rec, "a body name");
    tx.frame = name(kTexture, rec, "a local coordinate name");
    if (tx.type == "rect") {
      tx.Lx = expr(kTexture, rec, "Lx");
      tx.Ly = expr(kTexture, rec, "Ly");
      tx.dx = truncToInt(expr(kTexture, rec, "dx"));
      tx.dy = truncToInt(expr(kTexture, rec, "dy"));
    } else {  // cylinder_one
      tx.Lx = expr(kTexture, rec, "Lx");
      tx.Ly = expr(kTexture, rec, "Ly");
      tx.dx = truncToInt(expr(kTexture, rec, "dx"));
      tx.dy = 1;
    }
    tx.file = name(kTexture, rec, "a BMP file name");
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
    recordName(kShadow, rec, first, "shadow");
    Shadow sd;
    sd.line = recordLine_;
    sd.name = first;
    sd.frame = name(kShadow, rec, "a local coordinate name");
    cprintf(" %s, ", sd.frame.c_str());
    sd.shape_name = name(kShadow, rec, "a shape name");
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
    c.flag = flag(kContact, rec, first);
    c.name = name(kContact, rec, "the contact's name");
    c.iSTL = name(kContact, rec, "the i shape name");
    c.jSTL = name(kContact, rec, "the j shape name");
    c.k = expr(kContact, rec, "the stiffness k");
    c.c = expr(kContact, rec, "the damping c");
    c.d = expr(kContact, rec, "the depth limit d");
    c.e = expr(kContact, rec, "the exponent e");
    c.myu = expr(kContact, rec, "the friction coefficient");
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
    g.flag = flag(kContactGroup, rec, first);
    const std::string groupName = name(kContactGroup, rec, "the group's name");
    g.k = expr(kContactGroup, rec, "the stiffness k");
    g.c = expr(kContactGroup, rec, "the damping c");
    g.d = expr(kContactGroup, rec, "the depth limit d");
    g.e = expr(kContactGroup, rec, "the exponent e");
    g.myu = expr(kContactGroup, rec, "the friction coefficient");
    const int members = truncToInt(expr(kContactGroup, rec, "the member count"));
    // A group of one touches nothing: its contact would silently not exist.
    if (members < 2)
      fail(kContactGroup, rec, in_.pos(),
           format("contact group '%s' has %d member%s; expected at least 2 shapes",
                  groupName.c_str(), members, members == 1 ? "" : "s"));
    for (int k = 0; k < members; ++k) {
      g.members.push_back(name(kContactGroup, rec, "a member shape name"));
      pairs += static_cast<long>(g.members.size()) - 1;
      if (pairs > kMaxGroupContacts) {
        cprintf("  ### Contact groups expand to more than %ld contacts ###\n", kMaxGroupContacts);
        fail(kContactGroup, rec, in_.pos(),
             format("contact groups expand to more than %ld contacts", kMaxGroupContacts));
      }
    }
    for (size_t a = 0; a < g.members.size(); ++a)
      for (size_t b = a + 1; b < g.members.size(); ++b)
        if (4 + g.members[a].size() + 1 + g.members[b].size() > static_cast<size_t>(kNameMax)) {
          cprintf("  ### Contact name CNT_%s_%s is longer than %d characters ###\n",
                  g.members[a].c_str(), g.members[b].c_str(), kNameMax);
          fail(kContactGroup, rec, recordPos_,
               format("the contact name CNT_%s_%s is longer than %d characters",
                      g.members[a].c_str(), g.members[b].c_str(), kNameMax));
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
  std::vector<SourcePos> equPos;
  int n = list(kOutput, " %s, ", [&](const std::string& first, int rec) {
    recordName(kOutput, rec, first, "output");
    OutputRequest o;
    o.line = recordLine_;
    o.name = first;
    o.equ = field(kOutput, rec, "the channel's expression", kTokenMax);
    equPos.push_back(in_.pos());
    rows.push_back(o);
  });
  refuseDuplicates(kOutput, rows, "output");
  cprintf("output_num=%d\n", n);
  if (n == 0) return;
  for (int i = 0; i < n; ++i) {
    rows[i].id = i;
    rewrite(kOutput, i + 1, equPos[i], rows[i].equ, kExprMax);
  }
  t_.outputs = rows;
  for (int i = 0; i < n; ++i) runTexts_.push_back({equPos[i], &t_.outputs[i].equ});
  for (const OutputRequest& o : t_.outputs)
    cprintf("  %d, %s:equ=%s\n", o.id, o.name.c_str(), o.equ.c_str());
}

void Reader::gravity() {
  cprintf("%s\n", cur_.c_str());
  field(kGravity, 0, "a heading");  // ignored
  const std::string flagWord = field(kGravity, 0, "the gravity flag (on or off)");
  const SourcePos flagPos = in_.pos();
  cprintf(" %s\n", flagWord.c_str());
  const std::string direction = field(kGravity, 0, "the gravity direction");
  const SourcePos directionPos = in_.pos();
  cprintf(" %s\n", direction.c_str());
  const std::string close = token(kGravity, 0);
  if (close != "%")
    fail(kGravity, 0, in_.pos(),
         close.empty() ? std::string("the file ends; expected '%' after the gravity direction")
                       : format("%s where '%%' should close the gravity section",
                                shownToken(close).c_str()));
  if (flagWord != "on" && flagWord != "off")
    fail(kGravity, 0, flagPos,
         format("unknown flag %s (expected on or off)", shownToken(flagWord).c_str()));
  bool known = false;
  for (const std::string& d : kDirections) known |= direction == d;
  if (!known)
    fail(kGravity, 0, directionPos,
         format("unknown gravity direction %s (expected one of: %s)", shownToken(direction).c_str(),
                oneOf(kDirections).c_str()));
  buildGravity(t_, flagWord == "on" ? 1 : 0, direction);
}

void Reader::simulationTime() {
  cprintf("%s\n", cur_.c_str());
  field(kSimulationTime, 0, "a heading");  // ignored
  t_.start_time = number(kSimulationTime, "start_time (a number)");
  cprintf("  start_time=%e\n", t_.start_time);
  t_.d_time = number(kSimulationTime, "d_time (a number)");
  const SourcePos dPos = in_.pos();
  cprintf("  d_time=%e\n", t_.d_time);
  t_.end_time = number(kSimulationTime, "end_time (a number)");
  const SourcePos endPos = in_.pos();
  cprintf("  end_time=%e\n", t_.end_time);
  const std::string close = token(kSimulationTime, 0);
  if (close != "%")
    fail(kSimulationTime, 0, in_.pos(),
         close.empty() ? std::string("the file ends; expected '%' after end_time")
                       : format("%s where '%%' should close the simulation_time section",
                                shownToken(close).c_str()));
  // Without a positive output interval and a forward time span there is no
  // analysis to run and the sample count is undefined; an interval lost in
  // the start time's rounding would never advance the clock.
  const double samples = (t_.end_time - t_.start_time) / t_.d_time + 1.0;
  std::string why;
  SourcePos where = dPos;
  if (!(t_.d_time > 0.0)) {
    why = format("d_time %g is not positive", t_.d_time);
  } else if (!(t_.end_time >= t_.start_time)) {
    why = format("end_time %g is before start_time %g", t_.end_time, t_.start_time);
    where = endPos;
  } else if (t_.start_time + t_.d_time == t_.start_time ||
             t_.end_time - t_.d_time == t_.end_time) {
    why = format("d_time %g is lost in the rounding of times near %g; expected a larger d_time",
                 t_.d_time, std::fabs(t_.start_time) > std::fabs(t_.end_time) ? t_.start_time : t_.end_time);
  } else if (!(samples < kMaxSamples)) {
    why = format("the span needs %.0f samples; at most %.0f are stored", samples, kMaxSamples);
  }
  if (!why.empty()) {
    cprintf("  ### d_time must be positive, end_time not before start_time, and at most %.0f samples ###\n",
            kMaxSamples);
    fail(kSimulationTime, 0, where, why);
  }
}

void Reader::graphicSize() {
  cprintf("%s\n", cur_.c_str());
  field(kGraphicSize, 0, "a heading");
  field(kGraphicSize, 0, "the word frame");
  t_.frame_size = number(kGraphicSize, "the frame size (a number)");
  cprintf("  frame:%e\n", t_.frame_size);
  field(kGraphicSize, 0, "the word force");
  t_.force_size = number(kGraphicSize, "the force size (a number)");
  cprintf("  force:%e\n", t_.force_size);
  const std::string close = token(kGraphicSize, 0);
  if (close != "%")
    fail(kGraphicSize, 0, in_.pos(),
         close.empty() ? std::string("the file ends; expected '%' after the force size")
                       : format("%s where '%%' should close the graphic_size section",
                                shownToken(close).c_str()));
  in_.next(cur_);  // one more token, discarded
}

void Reader::checkRunTexts() {
  // Names in these texts are looked up at every evaluation: the parameters,
  // the local coordinates and the joints (F_JOINT) by name. Anything else
  // reads 0 for the whole run.
  for (const TextPlace& tp : runTexts_) {
    const ExprReading r = readExpression(*tp.text, t_);
    for (const ExprReading::Name& n : r.names)
      if (!n.known) warn(tp.pos, "unknown name '" + n.name + "' read as 0");
    if (r.stop < tp.text->size())
      warn(tp.pos, format("'%s' is read only as far as '%s'; the rest is ignored",
                          tp.text->c_str(), tp.text->substr(0, r.stop).c_str()));
  }
}

void Reader::closing() {
  cprintf("Parameter\n");
  std::vector<Parameter> rows = t_.parameters;
  for (Parameter& p : rows) {
    p.value = evaluate(p.expr, t_);
    cprintf("  %d:%s, %.3e,", p.id, p.name.c_str(), p.value);
  }
  cprintf("\n");
  // Local coordinates and joints read as parameters whose value is their index.
  auto addIndexRows = [&](const auto& table) {
    for (const auto& r : table) {
      Parameter p;
      p.id = static_cast<int>(rows.size());
      p.name = r.name;
      p.value = r.id;
      rows.push_back(p);
      cprintf("  %d:%s, %d,", r.id, r.name.c_str(), r.id);
    }
    cprintf("\n");
  };
  addIndexRows(t_.frames);
  addIndexRows(t_.joints);
  t_.parameters = rows;
  checkRunTexts();
  flushWarnings();
  cprintf("Model Complete\n");
}

}  // namespace reader
}  // namespace orv
