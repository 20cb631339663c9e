#include "docsec/platform/thread_slot.h"

#include <pthread.h>

namespace docsec {

ThreadSlot::ThreadSlot(void (*destroy)(void*)) : destroy_(destroy) {
  pthread_key_t key;
  ok_ = pthread_key_create(&key, destroy_) == 0;
  if (ok_) key_ = static_cast<uintptr_t>(key);
}

ThreadSlot::~ThreadSlot() = default;

bool ThreadSlot::Set(void* value) {
  return ok_ && pthread_setspecific(static_cast<pthread_key_t>(key_), value) == 0;
}

}  // namespace docsec
