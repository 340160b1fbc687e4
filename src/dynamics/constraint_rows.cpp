// The rows of the joints and motions at one state: their blocks, the right
// sides gamma of the acceleration equations Cq qddot = gamma, and the
// violation monitor.
#include "dynamics/dynamics.h"
#include "model/histories.h"
#include "model/model.h"
#include "model/state_layout.h"

namespace orv {

void assembleConstraints(const Model& m, DynamicsWork& w, const double* Y, double t) {
  const int nj = m.joint_num();
  const int nm = m.motion_num();
  if (static_cast<int>(w.rates.size()) != nm) w.rates.assign(static_cast<size_t>(nm), MotionRate{});
  for (int e = 0; e < nj + nm; ++e) {
    ConstraintRows& r = w.rows[e];
    if (e < nj) {
      evaluateJoint(m, w.kin, Y, t, e, r);
    } else {
      MotionRate& f = w.rates[static_cast<size_t>(e - nj)];
      f = motionRate(m, w.kin, e - nj, t, w.rateSide, &w.programs);
      motionConstraint(m, w.kin, Y, e - nj, f, r);
    }
  }
  for (int e = 0; e < nj + nm; ++e) {
    const ConstraintRows& r = w.rows[e];
    const int n = e < nj ? jointEquationCount(m.joints[e].kind) : 1;
    for (int k = 0; k < n; ++k) w.gamma[w.rowStart[e] + k] = k < r.nrows ? r.gamma[k] : 0.0;
  }
}

void recordViolations(const Model& m, Histories& h, const DynamicsWork& w, double t) {
  const int ne = m.joint_num() + m.motion_num();
  const int row = sampleRow(m, t);
  if (row < 0) return;
  for (int e = 0; e < ne; ++e) {
    const size_t at = static_cast<size_t>(row) * ne + e;
    if (at < h.p_C_const.size()) h.p_C_const[at] = w.rows[e].violation;
  }
}

void fillDenseJacobian(const Model& m, DynamicsWork& w) {
  const StateLayout layout{m.body_num()};
  const int nj = m.joint_num();
  const int n = 6 * layout.nb;
  if (w.Cq.dim1() != w.ncon || w.Cq.dim2() != n) w.Cq = Mat(w.ncon, n);
  for (int i = 0; i < w.ncon; ++i)
    for (int c = 0; c < n; ++c) w.Cq[i][c] = 0.0;
  // The j blocks are written after the i blocks, so a joint with both sides
  // on one body keeps the j blocks.
  for (size_t e = 0; e < w.rows.size(); ++e) {
    const ConstraintRows& r = w.rows[e];
    const int k0 = w.rowStart[e];
    const int rows = static_cast<int>(e) < nj ? jointEquationCount(m.joints[e].kind) : 1;
    for (int k = 0; k < rows && k < r.nrows; ++k) {
      double* Cq = w.Cq[k0 + k];
      if (r.bi >= 0)
        for (int c = 0; c < 3; ++c) {
          Cq[layout.trans(r.bi) + c] = r.Bri[k][c];
          Cq[layout.rot(r.bi) + c] = r.Bpi[k][c];
        }
      if (r.bj >= 0)
        for (int c = 0; c < 3; ++c) {
          Cq[layout.trans(r.bj) + c] = r.Brj[k][c];
          Cq[layout.rot(r.bj) + c] = r.Bpj[k][c];
        }
    }
  }
}

void fillSparseJacobian(const Model& m, DynamicsWork& w) {
  const StateLayout layout{m.body_num()};
  const int nj = m.joint_num();
  w.jacobian.reset(w.ncon, 6 * layout.nb);
  int cols[12];
  double vals[12];
  for (size_t e = 0; e < w.rows.size(); ++e) {
    const ConstraintRows& r = w.rows[e];
    const int rows = static_cast<int>(e) < nj ? jointEquationCount(m.joints[e].kind) : 1;
    for (int k = 0; k < rows; ++k) {
      // As in the dense form: the j blocks after the i blocks.
      int n = 0;
      auto put = [&](int b, const double* br, const double* bp) {
        for (int c = 0; c < 3; ++c) {
          cols[n] = layout.trans(b) + c, vals[n++] = br[c];
          cols[n] = layout.rot(b) + c, vals[n++] = bp[c];
        }
      };
      if (k < r.nrows && r.bi >= 0) put(r.bi, r.Bri[k], r.Bpi[k]);
      if (k < r.nrows && r.bj >= 0) put(r.bj, r.Brj[k], r.Bpj[k]);
      w.jacobian.appendRow(n, cols, vals);
    }
  }
}

}  // namespace orv
