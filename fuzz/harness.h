// One input through one reader, with the invariants the rest of the program
// relies on checked afterwards. The fuzz targets call these for every input;
// the test suite replays the fixed findings through the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvfuzz {

// Each returns "" when every invariant held, else what was broken. Files are
// written to the scratch directory (makeScratch() first).
using Harness = std::string (*)(const uint8_t* data, size_t size);

// orv::evaluate with parameters and a current state, then the reader's name
// rewriting and the rewritten text.
std::string runExpr(const uint8_t* data, size_t size);
// readModelFile: model text, part.stl and tex.bmp split at kSeparator.
std::string runModel(const uint8_t* data, size_t size);
// readStl into a shape on a turned frame.
std::string runStl(const uint8_t* data, size_t size);
// loadBmp.
std::string runBmp(const uint8_t* data, size_t size);
// readSettingsFiles: setting.txt and color.txt split at kSeparator.
std::string runSettings(const uint8_t* data, size_t size);
// readResultFile against a model with every block.
std::string runResult(const uint8_t* data, size_t size);
// importMotion: header.txt, .mov and .jnt split at kSeparator.
std::string runMotion(const uint8_t* data, size_t size);

// The harness of a target name ("expr", "model", ...), nullptr if none.
Harness harnessNamed(const std::string& target);

}  // namespace orvfuzz
