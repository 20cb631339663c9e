#include "svctransport/svctransport.h"

#include <memory>
#include <mutex>

namespace docsec {
namespace {

std::mutex g_mutex;
std::shared_ptr<SvcTransportHandler> g_handler;

std::optional<std::string> Deliver(int entry_point, const std::string& request) {
  std::shared_ptr<SvcTransportHandler> handler;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    handler = g_handler;
  }
  if (!handler) return std::nullopt;
  std::string answer = (*handler)(entry_point, request);
  if (answer.empty()) return std::nullopt;
  return answer;
}

}  // namespace

SvcTransportHandler SvcTransportSetHandler(SvcTransportHandler handler) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<SvcTransportHandler> previous = std::move(g_handler);
  if (handler) g_handler = std::make_shared<SvcTransportHandler>(std::move(handler));
  return previous ? *previous : SvcTransportHandler();
}

std::optional<std::string> SvcTransportSend(const std::string& request) {
  return Deliver(1, request);
}
std::optional<std::string> SvcTransportSendEx(const std::string& request) {
  return Deliver(2, request);
}

}  // namespace docsec
