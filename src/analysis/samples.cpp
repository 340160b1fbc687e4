// The sample storage of a run: what is kept of each sample time.
#include <type_traits>

#include "analysis/run_state.h"
#include "expr/measures.h"
#include "model/kinematics.h"
#include "model/histories.h"
#include "platform/console.h"

namespace orv {

void allocateHistories(const Model& m, Histories& h, Kinematics& kin, int N) {
  const size_t n = static_cast<size_t>(N);
  const size_t nj = m.joint_num(), nm = m.motion_num();
  const size_t nf = m.force_num(), nc = m.contact_num(), no = m.output_num();
  auto fresh = [](auto& v, size_t size, const char* label) {
    using V = std::remove_reference_t<decltype(v)>;
    V().swap(v);  // release the old store before the new one is made
    v.assign(size, 0);
    cprintf("%s\n", label);
  };
  fresh(h.p_time, n, "p_time");
  const size_t state = StateLayout{m.body_num()}.size();
  fresh(h.p_YYY, (n + 1) * state, "p_YYY");
  fresh(kin.Y, state, "p_Yi");
  fresh(kin.reactions, 6 * nj, "p_F_const_i");
  fresh(h.p_output, (n + 1) * no, "p_output");
  fresh(h.stl_cont_ti_st, n + 1, "stl_cont_ti_st");
  fresh(h.stl_cont_ti_num, n + 1, "stl_cont_ti_num");
  cprintf("Relese\n");
  fresh(h.p_C_const, (n + 10) * (nm + nj), "p_C_const");
  fresh(h.p_F_const, (n + 10) * nj * 6, "p_F_const");
  fresh(h.p_F_force, (n + 10) * nf * 6, "p_F_force");
  fresh(h.p_F_cotact, (n + 10) * nc * 6, "p_F_cotact");
  h.cont_time_index.clear();
  h.cont_position.clear();
  h.cont_value.clear();
  cprintf("Relese\n");
}

void countTurns(Run& r) {
  if (r.s.stick_stiffness > 0.0 && r.m.contact_num() > 0)
    moveStickAnchors(r.m, r.s, r.Y.data(), r.w.anchors, &r.w.kept);
  if (r.w.kin.turns.empty()) return;
  setKinematics(r.accepted, r.layout.nb, r.Y.data());
  advanceTurns(r.m, r.accepted, r.w.kin.turns);
}

bool evaluateSample(Run& r, int ti) {
  DynamicsWork& w = r.w;
  w.rateSide = RateSide::Forward;
  w.kin.time = r.t;
  w.kin.Y = r.Y;
  w.contacts.clear();
  w.contact = false;
  w.friction = FrictionBound{};
  const bool stored = ti >= 0;
  w.recordRows = stored;
  const bool ok = computeStateDerivative(r.m, r.s, r.h, w, r.t, r.Y.data(), r.k1.data(), r.dofs);
  w.recordRows = false;
  r.k1Contact = w.contact;
  r.haveK1 = ok && (!stored || ti < r.N - 1);
  if (!stored) w.contacts.clear();
  if (ok && r.m.joint_num() > 0) {
    // The reactions are kept in the run even when not stored: F_JOINT reads them.
    r.reactions.resize(r.nj6);
    double* row = stored ? &r.h.p_F_const[static_cast<size_t>(ti) * r.nj6] : r.reactions.data();
    extractJointReactions(r.m, w, w.lambda, row);
    for (size_t k = 0; k < r.nj6; ++k) w.kin.reactions[k] = row[k];
  }
  // The outputs see the state as stored, not the evaluation's copy.
  w.kin.time = r.t;
  w.kin.Y = r.Y;
  setKinematics(w.kin, r.layout.nb, r.Y.data());
  return ok;
}

void storeOutputsAndContacts(Run& r, int ti) {
  Histories& h = r.h;
  const size_t no = r.m.output_num();
  for (size_t c = 0; c < no; ++c)
    h.p_output[static_cast<size_t>(ti) * no + c] = r.w.programs.output[c].evaluate(r.m, r.w.kin);
  // The sample's contact records are those of its own state, like its rows.
  for (const ContactRecord& c : r.w.contacts) {
    h.cont_time_index.push_back(c.ti);
    h.cont_position.insert(h.cont_position.end(), c.pos, c.pos + 3);
    h.cont_value.insert(h.cont_value.end(), c.val, c.val + 3);
  }
  r.w.contacts.clear();
}

void storeSample(Run& r, int ti, double at) {
  Histories& h = r.h;
  const size_t state = r.layout.size();
  h.p_time[ti] = at;
  for (size_t i = 0; i < state; ++i) h.p_YYY[ti * state + i] = r.Y[i];
  storeOutputsAndContacts(r, ti);
  h.anime_num = ti + 1;
  h.current_frame = ti;
  r.observer.sampleStored(r.m, h, ti, r.progress());
}

void buildContactIndex(Histories& h, int N) {
  for (int k = 0; k < N; ++k) h.stl_cont_ti_num[k] = 0;
  for (int v : h.cont_time_index)
    if (v >= 0 && v < N) ++h.stl_cont_ti_num[v];
  h.stl_cont_ti_st[0] = 0;
  for (int k = 1; k < N; ++k)
    h.stl_cont_ti_st[k] = h.stl_cont_ti_st[k - 1] + h.stl_cont_ti_num[k - 1];
}

}  // namespace orv
