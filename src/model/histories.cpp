#include "model/histories.h"

#include "model/model.h"
#include "model/state_layout.h"

namespace orv {

void setOneSampleResult(Histories& h, const Model& m) {
  const StateLayout L{m.body_num()};
  h.p_YYY.assign(L.size(), 0.0);
  for (int b = 0; b < L.nb; ++b) h.p_YYY[L.p(b)] = 1.0;
  h.p_F_const.assign(6 * static_cast<size_t>(m.joint_num()), 0.0);
  h.p_C_const.assign(static_cast<size_t>(m.joint_num()), 0.0);
  h.p_F_force.assign(6 * static_cast<size_t>(m.force_num()), 0.0);
  h.anime_num = 1;
}

Histories::Shape resultShapeOf(const Model& m) {
  Histories::Shape s;
  s.nb = m.body_num();
  s.nj = m.joint_num();
  s.nm = m.motion_num();
  s.nf = m.force_num();
  s.nc = m.contact_num();
  s.no = m.output_num();
  s.samples = m.sample_num;
  return s;
}

int channelCount(const Model& m, const Histories& h) {
  return h.channel_names.empty() ? m.output_num() : static_cast<int>(h.channel_names.size());
}

const std::string& channelName(const Model& m, const Histories& h, int c) {
  const size_t i = static_cast<size_t>(c);
  return h.channel_names.empty() ? m.outputs[i].name : h.channel_names[i];
}

void resetToInitialState(Histories& h, const Model& m) {
  std::string version = h.version;
  h = Histories{};
  h.version = version;
  h.p_time.assign(1, 0.0);
  setOneSampleResult(h, m);
}

}  // namespace orv
