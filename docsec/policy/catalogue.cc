#include "docsec/policy/catalogue.h"

#include <cassert>
#include <memory>
#include <unordered_set>

#include "docsec/core/library.h"

// AddressSanitizer reports a use of freed memory by itself, and better than a mark could.
#if defined(__SANITIZE_ADDRESS__)
#define DOCSEC_CATALOGUE_FREES_MEMBERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DOCSEC_CATALOGUE_FREES_MEMBERS 1
#endif
#endif
#if !defined(DOCSEC_CATALOGUE_FREES_MEMBERS) && defined(NDEBUG)
#define DOCSEC_CATALOGUE_FREES_MEMBERS 1
#endif

namespace docsec {
namespace internal {
#if !DOCSEC_CATALOGUE_FREES_MEMBERS
namespace {

// Members of released catalogues, kept alive (never freed, so their addresses are never reused by
// live objects) and marked. Left to the end of the process on purpose: shut-down itself releases
// the catalogues, and a stale pointer may be used after it.
struct Released {
  std::mutex mutex;
  std::unordered_set<const CDataObject*> members;
};
Released& GetReleased() {
  static Released* released = new Released;
  return *released;
}

}  // namespace
#endif  // !DOCSEC_CATALOGUE_FREES_MEMBERS

Catalogue::Catalogue(CDataObject* (*prototype)(), int release_order, void (*release)())
    : prototype_(prototype) {
  RegisterCacheRelease(release_order, release);
}

DataObjectList* Catalogue::Get() {
  DataObjectList* list = list_.load(std::memory_order_acquire);
  if (list != nullptr) return list;
  std::lock_guard<std::mutex> lock(mutex_);
  list = list_.load(std::memory_order_relaxed);
  if (list == nullptr) {
    ValueMap none;
    list = prototype_()->Lookup(&none);
    list_.store(list, std::memory_order_release);
  }
  return list;
}

CDataObject* Catalogue::Find(const std::function<bool(CDataObject*)>& match) {
  if (Get() == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  DataObjectList* list = list_.load(std::memory_order_relaxed);
  if (list == nullptr) return nullptr;  // released meanwhile
  for (CDataObject* member : *list) {
    if (member != nullptr && match(member)) return member;
  }
  return nullptr;
}

bool Catalogue::Adopt(CDataObject* member) {
  std::lock_guard<std::mutex> lock(mutex_);
  DataObjectList* list = list_.load(std::memory_order_relaxed);
  if (list == nullptr || member == nullptr) return false;
  // A second entry of one object would be deleted twice at release.
  for (CDataObject* present : *list) {
    if (present == member) return false;
  }
  list->Add(member);
  return true;
}

bool Catalogue::Detach(CDataObject* member) {
  std::lock_guard<std::mutex> lock(mutex_);
  DataObjectList* list = list_.load(std::memory_order_relaxed);
  return list != nullptr && list->Remove(member);
}

void Catalogue::Release() {
  std::unique_ptr<DataObjectList> list;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    list.reset(list_.exchange(nullptr, std::memory_order_acq_rel));
  }
  if (!list) return;
#if DOCSEC_CATALOGUE_FREES_MEMBERS
  DestructElements(list.get());
#else
  Released& released = GetReleased();
  std::lock_guard<std::mutex> lock(released.mutex);
  for (CDataObject* member : *list) released.members.insert(member);
#endif
}

}  // namespace internal

void CheckNotReleased(const CDataObject* member) {
#if !DOCSEC_CATALOGUE_FREES_MEMBERS
  internal::Released& released = internal::GetReleased();
  std::lock_guard<std::mutex> lock(released.mutex);
  const bool stale = released.members.count(member) != 0;
  assert(!stale && "a catalogue member was used after its catalogue was released");
  (void)stale;
#else
  (void)member;
#endif
}

}  // namespace docsec
