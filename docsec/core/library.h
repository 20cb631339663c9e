// Library start-up and shut-down, and the hooks through which the data-object classes, their
// class-wide caches and the platform services take part in them.
//
// Start-up (when the library is loaded): the shared instance of every registered class is built;
// the ICMP service is bound; then the platform facilities (XML, sockets) start. Shut-down (when it
// is unloaded): the class-wide caches are released first (applications, then secret levels), then
// sockets and XML stop, and last the exit actions run in reverse order: the ICMP service is freed
// and the shared instances are destroyed.
//
// Registration may happen before or after start-up (classes of other modules register during
// their own static initialisation); a class registered after start-up gets its instance at once.
// All functions are thread-safe.
#ifndef DOCSEC_CORE_LIBRARY_H_
#define DOCSEC_CORE_LIBRARY_H_

#include <functional>
#include <string>

#include "docsec/platform/export.h"

namespace docsec {

// The fixed release order of the class-wide caches.
enum CacheReleaseOrder {
  kApplicationCache = 1,
  kSecretLevelCache = 2,
};

// The hooks below are the library's own and its tests': declared for the library's sources and
// for programs that link a static form (DOCSEC_STATIC), neither exported nor seen by a console.
#if defined(DOCSEC_BUILDING_LIBRARY) || defined(DOCSEC_STATIC)
namespace internal {

// A class's shared instance: `create` builds it, `destroy` deletes it (each called once a cycle).
void RegisterClassInstance(void (*create)(), void (*destroy)());
// A class-wide cache, released at shut-down in ascending `order` before sockets and XML stop.
void RegisterCacheRelease(int order, void (*release)());
// The ICMP service: `bind` runs at start-up after the shared instances are built; `release` runs
// at shut-down as an exit action, before the shared instances are destroyed.
void RegisterIcmpService(void (*bind)(), void (*release)());

// Runs start-up (once; a second call while started does nothing). False when a platform facility
// could not start; everything acquired is released again then.
bool LibraryStartup();
// Runs shut-down (once; does nothing when not started).
void LibraryShutdown();
bool LibraryIsStarted();

// Test hook: receives a short name of every shut-down and start-up step as it runs
// ("cache:1", "sockets-stop", "xml-stop", "icmp-release", "instances-destroyed", ...).
void SetLifecycleObserver(std::function<void(const std::string& step)> observer);

}  // namespace internal
#endif
}  // namespace docsec

#endif  // DOCSEC_CORE_LIBRARY_H_
