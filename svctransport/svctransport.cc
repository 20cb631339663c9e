#include "svctransport/svctransport.h"

#include <memory>
#include <mutex>

namespace docsec {
namespace {

std::mutex g_mutex;
std::shared_ptr<SvcTransportHandler> g_handler;

XmlDocument Deliver(int entry_point, const XmlDocument& request) {
  if (!request) return XmlDocument();
  std::shared_ptr<SvcTransportHandler> handler;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    handler = g_handler;
  }
  if (!handler) return XmlDocument();
  std::string answer_text = (*handler)(entry_point, request.Xml());
  if (answer_text.empty()) return XmlDocument();
  XmlDocument answer = XmlDocument::Create();
  if (answer) answer.LoadXml(answer_text);
  return answer;
}

}  // namespace

SvcTransportHandler SvcTransportSetHandler(SvcTransportHandler handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<SvcTransportHandler> previous = std::move(g_handler);
  if (handler) g_handler = std::make_shared<SvcTransportHandler>(std::move(handler));
  return previous ? *previous : SvcTransportHandler();
}

XmlDocument SvcTransportSend(const XmlDocument& request) { return Deliver(1, request); }
XmlDocument SvcTransportSendEx(const XmlDocument& request) { return Deliver(2, request); }

}  // namespace docsec
