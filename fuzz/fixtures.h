// The fixed models the fuzz targets read against, and the kinematics that
// give the expression measures a state to work on.
#pragma once

#include "model/histories.h"
#include "model/kinematics.h"
#include "model/model.h"

namespace orvfuzz {

// Parameters, two bodies with markers, a joint and functions, for
// expressions; kin holds a current state for every measure.
void expressionModel(orv::Model& m, orv::Kinematics& kin);

// One STL shape on a turned reference frame, unit 0.001, normals inward.
orv::Model stlModel();

// Every block of a result file: 2 bodies, a joint, a motion, a force
// element, a contact pair, 2 output channels, room for 8 samples.
orv::Model resultModel();
// Histories of 5 samples of resultModel() with contact records, as an
// analysis leaves them; writeResultFile of these makes the seed.
orv::Histories resultHistories(const orv::Model& m);

// The double pendulum of examples/: bodies ground, upper, lower; joints
// ground, revolution, revolution; the shipped motion set fits it.
orv::Model motionModel();

}  // namespace orvfuzz
