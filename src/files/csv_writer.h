// Output channels as CSV, for plots made outside the program: a header row of
// names, then one row per sample, time first. Values are written with 17
// significant digits (they read back to the same double) and '.' as the
// decimal point whatever the locale, so any tool reads them alike.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Model;
struct Histories;

// Samples of h whose time and channel values are all stored: never more than
// the arrays hold, whatever model was read since h was filled.
size_t heldSamples(const Model& m, const Histories& h);

// The CSV text of the given channels of h (indices into its channels, see
// model/histories.h; every channel when `channels` is empty). Channels that h
// does not hold are left out.
std::string channelsCsv(const Model& m, const Histories& h, const std::vector<int>& channels = {});

// Writes channelsCsv(m, h, channels) to `path`. On failure `why` (if given)
// names the file and the reason.
bool writeChannelsCsv(const std::string& path, const Model& m, const Histories& h,
                      const std::vector<int>& channels = {}, std::string* why = nullptr);

}  // namespace orv
