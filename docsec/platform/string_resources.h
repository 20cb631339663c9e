// String resources: the few user-visible texts the library ships in more than one language, and
// the choice of that language. The texts live in a table compiled into the library.
//
// The language is the caller's pick when one was made (SetResourceLanguage), else the language of
// the process's message locale (on Windows, the user's display language). Thread safety: every
// function may be called from any thread; a change of language is seen by the calls that start
// after it.
#ifndef DOCSEC_PLATFORM_STRING_RESOURCES_H_
#define DOCSEC_PLATFORM_STRING_RESOURCES_H_

#include "docsec/platform/export.h"

namespace docsec {

enum class ResourceLanguage {
  kProcessLocale = 0,  // follow the process's locale
  kEnglish = 1,
  kChinese = 2,
};

// Resource ids.
constexpr unsigned kIdsNullSecretLevel = 1;  // the name of "no secret level"

// Picks the language of every later look-up; kProcessLocale (the initial setting) returns to
// following the process's locale.
DOCSEC_EXPORT void SetResourceLanguage(ResourceLanguage language);

// The language look-ups use now, never kProcessLocale: the caller's pick, else Chinese when the
// process's message locale is a Chinese one ("zh..."), else English. The message locale is the one
// the program set with setlocale; while it is the default "C" (or "POSIX"), the first non-empty of
// the environment's LC_ALL, LC_MESSAGES and LANG stands for it.
DOCSEC_EXPORT ResourceLanguage GetResourceLanguage();

// The text of resource `id` in `language` (kProcessLocale: in GetResourceLanguage()); "" for an id
// the table does not hold. The text is UTF-8 and lives as long as the process.
DOCSEC_EXPORT const char* LoadResourceString(
    unsigned id, ResourceLanguage language = ResourceLanguage::kProcessLocale);

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_STRING_RESOURCES_H_
