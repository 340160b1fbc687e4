#include "view/drawing.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/freeglut.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "model/globals.h"
#include "math/vec3.h"
#include "view/view_state.h"

namespace orv {

namespace {

// Texture-object table: entry i belongs to texture i of the model it was made for.
GLuint g_texture_names[kMaxTextures] = {};
bool g_texture_filled[kMaxTextures] = {};
int g_texture_count = 0;

const LocalCoordinate* frameAt(int lc) {
  return (lc >= 0 && lc < g_model.frame_num()) ? &g_model.frames[lc] : nullptr;
}

// Body placement of a point with initial position x0 fixed to `body`:
// translate by R0 + r, rotate by A(p), translate by x0 - R0. False (matrix
// untouched) when the frame or the body is not held.
bool placeOnBody(int frame, int body, const double* x0) {
  double r[3], p[4];
  if (!bodyStateAt(g_hist, g_model, frame, body, r, p)) return false;
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

// Local coordinate lc placed at the frame, with its own orientation when `rotate`.
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

void box(const double* s) {
  const double c[8][3] = {{0, 0, 0},        {0, 0, s[2]},       {s[0], 0, s[2]}, {s[0], 0, 0},
                          {0, s[1], 0},     {0, s[1], s[2]},    {s[0], s[1], s[2]},
                          {s[0], s[1], 0}};
  static const int faces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {1, 2, 6, 5},
                                  {2, 3, 7, 6}, {0, 4, 7, 3}, {0, 1, 5, 4}};
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  // Outlines first in black, faces after in the shape colour.
  glColor4f(0, 0, 0, colour[3]);
  for (const auto& f : faces) {
    glBegin(GL_LINE_LOOP);
    for (int v : f) glVertex3dv(c[v]);
    glEnd();
  }
  glColor4fv(colour);
  for (const auto& f : faces) {
    glBegin(GL_POLYGON);
    for (int v : f) glVertex3dv(c[v]);
    glEnd();
  }
}

void cylinder(const double* s) {
  const double radius = s[0], length = s[1];
  const int n = segments(s[2]);
  if (n == 0) return;
  std::vector<double> c;
  circle(c, radius, n);
  glBegin(GL_POLYGON);
  for (int k = n; k >= 0; --k) glVertex3d(c[2 * k], c[2 * k + 1], 0.0);
  glEnd();
  glBegin(GL_POLYGON);
  for (int k = 0; k <= n; ++k) glVertex3d(c[2 * k], c[2 * k + 1], length);
  glEnd();
  glBegin(GL_QUADS);
  for (int k = 0; k < n; ++k) {
    glVertex3d(c[2 * k], c[2 * k + 1], 0.0);
    glVertex3d(c[2 * k + 2], c[2 * k + 3], 0.0);
    glVertex3d(c[2 * k + 2], c[2 * k + 3], length);
    glVertex3d(c[2 * k], c[2 * k + 1], length);
  }
  glEnd();

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
  auto quad = [](const std::vector<double>& a, const std::vector<double>& b, int k, double za,
                 double zb) {
    glVertex3d(a[2 * k], a[2 * k + 1], za);
    glVertex3d(a[2 * k + 2], a[2 * k + 3], za);
    glVertex3d(b[2 * k + 2], b[2 * k + 3], zb);
    glVertex3d(b[2 * k], b[2 * k + 1], zb);
  };
  glBegin(GL_QUADS);
  for (int k = 0; k < n; ++k) {
    quad(o, o, k, 0.0, length);    // outer side
    quad(in, in, k, 0.0, length);  // inner side
    quad(o, in, k, 0.0, 0.0);      // bottom ring
    quad(o, in, k, length, length);  // top ring
  }
  glEnd();

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

// Helix along local z between the two attachment points of the shape's force element.
void spring(int frame, const Shape& sh) {
  if (sh.force < 0 || sh.force >= g_model.force_num()) return;
  const Force& fe = g_model.forces[sh.force];
  const LocalCoordinate* fi = frameAt(fe.i_lc);
  const LocalCoordinate* fj = frameAt(fe.j_lc);
  double pi[3], pj[3];
  if (!fi || !fj || !placePoint(g_hist, g_model, frame, fi->body, fi->pos, pi) ||
      !placePoint(g_hist, g_model, frame, fj->body, fj->pos, pj))
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
  const double tilt = radToDeg(std::asin((l / (static_cast<double>(turns) * per_turn)) / seg)) - 90.0;
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

// The shape's mesh, shared with other shapes, is in the file's axes: the
// shape's placement puts it in the initial configuration (x0 = A x + p).
void stlMesh(const Shape& sh, int shadowMode) {
  if (!sh.mesh) return;
  const StlMesh& mesh = *sh.mesh;
  const size_t nodes = mesh.node.size() / 3, tris = mesh.tri.size() / 3;
  std::vector<float> vertices, normals;
  vertices.reserve(9 * tris);
  normals.reserve(9 * tris);
  for (size_t t = 0; t < tris; ++t) {
    const int* tn = &mesh.tri[3 * t];
    if (tn[0] < 0 || tn[1] < 0 || tn[2] < 0 || static_cast<size_t>(tn[0]) >= nodes ||
        static_cast<size_t>(tn[1]) >= nodes || static_cast<size_t>(tn[2]) >= nodes)
      continue;
    const double* P0 = &mesh.node[3 * static_cast<size_t>(tn[0])];
    double u[3], w[3], n[3];
    vec3Sub(u, &mesh.node[3 * static_cast<size_t>(tn[1])], P0);
    vec3Sub(w, &mesh.node[3 * static_cast<size_t>(tn[2])], P0);
    vec3Scale(n, static_cast<double>(sh.normal_sign), unitNormal(n, u, w));
    for (int c = 0; c < 3; ++c)
      for (int a = 0; a < 3; ++a) {
        vertices.push_back(static_cast<float>(mesh.node[3 * static_cast<size_t>(tn[c]) + a]));
        normals.push_back(static_cast<float>(n[a]));
      }
  }
  if (vertices.empty()) return;

  // Column-major [A p; 0 1]; a rotation turns the normals alike.
  const double* A = sh.mesh_A;
  const double* p = sh.mesh_pos;
  const GLdouble place[16] = {A[0], A[3], A[6], 0, A[1], A[4], A[7], 0,
                              A[2], A[5], A[8], 0, p[0], p[1], p[2], 1};
  glPushMatrix();
  glMultMatrixd(place);
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, vertices.data());
  if (shadowMode) {
    // Under the flattening shadow matrix the normal transform is singular and
    // lighting gives arbitrary colours: draw the black it would give unlit.
    glColor4d(0, 0, 0, 1);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices.size() / 3));
    glDisableClientState(GL_VERTEX_ARRAY);
    glPopMatrix();
    return;
  }
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  const GLfloat colour[4] = {static_cast<GLfloat>(sh.RGB[0]), static_cast<GLfloat>(sh.RGB[1]),
                             static_cast<GLfloat>(sh.RGB[2]), static_cast<GLfloat>(sh.trans)};
  const GLfloat ambient[4] = {0.1f, 0.1f, 0.1f, 1.0f};
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, colour);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, colour);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 100.0f);
  glColor3d(0, 0, 0);
  glEnableClientState(GL_NORMAL_ARRAY);
  glNormalPointer(GL_FLOAT, 0, normals.data());
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices.size() / 3));
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glPopMatrix();
  glDisable(GL_LIGHTING);
  glDisable(GL_LIGHT0);
}

