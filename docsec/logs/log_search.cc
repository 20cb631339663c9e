#include "docsec/logs/log_search.h"

#include <cstdio>
#include <utility>

#include "docsec/platform/com_error.h"

namespace docsec {
namespace internal {

std::string DottedAddress(unsigned long address) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>((address >> 24) & 0xFF),
                static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                static_cast<int>(address & 0xFF));
  return text;
}

Variant AddressCondition(unsigned long address) {
  const std::string text = DottedAddress(address);
  return Variant(text == "0.0.0.0" ? std::string() : text);
}

Variant DateCondition(const OleDateTime& time) {
  return time.IsValid() ? Variant::Date(time.Value()) : Variant("");
}

Variant TextCondition(const std::string* text) {
  return Variant(text != nullptr ? *text : std::string());
}

std::function<bool(XmlElement&)> LogSearchRequest(
    int databaseIndex, std::function<XmlElement(const XmlElement&)> appendConditions) {
  return [databaseIndex, append = std::move(appendConditions)](XmlElement& root) {
    root.AppendElement("databaseIndex")
        .AppendAttribute("value", static_cast<long long>(databaseIndex));
    append(root);
    return true;
  };
}

bool ReadAnswerCount(const XmlDocument& answer, int* count) {
  XmlElement total = answer ? answer.SelectSingleNode("//count") : XmlElement();
  const char* text = total ? total.GetAttribute("value") : nullptr;
  if (text == nullptr) return false;
  try {
    *count = Variant::FromText(text, kVtI4).Int32();
    return true;
  } catch (const ComError&) {
    return false;
  }
}

}  // namespace internal
}  // namespace docsec
