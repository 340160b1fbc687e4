// Contact between STL meshes: detection, penalty forces and contact records.
#pragma once

namespace orv {

struct Model;
struct Settings;
struct Histories;

// Adds the contact loads of every contact pair to F (3nb, global) and N (3nb,
// body axes), raises h.contact_flag and records contacts for sample `row`.
void applyContact(const Model& m, const Settings& s, Histories& h, const double* Y, double* F,
                  double* N, int row);

}  // namespace orv
