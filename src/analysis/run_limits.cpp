#include "analysis/run_limits.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "joints/constraints.h"
#include "joints/motions.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "dynamics/dynamics.h"
#include "math/vec3.h"

namespace orv {

namespace {

// Bodies held by a ground joint: they hold no energy that can turn into motion.
std::vector<char> heldBodies(const Model& m) {
  std::vector<char> held(static_cast<size_t>(m.body_num()), 0);
  for (const Joint& J : m.joints)
    if (J.kind == JointType::Ground && J.i_lc >= 0 && J.i_lc < m.frame_num() &&
        m.frames[J.i_lc].body >= 0 && m.frames[J.i_lc].body < m.body_num())
      held[static_cast<size_t>(m.frames[J.i_lc].body)] = 1;
  return held;
}

}  // namespace

RunLimits startLimits(const Model& m, const std::vector<double>& inertia, const double* Y0,
                      double span) {
  const StateLayout layout{m.body_num()};
  const int nb = layout.nb;
  const double L = m.max_length;
  const std::vector<char> held = heldBodies(m);
  RunLimits lim;
  double mass = 0.0;
  for (int b = 0; b < nb; ++b) {
    const Body& B = m.bodies[b];
    if (held[static_cast<size_t>(b)]) continue;
    const double mb = std::fabs(B.mass);
    mass += mb;
    double g = 0.0;
    if (b < static_cast<int>(m.gravity.size()) && B.mass != 0.0)
      g = vec3Norm(m.gravity[b].F[0], m.gravity[b].F[1], m.gravity[b].F[2]) / mb;
    const double* v = &Y0[layout.v(b)];
    double w[3], Jw[3];
    omegaFromEulerRates(w, &Y0[layout.p(b)], &Y0[layout.pd(b)]);
    double kinetic = 0.5 * mb * vec3Dot(v, v);
    if (inertia.size() >= 9 * static_cast<size_t>(b) + 9)
      kinetic += 0.5 * std::fabs(vec3Dot(w, mat3MulVec(Jw, &inertia[9 * b], w)));
    lim.fixed += mb * (g * L + 0.5 * (g * span) * (g * span)) + kinetic;
  }
  if (!(lim.fixed > 0.0) || !std::isfinite(lim.fixed)) lim.fixed = 0.5 * (mass > 0.0 ? mass : 1.0);
  return lim;
}

void noteStep(RunLimits& lim, const Model& m, const DynamicsWork& w, const double* Y, double dt) {
  const StateLayout layout{m.body_num()};
  const int nb = layout.nb;
  for (int mo = 0; mo < m.motion_num() && mo < static_cast<int>(w.rates.size()); ++mo) {
    const double f = std::fabs(w.rates[static_cast<size_t>(mo)].rate);
    if (!std::isfinite(f)) continue;
    if (m.motions[mo].kind == MotionType::Rotation) {
      lim.fastestTurn = std::max(lim.fastestTurn, f);
      lim.fastestDrive = std::max(lim.fastestDrive, f * m.max_length);
    } else {
      lim.fastestDrive = std::max(lim.fastestDrive, f);
    }
  }
  const std::vector<char> held = heldBodies(m);
  double mass = 0.0, turning = 0.0, power = 0.0;
  for (int b = 0; b < nb; ++b) {
    const Body& B = m.bodies[b];
    if (held[static_cast<size_t>(b)]) continue;
    mass += std::fabs(B.mass);
    turning +=
        std::max({std::fabs(B.inertia[0]), std::fabs(B.inertia[1]), std::fabs(B.inertia[2])});
    if (w.elementF.size() < 3 * static_cast<size_t>(nb)) continue;
    double om[3];
    omegaFromEulerRates(om, &Y[layout.p(b)], &Y[layout.pd(b)]);
    const double p = std::fabs(vec3Dot(&w.elementF[3 * b], &Y[layout.v(b)])) +
                     std::fabs(vec3Dot(&w.elementN[3 * b], om));
    if (std::isfinite(p)) power += p;
  }
  lim.drive = 0.5 * mass * lim.fastestDrive * lim.fastestDrive +
              0.5 * turning * lim.fastestTurn * lim.fastestTurn;
  lim.work += std::fabs(dt) * power;
}

double speedBound(const RunLimits& lim, double mass) {
  return 10.0 * std::sqrt(2.0 * lim.energyScale() / std::fabs(mass));
}

int bodyBeyondSpeedBound(const RunLimits& lim, const Model& m, const double* Y, double& speed,
                         double& bound) {
  const StateLayout layout{m.body_num()};
  for (int b = 0; b < layout.nb; ++b) {
    const double* v = &Y[layout.v(b)];
    speed = vec3Norm(v[0], v[1], v[2]);
    bound = speedBound(lim, m.bodies[b].mass);
    // A speed that is not a number is beyond every bound.
    if (!(speed <= bound)) return b;
  }
  return -1;
}

int bodyOffUnitSphere(const Model& m, const double* Y, double& norm2) {
  const StateLayout layout{m.body_num()};
  for (int b = 0; b < layout.nb; ++b) {
    const double* p = &Y[layout.p(b)];
    norm2 = p[0] * p[0] + p[1] * p[1] + p[2] * p[2] + p[3] * p[3];
    if (!(std::fabs(norm2 - 1.0) <= 0.5)) return b;
  }
  return -1;
}

StableStep stableStepEstimate(const Model& m) {
  const std::vector<double> held = [&] {
    std::vector<double> inv(static_cast<size_t>(m.body_num()), 0.0);
    const std::vector<char> fixed = heldBodies(m);
    for (int b = 0; b < m.body_num(); ++b)
      if (!fixed[static_cast<size_t>(b)] && m.bodies[b].mass != 0.0)
        inv[static_cast<size_t>(b)] = 1.0 / std::fabs(m.bodies[b].mass);
    return inv;
  }();
  StableStep out;
  out.step = std::numeric_limits<double>::infinity();
  for (int f = 0; f < m.force_num(); ++f) {
    const Force& e = m.forces[f];
    if (e.kind != ForceType::Spring1) continue;
    double inv = 0.0;  // 1 / mu
    for (int b : {e.i_body, e.j_body})
      if (b >= 0 && b < m.body_num()) inv += held[static_cast<size_t>(b)];
    // A spring that pushes when stretched, or a damper that feeds energy,
    // grows at any step: no step size is to blame for it.
    const double k = e.k[0], c = e.c[0];
    if (!(inv > 0.0) || !(k >= 0.0 && c >= 0.0) || !std::isfinite(k + c)) continue;
    // |lambda| of the fast root: c/(2mu) + sqrt((c/2mu)^2 - k/mu) when real,
    // sqrt(k/mu) when complex.
    const double a = 0.5 * c * inv, w2 = k * inv;
    const double lambda = a * a >= w2 ? a + std::sqrt(a * a - w2) : std::sqrt(w2);
    if (!(lambda > 0.0)) continue;
    const double h = 2.785 / lambda;
    if (h < out.step) out.step = h, out.force = f;
  }
  return out;
}

}  // namespace orv
