#include "tools/agent/sealed_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "docsec/platform/crypto.h"
#include "docsec/platform/trace.h"
#include "tools/agent/file_crypto.h"
#include "tools/agent/replacement_file.h"
#include "tools/agent/replacement_group.h"

namespace docsec::agent {
namespace {

constexpr char kMagic[8] = {'D', 'S', 'E', 'C', 'F', 'I', 'L', 'E'};
constexpr size_t kTagSize = kGcmTagSize;
constexpr size_t kHeadSize = kSealedHeaderSize + kTagSize;  // header and header tag
constexpr size_t kChunkSize = 256 * 1024;

// Starts writing each full stretch of a large output to storage as soon as it is written, so the
// flush at commit overlaps the rest of the reading and sealing instead of following it.
class WritebackAhead {
 public:
  explicit WritebackAhead(FileHandle& file) : file_(file) {}
  void Wrote(size_t size) {
    written_ += size;
    if (written_ - started_ < kStretch) return;
    file_.StartWriteback(started_, written_ - started_);
    started_ = written_;
  }

 private:
  static constexpr uint64_t kStretch = uint64_t{8} << 20;
  FileHandle& file_;
  uint64_t written_ = 0;
  uint64_t started_ = 0;
};

// Header offsets.
constexpr size_t kOffVersion = 8;
constexpr size_t kOffHeaderSize = 10;
constexpr size_t kOffGuid = 12;
constexpr size_t kOffLevel = 28;
constexpr size_t kOffDepartment = 32;
constexpr size_t kOffIv = 40;

static_assert(kOffIv + kGcmIvSize == kSealedHeaderSize, "header layout");
static_assert(kSealedOverhead == kHeadSize + kTagSize, "overhead");

void PutLe(uint8_t* out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe(const uint8_t* in, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

void EncodeHeader(const SealedLabel& label, const uint8_t iv[kGcmIvSize],
                  uint8_t header[kSealedHeaderSize]) {
  std::memcpy(header, kMagic, sizeof kMagic);
  PutLe(header + kOffVersion, kSealedFormatVersion, 2);
  PutLe(header + kOffHeaderSize, kSealedHeaderSize, 2);
  std::memcpy(header + kOffGuid, label.guid.bytes, sizeof label.guid.bytes);
  PutLe(header + kOffLevel, static_cast<uint32_t>(label.secret_level), 4);
  PutLe(header + kOffDepartment, static_cast<uint64_t>(label.department), 8);
  std::memcpy(header + kOffIv, iv, kGcmIvSize);
}

// The header tag's IV: the body IV with its last byte flipped, so the two never coincide.
void HeaderIv(const uint8_t header[kSealedHeaderSize], uint8_t iv[kGcmIvSize]) {
  std::memcpy(iv, header + kOffIv, kGcmIvSize);
  iv[kGcmIvSize - 1] ^= 0xFF;
}

bool MakeHeaderTag(const uint8_t* key, const uint8_t header[kSealedHeaderSize],
                   uint8_t tag[kTagSize]) {
  uint8_t iv[kGcmIvSize];
  HeaderIv(header, iv);
  std::vector<uint8_t> sealed;
  if (!Aes256GcmSeal(key, iv, header, kSealedHeaderSize, nullptr, 0, &sealed) ||
      sealed.size() != kTagSize) {
    return false;
  }
  std::memcpy(tag, sealed.data(), kTagSize);
  return true;
}

// Classifies the first kHeadSize bytes of a file (fewer when it is shorter).
SealState ClassifyHead(const uint8_t* head, size_t size, const uint8_t* key, SealedLabel* label) {
  if (size < sizeof kMagic || std::memcmp(head, kMagic, sizeof kMagic) != 0) {
    return SealState::kPlain;
  }
  if (size < kHeadSize || GetLe(head + kOffVersion, 2) != kSealedFormatVersion ||
      GetLe(head + kOffHeaderSize, 2) != kSealedHeaderSize) {
    return SealState::kForeign;
  }
  uint8_t iv[kGcmIvSize];
  HeaderIv(head, iv);
  std::vector<uint8_t> opened;
  if (!Aes256GcmOpen(key, iv, head, kSealedHeaderSize, head + kSealedHeaderSize, kTagSize,
                     &opened)) {
    return SealState::kForeign;
  }
  std::memcpy(label->guid.bytes, head + kOffGuid, sizeof label->guid.bytes);
  label->secret_level = static_cast<int32_t>(static_cast<uint32_t>(GetLe(head + kOffLevel, 4)));
  label->department = static_cast<int64_t>(GetLe(head + kOffDepartment, 8));
  return SealState::kSealed;
}

enum class Mode { kSeal, kUnseal, kRelabel };

// Makes the new content of file `name`. Without a group it is committed at once; with one it is
// left there (kOk) and `done` hears how it ended.
SealResult Transform(const DirHandle& dir, const std::string& name, const uint8_t* key, Mode mode,
                     const SealedLabel& seal_label, int32_t new_level, SealedLabel* result_label,
                     ReplacementGroup* group = nullptr, ReplacementDone done = nullptr) {
  ClearLastFsError();
  FileHandle in = dir.OpenForReading(name);
  if (!in.IsOpen()) {
    return LastFsErrorKind() == FsErrorKind::kWrongKind ? SealResult::kRefused
                                                        : SealResult::kIoError;
  }
  FileInfo before;
  if (!in.Stat(&before)) return SealResult::kIoError;
  if (before.link_count > 1) return SealResult::kRefused;

  uint8_t head[kHeadSize];
  long long got = in.ReadFull(head, sizeof head);
  if (got < 0) return SealResult::kIoError;
  SealedLabel old_label;
  SealState state = ClassifyHead(head, static_cast<size_t>(got), key, &old_label);

  switch (mode) {
    case Mode::kSeal:
      if (state == SealState::kSealed) {
        if (result_label) *result_label = old_label;
        return SealResult::kAlreadyDone;
      }
      // A foreign file is just data to us: sealing it again keeps it recoverable.
      if (!in.SeekTo(0)) return SealResult::kIoError;
      break;
    case Mode::kUnseal:
      if (state == SealState::kPlain) return SealResult::kAlreadyDone;
      if (state == SealState::kForeign) return SealResult::kAuthFailed;
      break;
    case Mode::kRelabel:
      if (state == SealState::kPlain) return SealResult::kNotSealed;
      if (state == SealState::kForeign) return SealResult::kAuthFailed;
      break;
  }
  if (mode != Mode::kSeal && before.size < kSealedOverhead) return SealResult::kAuthFailed;

  std::unique_ptr<ReplacementFile> own;
  ReplacementFile* replacement = nullptr;
  if (group != nullptr) {
    replacement = group->Begin(dir, key);
    if (replacement == nullptr) return FailedWriteResult();
  } else {
    own = std::make_unique<ReplacementFile>(dir, key);
    replacement = own.get();
  }
  // A replacement that is not finished is dropped, whichever way this returns.
  struct DropUnfinished {
    ReplacementGroup* group;
    bool finished = false;
    ~DropUnfinished() {
      if (group != nullptr && !finished) group->Drop();
    }
  } drop_unfinished{group};
  ReplacementFile& out = *replacement;
  if (!out.Create()) return FailedWriteResult();

  // The new header, for sealing and relabelling.
  uint8_t header[kSealedHeaderSize];
  SealedLabel new_label = mode == Mode::kSeal ? seal_label : old_label;
  if (mode == Mode::kRelabel) new_label.secret_level = new_level;
  if (mode != Mode::kUnseal) {
    uint8_t iv[kGcmIvSize];
    if (!RandomBytes(iv, sizeof iv)) return SealResult::kIoError;
    EncodeHeader(new_label, iv, header);
    uint8_t tag[kTagSize];
    if (!MakeHeaderTag(key, header, tag) || !out.file().WriteAll(header, sizeof header) ||
        !out.file().WriteAll(tag, sizeof tag)) {
      return FailedWriteResult();
    }
  }

  // Small files get a buffer of their own size: most files of a share are far below a chunk.
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(kChunkSize, before.size + 1)));
  WritebackAhead ahead(out.file());
  if (mode != Mode::kUnseal) ahead.Wrote(sizeof header + kTagSize);
  if (mode == Mode::kSeal) {
    Aes256Gcm sealer(Aes256Gcm::Direction::kSeal, key, header + kOffIv);
    if (!sealer.ok() || !sealer.AddAad(header, sizeof header)) return SealResult::kIoError;
    uint64_t total = 0;
    for (;;) {
      long long n = in.ReadFull(buffer.data(), buffer.size());
      if (n < 0) return SealResult::kIoError;
      if (n == 0) break;
      size_t size = static_cast<size_t>(n);
      total += size;
      if (!sealer.Update(buffer.data(), size, buffer.data()) ||
          !out.file().WriteAll(buffer.data(), size)) {
        return FailedWriteResult();
      }
      ahead.Wrote(size);
      if (size < buffer.size()) break;
    }
    if (total != before.size) return SealResult::kChanged;
    uint8_t tag[kTagSize];
    if (!sealer.Finish(tag) || !out.file().WriteAll(tag, sizeof tag)) return FailedWriteResult();
  } else {
    Aes256Gcm opener(Aes256Gcm::Direction::kOpen, key, head + kOffIv);
    if (!opener.ok() || !opener.AddAad(head, kSealedHeaderSize)) return SealResult::kIoError;
    Aes256Gcm sealer(Aes256Gcm::Direction::kSeal, key, header + kOffIv);
    if (mode == Mode::kRelabel && (!sealer.ok() || !sealer.AddAad(header, sizeof header))) {
      return SealResult::kIoError;
    }
    uint64_t remaining = before.size - kSealedOverhead;
    while (remaining > 0) {
      size_t want = remaining < buffer.size() ? static_cast<size_t>(remaining) : buffer.size();
      long long n = in.ReadFull(buffer.data(), want);
      if (n < 0) return SealResult::kIoError;
      if (static_cast<size_t>(n) != want) return SealResult::kChanged;
      remaining -= want;
      if (!opener.Update(buffer.data(), want, buffer.data())) return SealResult::kIoError;
      if (mode == Mode::kRelabel && !sealer.Update(buffer.data(), want, buffer.data())) {
        return SealResult::kIoError;
      }
      if (!out.file().WriteAll(buffer.data(), want)) return FailedWriteResult();
      ahead.Wrote(want);
    }
    uint8_t tag[kTagSize + 1];
    long long n = in.ReadFull(tag, sizeof tag);
    if (n != static_cast<long long>(kTagSize)) return SealResult::kChanged;
    if (!opener.Finish(tag)) return SealResult::kAuthFailed;
    if (mode == Mode::kRelabel) {
      uint8_t new_tag[kTagSize];
      if (!sealer.Finish(new_tag) || !out.file().WriteAll(new_tag, sizeof new_tag)) {
        return FailedWriteResult();
      }
    }
  }
  in.Close();
  if (group != nullptr) {
    drop_unfinished.finished = true;
    group->Finish(name, before, std::move(done));
    return SealResult::kOk;
  }
  SealResult committed = out.Commit(name, before);
  if (committed == SealResult::kOk && result_label) *result_label = new_label;
  return committed;
}

}  // namespace

const char* SealResultText(SealResult result) {
  switch (result) {
    case SealResult::kOk: return "done";
    case SealResult::kAlreadyDone: return "nothing to do";
    case SealResult::kNotSealed: return "file is not encrypted";
    case SealResult::kAuthFailed:
      return "encrypted file does not authenticate (tampered, or encrypted elsewhere)";
    case SealResult::kRefused: return "not a regular file with a single name";
    case SealResult::kChanged: return "file changed while it was being processed";
    case SealResult::kNoSpace: return "no space left on the device";
    case SealResult::kIoError: return "input/output error";
  }
  return "unknown";
}

bool ProbeSealedFile(const DirHandle& dir, const std::string& name, const uint8_t* key,
                     SealState* state, SealedLabel* label) {
  FileHandle in = dir.OpenForReading(name);
  if (!in.IsOpen()) return false;
  uint8_t head[kHeadSize];
  long long got = in.ReadFull(head, sizeof head);
  if (got < 0) return false;
  *state = ClassifyHead(head, static_cast<size_t>(got), key, label);
  return true;
}

SealResult SealFile(const DirHandle& dir, const std::string& name, const uint8_t* key,
                    const SealedLabel& label, SealedLabel* result_label) {
  return Transform(dir, name, key, Mode::kSeal, label, -1, result_label);
}

SealResult UnsealFile(const DirHandle& dir, const std::string& name, const uint8_t* key) {
  return Transform(dir, name, key, Mode::kUnseal, SealedLabel(), -1, nullptr);
}

SealResult RelabelFile(const DirHandle& dir, const std::string& name, const uint8_t* key,
                       int32_t level, SealedLabel* result_label) {
  return Transform(dir, name, key, Mode::kRelabel, SealedLabel(), level, result_label);
}

SealResult SealFileInto(ReplacementGroup* group, const DirHandle& dir, const std::string& name,
                        const uint8_t* key, const SealedLabel& label, ReplacementDone done) {
  return Transform(dir, name, key, Mode::kSeal, label, -1, nullptr, group, std::move(done));
}

SealResult UnsealFileInto(ReplacementGroup* group, const DirHandle& dir, const std::string& name,
                          const uint8_t* key, ReplacementDone done) {
  return Transform(dir, name, key, Mode::kUnseal, SealedLabel(), -1, nullptr, group,
                   std::move(done));
}

SealResult RelabelFileInto(ReplacementGroup* group, const DirHandle& dir, const std::string& name,
                           const uint8_t* key, int32_t level, ReplacementDone done) {
  return Transform(dir, name, key, Mode::kRelabel, SealedLabel(), level, nullptr, group,
                   std::move(done));
}

}  // namespace docsec::agent
