#include "files/csv_writer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "model/histories.h"

namespace orv {

size_t heldSamples(const Model& m, const Histories& h) {
  const size_t n = std::min(static_cast<size_t>(std::max(h.anime_num, 0)), h.p_time.size());
  const size_t stride = static_cast<size_t>(channelCount(m, h));
  return stride == 0 ? n : std::min(n, h.p_output.size() / stride);
}

namespace {

// to_chars does not follow the C locale, unlike printf's "%.17g".
void appendNumber(std::string& out, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
  out.append(buf, r.ptr);
}

// A name with a comma, quote or line break is quoted, its quotes doubled.
void appendName(std::string& out, const std::string& name) {
  if (name.find_first_of(",\"\r\n") == std::string::npos) {
    out += name;
    return;
  }
  out += '"';
  for (char ch : name) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
}

}  // namespace

std::string channelsCsv(const Model& m, const Histories& h, const std::vector<int>& channels) {
  const int count = channelCount(m, h);
  std::vector<size_t> chosen;
  if (channels.empty()) {
    for (int c = 0; c < count; ++c) chosen.push_back(static_cast<size_t>(c));
  } else {
    for (int c : channels)
      if (c >= 0 && c < count) chosen.push_back(static_cast<size_t>(c));
  }
  // Without the channel values no sample row is complete.
  const size_t n = chosen.empty()
                       ? std::min(static_cast<size_t>(std::max(h.anime_num, 0)), h.p_time.size())
                       : heldSamples(m, h);
  const size_t stride = static_cast<size_t>(count);

  std::string out = "time";
  for (size_t c : chosen) {
    out += ',';
    appendName(out, channelName(m, h, static_cast<int>(c)));
  }
  out += '\n';
  for (size_t i = 0; i < n; ++i) {
    appendNumber(out, h.p_time[i]);
    for (size_t c : chosen) {
      out += ',';
      appendNumber(out, h.p_output[i * stride + c]);
    }
    out += '\n';
  }
  return out;
}

bool writeChannelsCsv(const std::string& path, const Model& m, const Histories& h,
                      const std::vector<int>& channels, std::string* why) {
  const std::string text = channelsCsv(m, h, channels);
  auto fail = [&](int err) {
    if (why) *why = "The CSV file " + path + " cannot be written: " + std::strerror(err);
    return false;
  };
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return fail(errno);
  if (std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
    const int err = errno;
    std::fclose(f);
    return fail(err);
  }
  if (std::fclose(f) != 0) return fail(errno);
  return true;
}

}  // namespace orv
