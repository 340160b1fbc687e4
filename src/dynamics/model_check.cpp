#include "dynamics/model_check.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "joints/constraints.h"
#include "joints/motions.h"
#include "model/model.h"
#include "model/settings.h"
#include "platform/source_pos.h"
#include "platform/console.h"

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
      problems.push_back(
          placeLine(m.path, SourcePos{c.line, 0}, "Contact " + c.name + ": " + what));
  };
  for (const Contact& c : m.contacts) {
    const struct {
      int shape, body;
      const std::string& name;
    } sides[2] = {{c.i_shape, c.i_body, c.iSTL}, {c.j_shape, c.j_body, c.jSTL}};
    for (const auto& side : sides) {
      if (side.shape < 0 || side.shape >= m.shape_num() || side.body < 0) {
        refuse(c, "shape " + side.name + " not found or on no body");
        continue;
      }
      const Shape& sh = m.shapes[side.shape];
      if (sh.kind != ShapeType::Stl)
        refuse(c, "shape " + sh.name + " is of type " + sh.type + ", not an STL mesh");
      else if (!sh.mesh)
        refuse(c, "shape " + sh.name + " has no mesh: mesh file " + sh.stl_file + ": " +
                      (sh.stl_error.empty() ? "not read" : sh.stl_error));
      else if (sh.mesh->stl_num() == 0)
        refuse(c, "shape " + sh.name + " has no mesh: mesh file " + sh.stl_file + ": no triangles");
    }
    const struct {
      const char* name;
      double value;
    } constants[] = {{"k", c.k}, {"c", c.c}, {"d", c.d}, {"e", c.e}, {"myu", c.myu}};
    for (const auto& k : constants)
      if (!(std::isfinite(k.value) && k.value >= 0.0)) {
        char value[32];
        std::snprintf(value, sizeof value, "%g", k.value);
        refuse(c, std::string(k.name) + " = " + value +
                      ": the contact constants k, c, d, e and "
                      "myu must be finite and not negative");
      }
  }
}

}  // namespace

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

bool checkModelForAnalysis(const Model& m, std::string& message) {
  std::vector<std::string> problems;
  auto refuse = [&](int line, const std::string& what) {
    problems.push_back(placeLine(m.path, SourcePos{line, 0}, what));
  };
  auto lcOk = [&](int lc) { return lc >= 0 && lc < m.frame_num() && m.frames[lc].body >= 0; };
  for (const Body& b : m.bodies) {
    if (b.cg_lc < 0)
      refuse(b.line,
             "Body " + b.name + ": centre-of-gravity local coordinate " + b.cg + " not found");
    if (!(b.mass > 0.0) || !(b.inertia[0] > 0.0) || !(b.inertia[1] > 0.0) || !(b.inertia[2] > 0.0))
      refuse(b.line, "Body " + b.name + ": mass and moments of inertia must be positive");
  }
  for (const LocalCoordinate& lc : m.frames)
    if (lc.body < 0)
      refuse(lc.line, "Local coordinate " + lc.name + ": body " + lc.body_name + " not found");
  for (const Joint& J : m.joints) {
    const JointType type = J.kind;
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
    else if (m.joints[mo.joint].kind == JointType::Unknown ||
             m.joints[mo.joint].kind == JointType::Ground || mo.i_body < 0 || mo.j_body < 0)
      refuse(mo.line,
             "Motion " + mo.name + ": joint " + mo.joint_name + " does not join two bodies");
    if (mo.kind == MotionType::Unknown)
      refuse(mo.line, "Motion " + mo.name + ": type " + mo.type + " is not supported (use R or T)");
  }
  for (const Force& f : m.forces) {
    // Other types put no load on the bodies and need no local coordinates.
    if (f.kind != ForceType::Spring1 && f.kind != ForceType::Force6) continue;
    if (!lcOk(f.i_lc) || !lcOk(f.j_lc) || (f.kind == ForceType::Force6 && !lcOk(f.r_lc)))
      refuse(f.line, "Force " + f.name + ": a local coordinate is not usable");
  }
  checkContacts(m, problems);
  return listProblems(problems, message);
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
    if (J.kind == JointType::Ground && J.i_lc >= 0 && J.i_lc < m.frame_num() &&
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
      if (!held[static_cast<size_t>(b)] && m.bodies[b].mass > 0.0)
        inverseMass += 1.0 / m.bodies[b].mass;
    if (!(inverseMass > 0.0)) continue;
    const double mu = 1.0 / inverseMass;
    // mu s^2 + c s + k = 0.
    const std::complex<double> root =
        std::sqrt(std::complex<double>(c.c * c.c - 4.0 * mu * c.k, 0.0));
    const std::complex<double> l1 = (-c.c + root) / (2.0 * mu), l2 = (-c.c - root) / (2.0 * mu);
    const double hmax = std::min(largestStableStep(l1), largestStableStep(l2));
    if (!(hc > hmax)) continue;
    const double omega = std::sqrt(c.k / mu), fastest = std::max(std::abs(l1), std::abs(l2));
    lines.push_back(placeLine(
        m.path, SourcePos{c.line, 0},
        "Warning: contact " + c.name + ": stiffness " + number(c.k) + " and damping " +
            number(c.c) + " on a mass of " + number(mu) +
            " kg give omega*h = " + number(omega * hc) + " (|lambda|*h = " + number(fastest * hc) +
            " with the damping) at its step of " + number(hc) +
            " s, beyond the stable range of the integrator; the largest stable d_time is " +
            number(coef > 0.0 ? hmax / coef : hmax) + " s"));
  }
  return lines;
}

}  // namespace orv
