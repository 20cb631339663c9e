#include "docsec/core/internal/object_arena.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "docsec/platform/com_error.h"
#include "docsec/platform/export.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define DOCSEC_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define DOCSEC_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define DOCSEC_POISON(p, n) ((void)(p), (void)(n))
#define DOCSEC_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace docsec {
namespace core_internal {
namespace {

DOCSEC_HOT_THREAD_LOCAL ObjectArena* t_current = nullptr;

// Blocks start small, so that a load of a few objects costs little, and grow to a size at which
// the per-block cost no longer shows.
constexpr size_t kFirstBlock = 16 << 10;
constexpr size_t kLargestBlock = 1 << 20;
constexpr size_t kAlign = 8;

// Byte equality of two short texts, a word at a time: a call to memcmp costs more than the
// comparison of a department path.
bool SameBytes(const char* a, const char* b, size_t size) {
  size_t i = 0;
  for (; i + sizeof(uint64_t) <= size; i += sizeof(uint64_t)) {
    uint64_t x, y;
    std::memcpy(&x, a + i, sizeof x);
    std::memcpy(&y, b + i, sizeof y);
    if (x != y) return false;
  }
  for (; i < size; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

struct ObjectArena::Block {
  Block* next;
  size_t size;  // usable bytes after the header
};

// A direct-mapped table of texts copied lately: a hit shares the copy, a miss replaces the entry.
// Small and fixed, so that it costs the load almost nothing and never grows with the answer.
struct ObjectArena::RecentTexts {
  static constexpr size_t kEntries = 512;
  const char* text[kEntries] = {};
  size_t size[kEntries] = {};
};

ObjectArena* ObjectArena::Current() { return t_current; }

const char* ObjectArena::CopyText(const char* text, size_t size) {
  if (recent_ == nullptr) {
    recent_ = new (std::nothrow) RecentTexts;
    if (recent_ == nullptr) throw ComError(kErrOutOfMemory);
  }
  // The size and the first and last eight bytes tell most texts apart (texts that repeat differ
  // from their neighbours at the end: "/Department 1/Department 12"); an equal hash is only a
  // candidate, compared in full. Hashing every byte would cost the load more than sharing saves.
  uint64_t head = 0, tail = 0;
  if (size >= sizeof head) {
    std::memcpy(&head, text, sizeof head);
    std::memcpy(&tail, text + size - sizeof tail, sizeof tail);
  } else {
    std::memcpy(&head, text, size);
  }
  uint64_t hash = (head * 0x9E3779B97F4A7C15ull) ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ size;
  hash ^= hash >> 29;
  const size_t at = (hash * 0xBF58476D1CE4E5B9ull >> 32) % RecentTexts::kEntries;
  const char* seen = recent_->text[at];
  if (seen != nullptr && recent_->size[at] == size && SameBytes(seen, text, size)) {
    return seen;
  }
  char* copy = static_cast<char*>(Allocate(size + 1));
  std::memcpy(copy, text, size);
  copy[size] = '\0';
  recent_->text[at] = copy;
  recent_->size[at] = size;
  return copy;
}

void ObjectArena::EndLoading() noexcept {
  delete recent_;
  recent_ = nullptr;
}

void* ObjectArena::Allocate(size_t size) {
  size = (size + kAlign - 1) & ~(kAlign - 1);
  if (static_cast<size_t>(end_ - next_) < size) {
    if (next_block_size_ == 0) next_block_size_ = kFirstBlock;
    const size_t usable = std::max(size, next_block_size_);
    next_block_size_ = std::min(next_block_size_ * 2, kLargestBlock);
    void* memory = std::malloc(sizeof(Block) + usable);
    if (memory == nullptr) throw ComError(kErrOutOfMemory);
    Block* block = new (memory) Block{blocks_, usable};
    blocks_ = block;
    next_ = reinterpret_cast<char*>(block + 1);
    end_ = next_ + usable;
    DOCSEC_POISON(next_, usable);
  }
  char* p = next_;
  next_ += size;
  DOCSEC_UNPOISON(p, size);
  return p;
}

void ObjectArena::Retire(void* p, size_t size) { DOCSEC_POISON(p, size); }

void ObjectArena::Release() noexcept {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

ObjectArena::~ObjectArena() {
  EndLoading();
  while (blocks_ != nullptr) {
    Block* next = blocks_->next;
    DOCSEC_UNPOISON(blocks_ + 1, blocks_->size);
    std::free(blocks_);
    blocks_ = next;
  }
}

LoadArenaScope::LoadArenaScope() {
  if (t_current != nullptr) return;
  opened_ = new ObjectArena;
  t_current = opened_;
}

LoadArenaScope::~LoadArenaScope() {
  if (opened_ == nullptr) return;
  t_current = nullptr;
  opened_->EndLoading();
  opened_->Release();  // the loader's reference; the objects hold the rest
}

}  // namespace core_internal
}  // namespace docsec
