#include "docsec/channel/last_error.h"

#include <atomic>
#include <cstdint>

namespace docsec {
namespace {
std::atomic<uint32_t> g_last_error{0};
}  // namespace

void SetLastDrmError(unsigned long code) {
  g_last_error.store(static_cast<uint32_t>(code), std::memory_order_relaxed);
}

unsigned long GetLastDrmError() { return g_last_error.exchange(0, std::memory_order_relaxed); }

}  // namespace docsec
