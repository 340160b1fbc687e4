// Local coordinates (axes and names) and force arrows: joint reactions,
// force elements and contact forces of a frame.
#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/freeglut.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "math/vec3.h"
#include "model/globals.h"
#include "view/drawing.h"
#include "view/drawing_parts.h"
#include "view/view_state.h"

namespace orv {

using namespace draw;

namespace {

// Reaction or force record `index` (six values, force first) of `frame`, or null.
const double* record6(const std::vector<double>& v, int count, int frame, int index) {
  const size_t at = (static_cast<size_t>(frame) * count + index) * 6;
  return at + 3 <= v.size() ? &v[at] : nullptr;
}

}  // namespace

void drawLocalCoordinates(double axisLength, int frame) {
  glDisable(GL_LIGHTING);
  GLdouble model[16], projection[16];
  GLint viewport[4];
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  glGetIntegerv(GL_VIEWPORT, viewport);
  // Names already written, as window rectangles: one that would overlap them is left out.
  struct Rect {
    double x0, y0, x1, y1;
  };
  std::vector<Rect> written;
  for (int i = 0; i < g_model.frame_num(); ++i) {
    const LocalCoordinate& f = g_model.frames[i];
    glPushMatrix();
    // A frame the histories do not hold: no axes, the name where it started.
    const bool placed = placeFrame(frame, i, true);
    if (!placed) glTranslated(f.pos[0], f.pos[1], f.pos[2]);
    if (placed) {
      glBegin(GL_LINES);
      glColor3d(1, 0, 0);
      glVertex3d(0, 0, 0);
      glVertex3d(axisLength, 0, 0);
      glColor3d(0, 1, 0);
      glVertex3d(0, 0, 0);
      glVertex3d(0, axisLength, 0);
      glColor3d(0, 0, 1);
      glVertex3d(0, 0, 0);
      glVertex3d(0, 0, axisLength);
      glEnd();
    }
    // The name goes with its body, in the colour of the z axis.
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    GLdouble wx, wy, wz;
    if (glutReady() && gluProject(0, 0, 0, model, projection, viewport, &wx, &wy, &wz)) {
      const Rect r{wx, wy,
                   wx + glutBitmapLength(GLUT_BITMAP_HELVETICA_10,
                                         reinterpret_cast<const unsigned char*>(f.name.c_str())),
                   wy + 10};
      const bool overlaps = std::any_of(written.begin(), written.end(), [&](const Rect& o) {
        return r.x0 < o.x1 && o.x0 < r.x1 && r.y0 < o.y1 && o.y0 < r.y1;
      });
      if (!overlaps) {  // over the shapes, which would hide part of it
        written.push_back(r);
        glColor3d(0, 0, 1);
        glRasterPos3d(0, 0, 0);
        glDisable(GL_DEPTH_TEST);
        bitmapText(GLUT_BITMAP_HELVETICA_10, f.name.c_str());
        glEnable(GL_DEPTH_TEST);
      }
    }
    glPopMatrix();
  }
  glEnable(GL_LIGHTING);
}

void drawForces(double scale, int frame) {
  if (frame < 0) return;
  glDisable(GL_LIGHTING);
  static const float green[3] = {0, 1, 0};
  static const float red[3] = {1, 0, 0};
  double point[3];
  const Histories& h = drawnHistories();

  const int nj = g_model.joint_num();
  for (int j = 0; j < nj; ++j) {
    const double* F = record6(h.p_F_const, nj, frame, j);
    const LocalCoordinate* f = frameAt(g_model.joints[j].i_lc);
    if (F && f && placePoint(h, g_model, frame, f->body, f->pos, point))
      drawForceArrow(point, F, scale, green);
  }

  const int nf = g_model.force_num();
  for (int e = 0; e < nf; ++e) {
    const double* F = record6(h.p_F_force, nf, frame, e);
    const LocalCoordinate* f = frameAt(g_model.forces[e].i_lc);
    if (F && f && placePoint(h, g_model, frame, f->body, f->pos, point))
      drawForceArrow(point, F, scale, red);
  }

  const size_t fi = static_cast<size_t>(frame);
  if (g_model.contact_num() > 0 && !h.cont_position.empty() && fi < h.stl_cont_ti_st.size() &&
      fi < h.stl_cont_ti_num.size()) {
    const long long first = h.stl_cont_ti_st[fi];
    const long long count = h.stl_cont_ti_num[fi];
    const size_t held = std::min(h.cont_position.size(), h.cont_value.size()) / 3;
    if (first >= 0 && count > 0)
      for (long long k = first; k < first + count && static_cast<size_t>(k) < held; ++k)
        drawForceArrow(&h.cont_position[3 * k], &h.cont_value[3 * k], scale, red);
  }
  glEnable(GL_LIGHTING);
}

void drawForceArrow(const double point[3], const double force[3], double scale,
                    const float colour[3]) {
  const double Fx = force[0], Fy = force[1], Fz = force[2];
  const double F = vec3Norm(Fx, Fy, Fz);
  if (!(F > 0.0)) return;
  double tip[3];
  for (int a = 0; a < 3; ++a) tip[a] = point[a] + scale * force[a];
  const double h = std::fabs(scale) * F / 10.0;
  // Azimuth and elevation of the force by atan2: acos of a cosine near 1
  // loses the small angles.
  const double Fxy = vec3Norm(Fx, Fy, 0.0);
  const double phi = Fxy > 0.0 ? std::atan2(Fy, Fx) : 0.0;
  const double theta = std::atan2(Fz, Fxy);

  const double kHalfPi = 1.57079632675;
  const double barbs[4][3] = {{phi, kHalfPi, theta + 3.4557519188500003},
                              {phi, kHalfPi, theta + 2.8274333881500002},
                              {phi - kHalfPi, theta, 5.026548245600001},
                              {phi - kHalfPi, theta, 4.3982297149}};
  glLineWidth(2.0f);
  glColor3fv(colour);
  glBegin(GL_LINES);
  glVertex3dv(point);
  glVertex3dv(tip);
  for (const auto& b : barbs) {
    double R[9];
    mat3RotationZXZ(R, b[0], b[1], b[2]);
    glVertex3dv(tip);
    glVertex3d(tip[0] + h * R[0], tip[1] + h * R[3], tip[2] + h * R[6]);
  }
  glEnd();
  glLineWidth(1.0f);

  if (g_settings.Force_Value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3e", F);
    glRasterPos3dv(tip);
    bitmapText(GLUT_BITMAP_HELVETICA_10, text);
  }
}

}  // namespace orv
