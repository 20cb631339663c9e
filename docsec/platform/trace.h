// The trace sink: where the library's diagnostic texts go. The texts decide nothing; by default
// they are dropped. A host that wants them installs a sink, which may be called from any thread
// that runs a library operation, so it must be thread-safe itself.
#ifndef DOCSEC_PLATFORM_TRACE_H_
#define DOCSEC_PLATFORM_TRACE_H_

#include <functional>
#include <string>

#include "docsec/platform/export.h"

namespace docsec {

using TraceSink = std::function<void(const std::string& text)>;

// Installs `sink` (an empty function restores the default of printing nothing) and returns the
// sink that was installed before.
DOCSEC_EXPORT TraceSink SetTraceSink(TraceSink sink);

// Formats like printf and hands the text to the sink; does no formatting at all when no sink is
// set.
#if defined(__MINGW32__)
// mingw-w64 formats with its own C99 printf (%zu and the like), not the system runtime's.
#define DOCSEC_PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define DOCSEC_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#endif
DOCSEC_EXPORT void Trace(const char* format, ...) DOCSEC_PRINTF_LIKE(1, 2);

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_TRACE_H_
