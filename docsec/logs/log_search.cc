#include "docsec/logs/log_search.h"

#include <cstdio>

#include "docsec/channel/request_channel.h"
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

Variant TextCondition(const char* text) { return Variant(text != nullptr ? text : ""); }

DataObjectList* QueryLogDatabase(CDataObject* receiver, int databaseIndex, ValueMap* conditions,
                                 ConditionWriter writeConditions, XmlDocument* answer) {
  XmlDocument received = ExchangeRequest(
      "Query" + receiver->GetObjectName(), receiver->GetDataSource(), [&](XmlElement& root) {
        root.AppendElement("databaseIndex")
            .AppendAttribute("value", static_cast<long long>(databaseIndex));
        (receiver->*writeConditions)(root, conditions);
        return true;
      });
  if (!received) return nullptr;
  DataObjectList* found = nullptr;
  LoadChildObjects(received.DocumentElement(), &found, receiver, nullptr);
  if (answer != nullptr) *answer = received;
  return found;
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
