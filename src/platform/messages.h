// Messages for whoever shows them besides the console: errors, warnings and
// notices of reading and running, with the file and line they concern when
// known. The console keeps its own texts; a program with a window installs a
// sink to list them as well.
#pragma once

#include <functional>
#include <string>

namespace orv {

enum class Severity { Error, Warning, Notice };

struct Message {
  Severity severity = Severity::Notice;
  std::string text;
  std::string file;  // "" when the message concerns no file
  int line = 0;      // 0 when no line is known
};

using MessageSink = std::function<void(const Message&)>;

// Installs the process-wide sink (an empty one removes it). It may be called
// from any thread that reads or runs, so it must guard what it keeps.
void setMessageSink(MessageSink sink);

// Hands a message to the sink, if one is installed; prints nothing.
void report(Severity severity, const std::string& text, const std::string& file = "",
            int line = 0);

}  // namespace orv
