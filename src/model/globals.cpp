#include "model/globals.h"

namespace orv {

Model g_model;
Settings g_settings;
Histories g_hist;

}  // namespace orv
