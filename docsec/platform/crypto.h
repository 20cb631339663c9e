// Cryptographic primitives over the platform's crypto library: the AES-128 block cipher applied
// to runs of whole blocks (electronic codebook, no padding) and cryptographically strong random
// bytes.
//
// Cipher objects own their prepared key schedules and release them on destruction. An object is
// used by one thread at a time; separate objects are independent. The free functions are
// thread-safe.
#ifndef DOCSEC_PLATFORM_CRYPTO_H_
#define DOCSEC_PLATFORM_CRYPTO_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "docsec/platform/export.h"

namespace docsec {

constexpr size_t kAesBlockSize = 16;
constexpr size_t kAes128KeySize = 16;

// Fills `size` bytes with cryptographically strong random bytes; false when the generator fails
// (the buffer content is then unspecified).
bool RandomBytes(void* out, size_t size);

// AES-128 in electronic-codebook mode: every 16-byte block is enciphered on its own. The key
// schedules for both directions are prepared once, when the object is made.
class Aes128Ecb {
 public:
  explicit Aes128Ecb(const uint8_t key[kAes128KeySize]);
  ~Aes128Ecb();
  Aes128Ecb(const Aes128Ecb&) = delete;
  Aes128Ecb& operator=(const Aes128Ecb&) = delete;

  // False when the key schedule could not be prepared (out of memory); every call then fails.
  bool ok() const { return ok_; }

  // Enciphers (deciphers) `blocks` whole blocks in place, in one pass. False on failure, with the
  // buffer content unspecified.
  bool EncryptBlocks(uint8_t* data, size_t blocks);
  bool DecryptBlocks(uint8_t* data, size_t blocks);

 private:
  struct Contexts;
  std::unique_ptr<Contexts> contexts_;
  bool ok_ = false;
};

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_CRYPTO_H_
