#include "docsec/core/library.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "docsec/platform/socket.h"

namespace docsec {
namespace internal {
namespace {

struct ClassEntry {
  void (*create)();
  void (*destroy)();
  bool created;
};

struct CacheEntry {
  int order;
  void (*release)();
};

struct State {
  std::recursive_mutex mutex;
  std::vector<ClassEntry> classes;
  std::vector<CacheEntry> caches;
  void (*icmp_bind)() = nullptr;
  void (*icmp_release)() = nullptr;
  bool icmp_bound = false;
  // Exit actions registered by start-up, run in reverse at shut-down.
  std::vector<std::pair<const char*, std::function<void()>>> exit_actions;
  std::function<void(const std::string&)> observer;
  bool started = false;
};

// Leaked on purpose: registrations come from static initialisers of any module and shut-down
// runs from a static destructor, so the state must outlive every other static.
State& GetState() {
  static State* state = new State;
  return *state;
}

void Notify(State& s, const std::string& step) {
  if (s.observer) s.observer(step);
}

// The platform facilities this library stands on. pugixml needs no global start (nor do POSIX
// sockets); the steps are kept so the order stays visible and testable.
bool StartXml() { return true; }
void StopXml() {}
bool StartSockets() { return StartSocketLayer(); }
void StopSockets() { StopSocketLayer(); }

void ApplicationStop(State& s) {
  std::vector<CacheEntry> caches = s.caches;
  std::stable_sort(caches.begin(), caches.end(),
                   [](const CacheEntry& a, const CacheEntry& b) { return a.order < b.order; });
  for (const CacheEntry& c : caches) {
    c.release();
    Notify(s, "cache:" + std::to_string(c.order));
  }
  StopSockets();
  Notify(s, "sockets-stop");
  StopXml();
  Notify(s, "xml-stop");
}

void RunExitActions(State& s) {
  while (!s.exit_actions.empty()) {
    auto action = std::move(s.exit_actions.back());
    s.exit_actions.pop_back();
    action.second();
    Notify(s, action.first);
  }
}

}  // namespace

void RegisterClassInstance(void (*create)(), void (*destroy)()) {
  State& s = GetState();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.classes.push_back({create, destroy, false});
  if (s.started) {
    create();
    s.classes.back().created = true;
  }
}

void RegisterCacheRelease(int order, void (*release)()) {
  State& s = GetState();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.caches.push_back({order, release});
}

void RegisterIcmpService(void (*bind)(), void (*release)()) {
  State& s = GetState();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.icmp_bind = bind;
  s.icmp_release = release;
  if (s.started && !s.icmp_bound) {
    bind();
    s.icmp_bound = true;
  }
}

bool LibraryStartup() {
  State& s = GetState();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  if (s.started) return true;
  s.started = true;
  // 1. Shared instances; one exit action destroys all those built, once.
  for (ClassEntry& c : s.classes) {
    if (!c.created) {
      c.create();
      c.created = true;
    }
  }
  s.exit_actions.emplace_back("instances-destroyed", [&s] {
    for (auto it = s.classes.rbegin(); it != s.classes.rend(); ++it) {
      if (it->created) {
        it->destroy();
        it->created = false;
      }
    }
  });
  Notify(s, "instances-created");
  // 2. The ICMP service.
  if (s.icmp_bind != nullptr && !s.icmp_bound) {
    s.icmp_bind();
    s.icmp_bound = true;
  }
  s.exit_actions.emplace_back("icmp-release", [&s] {
    if (s.icmp_bound && s.icmp_release != nullptr) s.icmp_release();
    s.icmp_bound = false;
  });
  // 3. Application start.
  bool ok = StartXml() && StartSockets();
  Notify(s, ok ? "application-started" : "application-start-failed");
  if (!ok) LibraryShutdown();
  return ok;
}

void LibraryShutdown() {
  State& s = GetState();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  if (!s.started) return;
  ApplicationStop(s);
  RunExitActions(s);
  s.started = false;
}

bool LibraryIsStarted() {
  State& s = GetState();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  return s.started;
}

void SetLifecycleObserver(std::function<void(const std::string& step)> observer) {
  State& s = GetState();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.observer = std::move(observer);
}

namespace {
// Load and unload of the shared library.
struct LibraryLifetime {
  LibraryLifetime() { LibraryStartup(); }
  ~LibraryLifetime() { LibraryShutdown(); }
} g_lifetime;
}  // namespace

}  // namespace internal
}  // namespace docsec
