// Textures: one GL texture object per texture record, and the image drawn
// on a rectangle or around a cylinder of its local coordinate.
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "model/globals.h"
#include "view/drawing.h"
#include "view/drawing_parts.h"

namespace orv {

using namespace draw;

namespace {

// Texture-object table: entry i belongs to texture i of the model it was made for.
GLuint g_texture_names[kMaxTextures] = {};
bool g_texture_filled[kMaxTextures] = {};
int g_texture_count = 0;

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

}  // namespace

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
  // The colour tracked into the material, alpha included, is ours, not the last shape's.
  glColor4d(1, 1, 1, 1);
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
      if (tx.kind == TextureType::Rect)
        texturedRect(tx);
      else if (tx.kind == TextureType::CylinderOne)
        texturedCylinder(tx);
    }
    glPopMatrix();
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_TEXTURE_2D);
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, none);
}

}  // namespace orv
