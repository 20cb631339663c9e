// The reference agent's persistent state: its identity (a UUID) and its file-encryption key, kept
// in a state directory of its own.
//
// The directory holds "agent-uuid" (the UUID as text) and "file-key" (32 random bytes, mode
// 0600). Both are created on first start, each written to a temporary name, flushed and then
// linked into place only if no other process put one there first, so a crash or a concurrent
// start never leaves a half-written or second key. An existing key of the wrong size, or readable
// by group or others, stops the agent instead of being replaced: every file encrypted under it
// would otherwise be lost.
//
// Thread safety: LoadAgentState may be called from any thread; AgentState is a value.
#ifndef DOCSEC_TOOLS_AGENT_AGENT_STATE_H_
#define DOCSEC_TOOLS_AGENT_AGENT_STATE_H_

#include <cstdint>
#include <string>

#include "docsec/platform/uuid.h"
#include "tools/agent/sealed_file.h"

namespace docsec::agent {

struct AgentState {
  Uuid uuid;
  uint8_t file_key[kFileKeySize] = {};
};

// File names inside the state directory.
constexpr char kUuidFileName[] = "agent-uuid";
constexpr char kKeyFileName[] = "file-key";

// Opens (creating it with mode 0700 when missing) `state_dir` and fills *state. `uuid_text`, when
// not empty, is the identity to use (it must parse; the kept one is then neither read nor
// written); otherwise the kept UUID is read, or generated and kept on first start. The key is
// read, or generated and kept. False with a reason in *error on any failure.
bool LoadAgentState(const std::string& state_dir, const std::string& uuid_text, AgentState* state,
                    std::string* error);

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_AGENT_STATE_H_
