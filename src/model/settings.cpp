#include "model/settings.h"

namespace orv {

bool lookupColor(const Settings& s, const std::string& name, double rgb[3]) {
  for (const Color& c : s.colors) {
    if (c.name == name) {
      for (int k = 0; k < 3; ++k) rgb[k] = c.rgb[k];
      return true;
    }
  }
  return false;
}

}  // namespace orv
