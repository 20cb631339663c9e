// Server answers: the input is the text the transport hands back; it goes through the answer check
// and into the loading of the objects a look-up asks for. Nothing may crash, overrun or leak.
#include <cstddef>
#include <cstdint>
#include <string>

#include "docsec/channel/request_channel.h"
#include "docsec/core/data_object.h"
#include "docsec/core/data_object_list.h"
#include "docsec/platform/com_error.h"
#include "svctransport/svctransport.h"

namespace {

thread_local std::string g_answer;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace docsec;
  static const bool installed = [] {
    SvcTransportSetHandler([](int, const std::string&) { return g_answer; });
    return true;
  }();
  (void)installed;
  g_answer.assign(reinterpret_cast<const char*>(data), size);
  try {
    XmlDocument answer = SendRequestDocument(BuildRequestDocument("QueryCDataObject"), 1);
    CheckAnswerDocument(answer);
    CDataObject prototype;
    DataObjectList* found = prototype.Lookup(nullptr);
    if (found != nullptr) {
      DestructElements(found);
      ShallowDelete(found);
    }
  } catch (const ComError&) {
    // The look-up lets XML failures through as errors; that is not a fault.
  }
  return 0;
}
