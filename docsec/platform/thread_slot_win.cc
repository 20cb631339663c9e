// Windows twin of thread_slot.cc, over fiber-local storage, whose clean-up runs at thread exit
// and when the slot is freed. The clean-up gets the value only, so the value is a small record
// that carries its own destroy function.
#include "docsec/platform/thread_slot.h"

#include <windows.h>

namespace docsec {
namespace {

struct Entry {
  void (*destroy)(void*);
  void* value;
};

void NTAPI DestroyEntry(void* data) {
  auto* entry = static_cast<Entry*>(data);
  if (entry == nullptr) return;
  entry->destroy(entry->value);
  delete entry;
}

}  // namespace

ThreadSlot::ThreadSlot(void (*destroy)(void*)) : destroy_(destroy) {
  DWORD index = FlsAlloc(&DestroyEntry);
  ok_ = index != FLS_OUT_OF_INDEXES;
  if (ok_) key_ = index;
}

ThreadSlot::~ThreadSlot() {
  if (ok_) FlsFree(static_cast<DWORD>(key_));
}

bool ThreadSlot::Set(void* value) {
  if (!ok_) return false;
  auto* entry = new Entry{destroy_, value};
  if (!FlsSetValue(static_cast<DWORD>(key_), entry)) {
    delete entry;
    return false;
  }
  return true;
}

}  // namespace docsec
