// The agent channel's packet: framing, the two checksums and the encryption of every byte on the
// wire. AgentChannel moves packets; this file only describes and transforms them.
//
// On the wire a packet is three parts, each encrypted on its own (see EncryptBuffer):
//   head     16 bytes: kind, status, length, head checksum; 32-bit little-endian words
//   body     `length` bytes of UTF-8 XML text, absent when length is 0
//   trailer  4 bytes: the packet checksum, little-endian
// There is no magic, version or sequence number; a reply is simply the next packet on the same
// connection.
//
// Thread safety: packets are plain values owned by one thread; the functions are thread-safe.
#ifndef DOCSEC_AGENT_AGENT_PACKET_H_
#define DOCSEC_AGENT_AGENT_PACKET_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "docsec/platform/export.h"

namespace docsec {

class Aes128Ecb;

// The TCP port every agent listens on.
constexpr uint16_t AgentPort = 24567;

constexpr size_t kAgentHeadSize = 16;
constexpr size_t kAgentTrailerSize = 4;
// The largest body either side sends or accepts, in bytes.
constexpr uint32_t kAgentMaxBodySize = 0x100000;

struct AgentPacket {
  uint32_t kind = 0;           // head bytes 0-3; sent as 0, not examined on receipt
  uint32_t status = 0;         // head bytes 4-7; sent as 0, set to 1 locally when a receive fails
  uint32_t length = 0;         // head bytes 8-11; body size in bytes, at most kAgentMaxBodySize
  uint32_t head_checksum = 0;  // head bytes 12-15; HeadChecksum of bytes 0-11
  // The body bytes, owned; `length` of them when the packet is complete (a received body always
  // has exactly `length` bytes, followed by the string's terminating zero, so it can be read as
  // text). Empty when there is no body.
  std::string body;
  uint32_t packet_checksum = 0;  // the trailer; PacketChecksum of the plain head and body

  // Releases the body's storage; safe without a body. Leaves `length` alone.
  void FreeBody() { std::string().swap(body); }
  uint8_t* BodyBytes() { return reinterpret_cast<uint8_t*>(&body[0]); }
  const uint8_t* BodyBytes() const { return reinterpret_cast<const uint8_t*>(body.data()); }
  // Back to the all-zero packet, without body.
  void Clear();

  // The plain head bytes as they go on the wire (before encryption).
  void WriteHead(uint8_t head[kAgentHeadSize]) const;
  // Takes kind, status, length and head checksum from plain head bytes.
  void ReadHead(const uint8_t head[kAgentHeadSize]);
};

// Sum of (i + 3) * head[i] over the first 12 plain head bytes, wrapping in 32 bits.
uint32_t HeadChecksum(const uint8_t* head);

// Sum of (i + 3) * head[i] over all 16 plain head bytes plus (j + 19) * body[j] over the body: the
// weights run on from the head into the body. Wrapping in 32 bits. `body` may be null when
// `length` is 0.
uint32_t PacketChecksum(const uint8_t* head, const uint8_t* body, size_t length);

// Encrypts `length` bytes in place: every whole 16-byte block from the first byte with AES-128 in
// electronic-codebook mode under `key`, and a remainder shorter than a block (or a buffer shorter
// than a block) XORed with TailPad, byte k of the remainder with TailPad[k]. The length does not
// change. False only when the cipher could not run (the buffer is then unusable).
bool EncryptBuffer(uint8_t* buffer, size_t length, const uint8_t* key);
// The inverse of EncryptBuffer.
bool DecryptBuffer(uint8_t* buffer, size_t length, const uint8_t* key);

// The same with a cipher whose key schedule is already prepared, for callers that process several
// buffers under one key.
bool EncryptBuffer(uint8_t* buffer, size_t length, Aes128Ecb& cipher);
bool DecryptBuffer(uint8_t* buffer, size_t length, Aes128Ecb& cipher);

}  // namespace docsec

#endif  // DOCSEC_AGENT_AGENT_PACKET_H_
