#include "docsec/agent/agent_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "docsec/agent/agent_keys.h"
#include "docsec/platform/crypto.h"

namespace docsec {
namespace {

uint32_t NaivePacketChecksum(const uint8_t* head, const uint8_t* body, size_t length) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 16; ++i) sum += (i + 3) * head[i];
  for (size_t j = 0; j < length; ++j) sum += static_cast<uint32_t>(j + 19) * body[j];
  return sum;
}

TEST(AgentPacket, WorkedChecksumExample) {
  AgentPacket packet;
  packet.length = 3;
  uint8_t head[kAgentHeadSize];
  packet.WriteHead(head);
  EXPECT_EQ(HeadChecksum(head), 33u);
  packet.head_checksum = HeadChecksum(head);
  packet.WriteHead(head);
  const uint8_t body[] = {'a', 'b', 'c'};
  EXPECT_EQ(PacketChecksum(head, body, sizeof body), 6410u);
}

TEST(AgentPacket, HeadIsLittleEndianWords) {
  AgentPacket packet;
  packet.kind = 0x04030201;
  packet.status = 0x08070605;
  packet.length = 0x0C0B0A09;
  packet.head_checksum = 0x100F0E0D;
  uint8_t head[kAgentHeadSize];
  packet.WriteHead(head);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(head[i], i + 1) << i;
  AgentPacket back;
  back.ReadHead(head);
  EXPECT_EQ(back.kind, packet.kind);
  EXPECT_EQ(back.status, packet.status);
  EXPECT_EQ(back.length, packet.length);
  EXPECT_EQ(back.head_checksum, packet.head_checksum);
  // The head checksum weighs bytes 0-11 only.
  uint32_t expected = 0;
  for (uint32_t i = 0; i < 12; ++i) expected += (i + 3) * (i + 1);
  EXPECT_EQ(HeadChecksum(head), expected);
}

// The fast checksum against the formula, for bodies around the vector widths and a full-size
// body of 0xFF bytes, whose weighted sum wraps past 32 bits.
TEST(AgentPacket, PacketChecksumMatchesTheFormula) {
  std::mt19937 rng(3);
  uint8_t head[kAgentHeadSize];
  for (auto& b : head) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> body(kAgentMaxBodySize);
  for (auto& b : body) b = static_cast<uint8_t>(rng());
  for (size_t length : {0u, 1u, 15u, 16u, 17u, 63u, 64u, 65u, 1000u, 4099u}) {
    EXPECT_EQ(PacketChecksum(head, body.data(), length),
              NaivePacketChecksum(head, body.data(), length))
        << length;
  }
  std::fill(body.begin(), body.end(), 0xFF);
  EXPECT_EQ(PacketChecksum(head, body.data(), body.size()),
            NaivePacketChecksum(head, body.data(), body.size()));
  EXPECT_EQ(PacketChecksum(head, nullptr, 0), NaivePacketChecksum(head, nullptr, 0));
}

// Whole blocks are AES-128 blocks under the key; the remainder (or a short buffer) is XORed with
// TailPad from its first byte.
TEST(AgentPacket, EncryptionCiphersWholeBlocksAndMasksTheTail) {
  std::mt19937 rng(11);
  for (size_t length : {4u, 15u, 16u, 17u, 33u}) {
    std::vector<uint8_t> plain(length);
    for (auto& b : plain) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> buffer = plain;
    ASSERT_TRUE(EncryptBuffer(buffer.data(), buffer.size(), ChannelKey));

    size_t whole = length / 16 * 16;
    std::vector<uint8_t> expected = plain;
    Aes128Ecb cipher(ChannelKey);
    for (size_t block = 0; block < whole; block += 16) {
      ASSERT_TRUE(cipher.EncryptBlocks(expected.data() + block, 1));
    }
    for (size_t k = 0; whole + k < length; ++k) expected[whole + k] ^= TailPad[k];
    EXPECT_EQ(buffer, expected) << length;

    ASSERT_TRUE(DecryptBuffer(buffer.data(), buffer.size(), ChannelKey));
    EXPECT_EQ(buffer, plain) << length;
  }
}

// The key argument is the AES key itself: FIPS-197 C.1 through EncryptBuffer.
TEST(AgentPacket, EncryptBufferUsesTheGivenKey) {
  const uint8_t key[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                           0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
  uint8_t block[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                       0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
  const uint8_t expected[16] = {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30,
                                0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a};
  ASSERT_TRUE(EncryptBuffer(block, sizeof block, key));
  EXPECT_EQ(std::memcmp(block, expected, sizeof block), 0);
}

}  // namespace
}  // namespace docsec
