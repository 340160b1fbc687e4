// Helpers shared by the fuzz targets: a private scratch directory per
// process, a silenced console, and splitting one input into several files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvfuzz {

// Separates the files packed into one fuzz input (model + STL + BMP, ...).
// Short, so that mutations can move and create it; unusual in real files.
constexpr char kSeparator[] = "#@@#";

// Creates this process's scratch directory once (removed at a normal exit).
void makeScratch();
// The scratch directory; the targets write nothing outside it.
const std::string& scratch();
// scratch() + "/" + name.
std::string scratchPath(const std::string& name);
// Sends the console to /dev/null: thousands of executions per second would
// drown libFuzzer's own output and spend most of the time printing.
void silenceConsole();
// Writes bytes to path (truncating); aborts when that fails, since a silent
// failure would make the target fuzz nothing.
void writeFile(const std::string& path, const std::string& bytes);
// Splits data at kSeparator into exactly `parts` pieces: missing ones are
// empty, any further separators stay inside the last piece.
std::vector<std::string> split(const uint8_t* data, size_t size, size_t parts);

}  // namespace orvfuzz
