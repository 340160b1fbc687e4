#include "solver/model_check.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "expr/evaluator.h"
#include "joints/constraints.h"
#include "joints/motions.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/settings.h"
#include "model/source_pos.h"
#include "platform/console.h"
#include "solver/dynamics.h"
#include "solver/redundancy.h"
#include "solver/vec3.h"

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

// The problems as the message of a refusal: one a line, the first 20.
bool listProblems(const std::vector<std::string>& problems, std::string& message) {
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
    // Both sides on one body: the rows would tie the body to itself (only
    // "ground" leaves its j side unused).
    if (type != JointType::Ground && lcOk(J.i_lc) && lcOk(J.j_lc) &&
        m.frames[J.i_lc].body == m.frames[J.j_lc].body)
      refuse(J.line, "Joint " + J.name + ": local coordinates " + J.iframe + " and " + J.jframe +
                         " are both on body " + m.frames[J.i_lc].body_name +
                         "; a joint joins two bodies");
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
  return listProblems(problems, message);
}

namespace {

// Gaps and rates above these fractions of their scale are no round-off.
constexpr double kGapWarning = 1e-9;     // of the model size, or radians
constexpr double kGapLimit = 1e-2;       // of the model size
constexpr double kAngleLimit = 1e-3;     // radians
constexpr double kDisagreement = 1e-6;   // of the model size, radians, or of the rates

std::string num(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char b[32];
  std::snprintf(b, sizeof b, "%.3g", v);
  return b;
}

// What the start of a run sees, built apart from the run's histories.
struct Start {
  const Model& m;
  DynamicsWork w;                  // rows assembled at the initial configuration, at rest
  Histories moving;                // the start state with the model's velocities
  Histories rest;                  // the initial configuration at rest (as the initial analysis)
  std::vector<double> phi;         // per row: position violation (0 for rows that hold)
  std::vector<double> eta;         // per row: prescribed rate (motions; 0 for joints)
  double size = 1.0;               // model size, never 0
  std::vector<std::string> problems;
  std::vector<char> told;          // per entry: a problem of its record is reported

