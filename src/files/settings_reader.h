// Reading setting/setting.txt and setting/color.txt at start-up.
#pragma once

#include <string>

namespace orv {

struct Model;
struct Histories;
struct Settings;

// Prints the version line, makes log/, sets the start-up defaults of model and
// histories and reads setting/setting.txt and setting/color.txt from `dir`
// ("" = working directory). Returns false, after printing the open error,
// when a file is missing.
bool readSettingsFiles(const std::string& dir, Settings& s, Model& m, Histories& h);

// readSettingsFiles on the process-wide objects in the working directory; a
// missing file ends the process with exit code 1.
void readSettings();

}  // namespace orv
