// The free camera: what the model occupies, fitting it into the view,
// the standard directions and zooming towards a point. Qt-free, so the
// rules are tested without a display.
//
// The picture is P * T(pan) * T(0, 0, -distance) * R * T(-center): R (the
// trackball) turns the world about the view centre, the eye sits `distance`
// in front of it, pan moves the picture in eye space (pan[2] > 0 brings it
// nearer) and P is a perspective of kFieldOfView degrees vertically.
#pragma once

#include <vector>

namespace orv {

struct Model;
struct Histories;
struct ViewState;

constexpr double kFieldOfView = 30.0;  // degrees, vertical
constexpr double kFitFill = 0.87;  // share of the view's limiting side a fitted model spans

// An axis-aligned box in global coordinates; empty until a point is added.
struct Box {
  double lo[3] = {1, 1, 1};
  double hi[3] = {0, 0, 0};
  std::vector<double> points;  // every point added, 3 a point (for the fit)
  bool empty() const { return lo[0] > hi[0]; }
  void add(const double p[3]);
};

// What is drawn at `frame`: every shape (a block's corners, points round a
// sphere or cylinder, an STL mesh's nodes), every local coordinate's origin
// and axis ends. Bodies the histories do not hold at that
// frame stand where they started.
Box modelBox(const Model& m, const Histories& h, int frame);
// The box of what is drawn over the frames held (at most `samples` of them,
// evenly spread): where the ground grid goes.
Box motionBox(const Model& m, const Histories& h, int samples);

// The eye's distance from the view centre: v.distance, or the model length
// before any fit.
double eyeDistance(const ViewState& v, const Model& m);

// Centre and distance so that the box's points, seen in perspective with the
// current rotation, lie centred in a view of width / height `aspect` and
// reach kFitFill of it across the limiting side; pan cleared.
void fitView(ViewState& v, const Box& box, double aspect);
// The isometric direction (from +x +y +z, y up), then fitView.
void resetView(ViewState& v, const Box& box, double aspect);
// Looks along an axis from its side `sign` (axis 0 x, 1 y, 2 z; sign +1 puts
// the eye on the positive side): y up, or -z / +z when looking along y.
void setViewDirection(ViewState& v, int axis, int sign);

// Wheel zoom: the eye comes `factor` times nearer (factor > 1) or goes
// farther, keeping the point under the cursor in place. (px, py) is the
// cursor in pixels from the view's centre, y up; `height` the view's height.
void zoomAt(ViewState& v, const Model& m, double factor, double px, double py, double height);
// Pan by a drag of (dx, dy) pixels (y up) so that the centre plane follows the cursor.
void panBy(ViewState& v, const Model& m, double dx, double dy, double height);
// Model units per pixel on the plane of the view centre.
double unitsPerPixel(const ViewState& v, const Model& m, double height);

}  // namespace orv
