#include "files/loaded_result.h"

#include "model/histories.h"
#include "model/model.h"

namespace orv {

void takeLoadedResult(Histories& h, LoadedResult& r, const Model& m) {
  h.p_time.swap(r.time);
  h.p_YYY.swap(r.state);
  h.p_F_const.swap(r.reaction);
  h.p_C_const.swap(r.violation);
  h.p_F_force.swap(r.force);
  h.p_output.swap(r.output);
  h.channel_names.swap(r.channels);
  h.cont_position.swap(r.contactPosition);
  h.cont_value.swap(r.contactValue);
  h.cont_time_index.swap(r.contactSample);
  h.stl_cont_ti_st.swap(r.sampleFirstContact);
  h.stl_cont_ti_num.swap(r.sampleContacts);
  h.p_Yi.swap(r.current);
  h.p_F_const_i.swap(r.currentReaction);
  h.version.swap(r.version);
  h.analysis_finished = 1;
  h.anime_num = r.samples;
  h.current_frame = 0;
  h.result_shape = resultShapeOf(m);
}

}  // namespace orv
