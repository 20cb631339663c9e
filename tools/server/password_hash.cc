#include "tools/server/password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace docsec::server {
namespace {

constexpr const char* kScheme = "pbkdf2-sha256";
constexpr size_t kSaltSize = 16;
constexpr size_t kHashSize = 32;
// Bounds on the stored iteration count, so a corrupted row cannot stall a login for hours.
constexpr long kMinIterations = 1;
constexpr long kMaxIterations = 10000000;

std::string ToHex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return text;
}

bool FromHex(std::string_view text, std::vector<uint8_t>* out) {
  if (text.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    int value = 0;
    for (size_t k = 0; k < 2; ++k) {
      char c = text[i + k];
      int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    out->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

bool Derive(std::string_view password, const uint8_t* salt, size_t salt_size, long iterations,
            uint8_t out[kHashSize]) {
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                           static_cast<int>(salt_size), static_cast<int>(iterations), EVP_sha256(),
                           kHashSize, out) == 1;
}

struct Parsed {
  long iterations = 0;
  std::vector<uint8_t> salt;
  std::vector<uint8_t> hash;
};

bool Parse(std::string_view stored, Parsed* parsed) {
  size_t first = stored.find('$');
  if (first == std::string_view::npos || stored.substr(0, first) != kScheme) return false;
  size_t second = stored.find('$', first + 1);
  if (second == std::string_view::npos) return false;
  size_t third = stored.find('$', second + 1);
  if (third == std::string_view::npos) return false;
  std::string count(stored.substr(first + 1, second - first - 1));
  char* end = nullptr;
  parsed->iterations = std::strtol(count.c_str(), &end, 10);
  if (count.empty() || *end != '\0' || parsed->iterations < kMinIterations ||
      parsed->iterations > kMaxIterations) {
    return false;
  }
  return FromHex(stored.substr(second + 1, third - second - 1), &parsed->salt) &&
         !parsed->salt.empty() && FromHex(stored.substr(third + 1), &parsed->hash) &&
         parsed->hash.size() == kHashSize;
}

}  // namespace

std::string HashPassword(std::string_view password, int iterations) {
  if (iterations < kMinIterations) iterations = kMinIterations;
  uint8_t salt[kSaltSize];
  uint8_t hash[kHashSize];
  if (RAND_bytes(salt, sizeof salt) != 1) return {};
  if (!Derive(password, salt, sizeof salt, iterations, hash)) return {};
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + ToHex(salt, sizeof salt) +
         "$" + ToHex(hash, sizeof hash);
}

bool VerifyPassword(std::string_view password, std::string_view stored) {
  Parsed parsed;
  if (!Parse(stored, &parsed)) return false;
  uint8_t hash[kHashSize];
  if (!Derive(password, parsed.salt.data(), parsed.salt.size(), parsed.iterations, hash)) {
    return false;
  }
  return CRYPTO_memcmp(hash, parsed.hash.data(), kHashSize) == 0;
}

bool PasswordNeedsRehash(std::string_view stored, int iterations) {
  Parsed parsed;
  return !Parse(stored, &parsed) || parsed.iterations < iterations;
}

void BurnPasswordTime(std::string_view password, int iterations) {
  static const uint8_t kSalt[kSaltSize] = {};
  uint8_t hash[kHashSize];
  Derive(password, kSalt, sizeof kSalt, iterations < 1 ? 1 : iterations, hash);
}

}  // namespace docsec::server
