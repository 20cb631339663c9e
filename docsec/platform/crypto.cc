#include "docsec/platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>

namespace docsec {
namespace {

// Cipher descriptions are looked up once per process: with OpenSSL 3 the implicit look-up that
// EVP_aes_*() triggers on every initialisation costs more than enciphering a small packet.
const EVP_CIPHER* Aes128EcbCipher() {
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr);
  return cipher != nullptr ? cipher : EVP_aes_128_ecb();
#else
  return EVP_aes_128_ecb();
#endif
}

struct CtxDeleter {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter>;

// The EVP calls take int lengths; larger runs go through in pieces of whole blocks.
constexpr size_t kMaxPiece = (static_cast<size_t>(INT_MAX) / kAesBlockSize) * kAesBlockSize;

bool RunEcb(EVP_CIPHER_CTX* ctx, bool encrypt, uint8_t* data, size_t size) {
  while (size > 0) {
    size_t piece = size < kMaxPiece ? size : kMaxPiece;
    int out = 0;
    int ok = encrypt ? EVP_EncryptUpdate(ctx, data, &out, data, static_cast<int>(piece))
                     : EVP_DecryptUpdate(ctx, data, &out, data, static_cast<int>(piece));
    if (ok != 1 || static_cast<size_t>(out) != piece) return false;
    data += piece;
    size -= piece;
  }
  return true;
}

}  // namespace

bool RandomBytes(void* out, size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    size_t piece = size < kMaxPiece ? size : kMaxPiece;
    if (RAND_bytes(p, static_cast<int>(piece)) != 1) return false;
    p += piece;
    size -= piece;
  }
  return true;
}

// ---- Aes128Ecb ----

struct Aes128Ecb::Contexts {
  CtxPtr encrypt;
  CtxPtr decrypt;
};

Aes128Ecb::Aes128Ecb(const uint8_t key[kAes128KeySize]) : contexts_(new Contexts) {
  contexts_->encrypt.reset(EVP_CIPHER_CTX_new());
  contexts_->decrypt.reset(EVP_CIPHER_CTX_new());
  if (!contexts_->encrypt || !contexts_->decrypt) return;
  // Padding off: callers hand in whole blocks only, and the length must not change.
  ok_ =
      EVP_EncryptInit_ex(contexts_->encrypt.get(), Aes128EcbCipher(), nullptr, key, nullptr) == 1 &&
      EVP_DecryptInit_ex(contexts_->decrypt.get(), Aes128EcbCipher(), nullptr, key, nullptr) == 1 &&
      EVP_CIPHER_CTX_set_padding(contexts_->encrypt.get(), 0) == 1 &&
      EVP_CIPHER_CTX_set_padding(contexts_->decrypt.get(), 0) == 1;
}

Aes128Ecb::~Aes128Ecb() = default;

bool Aes128Ecb::EncryptBlocks(uint8_t* data, size_t blocks) {
  if (!ok_) return false;
  if (blocks > SIZE_MAX / kAesBlockSize) return false;
  return RunEcb(contexts_->encrypt.get(), true, data, blocks * kAesBlockSize);
}

bool Aes128Ecb::DecryptBlocks(uint8_t* data, size_t blocks) {
  if (!ok_) return false;
  if (blocks > SIZE_MAX / kAesBlockSize) return false;
  return RunEcb(contexts_->decrypt.get(), false, data, blocks * kAesBlockSize);
}

}  // namespace docsec
