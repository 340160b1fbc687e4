#include "dynamics/start_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "dynamics/dynamics.h"
#include "dynamics/model_check.h"
#include "dynamics/redundancy.h"
#include "expr/evaluator.h"
#include "joints/constraints.h"
#include "joints/motions.h"
#include "math/vec3.h"
#include "model/kinematics.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "platform/console.h"
#include "platform/messages.h"
#include "platform/source_pos.h"

namespace orv {

namespace {

// Gaps and rates above these fractions of their scale are no round-off.
constexpr double kGapWarning = 1e-9;    // of the model size, or radians
constexpr double kGapLimit = 1e-2;      // of the model size
constexpr double kAngleLimit = 1e-3;    // radians
constexpr double kDisagreement = 1e-6;  // of the model size, radians, or of the rates

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
  DynamicsWork w;           // rows assembled at the initial configuration, at rest
  Kinematics moving;        // the start state with the model's velocities
  Kinematics rest;          // the initial configuration at rest (as the initial analysis)
  std::vector<double> phi;  // per row: position violation (0 for rows that hold)
  std::vector<double> eta;  // per row: prescribed rate (motions; 0 for joints)
  double size = 1.0;        // model size, never 0
  std::vector<std::string> problems;
  std::vector<char> told;  // per entry: a problem of its record is reported

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

void setState(const Model& m, Kinematics& kin, const std::vector<double>& Y) {
  kin.time = m.start_time;
  kin.Y = Y;
  kin.reactions.assign(6 * static_cast<size_t>(m.joint_num()), 0.0);
  setKinematics(kin, m.body_num(), Y.data());
}

// Motion rates and force6 components at the start state.
void checkExpressions(Start& st) {
  const Model& m = st.m;
  const ModelPrograms& progs = st.w.programs;
  for (int mo = 0; mo < m.motion_num(); ++mo) {
    const double v = progs.motion_dt[mo].evaluate(m, st.moving);
    const Motion& M = m.motions[mo];
    if (std::isfinite(v)) continue;
    st.told[st.nj() + mo] = 1;
    st.refuse(M.line, "Motion " + M.name + ": rate " + M.dt_equ +
                          " is not finite at the start time (" + num(v) + ")");
  }
  static const char* kComponent[6] = {"Fx", "Fy", "Fz", "Tx", "Ty", "Tz"};
  for (int f = 0; f < m.force_num(); ++f) {
    if (m.forces[f].kind != ForceType::Force6) continue;
    for (int c = 0; c < 6; ++c) {
      const double v = progs.force[6 * static_cast<size_t>(f) + c].evaluate(m, st.moving);
      if (!std::isfinite(v))
        st.refuse(m.forces[f].line, "Force " + m.forces[f].name + ": component " + kComponent[c] +
                                        " = " + m.forces[f].equ[c] +
                                        " is not finite at the start (" + num(v) + ")");
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
    const JointType type = m.joints[j].kind;
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
      what =
          "gap " + num(gap) + " m, above 1% of the model size (" + num(kGapLimit * st.size) + " m)";
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
      report(Severity::Warning, head + size, m.path, m.joints[j].line);
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
    const double sc =
        dep.size2[c] > 0.0 ? std::sqrt(dep.size2[c]) : 1.0;  // a zero row: its own rate
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
        e < st.nj() ? jointRowLevel(m.joints[e].kind, c - w.rowStart[e]) : RowLevel::Held;
    std::string what;
    if (level == RowLevel::Length && std::fabs(dphi) > kDisagreement * st.size)
      what = "a gap that differs by " + num(std::fabs(dphi)) + " m";
    else if (level == RowLevel::Angle && std::fabs(dphi) > kDisagreement)
      what = "an angle that differs by " + num(std::fabs(dphi)) + " rad";
    else if (std::fabs(deta) / sc > kDisagreement * rate)
      what = "a rate that differs by " + num(std::fabs(deta));
    if (what.empty()) continue;
    st.told[e] = 1;
    const std::string row = e < st.nj() ? "its row " + std::to_string(c - w.rowStart[e] + 1) +
                                              " of " + std::to_string(w.rows[e].nrows)
                                        : "its row";
    st.refuse(st.line(e), st.record(e) + " contradicts " + st.other(other < 0 ? e : other) + ": " +
                              row + " repeats what the other fixes, with " + what +
                              " at the start");
  }
}

}  // namespace

bool checkStartOfRun(const Model& m, const DynamicsWork& w, std::string& message) {
  Start st(m, w);
  const StateLayout layout{m.body_num()};
  st.size = m.max_length > 0.0 && std::isfinite(m.max_length) ? m.max_length : 1.0;
  std::vector<double> Y(layout.size(), 0.0);
  for (int b = 0; b < layout.nb; ++b) Y[layout.p(b)] = 1.0;
  setState(m, st.rest, Y);
  for (int b = 0; b < layout.nb; ++b) {
    const double p0[4] = {1, 0, 0, 0};
    for (int k = 0; k < 3; ++k) Y[layout.v(b) + k] = m.bodies[b].vel0[k];
    eulerRatesFromOmega(&Y[layout.pd(b)], p0, m.bodies[b].omega0);
  }
  setState(m, st.moving, Y);
  checkExpressions(st);
  // The rows as the initial analysis assembles them: at rest.
  st.w.kin = st.rest;
  assembleConstraints(m, st.w, st.rest.Y.data(), m.start_time);
  checkRowsFinite(st);
  if (st.problems.empty()) {
    checkAssembly(st);
    checkRepeatedRows(st);
  }
  return listProblems(st.problems, message);
}

}  // namespace orv