  Start(const Model& model, const DynamicsWork& work)
      : m(model), w(work), told(work.rows.size(), 0) {}
  void refuse(int line, const std::string& what) {
    problems.push_back(placeLine(m.path, SourcePos{line, 0}, what));
  }
  int nj() const { return m.joint_num(); }
  // "Joint NAME (type)" or "Motion NAME" of entry e, and its line.
  std::string record(int e) const {
    return e < nj() ? "Joint " + m.joints[e].name + " (" + m.joints[e].type + ")"
                    : "Motion " + m.motions[e - nj()].name;
  }
  // "joint NAME (line L)" or "motion NAME (line L)", for naming a second record.
  std::string other(int e) const {
    const std::string at = line(e) > 0 ? " (line " + std::to_string(line(e)) + ")" : "";
    return (e < nj() ? "joint " + m.joints[e].name : "motion " + m.motions[e - nj()].name) + at;
  }
  int line(int e) const { return e < nj() ? m.joints[e].line : m.motions[e - nj()].line; }
};

void setState(const Model& m, Histories& h, const std::vector<double>& Y) {
  h.time = m.start_time;
  h.p_Yi = Y;
  h.p_F_const_i.assign(6 * static_cast<size_t>(m.joint_num()), 0.0);
  publishKinematics(m, h, Y.data());
}

// Motion rates and force6 components at the start state.
void checkExpressions(Start& st) {
  const Model& m = st.m;
  const ModelPrograms& progs = st.w.programs;
  for (int mo = 0; mo < m.motion_num(); ++mo)
    for (const CompiledExpr* e : {&progs.motion_dt[mo], &progs.motion_ddt[mo]}) {
      const double v = e->evaluate(m, st.moving);
      const Motion& M = m.motions[mo];
      const std::string& text = e == &progs.motion_dt[mo] ? M.dt_equ : M.ddt_equ;
      if (std::isfinite(v) || st.told[st.nj() + mo]) continue;
      st.told[st.nj() + mo] = 1;
      st.refuse(M.line, "Motion " + M.name + ": rate " + text + " is not finite at the start time (" +
                            num(v) + ")");
    }
  static const char* kComponent[6] = {"Fx", "Fy", "Fz", "Tx", "Ty", "Tz"};
  for (int f = 0; f < m.force_num(); ++f) {
    if (m.forces[f].type != "force6") continue;
    for (int c = 0; c < 6; ++c) {
      const double v = progs.force[6 * static_cast<size_t>(f) + c].evaluate(m, st.moving);
      if (!std::isfinite(v))
        st.refuse(m.forces[f].line, "Force " + m.forces[f].name + ": component " + kComponent[c] +
                                        " = " + m.forces[f].equ[c] + " is not finite at the start (" +
                                        num(v) + ")");
    }
  }
}

// Every entry of every row at the initial configuration.
void checkRowsFinite(Start& st) {
  const Model& m = st.m;
  for (size_t e = 0; e < st.w.rows.size(); ++e) {
    const ConstraintRows& r = st.w.rows[e];
    for (int k = 0; k < r.nrows && !st.told[e]; ++k) {
      bool finite = std::isfinite(r.gamma[k]);
      for (const double* v : {r.Bri[k], r.Bpi[k], r.Brj[k], r.Bpj[k]})
        for (int c = 0; c < 3; ++c) finite = finite && std::isfinite(v[c]);
      if (finite) continue;
      std::string why;
      if (static_cast<int>(e) < st.nj()) {
        for (int lc : {m.joints[e].i_lc, m.joints[e].j_lc}) {
          if (lc < 0 || lc >= m.frame_num()) continue;
          const LocalCoordinate& L = m.frames[lc];
          bool ok = true;
          for (int c = 0; c < 3; ++c) ok = ok && std::isfinite(L.pos[c]) && std::isfinite(L.ang[c]);
          if (!ok) why = " (local coordinate " + L.name + " is not finite)";
        }
      }
      st.refuse(st.line(static_cast<int>(e)), st.record(static_cast<int>(e)) + ": constraint row " +
                                                  std::to_string(k + 1) +
                                                  " is not finite at the start" + why);
      st.told[e] = 1;
    }
  }
}

// Position violations of the joints' rows, read back from their right sides
// at rest (-beta^2 Phi), and the gaps they make.
void checkAssembly(Start& st) {
  const Model& m = st.m;
  const DynamicsWork& w = st.w;
  st.phi.assign(w.ncon, 0.0);
  for (int j = 0; j < st.nj(); ++j) {
    const JointType type = jointTypeOf(m.joints[j].type);
    const ConstraintRows& r = w.rows[j];
    double gap = 0.0, angle = 0.0;
    for (int k = 0; k < r.nrows && w.rowStart[j] + k < w.ncon; ++k) {
      const RowLevel level = jointRowLevel(type, k);
      if (level == RowLevel::Held) continue;
      const double phi = -r.gamma[k] / (kBaumgarteBeta * kBaumgarteBeta);
      st.phi[w.rowStart[j] + k] = phi;
      (level == RowLevel::Length ? gap : angle) += phi * phi;
    }
    gap = std::sqrt(gap);
    angle = std::sqrt(angle);
    std::string what;
    if (gap > kGapLimit * st.size)
      what = "gap " + num(gap) + " m, above 1% of the model size (" + num(kGapLimit * st.size) + " m)";
    if (angle > kAngleLimit)
      what += (what.empty() ? "" : "; ") + std::string("angle ") + num(angle) + " rad, above " +
              num(kAngleLimit) + " rad";
    const std::string head = st.record(j) + " is not assembled at the start: ";
    if (!what.empty()) {
      st.refuse(m.joints[j].line, head + what);
      st.told[j] = 1;
    } else if (gap > kGapWarning * st.size || angle > kGapWarning) {
      std::string size = gap > kGapWarning * st.size ? "gap " + num(gap) + " m" : "";
      if (angle > kGapWarning)
        size += (size.empty() ? "" : ", ") + std::string("angle ") + num(angle) + " rad";
      const std::string warning = "Warning: " + head + size;
      cprintf("%s\n", placeLine(m.path, SourcePos{m.joints[j].line, 0}, warning).c_str());
    }
  }
}

// Rows that repeat earlier rows must agree with them: the same combination of
// position violations and of prescribed rates, or the rows contradict each
// other and leaving one out would change the model.
void checkRepeatedRows(Start& st) {
  const Model& m = st.m;
  const DynamicsWork& w = st.w;
  RowDependence dep;
  if (!findRedundantRows(m, w, {}, dep, true)) {
    st.refuse(0, "The constraint equations cannot be solved at the start");
    return;
  }
  st.eta.assign(w.ncon, 0.0);
  for (int mo = 0; mo < m.motion_num(); ++mo)
    st.eta[w.rowStart[st.nj() + mo]] = motionVelocity(m, st.rest, mo, &w.programs);
  for (const RowCombination& rc : dep.combinations) {
    const int c = rc.row, e = entryOfRow(m, w, c);
    if (e < 0 || st.told[e]) continue;
    const double sc = dep.size2[c] > 0.0 ? std::sqrt(dep.size2[c]) : 1.0;  // a zero row: its own rate
    // The record it leans on most, in units of the rows' sizes.
    int other = -1;
    double weight = -1.0, dphi = st.phi[c], deta = st.eta[c], rate = std::fabs(st.eta[c]) / sc;
    for (const auto& [k, a] : rc.terms) {
      const double sk = std::sqrt(dep.size2[k]);
      dphi -= a * st.phi[k];
      deta -= a * st.eta[k];
      rate = std::max(rate, std::fabs(st.eta[k]) / sk);
      const int ek = entryOfRow(m, w, k);
      if (ek != e && std::fabs(a) * sk > weight) weight = std::fabs(a) * sk, other = ek;
    }
    const RowLevel level =
        e < st.nj() ? jointRowLevel(jointTypeOf(m.joints[e].type), c - w.rowStart[e]) : RowLevel::Held;
    std::string what;
    if (level == RowLevel::Length && std::fabs(dphi) > kDisagreement * st.size)
      what = "a gap that differs by " + num(std::fabs(dphi)) + " m";
    else if (level == RowLevel::Angle && std::fabs(dphi) > kDisagreement)
      what = "an angle that differs by " + num(std::fabs(dphi)) + " rad";
    else if (std::fabs(deta) / sc > kDisagreement * rate)
      what = "a rate that differs by " + num(std::fabs(deta));
    if (what.empty()) continue;
    st.told[e] = 1;
    const std::string row = e < st.nj() ? "its row " + std::to_string(c - w.rowStart[e] + 1) + " of " +
                                              std::to_string(w.rows[e].nrows)
                                        : "its row";
    st.refuse(st.line(e), st.record(e) + " contradicts " + st.other(other < 0 ? e : other) + ": " +
                              row + " repeats what the other fixes, with " + what + " at the start");
  }
}

}  // namespace

