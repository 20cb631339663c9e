// TraceRecorder: while alive, collects every trace text and caps socket time-outs, so a channel
// that waits where it should fail at once shows as a slow test rather than a five-minute one.
#ifndef DOCSEC_TESTING_TRACE_RECORDER_H_
#define DOCSEC_TESTING_TRACE_RECORDER_H_

#include <mutex>
#include <string>
#include <vector>

#include "docsec/platform/socket.h"
#include "docsec/platform/trace.h"

namespace docsec {
namespace testing {

class TraceRecorder {
 public:
  explicit TraceRecorder(int timeout_cap_ms = 10000) {
    SetSocketTimeoutCapForTesting(timeout_cap_ms);
    previous_ = SetTraceSink([this](const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      traces_.push_back(text);
    });
  }
  ~TraceRecorder() {
    SetTraceSink(previous_);
    SetSocketTimeoutCapForTesting(0);
  }
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;

  std::vector<std::string> Traces() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return traces_;
  }
  bool Traced(const std::string& text) const {
    for (const std::string& t : Traces()) {
      if (t == text) return true;
    }
    return false;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    traces_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> traces_;
  TraceSink previous_;
};

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_TRACE_RECORDER_H_
