// Plain and position-weighted sums of a byte run, the building blocks of the agent channel's
// packet checksum. The weighted sum is split out here because the fast form needs the
// processor's vector instructions, which only platform code may use. Thread-safe.
#ifndef DOCSEC_PLATFORM_BYTE_SUMS_H_
#define DOCSEC_PLATFORM_BYTE_SUMS_H_

#include <cstddef>
#include <cstdint>

#include "docsec/platform/export.h"

namespace docsec {

struct ByteSums {
  uint32_t plain = 0;     // sum of d[j], modulo 2^32
  uint32_t weighted = 0;  // sum of j * d[j] (j counted from 0), modulo 2^32
};

// Both sums over `size` bytes at `data` (which may be null when `size` is 0); bytes are unsigned.
ByteSums SumBytes(const uint8_t* data, size_t size);

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_BYTE_SUMS_H_
