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

const EVP_CIPHER* Aes256GcmCipher() {
#if OPENSSL_VERSION_NUMBER >= 0x30000000L
  static EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
  return cipher != nullptr ? cipher : EVP_aes_256_gcm();
#else
  return EVP_aes_256_gcm();
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

// Runs `size` bytes through a GCM context in pieces that fit an int.
bool RunGcm(EVP_CIPHER_CTX* ctx, bool encrypt, const void* in, size_t size, void* out) {
  const auto* src = static_cast<const unsigned char*>(in);
  auto* dst = static_cast<unsigned char*>(out);
  while (size > 0) {
    size_t piece = size < kMaxPiece ? size : kMaxPiece;
    int written = 0;
    int ok = encrypt ? EVP_EncryptUpdate(ctx, dst, &written, src, static_cast<int>(piece))
                     : EVP_DecryptUpdate(ctx, dst, &written, src, static_cast<int>(piece));
    if (ok != 1 || static_cast<size_t>(written) != piece) return false;
    src += piece;
    dst += piece;
    size -= piece;
  }
  return true;
}

bool AddGcmAad(EVP_CIPHER_CTX* ctx, bool encrypt, const void* aad, size_t size) {
  const auto* p = static_cast<const unsigned char*>(aad);
  while (size > 0) {
    size_t piece = size < kMaxPiece ? size : kMaxPiece;
    int written = 0;
    int ok = encrypt ? EVP_EncryptUpdate(ctx, nullptr, &written, p, static_cast<int>(piece))
                     : EVP_DecryptUpdate(ctx, nullptr, &written, p, static_cast<int>(piece));
    if (ok != 1) return false;
    p += piece;
    size -= piece;
  }
  return true;
}

EVP_CIPHER_CTX* NewGcmContext(bool encrypt, const uint8_t* key, const uint8_t* iv) {
  CtxPtr ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return nullptr;
  int ok = encrypt ? EVP_EncryptInit_ex(ctx.get(), Aes256GcmCipher(), nullptr, nullptr, nullptr)
                   : EVP_DecryptInit_ex(ctx.get(), Aes256GcmCipher(), nullptr, nullptr, nullptr);
  if (ok != 1 || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN,
                                     static_cast<int>(kGcmIvSize), nullptr) != 1) {
    return nullptr;
  }
  ok = encrypt ? EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key, iv)
               : EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key, iv);
  return ok == 1 ? ctx.release() : nullptr;
}

EVP_CIPHER_CTX* Ctx(void* p) { return static_cast<EVP_CIPHER_CTX*>(p); }

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

// ---- AES-256-GCM ----

bool Aes256GcmSeal(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize], const void* aad,
                   size_t aad_size, const void* plaintext, size_t size, std::vector<uint8_t>* out) {
  out->clear();
  Aes256GcmSealer sealer(key, iv);
  std::vector<uint8_t> sealed(size + kGcmTagSize);
  if (!sealer.ok() || !sealer.AddAad(aad, aad_size) ||
      !sealer.Update(plaintext, size, sealed.data()) || !sealer.Finish(sealed.data() + size)) {
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
  Aes256GcmOpener opener(key, iv);
  std::vector<uint8_t> plain(size);
  if (!opener.ok() || !opener.AddAad(aad, aad_size) || !opener.Update(bytes, size, plain.data()) ||
      !opener.Finish(bytes + size)) {
    return false;
  }
  out->swap(plain);
  return true;
}

Aes256GcmSealer::Aes256GcmSealer(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize])
    : ctx_(NewGcmContext(true, key, iv)), ok_(ctx_ != nullptr) {}

Aes256GcmSealer::~Aes256GcmSealer() { EVP_CIPHER_CTX_free(Ctx(ctx_)); }

bool Aes256GcmSealer::AddAad(const void* aad, size_t size) {
  return ok_ && (ok_ = AddGcmAad(Ctx(ctx_), true, aad, size));
}

bool Aes256GcmSealer::Update(const void* in, size_t size, void* out) {
  return ok_ && (ok_ = RunGcm(Ctx(ctx_), true, in, size, out));
}

bool Aes256GcmSealer::Finish(uint8_t tag[kGcmTagSize]) {
  if (!ok_) return false;
  int written = 0;
  unsigned char scratch[kAesBlockSize];
  ok_ =
      EVP_EncryptFinal_ex(Ctx(ctx_), scratch, &written) == 1 && written == 0 &&
      EVP_CIPHER_CTX_ctrl(Ctx(ctx_), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kGcmTagSize), tag) == 1;
  return ok_;
}

Aes256GcmOpener::Aes256GcmOpener(const uint8_t key[kAes256KeySize], const uint8_t iv[kGcmIvSize])
    : ctx_(NewGcmContext(false, key, iv)), ok_(ctx_ != nullptr) {}

Aes256GcmOpener::~Aes256GcmOpener() { EVP_CIPHER_CTX_free(Ctx(ctx_)); }

bool Aes256GcmOpener::AddAad(const void* aad, size_t size) {
  return ok_ && (ok_ = AddGcmAad(Ctx(ctx_), false, aad, size));
}

bool Aes256GcmOpener::Update(const void* in, size_t size, void* out) {
  return ok_ && (ok_ = RunGcm(Ctx(ctx_), false, in, size, out));
}

bool Aes256GcmOpener::Finish(const uint8_t tag[kGcmTagSize]) {
  if (!ok_) return false;
  uint8_t copy[kGcmTagSize];
  for (size_t i = 0; i < kGcmTagSize; ++i) copy[i] = tag[i];
  int written = 0;
  unsigned char scratch[kAesBlockSize];
  ok_ = EVP_CIPHER_CTX_ctrl(Ctx(ctx_), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kGcmTagSize), copy) ==
            1 &&
        EVP_DecryptFinal_ex(Ctx(ctx_), scratch, &written) == 1;
  return ok_;
}

}  // namespace docsec
