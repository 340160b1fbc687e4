// What a run leaves behind: the sampled results of an analysis (or of a result
// file or a motion import). The view and the graph window read it; the
// analysis, the result reader and the motion import replace it. What a single
// evaluation reads is in model/kinematics.h.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;

struct Histories {
  // Sample store. N = sample count of the model.
  std::vector<double> p_time;    // N: time of each sample
  std::vector<double> p_YYY;     // (N+1) * 14nb: state of each sample
  std::vector<double> p_output;  // (N+1) * no: output channels
  // Names of the output channels when the result brings its own (an imported
  // motion); empty: they are the model's output requests.
  std::vector<std::string> channel_names;
  std::vector<int> stl_cont_ti_st;   // N+1: first contact record of each sample
  std::vector<int> stl_cont_ti_num;  // N+1: contact records of each sample
  std::vector<double> p_C_const;     // (N+10) * (nm+nj): constraint violations
  std::vector<double> p_F_const;     // (N+10) * 6nj: joint reactions
  std::vector<double> p_F_force;     // (N+10) * 6nf: force-element forces
  std::vector<double> p_F_cotact;    // (N+10) * 6nc: cleared, never written

  // Contact records of the accepted steps, one entry (or 3-vector) per record.
  std::vector<int> cont_time_index;
  std::vector<double> cont_position;
  std::vector<double> cont_value;

  // Table sizes of the model the held result belongs to, so that a result is
  // never drawn or plotted with another model's bodies and channels.
  struct Shape {
    int nb = -1, nj = -1, nm = -1, nf = -1, nc = -1, no = -1, samples = -1;
    bool operator==(const Shape& o) const {
      return nb == o.nb && nj == o.nj && nm == o.nm && nf == o.nf && nc == o.nc && no == o.no &&
             samples == o.samples;
    }
  } result_shape;

  int anime_num = 1;             // stored samples the view may show
  int current_frame = 0;         // last stored sample
  int analysis_finished = 0;     // 1 once a result (analysis, file, import) is held
  std::string version = "0.00";  // version text of result files
};

// Replaces the sample store by the one-sample arrays that let the view draw
// the initial state of a freshly read model: p_YYY all 0 but e0 = 1, zero
// reactions, violations and forces, anime_num 1.
void setOneSampleResult(Histories& h, const Model& m);

// The table sizes of m, as recorded with a result computed for it.
Histories::Shape resultShapeOf(const Model& m);

// Output channels of the held result (its own names, else the model's
// output requests): their count, the row width of p_output, and a name.
int channelCount(const Model& m, const Histories& h);
const std::string& channelName(const Model& m, const Histories& h, int c);

// Drops any held result: everything but the version text is cleared and the
// one-sample arrays of the initial state of m are set, p_time = {0}.
void resetToInitialState(Histories& h, const Model& m);

}  // namespace orv
