// Wiping secrets from memory: keys, random values and passwords that a routine holds only for the
// length of one call are overwritten before the memory is given back, so that a later reader of
// freed stack or heap (a crash dump, a swapped page, another bug) does not find them.
//
// SecureWipe is not removed by the optimiser even when the memory is never read again. SecretBytes
// is a fixed byte array that wipes itself on destruction. Thread safety: both act only on the
// memory given; separate buffers are independent.
#ifndef DOCSEC_PLATFORM_SECURE_MEMORY_H_
#define DOCSEC_PLATFORM_SECURE_MEMORY_H_

#include <cstddef>
#include <cstdint>

#include "docsec/platform/export.h"

namespace docsec {

// Sets `size` bytes at `data` to zero; a null `data` or size 0 does nothing.
void SecureWipe(void* data, size_t size);

// N bytes (zero after construction) that are wiped when the array is destroyed. Not copyable, so
// the secret has one home.
template <size_t N>
class SecretBytes {
 public:
  SecretBytes() = default;
  ~SecretBytes() { SecureWipe(bytes_, N); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  uint8_t* data() { return bytes_; }
  const uint8_t* data() const { return bytes_; }
  char* chars() { return reinterpret_cast<char*>(bytes_); }
  static constexpr size_t size() { return N; }

 private:
  uint8_t bytes_[N] = {};
};

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_SECURE_MEMORY_H_
