// The exhaustive contact search: every node and every edge of one mesh
// against every triangle of the other, through the narrow phase the trees
// use (contact/detection.h). The trees must find the same items in the same
// order, to the bit; the tests check that and the contact bench times both.
#pragma once

#include <vector>

#include "contact/detection.h"
#include "contact/placed_mesh.h"
#include "model/histories.h"
#include "model/model.h"

namespace orvref {

using orv::ContactItem;
using orv::PlacedMesh;

inline void pointLoops(const PlacedMesh& I, const PlacedMesh& J, const orv::BodyMotion& bi,
                       const orv::BodyMotion& bj, const orv::ContactParams& p,
                       std::vector<ContactItem>& out) {
  for (int q = 0; q < I.node_num; ++q) {
    const double* P = &I.node[3 * q];
    orv::NodeTouch best;
    for (int t = 0; t < J.stl_num; ++t)
      if (orv::inSphere(P, J, t)) orv::nodeHit(P, J, t, p, best);
    orv::nodeContact(q, P, best, bi, bj, p, out);
  }
}

// Each edge of I with the first triangle that has it.
inline void edgeLoops(const PlacedMesh& I, const PlacedMesh& J, double k,
                      std::vector<ContactItem>& out) {
  std::vector<orv::EdgeTouch> touches;
  for (int s = 0; s < I.stl_num; ++s)
    for (int e = 0; e < 3; ++e) {
      if (!(I.firstEdges[s] >> e & 1)) continue;
      const int* v = &I.tri[3 * s];
      touches.clear();
      for (int t = 0; t < J.stl_num; ++t)
        orv::edgeInTriangle(&I.node[3 * v[e]], &I.node[3 * v[(e + 1) % 3]], J, t, k, touches);
      for (const orv::EdgeTouch& touch : touches) out.push_back(touch.item);
    }
}

// What applyContact records for m at state Y (each contact's shapes on its
// bodies, with meshes), with every mesh placed point by point.
inline std::vector<orv::ContactRecord> loopRecords(const orv::Model& m, int algorithm,
                                                   const double* Y, int row) {
  const int nb = m.body_num();
  std::vector<orv::BodyMotion> body(static_cast<size_t>(nb));
  for (int b = 0; b < nb; ++b) {
    double w[3];
    orv::mat3FromEulerParameters(body[b].A, &Y[6 * nb + 4 * b]);
    orv::omegaFromEulerRates(w, &Y[6 * nb + 4 * b], &Y[10 * nb + 4 * b]);
    orv::mat3MulVec(body[b].omega, body[b].A, w);
    for (int k = 0; k < 3; ++k)
      body[b].pos[k] = m.bodies[b].cg_pos[k] + Y[3 * b + k], body[b].vel[k] = Y[3 * nb + 3 * b + k];
  }
  std::vector<orv::PlacedStl> at(m.shapes.size());
  std::vector<std::vector<unsigned char>> first(m.shapes.size());
  std::vector<PlacedMesh> mesh(m.shapes.size());
  for (size_t s = 0; s < m.shapes.size(); ++s) {
    const orv::Shape& sh = m.shapes[s];
    const orv::BodyMotion& b = body[sh.body];
    const double* R0 = m.bodies[sh.body].cg_pos;
    PlacedMesh& M = mesh[s];
    orv::placeStl(sh, at[s]);
    M.node_num = sh.mesh->node_num(), M.stl_num = sh.mesh->stl_num();
    orv::placePoints(at[s].node.data(), at[s].node.data(), M.node_num, R0, b.pos, b.A);
    orv::placePoints(at[s].center.data(), at[s].center.data(), M.stl_num, R0, b.pos, b.A);
    orv::turnVectors(at[s].normal.data(), at[s].normal.data(), M.stl_num, b.A);
    orv::firstEdges(sh.mesh->tri.data(), M.stl_num, first[s]);
    M.tri = sh.mesh->tri.data(), M.radius = at[s].radius.data(), M.node = at[s].node.data();
    M.normal = at[s].normal.data(), M.center = at[s].center.data(), M.firstEdges = first[s].data();
  }
  std::vector<orv::ContactRecord> records;
  for (const orv::Contact& c : m.contacts) {
    const orv::ContactParams p{c.k, c.c, c.d, c.myu};
    const PlacedMesh &I = mesh[c.i_shape], &J = mesh[c.j_shape];
    const orv::BodyMotion &bi = body[c.i_body], &bj = body[c.j_body];
    std::vector<ContactItem> items;
    pointLoops(I, J, bi, bj, p, items);
    pointLoops(J, I, bj, bi, p, items);
    if (algorithm == 1) edgeLoops(I, J, c.k, items), edgeLoops(J, I, c.k, items);
    for (const ContactItem& it : items) {
      orv::ContactRecord& r = records.emplace_back();
      r.ti = row;
      for (int k = 0; k < 3; ++k) r.pos[k] = it.pos[k], r.val[k] = it.force[k];
    }
  }
  return records;
}

}  // namespace orvref
