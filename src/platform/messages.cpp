#include "platform/messages.h"

#include <mutex>

namespace orv {

namespace {

std::mutex g_sinkMutex;
MessageSink g_sink;

}  // namespace

void setMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  g_sink = std::move(sink);
}

void report(Severity severity, const std::string& text, const std::string& file, int line) {
  // Copied out, so a sink that reports in turn does not deadlock.
  MessageSink sink;
  {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    sink = g_sink;
  }
  if (sink) sink(Message{severity, text, file, line});
}

}  // namespace orv