bool checkStartOfRun(const Model& m, const DynamicsWork& w, std::string& message) {
  Start st(m, w);
  const int nb = m.body_num();
  st.size = m.max_length > 0.0 && std::isfinite(m.max_length) ? m.max_length : 1.0;
  std::vector<double> Y(14 * static_cast<size_t>(nb), 0.0);
  for (int b = 0; b < nb; ++b) Y[6 * nb + 4 * b] = 1.0;
  setState(m, st.rest, Y);
  for (int b = 0; b < nb; ++b) {
    const double p0[4] = {1, 0, 0, 0};
    for (int k = 0; k < 3; ++k) Y[3 * nb + 3 * b + k] = m.bodies[b].vel0[k];
    eulerRatesFromOmega(&Y[10 * nb + 4 * b], p0, m.bodies[b].omega0);
  }
  setState(m, st.moving, Y);
  checkExpressions(st);
  assembleConstraints(m, st.rest, st.w, st.rest.p_Yi.data(), m.start_time);
  checkRowsFinite(st);
  if (st.problems.empty()) {
    checkAssembly(st);
    checkRepeatedRows(st);
  }
  return listProblems(st.problems, message);
}

namespace {

// |R(z)| of one fourth-order Runge-Kutta step on x' = lambda x, z = lambda h:
// R(z) = 1 + z + z^2/2 + z^3/6 + z^4/24.
double rk4Growth(std::complex<double> z) {
  return std::abs(1.0 + z * (1.0 + z * (0.5 + z * (1.0 / 6.0 + z / 24.0))));
}

// The largest h for which every h' <= h is stable on x' = lambda x
// (Re lambda <= 0); infinite for lambda = 0. Along any ray into the left
// half-plane the stable stretch ends before |z| = 3.
double largestStableStep(std::complex<double> lambda) {
  const double a = std::abs(lambda);
  if (!(a > 0.0)) return std::numeric_limits<double>::infinity();
  const std::complex<double> u = lambda / a;
  double lo = 0.0, hi = 0.0;
  for (int k = 1; k <= 400 && hi == 0.0; ++k)
    (rk4Growth(0.01 * k * u) > 1.0 + 1e-12 ? hi : lo) = 0.01 * k;
  if (hi == 0.0) return std::numeric_limits<double>::infinity();
  for (int it = 0; it < 60; ++it) {
    const double mid = 0.5 * (lo + hi);
    (rk4Growth(mid * u) > 1.0 + 1e-12 ? hi : lo) = mid;
  }
  return lo / a;
}

std::string number(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.3g", v);
  return b;
}

}  // namespace

