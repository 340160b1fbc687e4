// Force elements: "spring1" spring-dampers and "force6" expression loads.
#pragma once

namespace orv {

struct Model;
struct Histories;
struct ModelPrograms;

// Adds every element's loads to F (3nb, global) and N (3nb, body axes) and
// records each in row `row` of the force history. The component texts run
// from progs when given (bound to m), else from their texts.
void applyForceElements(const Model& m, Histories& h, const double* Y, double t, double* F,
                        double* N, int row, const ModelPrograms* progs = nullptr);

}  // namespace orv
