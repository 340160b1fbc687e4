// What helps to read the picture without being part of the model: the
// ground grid and the axis triad.
#include <GL/gl.h>
#include <GL/freeglut.h>

#include <algorithm>
#include <cmath>

#include "view/drawing.h"
#include "view/drawing_parts.h"

namespace orv {

namespace {

// 1, 2 or 5 times a power of ten, about `span` / 10.
double gridStep(double span) {
  const double raw = span / 10.0;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (double f : {1.0, 2.0, 5.0})
    if (f * decade >= raw) return f * decade;
  return 10.0 * decade;
}

}  // namespace

void drawGrid(const Box& box) {
  if (box.empty()) return;
  const double span =
      std::max({box.hi[0] - box.lo[0], box.hi[1] - box.lo[1], box.hi[2] - box.lo[2]});
  if (!(span > 0.0) || !std::isfinite(span)) return;
  const double step = gridStep(span);
  // Lines on multiples of the step, so the grid stays put as the box changes.
  const double x0 = std::floor((box.lo[0] - 0.25 * span) / step) * step;
  const double x1 = std::ceil((box.hi[0] + 0.25 * span) / step) * step;
  const double z0 = std::floor((box.lo[2] - 0.25 * span) / step) * step;
  const double z1 = std::ceil((box.hi[2] + 0.25 * span) / step) * step;
  const double y = box.lo[1];
  glDisable(GL_LIGHTING);
  glColor4d(0.7, 0.7, 0.72, 1.0);
  glBegin(GL_LINES);
  for (double x = x0; x <= x1 + 0.5 * step; x += step) {
    glVertex3d(x, y, z0);
    glVertex3d(x, y, z1);
  }
  for (double z = z0; z <= z1 + 0.5 * step; z += step) {
    glVertex3d(x0, y, z);
    glVertex3d(x1, y, z);
  }
  glEnd();
  glEnable(GL_LIGHTING);
}

void drawTriad(const double rotation[16], int width, int height) {
  const int size = std::max(40, std::min(90, std::min(width, height) / 6));
  glViewport(4, 4, size, size);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(-1, 1, -1, 1, -2, 2);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glMultMatrixd(rotation);
  glDisable(GL_LIGHTING);
  glDisable(GL_DEPTH_TEST);
  glLineWidth(2.0f);
  static const char* const names[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) {
    double tip[3] = {0, 0, 0};
    tip[a] = 0.7;
    glColor3d(a == 0 ? 0.85 : 0, a == 1 ? 0.6 : 0, a == 2 ? 0.9 : 0);
    glBegin(GL_LINES);
    glVertex3d(0, 0, 0);
    glVertex3dv(tip);
    glEnd();
    tip[a] = 0.85;
    glRasterPos3dv(tip);
    draw::bitmapText(GLUT_BITMAP_HELVETICA_12, names[a]);
  }
  glLineWidth(1.0f);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_LIGHTING);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glViewport(0, 0, width, height);
}

}  // namespace orv
