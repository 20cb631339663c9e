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

namespace {

// The kinds whose XML text differs from the value itself: the text, written into `buffer` where
// it has to be made; nullptr for every other kind, which is written as it stands.
const char* SpecialXmlText(const Variant& value, char (&buffer)[32]) {
  switch (value.Type()) {
    case kVtEmpty:
    case kVtNull: return "";
    case kVtBool: return value.BoolPayload() ? "true" : "false";
    case kVtDate: FormatDateTime(value.Double(), buffer, sizeof buffer); return buffer;
    default: return nullptr;
  }
}

}  // namespace

Variant AttrValueToXmlText(const Variant& value) {
  char buffer[32];
  const char* text = SpecialXmlText(value, buffer);
  return text != nullptr ? Variant(text) : value;
}

void WriteAttrValue(const XmlElement& element, const char* name, const Variant& value,
                    bool append) {
  auto put = [&](const char* text) {
    append ? element.AppendAttribute(name, text) : element.SetAttribute(name, text);
  };
  auto put_number = [&](long long number) {
    append ? element.AppendAttribute(name, number) : element.SetAttribute(name, number);
  };
  char buffer[32];
  if (const char* text = SpecialXmlText(value, buffer)) return put(text);
  switch (value.Type()) {
    case kVtBstr: return put(value.Text());
    case kVtI8: return put_number(value.Int64());
    case kVtUi4:
    case kVtUint: return put_number(static_cast<long long>(value.UInt32()));
    default:
      if (IsIntegerKind(value.Type())) return put_number(value.Int32());
      // Reals and the unsigned 64-bit kind go through their text form.
      return put(value.ToText().c_str());
  }
}

}  // namespace docsec
