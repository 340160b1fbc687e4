// The drawing's inner parts, shared by its source files (view/drawing*.cpp):
// placing on a body at a frame, and the shapes drawn in the current local
// coordinates. Nothing else includes this.
#pragma once

#include "model/model.h"

namespace orv {
namespace draw {

// Local coordinate lc of g_model, or null.
const LocalCoordinate* frameAt(int lc);
// Body placement of a point with initial position x0 fixed to `body`:
// translate by R0 + r, rotate by A(p), translate by x0 - R0. False (matrix
// untouched) when the frame or the body is not held.
bool placeOnBody(int frame, int body, const double* x0);
// Local coordinate lc placed at the frame, with its own orientation when `rotate`.
bool placeFrame(int frame, int lc, bool rotate);
// Text at the current raster position (nothing without GLUT).
void bitmapText(void* font, const char* text);

// Shapes from their size values (Shape::size), in the current local coordinates.
void box(const double* s);       // edges along x, y, z from the origin
void cylinder(const double* s);  // radius, length along z, segments
void pipe(const double* s);      // outer and inner radius, length, segments
// Helix along local z between the two attachment points of the shape's force element.
void spring(int frame, const Shape& sh);
// The shape's mesh, shared with other shapes, is in the file's axes: the
// shape's placement puts it in the initial configuration (x0 = A x + p).
void stlMesh(const Shape& sh, int shadowMode);

}  // namespace draw
}  // namespace orv
