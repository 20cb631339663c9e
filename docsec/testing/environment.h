// Test helpers that change the process environment portably: a variable set (or removed) for one
// scope, and the time zone tests assume.
//
// The environment is process-wide: tests that use these run on one thread and put back what they
// changed.
#ifndef DOCSEC_TESTING_ENVIRONMENT_H_
#define DOCSEC_TESTING_ENVIRONMENT_H_

#include <string>

namespace docsec {
namespace testing {

// Sets `name` to `value` (removes it when `value` is null) until the object dies, then puts the
// old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

// Sets or removes one variable; no restoring.
void SetEnvironment(const char* name, const char* value);

// The zones date tests assume.
enum class TestZone {
  kUtc,
  // Daylight saving by the United States rules since 2007 (second Sunday of March 02:00).
  kNewYork,
};

// Makes `zone` the process's local time zone (the TZ variable, read again at once). False when the
// system cannot give the zone as described: the C runtime of Windows reads only the "EST5EDT"
// form and applies daylight-saving dates of its own, so kNewYork is then only approximate.
bool SetTimeZone(TestZone zone);

// True when the process runs under Wine rather than on Windows (or on POSIX), for the few tests
// that meet a known difference of Wine's; each such skip names the difference.
bool RunningUnderWine();

// Creates a new, empty directory under the system's temporary directory whose name starts with
// `prefix`, and returns its path; empty when none could be made. The caller removes it.
std::string MakeTemporaryDirectory(const char* prefix);

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_ENVIRONMENT_H_
