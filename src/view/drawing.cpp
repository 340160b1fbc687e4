// Placement of what is drawn on the bodies, and the shapes and shadows by
// type. The shapes' geometry is in drawing_primitives.cpp and
// drawing_mesh.cpp, textures in drawing_textures.cpp, local coordinates and
// force arrows in drawing_forces.cpp.
#include "view/drawing.h"

#include <GL/gl.h>
#include <GL/freeglut.h>

#include <cmath>

#include "math/vec3.h"
#include "model/globals.h"
#include "view/drawing_parts.h"
#include "view/view_state.h"

namespace orv {
namespace draw {

const LocalCoordinate* frameAt(int lc) {
  return (lc >= 0 && lc < g_model.frame_num()) ? &g_model.frames[lc] : nullptr;
}

bool placeOnBody(int frame, int body, const double* x0) {
  double r[3], p[4];
  if (!bodyStateAt(drawnHistories(), g_model, frame, body, r, p)) return false;
  const double* R0 = g_model.bodies[body].cg_pos;
  glTranslated(R0[0] + r[0], R0[1] + r[1], R0[2] + r[2]);
  // Turn 2 atan2(|e|, e0) about e = (e1, e2, e3). 2 acos(e0) is ill-conditioned
  // near e0 = 1 and ignores |p|: the 7 digits a result file keeps,
  // e0 = 0.9999999 with e3 = -3.67875e-4, drew 0.051 degrees for a turn of 0.042.
  const double n = vec3Norm(p[1], p[2], p[3]);
  const double angle = radToDeg(2.0 * std::atan2(n, p[0]));
  if (angle > 0.001 && n > 0.0) glRotated(angle, p[1] / n, p[2] / n, p[3] / n);
  glTranslated(x0[0] - R0[0], x0[1] - R0[1], x0[2] - R0[2]);
  return true;
}

bool placeFrame(int frame, int lc, bool rotate) {
  const LocalCoordinate* f = frameAt(lc);
  if (!f || !placeOnBody(frame, f->body, f->pos)) return false;
  if (rotate) {
    glRotated(f->ang[0], 0, 0, 1);
    glRotated(f->ang[1], 1, 0, 0);
    glRotated(f->ang[2], 0, 0, 1);
  }
  return true;
}

void bitmapText(void* font, const char* text) {
  if (!glutReady()) return;
  for (const char* c = text; *c; ++c) glutBitmapCharacter(font, *c);
}

}  // namespace draw

using namespace draw;

namespace {
const Histories* g_drawn = nullptr;  // the stand-in, if any
}  // namespace

const Histories& drawnHistories() { return g_drawn ? *g_drawn : g_hist; }
void setDrawnHistories(const Histories* h) { g_drawn = h; }

bool glutReady() { return glutGet(GLUT_INIT_STATE) != 0; }

void drawShape(int frame, int shape, int shadowMode, Pass pass) {
  if (shape < 0 || shape >= g_model.shape_num()) return;
  const Shape& sh = g_model.shapes[shape];
  // The alpha of every fragment: the colour's (lit or not), clamped; a mesh's shadow is opaque.
  const bool opaque = sh.trans >= 1.0 || (shadowMode && sh.kind == ShapeType::Stl);
  if (opaque != (pass == Pass::Opaque)) return;
  // Lit by the settings' light through the colour; a shadow is flat black and
  // a spring's helix is a line.
  if (shadowMode || sh.kind == ShapeType::Spring) {
    glDisable(GL_LIGHTING);
  } else {
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
  }
  if (!shadowMode) {
    // Outlines drawn over the faces stay visible.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 0.0f);
  }
  if (shadowMode)
    glColor4d(0, 0, 0, sh.trans);
  else
    glColor4d(sh.RGB[0], sh.RGB[1], sh.RGB[2], sh.trans);
  glPushMatrix();

  const double* s = sh.size;
  switch (sh.kind) {
    case ShapeType::Sphere:
      if (placeFrame(frame, sh.lc, false) && glutReady()) glutSolidSphere(s[0], 10, 10);
      break;
    case ShapeType::Cube:
      if (placeFrame(frame, sh.lc, true) && glutReady()) {
        glutSolidCube(s[0]);
        glutWireCube(s[0]);
      }
      break;
    case ShapeType::Solid:
      if (placeFrame(frame, sh.lc, true)) box(s);
      break;
    case ShapeType::Cylinder:
      if (placeFrame(frame, sh.lc, true)) cylinder(s);
      break;
    case ShapeType::Pipe:
      if (placeFrame(frame, sh.lc, true)) pipe(s);
      break;
    case ShapeType::Spring:
      if (placeFrame(frame, sh.lc, true)) spring(frame, sh);
      break;
    case ShapeType::Stl: {
      // stlMesh puts the mesh in initial global coordinates: place the global origin.
      const LocalCoordinate* f = frameAt(sh.lc);
      const double origin[3] = {0, 0, 0};
      if (f && placeOnBody(frame, f->body, origin)) stlMesh(sh, shadowMode);
      break;
    }
    case ShapeType::Unknown: break;
  }

  glPopMatrix();
  if (!shadowMode) glDisable(GL_POLYGON_OFFSET_FILL);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
}

void drawShadows(int frame, Pass pass) {
  glDisable(GL_LIGHTING);
  glDisable(GL_LIGHT0);
  for (const Shadow& shadow : g_model.shadows) {
    const LocalCoordinate* f = frameAt(shadow.lc);
    double r[3], p[4];
    if (!f || !bodyStateAt(drawnHistories(), g_model, frame, f->body, r, p)) continue;
    double c[3], A[9], C[9];
    placePoint(drawnHistories(), g_model, frame, f->body, f->pos, c);
    mat3FromEulerParameters(A, p);
    mat3Mul(C, A, f->axes);
    const double n[3] = {C[2], C[5], C[8]};  // current z axis of the plane
    const float plane[4] = {static_cast<float>(n[0]), static_cast<float>(n[1]),
                            static_cast<float>(n[2]), static_cast<float>(-vec3Dot(n, c))};
    GLfloat m[16];
    shadowMatrix(plane, g_view.light_pos, m);
    glPushMatrix();
    glMultMatrixf(m);
    drawShape(frame, shadow.shape, 1, pass);
    glPopMatrix();
    // drawShape switches the light back on.
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
  }
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
}

}  // namespace orv
