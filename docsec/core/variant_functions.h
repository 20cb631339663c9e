// The exported variant functions: how callers read attribute values in the form they want. Each
// takes a value pointer that may be null (typically GetAttrValue's result). The in-place
// conversions change the stored attribute's kind: after GetVariantInt on a text attribute holding
// "12", the attribute holds the integer 12.
#ifndef DOCSEC_CORE_VARIANT_FUNCTIONS_H_
#define DOCSEC_CORE_VARIANT_FUNCTIONS_H_

#include <cstdint>

#include "docsec/platform/export.h"
#include "docsec/platform/variant.h"

namespace docsec {

// -1 for null; otherwise converts in place to integer (22) and returns it. Raises ComError when
// the value does not convert.
DOCSEC_EXPORT int GetVariantInt(Variant* value);
// `defaultValue` for null; otherwise converts in place to unsigned integer (23) and returns it.
// Raises ComError when the value does not convert.
DOCSEC_EXPORT unsigned long GetVariantDWORD(Variant* value, unsigned long defaultValue);
// The value's text (up to 767 bytes) read as a decimal number: leading blanks, optional sign,
// digits up to the first non-digit. 0 for null, for no digits, or for a longer text.
DOCSEC_EXPORT unsigned long long GetVariantULL(Variant* value);
// false for null; otherwise whether the boolean payload is non-zero.
DOCSEC_EXPORT bool GetVariantBool(Variant* value);
// -1.0 for null; otherwise the OLE date payload.
DOCSEC_EXPORT double GetVariantDate(Variant* value);
// The text payload, not copied (valid as long as the value): a static empty text for null.
DOCSEC_EXPORT const char* GetVariantBSTR(Variant* value);
// Copies the value's text into `buffer` of `size` bytes, terminator included, and returns the
// number of bytes written without it. 0 for null, for an empty text, or when the text does not
// fit; `buffer` is then left as an empty string. Never writes past `size`; a null buffer or a size
// below 1 writes nothing. A value of another kind is given in its text form.
DOCSEC_EXPORT int GetVariantTSTR(Variant* value, char* buffer, int size);

}  // namespace docsec

#endif  // DOCSEC_CORE_VARIANT_FUNCTIONS_H_
