// Catalogue: the class-wide list of every object of one class that the server knows (the secret
// levels, the applications), loaded with the class's generic look-up on first use and released at
// library shut-down in the order the core fixes for class-wide caches.
//
// Ownership: the catalogue owns its members from the load until Release; every pointer taken from
// it dies then. Debug builds keep released members alive and marked, so that a stale pointer trips
// AssertNotReleased instead of reading freed memory (under AddressSanitizer they are freed, and the
// sanitizer reports the use).
//
// Thread safety: threads that ask at once for an absent catalogue load it once (the others wait for
// that load); a failed load leaves it absent for the next call to try again. Find, Adopt, Detach
// and Release lock. The list Get returns may be read by several threads at once, but not while
// another thread adds to, removes from or releases the catalogue.
#ifndef DOCSEC_POLICY_CATALOGUE_H_
#define DOCSEC_POLICY_CATALOGUE_H_

#include <atomic>
#include <functional>
#include <mutex>

#include "docsec/core/data_object.h"
#include "docsec/platform/export.h"

namespace docsec {
namespace internal {

class Catalogue {
 public:
  // `prototype` gives the shared instance whose look-up without conditions loads the members;
  // `release` is the class's static release, registered to run at shut-down in `release_order`.
  Catalogue(CDataObject* (*prototype)(), int release_order, void (*release)());
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  // The list, loaded when absent; null when it cannot be loaded. Owned by the catalogue.
  DataObjectList* Get();
  // The first member `match` accepts, loading the catalogue when absent; null when none does or
  // the catalogue cannot be loaded. `match` runs under the catalogue's lock.
  CDataObject* Find(const std::function<bool(CDataObject*)>& match);
  // Takes `member` over when the catalogue is loaded and does not hold it yet; false otherwise
  // (the caller keeps it then).
  bool Adopt(CDataObject* member);
  // Gives `member` back to the caller without deleting it; false when the catalogue lacks it.
  bool Detach(CDataObject* member);
  // Deletes the members and the list; the next Get loads again.
  void Release();

 private:
  CDataObject* (*prototype_)();
  std::mutex mutex_;
  std::atomic<DataObjectList*> list_{nullptr};
};

}  // namespace internal

// Fails loudly (an assertion) when `member` belonged to a catalogue released since; does nothing
// for any other object, and nothing at all in a library built without debug checks. Exported:
// the accessors of catalogue members call it from a console's own debug build.
DOCSEC_EXPORT void CheckNotReleased(const CDataObject* member);

namespace internal {

// CheckNotReleased in debug builds of the caller; nothing otherwise.
inline void AssertNotReleased(const CDataObject* member) {
#ifndef NDEBUG
  CheckNotReleased(member);
#else
  (void)member;
#endif
}

}  // namespace internal
}  // namespace docsec

#endif  // DOCSEC_POLICY_CATALOGUE_H_
