#include "docsec/system/system_operation.h"

#include <functional>
#include <string>

#include "docsec/channel/outcome.h"
#include "docsec/channel/request_channel.h"
#include "docsec/platform/xml.h"

namespace docsec {
namespace {

// One command: the request for `operation` with `fill`'s content after "service", sent through
// `dataSource`; 1 exactly when the server accepts it. The answer's content is not read.
int SendCommand(const char* operation, int dataSource,
                const std::function<void(const XmlElement&)>& fill = nullptr) {
  return ExchangeRequest(operation, dataSource,
                         [&fill](XmlElement& root) {
                           if (fill) fill(root);
                           return true;
                         })
             ? 1
             : 0;
}

}  // namespace

int CSystemOperation::SOManualRefreshAD() {
  return SendCommand("ManualSynchronizeLDAP", data_source_);
}

int CSystemOperation::SOAgentFilesAutoUpdate() { return SendCommand("AutoUpdate", data_source_); }

int CSystemOperation::SOSetAgentUninstallPassword(const char* password) {
  if (password == nullptr) return SetLibraryFailure("SetUninstallPwd", "no password given");
  return SendCommand("SetUninstallPwd", data_source_, [password](const XmlElement& root) {
    root.AppendElement("parameter").AppendAttribute("pwd", password);
  });
}

}  // namespace docsec
