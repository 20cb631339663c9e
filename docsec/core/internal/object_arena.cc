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

// The last text copied for each place (class and attribute), in a small direct-mapped table: a
// place met anew takes over its entry. Fixed in size, so that it never grows with the answer.
struct ObjectArena::RecentTexts {
  static constexpr size_t kEntries = 256;
  // Differing texts in a row after which a place is no longer compared (names, identifiers).
  static constexpr int kGiveUp = 16;
  struct Place {
    const void* key = nullptr;
    int slot = -1;
    int misses = 0;
    const char* last = nullptr;
    size_t size = 0;
  };
  Place places[kEntries];
};

ObjectArena* ObjectArena::Current() { return t_current; }

const char* ObjectArena::CopyText(const char* text, size_t size, const void* key, int slot) {
  if (recent_ == nullptr) {
    recent_ = new (std::nothrow) RecentTexts;
    if (recent_ == nullptr) throw ComError(kErrOutOfMemory);
  }
  const size_t at = ((reinterpret_cast<uintptr_t>(key) >> 4) + static_cast<size_t>(slot) * 97) %
                    RecentTexts::kEntries;
  RecentTexts::Place& place = recent_->places[at];
  if (place.key != key || place.slot != slot) place = RecentTexts::Place{key, slot};
  if (place.misses >= RecentTexts::kGiveUp) return Copy(text, size);
  if (place.last != nullptr && place.size == size && SameBytes(place.last, text, size)) {
    place.misses = 0;
    return place.last;
  }
  ++place.misses;
  place.last = Copy(text, size);
  place.size = size;
  return place.last;
}

const char* ObjectArena::Copy(const char* text, size_t size) {
  // Texts need no alignment: they are taken from the top of the block, down, while everything else
  // is taken from the bottom, up, so that neither pads the other.
  if (static_cast<size_t>(end_ - next_) < size + 1) AddBlock(size + 1);
  end_ -= size + 1;
  char* copy = end_;
  DOCSEC_UNPOISON(copy, size + 1);
  std::memcpy(copy, text, size);
  copy[size] = '\0';
  return copy;
}

void ObjectArena::EndLoading() noexcept {
  delete recent_;
  recent_ = nullptr;
}

void ObjectArena::AddBlock(size_t size) {
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

void* ObjectArena::Allocate(size_t size) {
  size = (size + kAlign - 1) & ~(kAlign - 1);
  if (static_cast<size_t>(end_ - next_) < size) AddBlock(size);
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
