// The shapes drawn from their sizes in the current local coordinates: boxes,
// cylinders, pipes and the helix of a spring.
#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <vector>

#include "math/vec3.h"
#include "model/globals.h"
#include "view/drawing.h"
#include "view/drawing_parts.h"
#include "view/view_state.h"

namespace orv {
namespace draw {

namespace {

// Segment count from a size value; 0 when it is not a usable count.
int segments(double v) {
  if (!(v >= 1.0) || v > 1e6) return 0;
  return static_cast<int>(v);
}

void circle(std::vector<double>& xy, double radius, int n) {
  xy.resize(2 * static_cast<size_t>(n + 1));
  for (int k = 0; k <= n; ++k) {
    const double a = 2.0 * kPi * k / n;
    xy[2 * k] = radius * std::cos(a);
    xy[2 * k + 1] = radius * std::sin(a);
  }
}

// Outlines are black lines whatever the light.
struct Unlit {
  GLboolean lit = glIsEnabled(GL_LIGHTING);
  Unlit() { glDisable(GL_LIGHTING); }
  ~Unlit() {
    if (lit) glEnable(GL_LIGHTING);
  }
};

}  // namespace

void box(const double* s) {
  const double c[8][3] = {{0, 0, 0},    {0, 0, s[2]},    {s[0], 0, s[2]},    {s[0], 0, 0},
                          {0, s[1], 0}, {0, s[1], s[2]}, {s[0], s[1], s[2]}, {s[0], s[1], 0}};
  static const int faces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {1, 2, 6, 5},
                                  {2, 3, 7, 6}, {0, 4, 7, 3}, {0, 1, 5, 4}};
  static const double normals[6][3] = {{0, -1, 0}, {0, 1, 0},  {0, 0, 1},
                                       {1, 0, 0},  {0, 0, -1}, {-1, 0, 0}};
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  // Outlines first in black, faces after in the shape colour.
  {
    Unlit unlit;
    glColor4f(0, 0, 0, colour[3]);
    for (const auto& f : faces) {
      glBegin(GL_LINE_LOOP);
      for (int v : f) glVertex3dv(c[v]);
      glEnd();
    }
  }
  glColor4fv(colour);
  for (int i = 0; i < 6; ++i) {
    glNormal3dv(normals[i]);
    glBegin(GL_POLYGON);
    for (int v : faces[i]) glVertex3dv(c[v]);
    glEnd();
  }
}

void cylinder(const double* s) {
  const double radius = s[0], length = s[1];
  const int n = segments(s[2]);
  if (n == 0) return;
  std::vector<double> c;
  circle(c, radius, n);
  glNormal3d(0, 0, -1);
  glBegin(GL_POLYGON);
  for (int k = n; k >= 0; --k) glVertex3d(c[2 * k], c[2 * k + 1], 0.0);
  glEnd();
  glNormal3d(0, 0, 1);
  glBegin(GL_POLYGON);
  for (int k = 0; k <= n; ++k) glVertex3d(c[2 * k], c[2 * k + 1], length);
  glEnd();
  // The side is smooth: each corner's normal points away from the axis.
  glBegin(GL_QUADS);
  for (int k = 0; k < n; ++k) {
    glNormal3d(c[2 * k], c[2 * k + 1], 0.0);
    glVertex3d(c[2 * k], c[2 * k + 1], 0.0);
    glNormal3d(c[2 * k + 2], c[2 * k + 3], 0.0);
    glVertex3d(c[2 * k + 2], c[2 * k + 3], 0.0);
    glVertex3d(c[2 * k + 2], c[2 * k + 3], length);
    glNormal3d(c[2 * k], c[2 * k + 1], 0.0);
    glVertex3d(c[2 * k], c[2 * k + 1], length);
  }
  glEnd();

  Unlit unlit;
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  glColor4f(0, 0, 0, colour[3]);
  glLineWidth(2.0f);
  for (double z : {0.0, length}) {
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k <= n; ++k) glVertex3d(c[2 * k], c[2 * k + 1], z);
    glEnd();
  }
  glBegin(GL_LINES);
  glVertex3d(c[0], c[1], 0.0);
  glVertex3d(c[0], c[1], length);
  glEnd();
  glLineWidth(1.0f);
}

