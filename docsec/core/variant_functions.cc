#include "docsec/core/variant_functions.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "docsec/platform/text.h"

namespace docsec {

int GetVariantInt(Variant* value) {
  if (value == nullptr) return -1;
  value->ChangeType(kVtInt);
  return value->Int32();
}

unsigned long GetVariantDWORD(Variant* value, unsigned long defaultValue) {
  if (value == nullptr) return defaultValue;
  value->ChangeType(kVtUint);
  return value->UInt32();
}

unsigned long long GetVariantULL(Variant* value) {
  char buffer[768];
  if (GetVariantTSTR(value, buffer, sizeof buffer) == 0) return 0;
  return std::strtoull(buffer, nullptr, 10);
}

bool GetVariantBool(Variant* value) { return value != nullptr && value->BoolPayload() != 0; }

double GetVariantDate(Variant* value) { return value == nullptr ? -1.0 : value->Double(); }

const char* GetVariantBSTR(Variant* value) { return value == nullptr ? "" : value->Text(); }

int GetVariantTSTR(Variant* value, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  if (value == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  if (value->Type() == kVtBstr) {
    const char* text = value->Text();
    return CopyTextToBuffer(text, std::strlen(text), buffer, size);
  }
  std::string text;
  try {
    text = value->ToText();
  } catch (...) {
    buffer[0] = '\0';
    return 0;
  }
  return CopyTextToBuffer(text.data(), text.size(), buffer, size);
}

}  // namespace docsec
