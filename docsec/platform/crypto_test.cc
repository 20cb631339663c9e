#include "docsec/platform/crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace docsec {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// FIPS-197 appendix C.1.
const char kFipsKey[] = "000102030405060708090a0b0c0d0e0f";
const char kFipsPlain[] = "00112233445566778899aabbccddeeff";
const char kFipsCipher[] = "69c4e0d86a7b0430d8cdb78070b4c55a";

TEST(Aes128Ecb, Fips197KnownAnswer) {
  std::vector<uint8_t> key = FromHex(kFipsKey);
  Aes128Ecb cipher(key.data());
  ASSERT_TRUE(cipher.ok());
  std::vector<uint8_t> block = FromHex(kFipsPlain);
  ASSERT_TRUE(cipher.EncryptBlocks(block.data(), 1));
  EXPECT_EQ(block, FromHex(kFipsCipher));
  ASSERT_TRUE(cipher.DecryptBlocks(block.data(), 1));
  EXPECT_EQ(block, FromHex(kFipsPlain));
}

// Electronic codebook: equal blocks give equal cipher blocks, whatever their position in the run,
// and one prepared key serves any number of calls.
TEST(Aes128Ecb, RunsOfBlocksAreEncipheredBlockByBlock) {
  std::vector<uint8_t> key = FromHex(kFipsKey);
  Aes128Ecb cipher(key.data());
  std::vector<uint8_t> plain = FromHex(kFipsPlain);
  std::vector<uint8_t> run;
  for (int i = 0; i < 5; ++i) run.insert(run.end(), plain.begin(), plain.end());
  for (int round = 0; round < 2; ++round) {
    std::vector<uint8_t> data = run;
    ASSERT_TRUE(cipher.EncryptBlocks(data.data(), 5));
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(std::vector<uint8_t>(data.begin() + 16 * i, data.begin() + 16 * (i + 1)),
                FromHex(kFipsCipher));
    }
    ASSERT_TRUE(cipher.DecryptBlocks(data.data(), 5));
    EXPECT_EQ(data, run);
  }
  EXPECT_TRUE(cipher.EncryptBlocks(nullptr, 0));
}

TEST(RandomBytes, DrawsDiffer) {
  uint8_t a[32] = {};
  uint8_t b[32] = {};
  ASSERT_TRUE(RandomBytes(a, sizeof a));
  ASSERT_TRUE(RandomBytes(b, sizeof b));
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
  EXPECT_TRUE(RandomBytes(nullptr, 0));
}

}  // namespace
}  // namespace docsec
