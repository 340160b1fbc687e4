// The triangle mesh of an STL shape, lit, or black under the shadow matrix.
// A mesh's corners and per-face normals are the same on every frame, so in
// the view's own context they are compiled once into a display list: filling
// the arrays for 2 x 30,000 triangles on every draw cost more than drawing them.
#include <GL/gl.h>

#include <algorithm>
#include <vector>

#include "math/vec3.h"
#include "model/globals.h"
#include "view/drawing.h"
#include "view/drawing_parts.h"

namespace orv {

namespace {

MeshLists* g_lists = nullptr;  // the view's, while it paints in its own context

// The mesh as GL arrays: three corners a triangle, each with the triangle's
// unit normal turned outward by `sign`. Triangles naming nodes the mesh
// lacks are left out.
void meshArrays(const StlMesh& mesh, int sign, std::vector<float>& vertices,
                std::vector<float>& normals) {
  const size_t nodes = mesh.node.size() / 3, tris = mesh.tri.size() / 3;
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
    vec3Scale(n, static_cast<double>(sign), unitNormal(n, u, w));
    for (int c = 0; c < 3; ++c)
      for (int a = 0; a < 3; ++a) {
        vertices.push_back(static_cast<float>(mesh.node[3 * static_cast<size_t>(tn[c]) + a]));
        normals.push_back(static_cast<float>(n[a]));
      }
  }
}

// Corners and normals of the mesh to the GL: no colour or state of its own, so
// the lit and the shadow draws share it.
void sendMesh(const StlMesh& mesh, int sign) {
  std::vector<float> vertices, normals;
  meshArrays(mesh, sign, vertices, normals);
  if (vertices.empty()) return;
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, vertices.data());
  glNormalPointer(GL_FLOAT, 0, normals.data());
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices.size() / 3));
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

void drawMesh(const Shape& sh) {
  if (!g_lists) {
    sendMesh(*sh.mesh, sh.normal_sign);
    return;
  }
  auto& entries = g_lists->entries;
  auto it = std::find_if(entries.begin(), entries.end(), [&](const MeshLists::Entry& e) {
    return e.mesh == sh.mesh && e.normal_sign == sh.normal_sign;
  });
  if (it == entries.end()) {
    const GLuint list = glGenLists(1);
    if (list == 0) {  // out of list names: draw it as it is
      sendMesh(*sh.mesh, sh.normal_sign);
      return;
    }
    glNewList(list, GL_COMPILE);
    sendMesh(*sh.mesh, sh.normal_sign);
    glEndList();
    it = entries.insert(entries.end(), {sh.mesh, sh.normal_sign, list});
  }
  glCallList(it->list);
}

}  // namespace

void setMeshLists(MeshLists* lists) { g_lists = lists; }

void pruneMeshLists(MeshLists& lists, bool all) {
  auto& entries = lists.entries;
  const auto unused = [&](const MeshLists::Entry& e) {
    if (all) return true;
    for (const Shape& sh : g_model.shapes)
      if (sh.mesh == e.mesh && sh.normal_sign == e.normal_sign) return false;
    return true;
  };
  for (const MeshLists::Entry& e : entries)
    if (unused(e)) glDeleteLists(e.list, 1);
  entries.erase(std::remove_if(entries.begin(), entries.end(), unused), entries.end());
}

namespace draw {

void stlMesh(const Shape& sh, int shadowMode) {
  if (!sh.mesh) return;
  // Column-major [A p; 0 1]; a rotation turns the normals alike.
  const double* A = sh.mesh_A;
  const double* p = sh.mesh_pos;
  const GLdouble place[16] = {A[0], A[3], A[6], 0, A[1], A[4], A[7], 0,
                              A[2], A[5], A[8], 0, p[0], p[1], p[2], 1};
  glPushMatrix();
  glMultMatrixd(place);
  if (shadowMode) {
    // Under the flattening shadow matrix the normal transform is singular and
    // lighting gives arbitrary colours: draw the black it would give unlit.
    glColor4d(0, 0, 0, 1);
    drawMesh(sh);
    glPopMatrix();
    return;
  }
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT0);
  const GLfloat colour[4] = {static_cast<GLfloat>(sh.RGB[0]), static_cast<GLfloat>(sh.RGB[1]),
                             static_cast<GLfloat>(sh.RGB[2]), static_cast<GLfloat>(sh.trans)};
  // The colour sets ambient and diffuse (GL_COLOR_MATERIAL); a faint highlight.
  const GLfloat specular[4] = {0.3f, 0.3f, 0.3f, 1.0f};
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 40.0f);
  glColor4fv(colour);
  drawMesh(sh);
  glPopMatrix();
  glDisable(GL_LIGHTING);
  glDisable(GL_LIGHT0);
}

}  // namespace draw
}  // namespace orv