void pipe(const double* s) {
  const double length = s[2];
  const int n = segments(s[3]);
  if (n == 0) return;
  std::vector<double> o, in;
  circle(o, s[0], n);
  circle(in, s[1], n);
  // Sides smooth (normal from the axis, outwards or inwards: sign), rings flat (nz).
  auto quad = [](const std::vector<double>& a, const std::vector<double>& b, int k, double za,
                 double zb, double sign, double nz) {
    auto corner = [&](const std::vector<double>& c, int i, double z) {
      if (nz == 0.0) glNormal3d(sign * c[2 * i], sign * c[2 * i + 1], 0.0);
      glVertex3d(c[2 * i], c[2 * i + 1], z);
    };
    if (nz != 0.0) glNormal3d(0.0, 0.0, nz);
    corner(a, k, za);
    corner(a, k + 1, za);
    corner(b, k + 1, zb);
    corner(b, k, zb);
  };
  glBegin(GL_QUADS);
  for (int k = 0; k < n; ++k) {
    quad(o, o, k, 0.0, length, 1.0, 0.0);      // outer side
    quad(in, in, k, 0.0, length, -1.0, 0.0);   // inner side
    quad(o, in, k, 0.0, 0.0, 0.0, -1.0);       // bottom ring
    quad(o, in, k, length, length, 0.0, 1.0);  // top ring
  }
  glEnd();

  Unlit unlit;
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  glColor4f(0, 0, 0, colour[3]);
  glLineWidth(2.0f);
  for (const std::vector<double>* c : {&o, &in})
    for (double z : {0.0, length}) {
      glBegin(GL_LINE_LOOP);
      for (int k = 0; k <= n; ++k) glVertex3d((*c)[2 * k], (*c)[2 * k + 1], z);
      glEnd();
    }
  glBegin(GL_LINES);
  glVertex3d(o[0], o[1], 0.0);
  glVertex3d(o[0], o[1], length);
  glVertex3d(in[0], in[1], 0.0);
  glVertex3d(in[0], in[1], length);
  glEnd();
  glLineWidth(1.0f);
}

void spring(int frame, const Shape& sh) {
  if (sh.force < 0 || sh.force >= g_model.force_num()) return;
  const Force& fe = g_model.forces[sh.force];
  const LocalCoordinate* fi = frameAt(fe.i_lc);
  const LocalCoordinate* fj = frameAt(fe.j_lc);
  double pi[3], pj[3];
  if (!fi || !fj || !placePoint(drawnHistories(), g_model, frame, fi->body, fi->pos, pi) ||
      !placePoint(drawnHistories(), g_model, frame, fj->body, fj->pos, pj))
    return;
  const double l = vec3Norm(pj[0] - pi[0], pj[1] - pi[1], pj[2] - pi[2]);
  const double radius = sh.size[0];
  const int turns = segments(sh.size[2]);
  const int per_turn = segments(sh.size[3]);
  if (turns == 0 || per_turn == 0 || static_cast<double>(turns) * per_turn > 1e6) return;
  const double seg = std::sqrt(std::pow(2.0 * kPi * radius, 2) + std::pow(l / turns, 2)) / per_turn;
  if (!(seg > 0.0)) return;

  std::vector<double> pts;
  pts.reserve(3 * static_cast<size_t>(turns) * (per_turn + 1));
  for (int t = 0; t < turns; ++t)
    for (int k = 0; k <= per_turn; ++k) {
      const double a = 2.0 * kPi * k / per_turn;
      pts.push_back(radius * std::cos(a));
      pts.push_back(radius * std::sin(a));
      pts.push_back(t * l / turns + k * l / (static_cast<double>(turns) * per_turn));
    }
  const double tilt =
      radToDeg(std::asin((l / (static_cast<double>(turns) * per_turn)) / seg)) - 90.0;
  GLUquadric* q = gluNewQuadric();
  if (!q) return;
  const size_t count = pts.size() / 3;
  for (size_t i = 0; i + 1 < count; ++i) {
    const double* a = &pts[3 * i];
    const double* b = &pts[3 * i + 3];
    glPushMatrix();
    glTranslated(a[0], a[1], a[2]);
    glRotated(-radToDeg(std::atan2(b[0] - a[0], b[1] - a[1])), 0, 0, 1);
    glRotated(tilt, 1, 0, 0);
    gluCylinder(q, 0.1 * radius, 0.1 * radius, seg, 8, 1);
    glPopMatrix();
  }
  gluDeleteQuadric(q);
}

}  // namespace draw
}  // namespace orv
