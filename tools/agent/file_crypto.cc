#include "tools/agent/file_crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>

namespace docsec::agent {
namespace {

// Looked up once per process: with OpenSSL 3 the implicit look-up behind EVP_aes_256_gcm() on
// every initialisation costs more than sealing a small header.
const EVP_CIPHER* Aes256GcmCipher() {
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
  return cipher != nullptr ? cipher : EVP_aes_256_gcm();
#else
  return EVP_aes_256_gcm();
#endif
}

EVP_CIPHER_CTX* Ctx(void* p) { return static_cast<EVP_CIPHER_CTX*>(p); }

// The EVP calls take int lengths; larger runs go through in pieces.
constexpr size_t kMaxPiece = INT_MAX / 16 * 16;

// Runs `size` bytes through the context; a null `out` feeds associated data.
bool Run(EVP_CIPHER_CTX* ctx, bool seal, const void* in, size_t size, void* out) {
  const auto* src = static_cast<const unsigned char*>(in);
  auto* dst = static_cast<unsigned char*>(out);
  while (size > 0) {
    size_t piece = size < kMaxPiece ? size : kMaxPiece;
    int written = 0;
    int ok = seal ? EVP_EncryptUpdate(ctx, dst, &written, src, static_cast<int>(piece))
                  : EVP_DecryptUpdate(ctx, dst, &written, src, static_cast<int>(piece));
    if (ok != 1 || (dst != nullptr && static_cast<size_t>(written) != piece)) return false;
    src += piece;
    if (dst != nullptr) dst += piece;
    size -= piece;
  }
  return true;
}

EVP_CIPHER_CTX* NewContext(bool seal, const uint8_t* key, const uint8_t* iv) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (ctx == nullptr) return nullptr;
  bool ok =
      EVP_CipherInit_ex(ctx, Aes256GcmCipher(), nullptr, nullptr, nullptr, seal ? 1 : 0) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kGcmIvSize), nullptr) ==
          1 &&
      EVP_CipherInit_ex(ctx, nullptr, nullptr, key, iv, seal ? 1 : 0) == 1;
  if (!ok) {
    EVP_CIPHER_CTX_free(ctx);
    return nullptr;
  }
  return ctx;
}

}  // namespace

Aes256Gcm::Aes256Gcm(Direction direction, const uint8_t key[kAes256KeySize],
                     const uint8_t iv[kGcmIvSize])
    : direction_(direction), ctx_(NewContext(direction == Direction::kSeal, key, iv)) {
  ok_ = ctx_ != nullptr;
}

Aes256Gcm::~Aes256Gcm() { EVP_CIPHER_CTX_free(Ctx(ctx_)); }

bool Aes256Gcm::AddAad(const void* aad, size_t size) {
  return ok_ && (ok_ = Run(Ctx(ctx_), direction_ == Direction::kSeal, aad, size, nullptr));
}

bool Aes256Gcm::Update(const void* in, size_t size, void* out) {
  if (ok_ && out == nullptr && size > 0) ok_ = false;
  return ok_ && (ok_ = Run(Ctx(ctx_), direction_ == Direction::kSeal, in, size, out));
}

bool Aes256Gcm::Finish(uint8_t tag[kGcmTagSize]) {
  if (!ok_) return false;
  int written = 0;
  unsigned char scratch[16];
  if (direction_ == Direction::kSeal) {
    ok_ = EVP_EncryptFinal_ex(Ctx(ctx_), scratch, &written) == 1 && written == 0 &&
          EVP_CIPHER_CTX_ctrl(Ctx(ctx_), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kGcmTagSize),
                              tag) == 1;
  } else {
    ok_ = EVP_CIPHER_CTX_ctrl(Ctx(ctx_), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kGcmTagSize),
                              tag) == 1 &&
          EVP_DecryptFinal_ex(Ctx(ctx_), scratch, &written) == 1;
  }
  return ok_;
}

bool Aes256GcmSeal(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize], const void* aad,
                   size_t aad_size, const void* plaintext, size_t size, std::vector<uint8_t>* out) {
  out->clear();
  Aes256Gcm sealer(Aes256Gcm::Direction::kSeal, key, iv);
  std::vector<uint8_t> sealed(size + kGcmTagSize);
  if (!sealer.AddAad(aad, aad_size) || !sealer.Update(plaintext, size, sealed.data()) ||
      !sealer.Finish(sealed.data() + size)) {
    return false;
  }
  out->swap(sealed);
  return true;
}

bool Aes256GcmOpen(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize], const void* aad,
                   size_t aad_size, const void* sealed, size_t sealed_size,
                   std::vector<uint8_t>* out) {
  out->clear();
  if (sealed_size < kGcmTagSize) return false;
  size_t size = sealed_size - kGcmTagSize;
  const auto* bytes = static_cast<const uint8_t*>(sealed);
  uint8_t tag[kGcmTagSize];
  for (size_t i = 0; i < kGcmTagSize; ++i) tag[i] = bytes[size + i];
  Aes256Gcm opener(Aes256Gcm::Direction::kOpen, key, iv);
  std::vector<uint8_t> plain(size);
  if (!opener.AddAad(aad, aad_size) || !opener.Update(bytes, size, plain.data()) ||
      !opener.Finish(tag)) {
    return false;
  }
  out->swap(plain);
  return true;
}

std::string ToHex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

bool HmacSha256(const uint8_t* key, size_t key_size, const void* data, size_t size,
                uint8_t mac[kHmacSha256Size]) {
  if (key_size > INT_MAX) return false;
  unsigned int length = 0;
  return HMAC(EVP_sha256(), key, static_cast<int>(key_size),
              static_cast<const unsigned char*>(data), size, mac, &length) != nullptr &&
         length == kHmacSha256Size;
}

}  // namespace docsec::agent
