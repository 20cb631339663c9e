#include "tools/agent/file_crypto.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "docsec/platform/crypto.h"

namespace docsec::agent {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// NIST GCM test vectors, cases 13 and 14 (AES-256, zero key and IV).
TEST(Aes256Gcm, NistKnownAnswers) {
  uint8_t key[kAes256KeySize] = {};
  uint8_t iv[kGcmIvSize] = {};
  std::vector<uint8_t> sealed;
  ASSERT_TRUE(Aes256GcmSeal(key, iv, nullptr, 0, nullptr, 0, &sealed));
  EXPECT_EQ(sealed, FromHex("530f8afbc74536b9a963b4f1c4cb738b"));

  uint8_t zero_block[16] = {};
  ASSERT_TRUE(Aes256GcmSeal(key, iv, nullptr, 0, zero_block, sizeof zero_block, &sealed));
  EXPECT_EQ(sealed, FromHex("cea7403d4d606b6e074ec5d3baf39d18"
                            "d0d1c8a799996bf0265b98b5d48ab919"));
  std::vector<uint8_t> opened;
  ASSERT_TRUE(Aes256GcmOpen(key, iv, nullptr, 0, sealed.data(), sealed.size(), &opened));
  EXPECT_EQ(opened, std::vector<uint8_t>(16, 0));
}

TEST(Aes256Gcm, OpenRefusesAnyChange) {
  uint8_t key[kAes256KeySize];
  uint8_t iv[kGcmIvSize];
  ASSERT_TRUE(RandomBytes(key, sizeof key));
  ASSERT_TRUE(RandomBytes(iv, sizeof iv));
  const std::string aad = "header v1";
  const std::string text = "the quick brown fox jumps over the lazy dog";
  std::vector<uint8_t> sealed;
  ASSERT_TRUE(Aes256GcmSeal(key, iv, aad.data(), aad.size(), text.data(), text.size(), &sealed));
  ASSERT_EQ(sealed.size(), text.size() + kGcmTagSize);

  std::vector<uint8_t> opened;
  ASSERT_TRUE(
      Aes256GcmOpen(key, iv, aad.data(), aad.size(), sealed.data(), sealed.size(), &opened));
  EXPECT_EQ(std::string(opened.begin(), opened.end()), text);

  struct Case {
    const char* what;
    size_t flip_sealed;  // index of a byte to flip, or SIZE_MAX
    bool other_aad;
    bool other_key;
    size_t cut;  // bytes cut from the end
  } cases[] = {
      {"cipher text byte", 3, false, false, 0},      {"tag byte", text.size() + 2, false, false, 0},
      {"associated data", SIZE_MAX, true, false, 0}, {"key", SIZE_MAX, false, true, 0},
      {"truncated", SIZE_MAX, false, false, 1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = sealed;
    if (c.flip_sealed != SIZE_MAX) bad[c.flip_sealed] ^= 0x01;
    bad.resize(bad.size() - c.cut);
    std::string bad_aad = c.other_aad ? "header v2" : aad;
    uint8_t bad_key[kAes256KeySize];
    std::memcpy(bad_key, key, sizeof key);
    if (c.other_key) bad_key[0] ^= 0x80;
    opened.assign(5, 0xAA);
    EXPECT_FALSE(
        Aes256GcmOpen(bad_key, iv, bad_aad.data(), bad_aad.size(), bad.data(), bad.size(), &opened))
        << c.what;
    EXPECT_TRUE(opened.empty()) << c.what;
  }
  EXPECT_FALSE(Aes256GcmOpen(key, iv, nullptr, 0, sealed.data(), kGcmTagSize - 1, &opened));
}

TEST(Aes256Gcm, StreamingMatchesOneShot) {
  uint8_t key[kAes256KeySize];
  uint8_t iv[kGcmIvSize];
  ASSERT_TRUE(RandomBytes(key, sizeof key));
  ASSERT_TRUE(RandomBytes(iv, sizeof iv));
  std::vector<uint8_t> text(10000);
  ASSERT_TRUE(RandomBytes(text.data(), text.size()));
  std::vector<uint8_t> sealed;
  ASSERT_TRUE(Aes256GcmSeal(key, iv, "ab", 2, text.data(), text.size(), &sealed));

  Aes256Gcm sealer(Aes256Gcm::Direction::kSeal, key, iv);
  ASSERT_TRUE(sealer.AddAad("a", 1));
  ASSERT_TRUE(sealer.AddAad("b", 1));
  std::vector<uint8_t> pieces(text.size());
  size_t at = 0;
  for (size_t step : {1u, 15u, 4096u, 3u}) {
    ASSERT_TRUE(sealer.Update(text.data() + at, step, pieces.data() + at));
    at += step;
  }
  ASSERT_TRUE(sealer.Update(text.data() + at, text.size() - at, pieces.data() + at));
  uint8_t tag[kGcmTagSize];
  ASSERT_TRUE(sealer.Finish(tag));
  EXPECT_EQ(std::vector<uint8_t>(sealed.begin(), sealed.begin() + text.size()), pieces);
  EXPECT_EQ(std::vector<uint8_t>(sealed.begin() + text.size(), sealed.end()),
            std::vector<uint8_t>(tag, tag + kGcmTagSize));

  // Opening in place, then a wrong tag.
  Aes256Gcm opener(Aes256Gcm::Direction::kOpen, key, iv);
  ASSERT_TRUE(opener.AddAad("ab", 2));
  ASSERT_TRUE(opener.Update(pieces.data(), pieces.size(), pieces.data()));
  EXPECT_TRUE(opener.Finish(tag));
  EXPECT_EQ(pieces, text);
  Aes256Gcm wrong(Aes256Gcm::Direction::kOpen, key, iv);
  ASSERT_TRUE(wrong.Update(sealed.data(), text.size(), pieces.data()));
  EXPECT_FALSE(wrong.Finish(tag));
}

// RFC 4231, test case 2.
TEST(HmacSha256, KnownAnswer) {
  const std::string key = "Jefe";
  const std::string data = "what do ya want for nothing?";
  uint8_t mac[kHmacSha256Size];
  ASSERT_TRUE(HmacSha256(reinterpret_cast<const uint8_t*>(key.data()), key.size(), data.data(),
                         data.size(), mac));
  EXPECT_EQ(std::vector<uint8_t>(mac, mac + sizeof mac),
            FromHex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
}

}  // namespace
}  // namespace docsec::agent
