#include "docsec/channel/request_channel.h"

#include <optional>
#include <utility>

#include "docsec/channel/last_error.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/secure_memory.h"
#include "docsec/platform/variant.h"
#include "svctransport/svctransport.h"

namespace docsec {
namespace {
// The code that stands for "no value" and is never stored.
constexpr uint32_t kNoCode = 9999;
}  // namespace

XmlDocument BuildRequestDocument(const std::string& operationName) {
  try {
    XmlDocument document = XmlDocument::Create();
    if (!document) return document;
    document.AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\"");
    XmlElement root = document.CreateDocumentElement("document");
    root.AppendElement("service").AppendAttribute("value", operationName.c_str());
    return document;
  } catch (const ComError&) {
    return XmlDocument();
  }
}

XmlDocument SendRequestDocument(const XmlDocument& request, int dataSource) {
  if (!request) return XmlDocument();
  std::optional<std::string> answer_text;
  {
    // Logins carry passwords and random values in clear: the rendered text is wiped once sent,
    // and freed before the answer is parsed.
    std::string text = request.Xml();
    answer_text = dataSource == 1 ? SvcTransportSend(text) : SvcTransportSendEx(text);
    SecureWipe(&text[0], text.size());
  }
  if (!answer_text) return XmlDocument();
  XmlDocument answer = XmlDocument::Create();
  // The document takes the received text over and parses it in place: answers run to megabytes.
  if (answer) answer.LoadXml(std::move(*answer_text));
  return answer;
}

std::string RequestDestination() { return SvcTransportDestination(); }

int CheckAnswerDocument(const XmlDocument& answer) {
  if (!answer) return 0;
  try {
    XmlElement root = answer.DocumentElement();
    if (!root) return 0;
    XmlElement ret = root.SelectChild("return");
    if (!ret) return 0;
    const char* code_text = ret.GetAttribute("code");
    if (code_text == nullptr) return 0;
    uint32_t code;
    try {
      code = Variant(code_text).ConvertedTo(kVtUi4).UInt32();
    } catch (const ComError&) {
      return 0;  // not a number, or out of range: no usable code
    }
    if (code != kNoCode) SetLastDrmError(code);
    return code == 0 ? 1 : 0;
  } catch (const ComError&) {
    return 0;
  }
}

}  // namespace docsec