std::vector<std::string> contactStepWarnings(const Model& m, const Settings& s) {
  std::vector<std::string> lines;
  const int nb = m.body_num();
  // Bodies held by a ground joint do not move: they add no mass to the mode.
  std::vector<char> held(static_cast<size_t>(nb), 0);
  for (const Joint& J : m.joints)
    if (jointTypeOf(J.type) == JointType::Ground && J.i_lc >= 0 && J.i_lc < m.frame_num() &&
        m.frames[J.i_lc].body >= 0 && m.frames[J.i_lc].body < nb)
      held[static_cast<size_t>(m.frames[J.i_lc].body)] = 1;
  const double coef = s.contact_time_step_coefficient;
  const double hc = coef > 0.0 ? coef * m.d_time : m.d_time;
  if (!(hc > 0.0)) return lines;
  for (const Contact& c : m.contacts) {
    if (c.i_body < 0 || c.j_body < 0 || c.i_body >= nb || c.j_body >= nb || c.i_body == c.j_body)
      continue;
    if (!(c.k > 0.0) || !(c.c >= 0.0)) continue;  // not a spring: nothing oscillates
    double inverseMass = 0.0;
    for (int b : {c.i_body, c.j_body})
      if (!held[static_cast<size_t>(b)] && m.bodies[b].mass > 0.0) inverseMass += 1.0 / m.bodies[b].mass;
    if (!(inverseMass > 0.0)) continue;
    const double mu = 1.0 / inverseMass;
    // mu s^2 + c s + k = 0.
    const std::complex<double> root = std::sqrt(std::complex<double>(c.c * c.c - 4.0 * mu * c.k, 0.0));
    const std::complex<double> l1 = (-c.c + root) / (2.0 * mu), l2 = (-c.c - root) / (2.0 * mu);
    const double hmax = std::min(largestStableStep(l1), largestStableStep(l2));
    if (!(hc > hmax)) continue;
    const double omega = std::sqrt(c.k / mu), fastest = std::max(std::abs(l1), std::abs(l2));
    lines.push_back(placeLine(
        m.path, SourcePos{c.line, 0},
        "Warning: contact " + c.name + ": stiffness " + number(c.k) + " and damping " + number(c.c) +
            " on a mass of " + number(mu) + " kg give omega*h = " + number(omega * hc) +
            " (|lambda|*h = " + number(fastest * hc) + " with the damping) at its step of " + number(hc) +
            " s, beyond the stable range of the integrator; the largest stable d_time is " +
            number(coef > 0.0 ? hmax / coef : hmax) + " s"));
  }
  return lines;
}

}  // namespace orv
