#include "docsec/platform/secure_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

namespace docsec {
namespace {

bool AllZero(const unsigned char* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

// The array lives in storage the test keeps, so its bytes can be read after the destructor ran.
TEST(SecretBytes, DestructionLeavesOnlyZeroBytes) {
  alignas(SecretBytes<16>) unsigned char storage[sizeof(SecretBytes<16>)];
  auto* secret = new (storage) SecretBytes<16>;
  EXPECT_TRUE(AllZero(secret->data(), secret->size()));
  std::memset(secret->data(), 0x5C, secret->size());
  secret->~SecretBytes<16>();
  EXPECT_TRUE(AllZero(storage, sizeof storage));
}

}  // namespace
}  // namespace docsec
