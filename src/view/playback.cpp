#include "view/playback.h"

#include <algorithm>
#include <cmath>

#include "model/histories.h"
#include "view/view_state.h"

namespace orv {

namespace {

double timeOf(const Histories& h, int frame) {
  return frame >= 0 && static_cast<size_t>(frame) < h.p_time.size() ? h.p_time[frame] : 0.0;
}

void anchor(ViewState& v, const Histories& h, double wall) {
  v.anchor_time = timeOf(h, v.i_anime);
  v.anchor_wall = wall;
}

}  // namespace

int playableFrames(const Histories& h) {
  return std::max(0, std::min(h.anime_num, static_cast<int>(h.p_time.size())));
}

int frameAtTime(const Histories& h, double t) {
  const int n = playableFrames(h);
  const auto end = h.p_time.begin() + n;
  const auto it = std::upper_bound(h.p_time.begin(), end, t);
  return it == h.p_time.begin() ? 0 : static_cast<int>(it - h.p_time.begin()) - 1;
}

void play(ViewState& v, const Histories& h, double wall) {
  const int n = playableFrames(h);
  if (v.i_anime >= n - 1 || v.i_anime < 0) v.i_anime = 0;
  v.animating = true;
  anchor(v, h, wall);
}

void setSpeed(ViewState& v, const Histories& h, double speed, double wall) {
  if (v.animating && v.speed > 0.0) {
    v.anchor_time += v.speed * (wall - v.anchor_wall);
    v.anchor_wall = wall;
  } else {
    anchor(v, h, wall);
  }
  v.speed = speed;
}

void playbackTick(ViewState& v, const Histories& h, double wall) {
  const int last = std::max(0, playableFrames(h) - 1);
  if (!v.animating) {
    stepAnimation(v, last + 1);
    return;
  }
  if (v.speed <= 0.0) {
    if (v.loop && v.i_anime >= last)
      v.i_anime = 0;
    else
      stepAnimation(v, last + 1);
    return;
  }
  // t = t_anchor + speed (wall - wall_anchor), looping over [t_0, t_last].
  const double t0 = timeOf(h, 0), tEnd = timeOf(h, last);
  double t = v.anchor_time + v.speed * (wall - v.anchor_wall);
  if (t >= tEnd && v.loop && tEnd > t0) {
    t = t0 + std::fmod(t - t0, tEnd - t0);
    v.anchor_time = t;
    v.anchor_wall = wall;
  }
  v.i_anime = t >= tEnd ? last : frameAtTime(h, t);
}

void stepFrame(ViewState& v, const Histories& h, int delta) {
  v.animating = false;
  setFrame(v, v.i_anime + delta, playableFrames(h));
}

}  // namespace orv
