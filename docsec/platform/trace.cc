#include "docsec/platform/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace docsec {
namespace {

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

// The sink is swapped under the mutex and read through a shared_ptr copy, so a trace running on
// one thread is never torn by SetTraceSink on another. The flag keeps the no-sink path lock-free.
std::shared_ptr<TraceSink>& SinkSlot() {
  static std::shared_ptr<TraceSink> slot;
  return slot;
}
std::atomic<bool> g_has_sink{false};

}  // namespace

TraceSink SetTraceSink(TraceSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  std::shared_ptr<TraceSink> previous = SinkSlot();
  if (sink) {
    SinkSlot() = std::make_shared<TraceSink>(std::move(sink));
  } else {
    SinkSlot().reset();
  }
  g_has_sink.store(SinkSlot() != nullptr, std::memory_order_release);
  return previous ? *previous : TraceSink();
}

void Trace(const char* format, ...) {
  if (!g_has_sink.load(std::memory_order_acquire)) return;
  std::shared_ptr<TraceSink> sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = SinkSlot();
  }
  if (!sink) return;
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  (*sink)(buffer);
}

}  // namespace docsec
