// ObjectArena: the memory of the data objects loaded from one answer. A tree refresh builds tens
// of thousands of small objects, each with a slot array and a few texts; allocating them one by
// one dominates both the load and the deletion of the tree. While a LoadArenaScope is open on a
// thread, the data objects constructed there, their slot arrays and the long texts loaded into
// them are carved out of large blocks instead.
//
// Ownership does not change for callers: every object is still deleted by whoever owns it, alone
// or with its tree, and an object moved out of a tree may outlive it. The arena counts its live
// objects (plus the loader while the scope is open) and frees its blocks when the count reaches
// zero, so its memory lives exactly as long as the last object carved from it.
//
// Thread safety: only the thread whose scope is open allocates; objects may be deleted from any
// thread (the count is atomic).
#ifndef DOCSEC_CORE_INTERNAL_OBJECT_ARENA_H_
#define DOCSEC_CORE_INTERNAL_OBJECT_ARENA_H_

#include <atomic>
#include <cstddef>

namespace docsec {
namespace core_internal {

class ObjectArena {
 public:
  ObjectArena(const ObjectArena&) = delete;
  ObjectArena& operator=(const ObjectArena&) = delete;

  // The arena that data objects constructed on this thread are placed in, or null.
  static ObjectArena* Current();

  // `size` bytes aligned to 8; raises ComError(kErrOutOfMemory) when memory runs out.
  void* Allocate(size_t size);
  // A NUL-terminated copy of the `size` bytes at `text` (which end in a NUL), in the arena, with
  // no particular alignment. `key` and `slot` name where the text goes (a class's attribute): a
  // text equal to the last one copied for the same place shares that copy, as answers repeat some
  // texts in every member of a group.
  // A place whose texts keep differing is soon not compared any more. Copies are never written
  // to, so sharing them is invisible.
  const char* CopyText(const char* text, size_t size, const void* key, int slot);
  // Marks `size` bytes at `p` (an object that died) unusable; a check for sanitizer builds,
  // where use of a deleted arena object must fail as loudly as use of a freed block.
  static void Retire(void* p, size_t size);
  void AddRef() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  // Drops one reference; the last one frees the arena and all its memory.
  void Release() noexcept;

 private:
  friend class LoadArenaScope;
  struct Block;
  struct RecentTexts;
  ObjectArena() = default;
  ~ObjectArena();
  const char* Copy(const char* text, size_t size);
  // Starts a new block of at least `size` usable bytes; what was left of the last one is unused.
  void AddBlock(size_t size);
  // Forgets the recent texts once loading ends; their table is of no use to the objects.
  void EndLoading() noexcept;

  std::atomic<long> refs_{1};
  Block* blocks_ = nullptr;
  char* next_ = nullptr;  // aligned allocations go up from here
  char* end_ = nullptr;   // texts go down from here
  size_t next_block_size_ = 0;
  RecentTexts* recent_ = nullptr;  // while loading: the last text copied for each place
};

// Opens a new arena on this thread for its lifetime, unless one is open already (a load inside a
// load shares the outer arena).
class LoadArenaScope {
 public:
  LoadArenaScope();
  ~LoadArenaScope();
  LoadArenaScope(const LoadArenaScope&) = delete;
  LoadArenaScope& operator=(const LoadArenaScope&) = delete;

 private:
  ObjectArena* opened_ = nullptr;
};

}  // namespace core_internal
}  // namespace docsec

#endif  // DOCSEC_CORE_INTERNAL_OBJECT_ARENA_H_
