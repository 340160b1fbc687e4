// The consistent initial state of an analysis: every body at its initial
// configuration, with the model's velocities, those of the motion-driven
// bodies solved from the velocity constraints Cq qdot = eta.
#include <jama/jama_lu.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "dynamics/dynamics.h"
#include "dynamics/redundancy.h"
#include "math/vec3.h"
#include "model/model.h"
#include "model/state_layout.h"
#include "platform/console.h"
#include "platform/messages.h"

namespace orv {

namespace {

// TNT's stream format, on the console, and a line end.
template <class T>
void printTnt(const T& a) {
  std::ostringstream s;
  s << a;
  cprintf("%s\n", s.str().c_str());
}

// Rows repeated by closed loops are found here, once, and left out of the run.
void dropRedundantRows(const Model& m, DynamicsWork& w) {
  w.dropped.clear();
  w.lastRuntimeDropped.clear();
  w.notice.clear();
  RowDependence dep;
  if (w.ncon == 0 || !findRedundantRows(m, w, {}, dep)) return;
  const std::string report = redundancyReport(m, w, dep.dropped, "");
  if (report.empty()) return;
  cprintf("%s", report.c_str());
  w.notice = report;
  w.dropped = dep.dropped;
  dropRows(w, dep.dropped);
  fillDenseJacobian(m, w);
}

// The motions' prescribed velocities in their rows, 0 in the others.
Vec initialEta(const Model& m, DynamicsWork& w) {
  const int ncon = w.ncon, nm = m.motion_num();
  Vec eta(ncon, 0.0);
  for (int mo = 0; mo < nm; ++mo) eta[ncon - nm + mo] = motionVelocity(m, w.kin, mo, &w.programs);
  for (size_t k = 0; k < w.dropped.size(); ++k)
    if (w.dropped[k]) eta[k] = 0.0;
  cprintf("eta\n");
  printTnt(eta);
  return eta;
}

// The partitioned solve sets the driven body and the bodies joined to it; in
// a closed loop the other bodies of the loop (the rocker of a four-bar) keep
// the model's velocities, which then contradict the motion. When the
// constraints are not met at velocity level, the velocities take the
// smallest change in kinetic-energy measure that meets them:
// dq = -Minv Cq^T S^-1 (Cq q - eta).
void makeVelocitiesConsistent(const Model& m, DynamicsWork& w, const Vec& eta, Vec& qdot) {
  const StateLayout layout{m.body_num()};
  const int ncon = w.ncon;
  Vec r = w.Cq * qdot;
  double worst = 0.0, scale = 0.0;
  for (int i = 0; i < ncon; ++i) {
    r[i] -= eta[i];
    worst = std::max(worst, std::fabs(r[i]));
    scale = std::max(scale, std::fabs(eta[i]));
  }
  for (int k = 0; k < 6 * layout.nb; ++k) {
    double c = 0.0;
    for (int i = 0; i < ncon; ++i) c = std::max(c, std::fabs(w.Cq[i][k]));
    scale = std::max(scale, c * std::fabs(qdot[k]));
  }
  if (!(worst > 1e-10 * scale)) return;
  Mat S = multiplierMatrix(m, w);
  for (int k = 0; k < ncon; ++k)
    if (k < static_cast<int>(w.dropped.size()) && w.dropped[k]) S[k][k] = 1.0, r[k] = 0.0;
  JAMA::LU<double> lu(S);
  Vec lambda = lu.solve(r);
  if (lambda.dim1() != ncon) return;
  for (int i = 0; i < ncon; ++i)
    if (!std::isfinite(lambda[i])) return;
  Vec f = transposeTimes(w.Cq, lambda);
  double change = 0.0;
  for (int b = 0; b < layout.nb; ++b) {
    double jw[3];
    mat3MulVec(jw, w.minv[b].invJ, &f[layout.rot(b)]);
    for (int k = 0; k < 3; ++k) {
      const double dv = w.minv[b].invMass * f[layout.trans(b) + k];
      qdot[layout.trans(b) + k] -= dv;
      qdot[layout.rot(b) + k] -= jw[k];
      change = std::max(change, std::max(std::fabs(dv), std::fabs(jw[k])));
    }
  }
  cprintf("  Initial velocities made consistent with the constraints (largest change %e)\n",
          change);
  char size[32];
  std::snprintf(size, sizeof size, "%.3g", change);
  report(Severity::Notice,
         std::string("Initial velocities made consistent with the constraints (largest change ") +
             size + ")",
         m.path);
}

// The model's velocities, those of the driven bodies solved from eta.
Vec initialVelocities(const Model& m, DynamicsWork& w, const Vec& eta) {
  const StateLayout layout{m.body_num()};
  Vec qdot(6 * layout.nb, 0.0);
  std::vector<int> ma;  // the components the model gives
  for (int b = 0; b < layout.nb; ++b)
    for (int k = 0; k < 3; ++k) {
      qdot[layout.trans(b) + k] = m.bodies[b].vel0[k];
      if (std::fabs(qdot[layout.trans(b) + k]) > 0) ma.push_back(layout.trans(b) + k);
    }
  for (int b = 0; b < layout.nb; ++b)
    for (int k = 0; k < 3; ++k) {
      qdot[layout.rot(b) + k] = m.bodies[b].omega0[k];
      if (std::fabs(qdot[layout.rot(b) + k]) > 0) ma.push_back(layout.rot(b) + k);
    }
  cprintf("ma=%d,mb=%d\n", static_cast<int>(ma.size()), 0);
  cprintf("ma={");
  for (int k : ma) cprintf("%d, ", k);
  cprintf("}\n");
  cprintf("mb={");
  cprintf("}\n");
  const bool driven = m.motion_num() > 0;
  if ((!ma.empty() || driven) && !solveVelocities(m, qdot, {}, eta, w.Cq)) {
    cprintf("  Warning: the initial velocities of the motion-driven bodies cannot be solved; "
            "the model's values are used\n");
    report(Severity::Warning,
           "the initial velocities of the motion-driven bodies cannot be solved; the model's "
           "values are used",
           m.path);
  }
  if (driven) makeVelocitiesConsistent(m, w, eta, qdot);
  return qdot;
}

}  // namespace

void initialAnalysis(const Model& m, DynamicsWork& w, double t, double* Y) {
  const StateLayout layout{m.body_num()};
  cprintf("mbd_initial_vw\n");
  std::vector<double> Y0(layout.size(), 0.0);
  for (int b = 0; b < layout.nb; ++b) Y0[layout.p(b)] = 1.0;
  setKinematics(w.kin, layout.nb, Y0.data());
  assembleConstraints(m, w, Y0.data(), t);
  fillDenseJacobian(m, w);
  cprintf("Cq\n");
  printTnt(w.Cq);
  dropRedundantRows(m, w);
  const Vec qdot = initialVelocities(m, w, initialEta(m, w));

  for (int b = 0; b < layout.nb; ++b) {
    const double p[4] = {1, 0, 0, 0};
    const double* wb = &qdot[layout.rot(b)];
    double pd[4];
    eulerRatesFromOmega(pd, p, wb);
    for (int k = 0; k < 3; ++k) {
      Y[layout.r(b) + k] = 0.0;
      Y[layout.v(b) + k] = qdot[layout.trans(b) + k];
    }
    for (int k = 0; k < 4; ++k) {
      Y[layout.p(b) + k] = p[k];
      Y[layout.pd(b) + k] = pd[k];
    }
    cprintf("[%d]:\n", b);
    cprintf("  V={%e,%e,%e}\n", qdot[layout.trans(b)], qdot[layout.trans(b) + 1],
            qdot[layout.trans(b) + 2]);
    cprintf("  W={%e,%e,%e}\n", wb[0], wb[1], wb[2]);
    cprintf("  Pd={%e,%e,%e,%e}\n", pd[0], pd[1], pd[2], pd[3]);
  }
}

}  // namespace orv
