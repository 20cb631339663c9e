// Windows twin of crypto.cc: AES-128-ECB and random bytes from the system's BCrypt primitives.
#include "docsec/platform/crypto.h"

#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <climits>
#include <cwchar>

namespace docsec {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// The provider is opened once per process and kept: opening one costs far more than
// enciphering a packet, and a provider handle may be shared by every thread.
BCRYPT_ALG_HANDLE AesEcbProvider() {
  static BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!Succeeded(BCryptOpenAlgorithmProvider(&handle, BCRYPT_AES_ALGORITHM, nullptr, 0))) {
      return static_cast<BCRYPT_ALG_HANDLE>(nullptr);
    }
    const wchar_t* mode = BCRYPT_CHAIN_MODE_ECB;
    ULONG mode_size = static_cast<ULONG>((wcslen(mode) + 1) * sizeof(wchar_t));
    if (!Succeeded(BCryptSetProperty(handle, BCRYPT_CHAINING_MODE,
                                     reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(mode)),
                                     mode_size, 0))) {
      BCryptCloseAlgorithmProvider(handle, 0);
      return static_cast<BCRYPT_ALG_HANDLE>(nullptr);
    }
    return handle;
  }();
  return provider;
}

// The BCrypt calls take ULONG lengths; larger runs go through in pieces of whole blocks.
constexpr size_t kMaxPiece = (static_cast<size_t>(ULONG_MAX / 2) / kAesBlockSize) * kAesBlockSize;

}  // namespace

bool RandomBytes(void* out, size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    size_t piece = size < kMaxPiece ? size : kMaxPiece;
    if (!Succeeded(BCryptGenRandom(nullptr, p, static_cast<ULONG>(piece),
                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
      return false;
    }
    p += piece;
    size -= piece;
  }
  return true;
}

// One key object serves both directions: BCrypt's AES key holds both schedules.
struct Aes128Ecb::Contexts {
  BCRYPT_KEY_HANDLE key = nullptr;
  ~Contexts() {
    if (key != nullptr) BCryptDestroyKey(key);
  }
};

Aes128Ecb::Aes128Ecb(const uint8_t key[kAes128KeySize]) : contexts_(new Contexts) {
  BCRYPT_ALG_HANDLE provider = AesEcbProvider();
  if (provider == nullptr) return;
  // Without a caller's buffer BCrypt keeps the key object in memory of its own.
  ok_ = Succeeded(BCryptGenerateSymmetricKey(provider, &contexts_->key, nullptr, 0,
                                             const_cast<PUCHAR>(key), kAes128KeySize, 0));
}

Aes128Ecb::~Aes128Ecb() = default;

namespace {

bool RunEcb(BCRYPT_KEY_HANDLE key, bool encrypt, uint8_t* data, size_t size) {
  while (size > 0) {
    size_t piece = size < kMaxPiece ? size : kMaxPiece;
    ULONG done = 0;
    ULONG length = static_cast<ULONG>(piece);
    NTSTATUS status =
        encrypt ? BCryptEncrypt(key, data, length, nullptr, nullptr, 0, data, length, &done, 0)
                : BCryptDecrypt(key, data, length, nullptr, nullptr, 0, data, length, &done, 0);
    if (!Succeeded(status) || done != length) return false;
    data += piece;
    size -= piece;
  }
  return true;
}

}  // namespace

bool Aes128Ecb::EncryptBlocks(uint8_t* data, size_t blocks) {
  if (!ok_) return false;
  if (blocks > SIZE_MAX / kAesBlockSize) return false;
  return RunEcb(contexts_->key, true, data, blocks * kAesBlockSize);
}

bool Aes128Ecb::DecryptBlocks(uint8_t* data, size_t blocks) {
  if (!ok_) return false;
  if (blocks > SIZE_MAX / kAesBlockSize) return false;
  return RunEcb(contexts_->key, false, data, blocks * kAesBlockSize);
}

}  // namespace docsec
