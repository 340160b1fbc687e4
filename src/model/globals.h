// The process-wide objects. Entry points of the program (the window, the batch
// program) work on these; the pieces underneath take what they need as
// arguments, so tests can build their own.
#pragma once

#include "model/histories.h"
#include "model/model.h"
#include "model/settings.h"

namespace orv {

extern Model g_model;
extern Settings g_settings;
extern Histories g_hist;

}  // namespace orv
