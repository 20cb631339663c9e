// The reference agent's file cryptography: AES-256-GCM authenticated encryption (one class that
// runs in either direction: sealing gives the tag, opening checks it; and one-shot helpers over
// it), and HMAC-SHA-256 for names only the agent can make. The console library has no use for it
// and does not carry it.
//
// An Aes256Gcm object owns its cipher context and releases it on destruction; it is used by one
// thread at a time. The free functions are thread-safe.
#ifndef DOCSEC_TOOLS_AGENT_FILE_CRYPTO_H_
#define DOCSEC_TOOLS_AGENT_FILE_CRYPTO_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace docsec::agent {

constexpr size_t kAes256KeySize = 32;
constexpr size_t kGcmIvSize = 12;
constexpr size_t kGcmTagSize = 16;

// AES-256-GCM in pieces, for data too large to hold at once. Call AddAad (any number of times)
// before the first Update; Update writes exactly `size` bytes to `out` (which may equal `in`).
// Once a call fails, every later call fails.
class Aes256Gcm {
 public:
  enum class Direction { kSeal, kOpen };

  Aes256Gcm(Direction direction, const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize]);
  ~Aes256Gcm();
  Aes256Gcm(const Aes256Gcm&) = delete;
  Aes256Gcm& operator=(const Aes256Gcm&) = delete;

  bool ok() const { return ok_; }
  bool AddAad(const void* aad, size_t size);
  bool Update(const void* in, size_t size, void* out);
  // Sealing: writes the tag to `tag`. Opening: reads `tag` and returns true exactly when it
  // authenticates everything passed through AddAad and Update; the output of Update must not be
  // trusted (or kept) unless it did.
  bool Finish(uint8_t tag[kGcmTagSize]);

 private:
  const Direction direction_;
  void* ctx_ = nullptr;
  bool ok_ = false;
};

// One shot. Seal writes the ciphertext followed by the 16-byte tag to `out` (replacing its
// content); Open checks the tag and writes the plaintext only when it matches. Both return false
// on failure (for Open: a wrong key, IV, associated data or tag, or tampered text), leaving `out`
// empty.
bool Aes256GcmSeal(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize], const void* aad,
                   size_t aad_size, const void* plaintext, size_t size, std::vector<uint8_t>* out);
bool Aes256GcmOpen(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize], const void* aad,
                   size_t aad_size, const void* sealed, size_t sealed_size,
                   std::vector<uint8_t>* out);

constexpr size_t kHmacSha256Size = 32;

// `size` bytes as lower-case hexadecimal text, two digits a byte.
std::string ToHex(const uint8_t* bytes, size_t size);

// HMAC-SHA-256 of `size` bytes under a key of `key_size` bytes into `mac`; false on failure.
bool HmacSha256(const uint8_t* key, size_t key_size, const void* data, size_t size,
                uint8_t mac[kHmacSha256Size]);

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_FILE_CRYPTO_H_
