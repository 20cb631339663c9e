#include "docsec/channel/request_channel.h"

#include <optional>
#include <utility>

#include "docsec/channel/last_error.h"
#include "docsec/channel/outcome.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/secure_memory.h"
#include "docsec/platform/thread_slot.h"
#include "docsec/platform/variant.h"
#include "svctransport/svctransport.h"

namespace docsec {
namespace {
// The code that stands for "no value" and is never stored.
constexpr uint32_t kNoCode = 9999;

// The operation of the calling thread's last request, for the outcome its answer check records.
struct CurrentOperation {
  std::string name;
};

std::string& Operation() { return PerThread<CurrentOperation>().name; }

// A failure of the answer check that the server did not report itself.
int Unusable(const char* why) { return SetLibraryFailure(Operation(), why); }
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
  if (!request) {
    SetLibraryFailure(std::string(), "no request document to send");
    return XmlDocument();
  }
  Operation() = RequestOperationName(request);
  std::optional<std::string> answer_text;
  {
    // Logins carry passwords and random values in clear: the rendered text is wiped once sent,
    // and freed before the answer is parsed.
    std::string text = request.Xml();
    answer_text =
        dataSource == kDefaultDataSource ? SvcTransportSend(text) : SvcTransportSendEx(text);
    SecureWipe(&text[0], text.size());
  }
  if (!answer_text) {
    SvcTransportFailure failure = SvcTransportLastFailure();
    SetOutcome(OutcomeSource::kTransport, static_cast<long>(failure.kind), failure.text,
               Operation());
    return XmlDocument();
  }
  XmlDocument answer = XmlDocument::Create();
  if (!answer) {
    SetLibraryFailure(Operation(), "no memory for the server's answer");
    return answer;
  }
  SetOutcomeOk(Operation());
  // The document takes the received text over and parses it in place: answers run to megabytes.
  answer.LoadXml(std::move(*answer_text));
  return answer;
}

std::string RequestDestination() { return SvcTransportDestination(); }

std::string RequestOperationName(const XmlDocument& request) {
  try {
    XmlElement root = request ? request.DocumentElement() : XmlElement();
    XmlElement service = root ? root.SelectChild("service") : XmlElement();
    const char* name = service ? service.GetAttribute("value") : nullptr;
    return name != nullptr ? name : "";
  } catch (const ComError&) {
    return "";  // only names the outcome; the request itself goes on
  }
}

int CheckAnswerDocument(const XmlDocument& answer) {
  // A null answer: SendRequestDocument has recorded why there was none.
  if (!answer) return 0;
  try {
    XmlElement root = answer.DocumentElement();
    if (!root) return Unusable("the server's answer is not XML");
    XmlElement ret = root.SelectChild("return");
    if (!ret) return Unusable("the server's answer has no result (\"return\")");
    const char* code_text = ret.GetAttribute("code");
    if (code_text == nullptr) return Unusable("the server's answer has no result code");
    uint32_t code;
    try {
      code = Variant(code_text).ConvertedTo(kVtUi4).UInt32();
    } catch (const ComError&) {
      return Unusable("the server's result code is not a number");
    }
    if (code != kNoCode) SetLastDrmError(code);
    if (code == 0) {
      SetOutcomeOk(Operation());
      return 1;
    }
    const char* message = ret.GetAttribute("message");
    SetOutcome(OutcomeSource::kServer, static_cast<long>(code), message != nullptr ? message : "",
               Operation());
    return 0;
  } catch (const ComError&) {
    return Unusable("the server's answer cannot be read");
  }
}

XmlDocument ExchangeRequest(const std::string& operation, int dataSource, const RequestFiller& fill,
                            RefusedAnswer refused) {
  XmlDocument request = BuildRequestDocument(operation);
  if (!request) {
    SetLibraryFailure(operation, "the request document could not be made");
    return XmlDocument();
  }
  if (fill) {
    bool filled;
    try {
      XmlElement root = request.DocumentElement();
      filled = fill(root);
    } catch (const ComError& error) {
      SetLibraryFailure(operation, std::string("the request could not be made: ") + error.what());
      throw;
    }
    if (!filled) {
      SetLibraryFailure(operation, "the request could not be made");
      return XmlDocument();
    }
  }
  XmlDocument answer = SendRequestDocument(request, dataSource);
  if (!answer) return answer;
  if (CheckAnswerDocument(answer) || refused == RefusedAnswer::kKeep) return answer;
  return XmlDocument();
}

}  // namespace docsec
