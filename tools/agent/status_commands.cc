// "GetStatus" and "NotifyApproveStatus": the agent's state and identity, and the console's
// notice that its approval changed.
#include "tools/agent/agent_request.h"

namespace docsec::agent {

int GetStatus(AgentRequest& request, const XmlElement& /*command*/) {
  request.CountStatusRequest();
  XmlElement root = request.reply_root();
  root.AppendElement("status").SetAttribute("value", 0LL);
  root.AppendElement("uuid").SetAttribute("value", request.uuid().ToString());
  return kRetOk;
}

int NotifyApproveStatus(AgentRequest& request, const XmlElement& /*command*/) {
  request.CountApproval();
  return kRetOk;
}

}  // namespace docsec::agent
