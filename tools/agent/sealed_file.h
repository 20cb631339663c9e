// The reference agent's encrypted-file format and the in-place operations on it: seal (encrypt),
// unseal (decrypt) and relabel (change the secret level).
//
// A sealed file is, little-endian throughout:
//
//   header (52 bytes):  magic "DSECFILE" (8), format version 1 (2), header size 52 (2),
//                       file GUID (16, text order), secret level id (int32, -1 for none),
//                       department id (int64, -1 for none), body IV (12, random per sealing)
//   header tag (16):    AES-256-GCM tag over no text, the header as associated data, under the
//                       body IV with its last byte flipped (so the label can be checked cheaply)
//   body:               the original bytes, AES-256-GCM under the body IV, header as associated
//   data body tag (16)
//
// Both tags are under the agent's own 32-byte key. Every operation writes a new file beside the
// original (a ReplacementFile: unnamed where possible, mode 0600 while it holds data), flushes
// it, gives it the original's permission bits and owner, checks that the original did not change
// meanwhile, and renames it over the original: the original is either wholly there or wholly
// replaced, even when the agent is killed, and a file that fails to authenticate is never touched.
// Files with several hard links are refused, because replacing one name would leave the old content
// reachable through the others.
//
// Thread safety: the functions keep no state; callers serialise operations on the same file.
#ifndef DOCSEC_TOOLS_AGENT_SEALED_FILE_H_
#define DOCSEC_TOOLS_AGENT_SEALED_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "docsec/platform/uuid.h"
#include "tools/agent/file_system.h"

namespace docsec::agent {

constexpr size_t kFileKeySize = 32;
constexpr size_t kSealedHeaderSize = 52;
constexpr size_t kSealedOverhead = kSealedHeaderSize + 16 + 16;
constexpr uint16_t kSealedFormatVersion = 1;

// What a sealed file says about itself.
struct SealedLabel {
  Uuid guid;
  int32_t secret_level = -1;
  int64_t department = -1;
};

enum class SealState {
  kPlain,    // not in the sealed format
  kSealed,   // sealed under our key; the label is authentic
  kForeign,  // starts like a sealed file but its label does not verify under our key
};

enum class SealResult {
  kOk,
  kAlreadyDone,  // nothing to do: sealing a sealed file, unsealing a plain one
  kNotSealed,    // relabelling a file that is not sealed
  kAuthFailed,   // the file does not verify under our key (tampered, or sealed elsewhere)
  kRefused,      // not a regular file, or several hard links
  kChanged,      // the file changed while it was being worked on
  kNoSpace,      // the file system is full: the file is left as it was
  kIoError,
};

// A short English text for a result, for replies and traces.
const char* SealResultText(SealResult result);

// Reads the head of file `name` in `dir` and reports its state, with the label when kSealed.
// False when the file cannot be opened or read.
bool ProbeSealedFile(const DirHandle& dir, const std::string& name, const uint8_t* key,
                     SealState* state, SealedLabel* label);

// Encrypts file `name` in place under `key` with `label`. A file already sealed under `key` is
// left alone (kAlreadyDone); *result_label then gets its existing label, else `label`.
SealResult SealFile(const DirHandle& dir, const std::string& name, const uint8_t* key,
                    const SealedLabel& label, SealedLabel* result_label);

// Restores the original bytes of a sealed file. A plain file gives kAlreadyDone; a file that does
// not authenticate gives kAuthFailed and is left as it was.
SealResult UnsealFile(const DirHandle& dir, const std::string& name, const uint8_t* key);

// Gives a sealed file the secret level `level`, keeping its GUID, department and plaintext; the
// file is re-encrypted under a fresh IV so the new header stays authenticated.
SealResult RelabelFile(const DirHandle& dir, const std::string& name, const uint8_t* key,
                       int32_t level, SealedLabel* result_label);

class ReplacementGroup;
// How a replacement left in a group ended (kOk: the new content is in place and stored), with the
// folder the file is in.
using ReplacementDone = std::function<void(SealResult result, const DirHandle& dir)>;

// The same three with the new content left in `group`, to be made durable with others: kOk means
// it is written and waits there, and `done` hears how the replacement ended when the group
// commits; any other result is final (nothing waits and `done` is not called).
SealResult SealFileInto(ReplacementGroup* group, const DirHandle& dir, const std::string& name,
                        const uint8_t* key, const SealedLabel& label, ReplacementDone done);
SealResult UnsealFileInto(ReplacementGroup* group, const DirHandle& dir, const std::string& name,
                          const uint8_t* key, ReplacementDone done);
SealResult RelabelFileInto(ReplacementGroup* group, const DirHandle& dir, const std::string& name,
                           const uint8_t* key, int32_t level, ReplacementDone done);

}  // namespace docsec::agent

#endif  // DOCSEC_TOOLS_AGENT_SEALED_FILE_H_
