#include "docsec/core/date_time.h"

#include <cstdio>

namespace docsec {

int ParseDateTime(const char* text, const char* pattern, OleDateTime* out) {
  double date;
  if (!OleDateTime::ParseDateTime(text, pattern, &date)) return 0;
  if (out != nullptr) *out = OleDateTime(date);
  return 1;
}

void FormatDateTime(double date, char* buffer, int size) {
  OleDateTime::FormatDateTime(date, buffer, size);
}

Variant AttrValueToXmlText(const Variant& value) {
  switch (value.Type()) {
    case kVtEmpty:
    case kVtNull: return Variant("");
    case kVtDate: {
      char buffer[32];
      FormatDateTime(value.Double(), buffer, sizeof buffer);
      return Variant(buffer);
    }
    case kVtBool: return Variant(value.BoolPayload() ? "true" : "false");
    default: return value;
  }
}

void WriteAttrValue(const XmlElement& element, const char* name, const Variant& value, bool append) {
  const uint16_t vt = value.Type();
  if (vt == kVtBstr) {
    append ? element.AppendAttribute(name, value.Text()) : element.SetAttribute(name, value.Text());
    return;
  }
  if (IsIntegerKind(vt) || vt == kVtI8 || vt == kVtUi8) {
    if (vt != kVtUi8) {
      long long number = (vt == kVtI8) ? value.Int64()
                         : (vt == kVtUi4 || vt == kVtUint)
                             ? static_cast<long long>(value.UInt32())
                             : static_cast<long long>(value.Int32());
      append ? element.AppendAttribute(name, number) : element.SetAttribute(name, number);
      return;
    }
  }
  // Dates, booleans, empties, reals and the rest go through their text form.
  Variant text = AttrValueToXmlText(value);
  std::string s = text.ToText();
  append ? element.AppendAttribute(name, s.c_str()) : element.SetAttribute(name, s.c_str());
}

}  // namespace docsec