void texturedRect(const Texture& tx) {
  if (tx.dx <= 0 || tx.dy <= 0) return;
  const double w = tx.Lx / tx.dx, h = tx.Ly / tx.dy;
  glBegin(GL_QUADS);
  glNormal3d(0, 0, 1);
  for (int i = 0; i < tx.dx; ++i)
    for (int j = 0; j < tx.dy; ++j) {
      glTexCoord2d(0, 0);
      glVertex3d(i * w, j * h, 0);
      glTexCoord2d(1, 0);
      glVertex3d((i + 1) * w, j * h, 0);
      glTexCoord2d(1, 1);
      glVertex3d((i + 1) * w, (j + 1) * h, 0);
      glTexCoord2d(0, 1);
      glVertex3d(i * w, (j + 1) * h, 0);
    }
  glEnd();
}

void texturedCylinder(const Texture& tx) {
  if (tx.dx <= 0) return;
  const int n = tx.dx;
  glBegin(GL_QUADS);
  for (int k = 0; k < n; ++k) {
    const double a0 = 2.0 * kPi * k / n, a1 = 2.0 * kPi * (k + 1) / n;
    const double s0 = static_cast<double>(k) / n, s1 = static_cast<double>(k + 1) / n;
    glNormal3d(std::cos(a0), std::sin(a0), 0);
    glTexCoord2d(s0, 0);
    glVertex3d(tx.Lx * std::cos(a0), tx.Lx * std::sin(a0), 0);
    glNormal3d(std::cos(a1), std::sin(a1), 0);
    glTexCoord2d(s1, 0);
    glVertex3d(tx.Lx * std::cos(a1), tx.Lx * std::sin(a1), 0);
    glTexCoord2d(s1, 1);
    glVertex3d(tx.Lx * std::cos(a1), tx.Lx * std::sin(a1), tx.Ly);
    glNormal3d(std::cos(a0), std::sin(a0), 0);
    glTexCoord2d(s0, 1);
    glVertex3d(tx.Lx * std::cos(a0), tx.Lx * std::sin(a0), tx.Ly);
  }
  glEnd();
}

