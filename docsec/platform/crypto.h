// Cryptographic primitives over the platform's crypto library: the AES-128 block cipher applied
// to runs of whole blocks (electronic codebook, no padding), AES-256-GCM authenticated encryption
// (one-shot and streaming), and cryptographically strong random bytes.
//
// Cipher objects own their prepared key schedules and release them on destruction. An object is
// used by one thread at a time; separate objects are independent. The free functions are
// thread-safe.
#ifndef DOCSEC_PLATFORM_CRYPTO_H_
#define DOCSEC_PLATFORM_CRYPTO_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "docsec/platform/export.h"

namespace docsec {

constexpr size_t kAesBlockSize = 16;
constexpr size_t kAes128KeySize = 16;
constexpr size_t kAes256KeySize = 32;
constexpr size_t kGcmIvSize = 12;
constexpr size_t kGcmTagSize = 16;

// Fills `size` bytes with cryptographically strong random bytes; false when the generator fails
// (the buffer content is then unspecified).
DOCSEC_EXPORT bool RandomBytes(void* out, size_t size);

// AES-128 in electronic-codebook mode: every 16-byte block is enciphered on its own. The key
// schedules for both directions are prepared once, when the object is made.
class DOCSEC_EXPORT Aes128Ecb {
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

// AES-256-GCM, one shot. Seal writes the ciphertext followed by the 16-byte tag to `out`
// (replacing its content); Open checks the tag and writes the plaintext only when it matches.
// Both return false on failure (for Open: a wrong key, IV, associated data or tag, or tampered
// text), leaving `out` empty.
DOCSEC_EXPORT bool Aes256GcmSeal(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize],
                                 const void* aad, size_t aad_size, const void* plaintext,
                                 size_t size, std::vector<uint8_t>* out);
DOCSEC_EXPORT bool Aes256GcmOpen(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize],
                                 const void* aad, size_t aad_size, const void* sealed,
                                 size_t sealed_size, std::vector<uint8_t>* out);

// AES-256-GCM in pieces, for data too large to hold at once. Call AddAad (any number of times)
// before the first Update; Update writes exactly `size` bytes to `out` (which may equal `in`).
// The sealer's Finish gives the tag; the opener's Finish checks it, and the output of Update must
// not be trusted (or kept) unless Finish returned true.
class DOCSEC_EXPORT Aes256GcmSealer {
 public:
  Aes256GcmSealer(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize]);
  ~Aes256GcmSealer();
  Aes256GcmSealer(const Aes256GcmSealer&) = delete;
  Aes256GcmSealer& operator=(const Aes256GcmSealer&) = delete;
  bool ok() const { return ok_; }
  bool AddAad(const void* aad, size_t size);
  bool Update(const void* in, size_t size, void* out);
  bool Finish(uint8_t tag[kGcmTagSize]);

 private:
  void* ctx_ = nullptr;
  bool ok_ = false;
};

class DOCSEC_EXPORT Aes256GcmOpener {
 public:
  Aes256GcmOpener(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize]);
  ~Aes256GcmOpener();
  Aes256GcmOpener(const Aes256GcmOpener&) = delete;
  Aes256GcmOpener& operator=(const Aes256GcmOpener&) = delete;
  bool ok() const { return ok_; }
  bool AddAad(const void* aad, size_t size);
  bool Update(const void* in, size_t size, void* out);
  // True exactly when `tag` authenticates everything passed through AddAad and Update.
  bool Finish(const uint8_t tag[kGcmTagSize]);

 private:
  void* ctx_ = nullptr;
  bool ok_ = false;
};

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_CRYPTO_H_
