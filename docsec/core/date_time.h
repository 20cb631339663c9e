// The date functions of the attribute store: reading date text, writing the output form, and the
// text an attribute value is written as in XML.
#ifndef DOCSEC_CORE_DATE_TIME_H_
#define DOCSEC_CORE_DATE_TIME_H_

#include "docsec/platform/export.h"
#include "docsec/platform/ole_date_time.h"
#include "docsec/platform/variant.h"
#include "docsec/platform/xml.h"

namespace docsec {

// 1 when `text` read by `pattern` (null or empty: "yyyy-MM-dd HH:mm:ss") is a calendar time; the
// local time is then in *out.
DOCSEC_EXPORT int ParseDateTime(const char* text, const char* pattern, OleDateTime* out);
// Writes "%04d-%02d-%02d %02d:%02d:%02d" of `date` into `buffer` (at most `size` bytes, cut and
// terminated to fit).
DOCSEC_EXPORT void FormatDateTime(double date, char* buffer, int size);
// The value as written into an XML attribute: "" for empty or null, the date text for a date,
// "true"/"false" for a boolean, otherwise the value itself.
DOCSEC_EXPORT Variant AttrValueToXmlText(const Variant& value);
// Writes `value` as attribute `name` of `element` by the rule of AttrValueToXmlText. `append`
// skips the look-up for an existing attribute (for freshly created elements).
void WriteAttrValue(const XmlElement& element, const char* name, const Variant& value, bool append);

}  // namespace docsec

#endif  // DOCSEC_CORE_DATE_TIME_H_
