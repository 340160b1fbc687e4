#include "harness.h"

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "expr/evaluator.h"
#include "fixtures.h"
#include "fuzz_util.h"
#include "files/bmp.h"
#include "files/model_reader.h"
#include "model/settings.h"
#include "contact/placed_mesh.h"
#include "files/node_merge.h"
#include "files/stl_reader.h"
#include "files/motion_import.h"
#include "files/result_file.h"
#include "files/settings_reader.h"

namespace orvfuzz {

using namespace orv;

namespace {

// Collects the first broken invariant.
class Checks {
 public:
  void operator()(bool ok, const char* what) {
    if (!ok && broken_.empty()) broken_ = what;
  }
  std::string result() const { return broken_; }

 private:
  std::string broken_;
};

std::string bytes(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

template <class T>
bool inTable(int i, const std::vector<T>& table) {
  return i >= -1 && i < static_cast<int>(table.size());
}

bool allFinite(const std::vector<double>& v) {
  for (double x : v)
    if (!std::isfinite(x)) return false;
  return true;
}

bool sameValue(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// What the result reader and the motion import replace.
auto stores(const Histories& h) {
  return std::tie(h.p_time, h.p_YYY, h.p_F_const, h.p_C_const, h.p_F_force, h.p_output,
                  h.channel_names, h.cont_time_index, h.cont_position, h.cont_value,
                  h.stl_cont_ti_st, h.stl_cont_ti_num, h.version, h.anime_num, h.current_frame,
                  h.analysis_finished, h.result_shape);
}

// Sizes of a held result of N samples, as the view and the graph window index it.
void checkHeldResult(Checks& check, const Model& m, const Histories& h) {
  const size_t N = static_cast<size_t>(h.anime_num);
  const size_t nb = m.bodies.size(), nj = m.joints.size(), nm = m.motions.size();
  check(h.anime_num >= 1 && h.p_time.size() == N, "sample count");
  check(h.p_YYY.size() == 14 * nb * N, "state store size");
  check(h.p_F_const.size() == 6 * nj * N, "reaction store size");
  check(h.p_C_const.size() == (nm + nj) * N, "violation store size");
  check(h.p_F_force.size() == 6 * m.forces.size() * N, "force store size");
  check(h.p_output.size() == static_cast<size_t>(channelCount(m, h)) * N, "output store size");
  const size_t R = h.cont_time_index.size();
  check(h.cont_position.size() == 3 * R && h.cont_value.size() == 3 * R, "contact record lists");
  check(h.stl_cont_ti_st.size() == N && h.stl_cont_ti_num.size() == N, "contact tables");
  for (size_t k = 0; k < N && k < h.stl_cont_ti_st.size() && k < h.stl_cont_ti_num.size(); ++k) {
    const int st = h.stl_cont_ti_st[k], num = h.stl_cont_ti_num[k];
    check(st >= 0 && num >= 0 && static_cast<size_t>(st) + static_cast<size_t>(num) <= R,
          "contact records of a sample");
  }
  check(h.result_shape == resultShapeOf(m), "result shape");
}

void checkModel(Checks& check, const Model& m, const Histories& h) {
  const size_t nb = m.bodies.size();
  check(m.gravity.empty() || m.gravity.size() == nb, "one gravity load per body");
  check(h.p_YYY.size() == 14 * nb, "initial state size");
  check(m.sample_num >= 1, "sample count");
  for (const LocalCoordinate& lc : m.frames) check(inTable(lc.body, m.bodies), "frame body");
  for (const Body& b : m.bodies) check(inTable(b.cg_lc, m.frames), "body cg frame");
  for (const Joint& j : m.joints)
    check(inTable(j.i_lc, m.frames) && inTable(j.j_lc, m.frames) && inTable(j.i_body, m.bodies) &&
              inTable(j.j_body, m.bodies),
          "joint frames");
  for (const Motion& mo : m.motions)
    check(inTable(mo.joint, m.joints) && inTable(mo.i_body, m.bodies) &&
              inTable(mo.j_body, m.bodies),
          "motion joint");
  for (const Force& f : m.forces)
    check(inTable(f.i_lc, m.frames) && inTable(f.j_lc, m.frames) && inTable(f.r_lc, m.frames),
          "force frames");
  for (const Shape& s : m.shapes) {
    check(inTable(s.lc, m.frames) && inTable(s.body, m.bodies) && inTable(s.force, m.forces),
          "shape references");
    if (s.stl_num == 0) continue;
    check(s.mesh && s.mesh->stl_num() == s.stl_num && s.mesh->node_num() == s.node_num,
          "mesh sizes");
    if (s.mesh)
      for (int n : s.mesh->tri) check(n >= 0 && n < s.node_num, "triangle corner index");
  }
  for (const Texture& t : m.textures) {
    check(inTable(t.body, m.bodies) && inTable(t.lc, m.frames), "texture references");
    check(t.image.rgb.size() ==
              3 * static_cast<size_t>(t.image.width) * static_cast<size_t>(t.image.height),
          "texture image size");
  }
  for (const Shadow& s : m.shadows)
    check(inTable(s.lc, m.frames) && inTable(s.shape, m.shapes), "shadow references");
  for (const Contact& c : m.contacts) {
    check(inTable(c.i_shape, m.shapes) && inTable(c.j_shape, m.shapes) &&
              inTable(c.i_body, m.bodies) && inTable(c.j_body, m.bodies),
          "contact references");
    check((c.i_shape < 0 || c.i_stl_num == m.shapes[static_cast<size_t>(c.i_shape)].stl_num) &&
              (c.j_shape < 0 || c.j_stl_num == m.shapes[static_cast<size_t>(c.j_shape)].stl_num),
          "contact triangle counts");
  }
}

}  // namespace

std::string runExpr(const uint8_t* data, size_t size) {
  static Model m;
  static Kinematics h;
  static const bool once = (expressionModel(m, h), true);
  (void)once;
  Checks check;
  const std::string text = bytes(data, size);
  const double v = evaluate(text, m, h);
  // A repeated evaluation must not see anything the first one left behind,
  // and the compiled forms (unbound, and bound to the model as a run
  // evaluates them) must give the same value.
  check(sameValue(v, evaluate(text, m, h)), "second evaluation differs");
  const CompiledExpr compiled(text);
  check(sameValue(v, compiled.evaluate(m, h)), "compiled form differs");
  check(sameValue(v, compiled.bind(m).evaluate(m, h)), "bound form differs");

  std::string rewritten = text, why;
  if (rewriteExpression(m, rewritten, kForceExprMax, why)) {
    check(rewritten.size() <= static_cast<size_t>(kForceExprMax), "rewritten text too long");
    evaluate(rewritten, m, h);
  } else {
    check(!why.empty(), "refused rewriting without a reason");
  }
  return check.result();
}

std::string runModel(const uint8_t* data, size_t size) {
  static const Settings settings = [] {
    Settings s;
    s.colors = {{"red", {1, 0, 0}}, {"gray", {0.5, 0.5, 0.5}}, {"blue", {0, 0, 1}}};
    return s;
  }();
  const std::vector<std::string> files = split(data, size, 3);
  const std::string path = scratchPath("model.txt");
  writeFile(path, files[0]);
  writeFile(scratchPath("part.stl"), files[1]);
  writeFile(scratchPath("tex.bmp"), files[2]);

  Checks check;
  Model m;
  Histories h;
  std::string message;
  const ReadStatus st = readModelFile(path, settings, m, h, message);
  check(st != ReadStatus::OpenError, "model file not opened");
  check((st == ReadStatus::Ok) == message.empty(), "message and status disagree");
  checkModel(check, m, h);
  return check.result();
}

std::string runStl(const uint8_t* data, size_t size) {
  static const Model base = stlModel();
  const std::string path = scratchPath("mesh.stl");
  writeFile(path, bytes(data, size));
  Checks check;
  Model m = base;
  const Shape& sh = m.shapes[0];
  if (!readStl(m, 0, path)) {
    check(sh.stl_num == 0 && sh.node_num == 0 && !sh.mesh && !sh.stl_error.empty(),
          "refused mesh kept");
    return check.result();
  }
  const size_t nt = static_cast<size_t>(sh.stl_num), nn = static_cast<size_t>(sh.node_num);
  check(sh.mesh && sh.vertex_num == 3 * sh.stl_num && sh.mesh->tri.size() == 3 * nt &&
            sh.mesh->node.size() == 3 * nn,
        "shape mesh sizes");
  if (!sh.mesh) return check.result();
  PlacedStl placed;
  placeStl(sh, placed);
  check(placed.node.size() == 3 * nn && placed.normal.size() == 3 * nt &&
            placed.center.size() == 3 * nt && placed.radius.size() == nt,
        "placed mesh sizes");
  for (int n : sh.mesh->tri) check(n >= 0 && static_cast<size_t>(n) < nn, "corner index");
  check(allFinite(placed.node) && allFinite(placed.normal) && allFinite(placed.center) &&
            allFinite(placed.radius),
        "mesh value not finite");
  return check.result();
}

std::string runBmp(const uint8_t* data, size_t size) {
  const std::string path = scratchPath("image.bmp");
  writeFile(path, bytes(data, size));
  Checks check;
  Image img;
  if (loadBmp(path, img) == 1)
    check(img.width > 0 && img.height > 0 &&
              img.rgb.size() ==
                  3 * static_cast<size_t>(img.width) * static_cast<size_t>(img.height),
          "decoded image size");
  else
    check(img.width == 0 && img.height == 0 && img.rgb.empty(), "refused image kept");
  return check.result();
}

std::string runSettings(const uint8_t* data, size_t size) {
  ::mkdir(scratchPath("setting").c_str(), 0700);
  const std::vector<std::string> files = split(data, size, 2);
  writeFile(scratchPath("setting/setting.txt"), files[0]);
  writeFile(scratchPath("setting/color.txt"), files[1]);
  Checks check;
  Settings s;
  Model m;
  Histories h;
  check(readSettingsFiles(scratch(), s, m, h), "settings not opened");
  // The analysis opens a team of N_THREADS threads.
  check(s.N_THREADS >= 1 && s.N_THREADS <= s.max_threads, "thread count");
  return check.result();
}

std::string runResult(const uint8_t* data, size_t size) {
  static const Model m = resultModel();
  static const Histories before = resultHistories(m);
  const std::string path = scratchPath("result.txt");
  writeFile(path, bytes(data, size));
  Checks check;
  Histories h = before;
  if (!readResultFile(path, m, h)) {
    check(stores(h) == stores(before), "refused file changed the histories");
    return check.result();
  }
  // An imported motion (which names its channels) brings a time span of its own.
  check(!h.channel_names.empty() || h.anime_num <= m.sample_num,
        "more samples than the model holds");
  checkHeldResult(check, m, h);
  return check.result();
}

std::string runMotion(const uint8_t* data, size_t size) {
  static const Model base = motionModel();
  static const Histories before = [] {
    Histories h = resultHistories(base);
    h.result_shape = resultShapeOf(base);
    return h;
  }();
  const std::vector<std::string> files = split(data, size, 3);
  writeFile(scratchPath("header.txt"), files[0]);
  const std::string mov = scratchPath("run.mov");
  writeFile(mov, files[1]);
  writeFile(scratchPath("run.jnt"), files[2]);

  Checks check;
  Model m = base;
  Histories h = before;
  if (!importMotion(mov, m, h)) {
    check(stores(h) == stores(before), "refused import changed the histories");
    check(m.outputs.size() == base.outputs.size() && m.outputs[0].name == base.outputs[0].name,
          "refused import changed the channels");
    return check.result();
  }
  checkHeldResult(check, m, h);
  for (size_t i = 0; i < m.outputs.size(); ++i)
    check(m.outputs[i].id == static_cast<int>(i), "channel ids");
  return check.result();
}

Harness harnessNamed(const std::string& target) {
  static const struct {
    const char* name;
    Harness run;
  } all[] = {{"expr", runExpr},    {"model", runModel},       {"stl", runStl},
             {"bmp", runBmp},      {"settings", runSettings}, {"result", runResult},
             {"motion", runMotion}};
  for (const auto& t : all)
    if (target == t.name) return t.run;
  return nullptr;
}

}  // namespace orvfuzz