// Reaction or force record `index` (six values, force first) of `frame`, or null.
const double* record6(const std::vector<double>& v, int count, int frame, int index) {
  const size_t at = (static_cast<size_t>(frame) * count + index) * 6;
  return at + 3 <= v.size() ? &v[at] : nullptr;
}

}  // namespace

bool glutReady() { return glutGet(GLUT_INIT_STATE) != 0; }

void deleteTextureObjects() {
  if (g_texture_count > 0) glDeleteTextures(g_texture_count, g_texture_names);
  for (int i = 0; i < kMaxTextures; ++i) {
    g_texture_names[i] = 0;
    g_texture_filled[i] = false;
  }
  g_texture_count = 0;
}

void createTextureObjects() {
  deleteTextureObjects();
  const int n = std::min(g_model.texture_num(), kMaxTextures);
  if (n == 0) return;
  glGenTextures(n, g_texture_names);
  g_texture_count = n;
  // Decoded rows are packed; an alignment of 4 would read past the end of
  // images whose row length is not a multiple of 4.
  GLint alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (int i = 0; i < n; ++i) {
    const Image& img = g_model.textures[i].image;
    if (img.width <= 0 || img.height <= 0 ||
        img.rgb.size() < 3 * static_cast<size_t>(img.width) * static_cast<size_t>(img.height))
      continue;
    glBindTexture(GL_TEXTURE_2D, g_texture_names[i]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    if (gluBuild2DMipmaps(GL_TEXTURE_2D, 3, img.width, img.height, GL_RGB, GL_UNSIGNED_BYTE,
                          img.rgb.data()) == 0)
      g_texture_filled[i] = true;
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
}

void drawShape(int frame, int shape, int shadowMode) {
  if (shape < 0 || shape >= g_model.shape_num()) return;
  const Shape& sh = g_model.shapes[shape];
  glDisable(GL_LIGHTING);
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
  if (sh.type == "sphere") {
    if (placeFrame(frame, sh.lc, false) && glutReady()) glutSolidSphere(s[0], 10, 10);
  } else if (sh.type == "cube") {
    if (placeFrame(frame, sh.lc, true) && glutReady()) {
      glutSolidCube(s[0]);
      glutWireCube(s[0]);
    }
  } else if (sh.type == "solid") {
    if (placeFrame(frame, sh.lc, true)) box(s);
  } else if (sh.type == "cylinder") {
    if (placeFrame(frame, sh.lc, true)) cylinder(s);
  } else if (sh.type == "pipe") {
    if (placeFrame(frame, sh.lc, true)) pipe(s);
  } else if (sh.type == "spring") {
    if (placeFrame(frame, sh.lc, true)) spring(frame, sh);
  } else if (sh.type == "STL") {
    // stlMesh puts the mesh in initial global coordinates: place the global origin.
    const LocalCoordinate* f = frameAt(sh.lc);
    const double origin[3] = {0, 0, 0};
    if (f && placeOnBody(frame, f->body, origin)) stlMesh(sh, shadowMode);
  }

  glPopMatrix();
  if (!shadowMode) glDisable(GL_POLYGON_OFFSET_FILL);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
}

void drawTextures(int frame) {
  if (g_model.textures.empty()) return;
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  glEnable(GL_TEXTURE_2D);
  // Full emission: the image shows at its own brightness whatever the light.
  const GLfloat white[4] = {1, 1, 1, 1};
  const GLfloat none[4] = {0, 0, 0, 1};
  glMaterialfv(GL_FRONT, GL_DIFFUSE, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, white);
  for (int i = 0; i < g_model.texture_num(); ++i) {
    const Texture& tx = g_model.textures[i];
    const LocalCoordinate* f = frameAt(tx.lc);
    const int body = (tx.body >= 0) ? tx.body : (f ? f->body : -1);
    glPushMatrix();
    if (f && placeOnBody(frame, body, f->pos)) {
      glRotated(f->ang[0], 0, 0, 1);
      glRotated(f->ang[1], 1, 0, 0);
      glRotated(f->ang[2], 0, 0, 1);
      const bool bound = i < g_texture_count && g_texture_filled[i];
      glBindTexture(GL_TEXTURE_2D, bound ? g_texture_names[i] : 0);
      if (tx.type == "rect")
        texturedRect(tx);
      else if (tx.type == "cylinder_one")
        texturedCylinder(tx);
    }
    glPopMatrix();
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_TEXTURE_2D);
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, none);
}

void drawShadows(int frame) {
  glDisable(GL_LIGHTING);
  glDisable(GL_LIGHT0);
  for (const Shadow& shadow : g_model.shadows) {
    const LocalCoordinate* f = frameAt(shadow.lc);
    double r[3], p[4];
    if (!f || !bodyStateAt(g_hist, g_model, frame, f->body, r, p)) continue;
    double c[3], A[9], L0[9], C[9];
    placePoint(g_hist, g_model, frame, f->body, f->pos, c);
    mat3FromEulerParameters(A, p);
    mat3RotationZXZ(L0, degToRad(f->ang[0]), degToRad(f->ang[1]), degToRad(f->ang[2]));
    mat3Mul(C, A, L0);
    const double n[3] = {C[2], C[5], C[8]};  // current z axis of the plane
    const float plane[4] = {static_cast<float>(n[0]), static_cast<float>(n[1]), static_cast<float>(n[2]),
                            static_cast<float>(-vec3Dot(n, c))};
    GLfloat m[16];
    shadowMatrix(plane, g_view.light_pos, m);
    glPushMatrix();
    glMultMatrixf(m);
    drawShape(frame, shadow.shape, 1);
    glPopMatrix();
    // drawShape switches the light back on.
    glDisable(GL_LIGHTING);
    glDisable(GL_LIGHT0);
  }
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
}

void drawLocalCoordinates(double axisLength, int frame) {
  glDisable(GL_LIGHTING);
  for (int i = 0; i < g_model.frame_num(); ++i) {
    const LocalCoordinate& f = g_model.frames[i];
    glPushMatrix();
    if (placeFrame(frame, i, true)) {
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
    glPopMatrix();
    // The name stays at the initial position, in the colour of the z axis.
    glColor3d(0, 0, 1);
    glRasterPos3dv(f.pos);
    bitmapText(GLUT_BITMAP_HELVETICA_10, f.name.c_str());
  }
  glEnable(GL_LIGHTING);
}

void drawForces(double scale, int frame) {
  if (frame < 0) return;
  glDisable(GL_LIGHTING);
  static const float green[3] = {0, 1, 0};
  static const float red[3] = {1, 0, 0};
  double point[3];

  const int nj = g_model.joint_num();
  for (int j = 0; j < nj; ++j) {
    const double* F = record6(g_hist.p_F_const, nj, frame, j);
    const LocalCoordinate* f = frameAt(g_model.joints[j].i_lc);
    if (F && f && placePoint(g_hist, g_model, frame, f->body, f->pos, point))
      drawForceArrow(point, F, scale, green);
  }

  const int nf = g_model.force_num();
  for (int e = 0; e < nf; ++e) {
    const double* F = record6(g_hist.p_F_force, nf, frame, e);
    const LocalCoordinate* f = frameAt(g_model.forces[e].i_lc);
    if (F && f && placePoint(g_hist, g_model, frame, f->body, f->pos, point))
      drawForceArrow(point, F, scale, red);
  }

  const size_t fi = static_cast<size_t>(frame);
  if (g_model.contact_num() > 0 && !g_hist.cont_position.empty() &&
      fi < g_hist.stl_cont_ti_st.size() && fi < g_hist.stl_cont_ti_num.size()) {
    const long long first = g_hist.stl_cont_ti_st[fi];
    const long long count = g_hist.stl_cont_ti_num[fi];
    const size_t held = std::min(g_hist.cont_position.size(), g_hist.cont_value.size()) / 3;
    if (first >= 0 && count > 0)
      for (long long k = first; k < first + count && static_cast<size_t>(k) < held; ++k)
        drawForceArrow(&g_hist.cont_position[3 * k], &g_hist.cont_value[3 * k], scale, red);
  }
  glEnable(GL_LIGHTING);
}

void drawForceArrow(const double point[3], const double force[3], double scale, const float colour[3]) {
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
