// The two secrets of the agent channel. Every agent of a deployment is built with the same two
// values; the library and the reference agent both take them from here and nowhere else.
#ifndef DOCSEC_AGENT_AGENT_KEYS_H_
#define DOCSEC_AGENT_AGENT_KEYS_H_

#include <cstdint>

#include "docsec/platform/export.h"

namespace docsec {

// The AES-128 key of every whole 16-byte block on the wire, in both directions.
extern const uint8_t ChannelKey[16];

// The mask XORed over a buffer's last bytes that do not fill an AES block: byte k of the
// remainder with TailPad[k].
extern const uint8_t TailPad[16];

}  // namespace docsec

#endif  // DOCSEC_AGENT_AGENT_KEYS_H_
