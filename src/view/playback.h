// The animation clock: which frame to show at a wall-clock time. In real
// time (ViewState::speed > 0) the simulated time shown advances with the
// wall clock times the speed, whatever the timer's interval and the sample
// spacing: frames are skipped or shown again as the two differ. At speed 0
// every tick shows the next frame (ViewState::add_anime on). Qt-free.
#pragma once

#include <vector>

namespace orv {

struct Histories;
struct ViewState;

// The frames the view may show: anime_num, at most the times held.
int playableFrames(const Histories& h);
// The last frame whose time is at or before t (0 before the first; times ascending).
int frameAtTime(const Histories& h, double t);
// Sets the clock going from the shown frame at wall time `wall`; from the
// first frame when the last is shown.
void play(ViewState& v, const Histories& h, double wall);
// Changes the speed while keeping the simulated time reached.
void setSpeed(ViewState& v, const Histories& h, double speed, double wall);
// One tick at wall time `wall`: the frame to show. At the end it starts
// again when looping; otherwise the last frame is shown (stopAtLastFrame
// then stops the clock, after it was painted).
void playbackTick(ViewState& v, const Histories& h, double wall);
// One frame back or forward, the clock stopped.
void stepFrame(ViewState& v, const Histories& h, int delta);

}  // namespace orv
