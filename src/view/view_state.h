// The view state shared by the main window and the 3D view: shown frame,
// frame step, animation, navigation mode, camera. Qt-free, so its rules are
// tested without a display.
#pragma once

namespace orv {

struct Model;
struct Histories;

struct Trackball {
  double currentQuat[4] = {1, 0, 0, 0};  // w, x, y, z
  double dragQuat[4] = {1, 0, 0, 0};
  int startX = 0, startY = 0;
  bool dragging = false;
  double scaleX = 1.0, scaleY = 1.0;                                     // 1/width, 1/height
  double matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};  // column-major
};

struct ViewState {
  int i_anime = 0;    // shown frame
  int add_anime = 1;  // frames per timer tick when every frame is shown (speed 0)
  bool animating = false;
  // Playback: simulated seconds per wall-clock second, 0 for every frame in
  // turn; at the end, start again or stop.
  double speed = 1.0;
  bool loop = false;
  // Where the clock was set going: the simulated time then and the wall
  // time (seconds of any steady clock).
  double anchor_time = 0.0;
  double anchor_wall = 0.0;
  // What the left button does: orbit (R) or pan (T).
  bool translate_mode = false;
  bool rotate_mode = true;
  double pan[3] = {0, 0, 0};     // x, y and zoom translation in eye space
  double center[3] = {0, 0, 0};  // the point the view turns about
  double distance = 0.0;         // of the eye from the centre; 0: the model length (view/camera.h)
  bool show_grid = true;         // ground grid under the model
  bool show_triad = true;        // axis triad in the lower-left corner
  int cameraLC_id = -1;          // -1: free camera
  double camera_origin[3] = {0, 0, 0};
  double camera_angles[3] = {0, 0, 0};  // Z-X-Z, degrees
  Trackball trackball;
  float light_pos[4] = {0, 0, 0, 1};
};

extern ViewState g_view;

// Start animation: from frame 0.
void startAnimation(ViewState& v);
// Shows frame `frame`, clamped to 0..anime_num-1.
void setFrame(ViewState& v, int frame, int anime_num);
// The two halves of a tick, so the view repaints in between: advance and clamp...
void stepAnimation(ViewState& v, int anime_num);
// ...then stop the animation when the last frame is shown.
void stopAtLastFrame(ViewState& v, int anime_num);
// Centre local coordinate `id` (ignored outside the table); prints "ctrLC_id=%d".
void setCenterLC(ViewState& v, const Model& m, int id);
// Camera combo index k (0 = free camera, k = local coordinate k-1); prints "cameraLC_id=%d".
void setCameraLC(ViewState& v, const Model& m, int k);
// Whether the camera sits on an existing local coordinate.
bool cameraOnLC(const ViewState& v, const Model& m);
// Trackball press / move / release at widget pixel (x, y).
void trackballPress(Trackball& t, int x, int y);
void trackballMove(Trackball& t, int x, int y);
void trackballRelease(Trackball& t, int x, int y);
// Scales of a view of width x height pixels (a drag over the width is a full turn).
void setTrackballSize(Trackball& t, int width, int height);
// Identity rotation, no drag.
void resetTrackball(Trackball& t);
// Rotation q (w, x, y, z, unit), no drag.
void setTrackballRotation(Trackball& t, const double q[4]);

// The model length the camera works with: max_length, or 1 when that is not positive.
double viewLength(const Model& m);
// r and Euler parameters of body `body` at frame `frame`; false when h does not hold them.
bool bodyStateAt(const Histories& h, const Model& m, int frame, int body, double r[3], double p[4]);
// Position at `frame` of the point fixed to `body` with initial position x0; false as above.
bool placePoint(const Histories& h, const Model& m, int frame, int body, const double x0[3],
                double out[3]);
// Column-major modelview of the camera on local coordinate cameraLC_id at frame i_anime,
// eye at its origin looking along its -z once the view has moved the eye to
// (0, 0, eyeDistance); false unless cameraOnLC holds.
bool cameraModelview(const ViewState& v, const Model& m, const Histories& h, double out[16]);
// Column-major matrix projecting from the point light onto the plane (a, b, c, d).
void shadowMatrix(const float plane[4], const float light[4], float out[16]);

}  // namespace orv
