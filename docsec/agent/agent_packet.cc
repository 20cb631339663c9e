#include "docsec/agent/agent_packet.h"

#include "docsec/agent/agent_keys.h"
#include "docsec/platform/byte_sums.h"
#include "docsec/platform/crypto.h"

namespace docsec {
namespace {

void PutWord(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetWord(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Body weights start where the head's end: byte j of the body weighs j + 19 = (16 + j) + 3.
constexpr uint32_t kFirstBodyWeight = kAgentHeadSize + 3;

void MaskTail(uint8_t* buffer, size_t length) {
  size_t whole = length - length % kAesBlockSize;
  for (size_t k = 0; whole + k < length; ++k) buffer[whole + k] ^= TailPad[k];
}

}  // namespace

void AgentPacket::Clear() {
  kind = status = length = head_checksum = packet_checksum = 0;
  FreeBody();
}

void AgentPacket::WriteHead(uint8_t head[kAgentHeadSize]) const {
  PutWord(head, kind);
  PutWord(head + 4, status);
  PutWord(head + 8, length);
  PutWord(head + 12, head_checksum);
}

void AgentPacket::ReadHead(const uint8_t head[kAgentHeadSize]) {
  kind = GetWord(head);
  status = GetWord(head + 4);
  length = GetWord(head + 8);
  head_checksum = GetWord(head + 12);
}

uint32_t HeadChecksum(const uint8_t* head) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 12; ++i) sum += (i + 3) * head[i];
  return sum;
}

uint32_t PacketChecksum(const uint8_t* head, const uint8_t* body, size_t length) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kAgentHeadSize; ++i) sum += (i + 3) * head[i];
  // sum (j + 19) * d[j] = 19 * sum d[j] + sum j * d[j]; both sums come from one vector pass.
  ByteSums sums = SumBytes(body, body != nullptr ? length : 0);
  return sum + kFirstBodyWeight * sums.plain + sums.weighted;
}

bool EncryptBuffer(uint8_t* buffer, size_t length, Aes128Ecb& cipher) {
  if (!cipher.EncryptBlocks(buffer, length / kAesBlockSize)) return false;
  MaskTail(buffer, length);
  return true;
}

bool DecryptBuffer(uint8_t* buffer, size_t length, Aes128Ecb& cipher) {
  if (!cipher.DecryptBlocks(buffer, length / kAesBlockSize)) return false;
  MaskTail(buffer, length);
  return true;
}

bool EncryptBuffer(uint8_t* buffer, size_t length, const uint8_t* key) {
  if (length < kAesBlockSize) {
    MaskTail(buffer, length);
    return true;
  }
  Aes128Ecb cipher(key);
  return EncryptBuffer(buffer, length, cipher);
}

bool DecryptBuffer(uint8_t* buffer, size_t length, const uint8_t* key) {
  if (length < kAesBlockSize) {
    MaskTail(buffer, length);
    return true;
  }
  Aes128Ecb cipher(key);
  return DecryptBuffer(buffer, length, cipher);
}

}  // namespace docsec
