// Uuid: a 128-bit universally unique identifier, held as its 16 bytes in text order, compared as
// a value. Thread-safe: a value type; Generate may be called from any thread.
#ifndef DOCSEC_PLATFORM_UUID_H_
#define DOCSEC_PLATFORM_UUID_H_

#include <cstdint>
#include <string>

#include "docsec/platform/export.h"

namespace docsec {

struct DOCSEC_EXPORT Uuid {
  // The bytes in the order their hexadecimal digits appear in the text form.
  uint8_t bytes[16] = {};

  // A new random (version 4, variant 1) UUID; false, leaving `out` untouched, when the random
  // source fails.
  static bool Generate(Uuid* out);

  // Reads the 36-character form xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx, hexadecimal digits in any
  // letter case. Braces, blanks, other lengths and null text are refused (false, `out`
  // untouched).
  static bool Parse(const char* text, Uuid* out);
  static bool Parse(const std::string& text, Uuid* out) { return Parse(text.c_str(), out); }

  // The 36-character form in lower case.
  std::string ToString() const;

  bool IsNil() const;
};

DOCSEC_EXPORT bool operator==(const Uuid& a, const Uuid& b);
inline bool operator!=(const Uuid& a, const Uuid& b) { return !(a == b); }
// Orders by the bytes in text order.
DOCSEC_EXPORT bool operator<(const Uuid& a, const Uuid& b);

}  // namespace docsec

#endif  // DOCSEC_PLATFORM_UUID_H_
