// The model at one stored frame, drawn in global coordinates under the
// current modelview: shapes, textures, shadows, local-coordinate axes and
// force arrows, from g_model, the drawn histories (drawnHistories()),
// g_settings and g_view. Every routine
// leaves the matrix stack as it found it and skips what the histories or the
// model do not hold. The view's GL context must be current.
#pragma once

#include "view/camera.h"

namespace orv {

struct Histories;

// The histories the routines below draw from: g_hist, or while one is set, a
// stand-in (the latest sample of a run whose histories are still its own).
const Histories& drawnHistories();
// Sets the stand-in (nullptr: g_hist again); it must outlive its use.
void setDrawnHistories(const Histories* h);

// Replaces the texture objects by one per texture of g_model (at most 30),
// with mipmaps built for those that have an image.
void createTextureObjects();
// Deletes the texture objects made by createTextureObjects.
void deleteTextureObjects();

// One shape; shadowMode 1 draws it black, for the shadow projection.
void drawShape(int frame, int shape, int shadowMode);
// Every texture record.
void drawTextures(int frame);
// Every shadow record, projected from the light onto its plane.
void drawShadows(int frame);
// Axes (length axisLength) and names of every local coordinate.
void drawLocalCoordinates(double axisLength, int frame);
// Joint reactions, force-element forces and contact forces of the frame.
void drawForces(double scale, int frame);
// One arrow from `point` to point + scale * force, with the magnitude when Force_Value is on.
void drawForceArrow(const double point[3], const double force[3], double scale,
                    const float colour[3]);

// A ground grid under the box, across the plane normal to y (the up of the
// view's standard directions), a little wider than the box.
void drawGrid(const Box& box);
// The global axes turned by `rotation` (column-major 4x4, the trackball's)
// in a small square in the lower-left corner of a view of width x height.
void drawTriad(const double rotation[16], int width, int height);

// Whether GLUT was initialised; its shapes and fonts are skipped otherwise.
bool glutReady();

}  // namespace orv
