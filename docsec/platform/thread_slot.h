// Per-thread objects that are made on first use and destroyed when their thread ends, without
// C++ thread_local objects that have destructors: inside a DLL built with mingw-w64 those corrupt
// the heap at thread exit. The system's own per-thread slots (POSIX keys, Windows fiber-local
// storage) run the clean-up instead; the fast path reads a plain thread-local pointer.
//
// Internal to the library (exported for its tests). Thread-safe: each thread sees its own object.
#ifndef DOCSEC_PLATFORM_THREAD_SLOT_H_
#define DOCSEC_PLATFORM_THREAD_SLOT_H_

#include <cstdint>

#include "docsec/platform/export.h"

namespace docsec {

// One system slot whose value is destroyed by `destroy` when a thread that set it ends. A slot
// is a process-wide static; its value per thread starts null.
class ThreadSlot {
 public:
  explicit ThreadSlot(void (*destroy)(void*));
  // Windows frees the slot here, which destroys every thread's value (the library may be
  // unloaded while threads live on); POSIX keeps the key for the life of the process.
  ~ThreadSlot();
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  // Hands `value` to the slot for this thread; false when the system refused (the caller then
  // still owns it).
  bool Set(void* value);

 private:
  void (*destroy_)(void*);
  uintptr_t key_ = 0;
  bool ok_ = false;
};

// This thread's T, default-constructed on first use and destroyed when the thread ends. Each T
// has one object per thread; give a distinct Tag for a second one of the same type.
template <class T, class Tag = T>
T& PerThread() {
  static ThreadSlot slot([](void* p) { delete static_cast<T*>(p); });
  static thread_local T* mine = nullptr;
  if (mine == nullptr) {
    T* made = new T();
    // Without a slot the object would never be freed; it still serves this thread, and is
    // made again by no one, so at worst one object per thread is lost.
    slot.Set(made);
    mine = made;
  }
  return *mine;
}

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_THREAD_SLOT_H_
