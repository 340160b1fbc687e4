// The model at one stored frame, drawn in global coordinates under the
// current modelview: shapes, textures, shadows, local-coordinate axes and
// force arrows, from g_model, the drawn histories (drawnHistories()),
// g_settings and g_view. Every routine
// leaves the matrix stack as it found it and skips what the histories or the
// model do not hold. The view's GL context must be current.
#pragma once

#include <memory>
#include <vector>

#include "view/camera.h"

namespace orv {

struct Histories;
struct StlMesh;

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

// The STL meshes compiled into display lists, one per mesh and side of its
// normals, each the first time it is drawn. They belong to the GL context
// they were made in; the mesh is held so that its address names it alone.
struct MeshLists {
  struct Entry {
    std::shared_ptr<const StlMesh> mesh;
    int normal_sign;
    unsigned list;
  };
  std::vector<Entry> entries;
};
// The lists the shapes are drawn from, in the current context (nullptr: from
// arrays filled on each draw, for a context without lists of its own).
void setMeshLists(MeshLists* lists);
// Deletes the lists of meshes no shape of g_model draws now, or all of them.
void pruneMeshLists(MeshLists& lists, bool all = false);

// A picture is drawn in two passes: the fragments of alpha 1 with depth, then
// the translucent ones over them. A shape is drawn only in the pass that keeps
// its fragments (the alpha test would drop all of them in the other).
enum class Pass { Opaque, Translucent };

// One shape, if the pass keeps it; shadowMode 1 draws it black, for the shadow projection.
void drawShape(int frame, int shape, int shadowMode, Pass pass);
// Every texture record.
void drawTextures(int frame);
// Every shadow record the pass keeps, projected from the light onto its plane.
void drawShadows(int frame, Pass pass);
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
