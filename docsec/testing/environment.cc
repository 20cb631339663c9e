#include "docsec/testing/environment.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace docsec {
namespace testing {

void SetEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
  // An empty value removes the variable.
  _putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  SetEnvironment(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
  SetEnvironment(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

bool SetTimeZone(TestZone zone) {
#if defined(_WIN32)
  SetEnvironment("TZ", zone == TestZone::kUtc ? "UTC0" : "EST5EDT");
  _tzset();
  return zone == TestZone::kUtc;
#else
  SetEnvironment("TZ", zone == TestZone::kUtc ? "UTC" : "America/New_York");
  tzset();
  return true;
#endif
}

bool RunningUnderWine() {
#if defined(_WIN32)
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

std::string MakeTemporaryDirectory(const char* prefix) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return std::string();
  std::random_device random;
  for (int attempt = 0; attempt < 32; ++attempt) {
    const std::filesystem::path path = base / (prefix + std::to_string(random()));
    // create_directory is false (without an error) when the name is taken.
    if (std::filesystem::create_directory(path, error)) return path.string();
    if (error) return std::string();
  }
  return std::string();
}

}  // namespace testing
}  // namespace docsec
