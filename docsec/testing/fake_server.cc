#include "docsec/testing/fake_server.h"

namespace docsec {
namespace testing {

FakeServer::FakeServer(const std::string& name) {
  previous_ = SvcTransportSetHandler(
      [this](int entry_point, const std::string& request) { return Handle(entry_point, request); },
      name, &previous_name_);
}

FakeServer::~FakeServer() { SvcTransportSetHandler(std::move(previous_), previous_name_, nullptr); }

std::string FakeServer::Handle(int entry_point, const std::string& request) {
  Responder responder;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back({entry_point, request});
    if (!queued_.empty()) {
      std::string answer = std::move(queued_.front());
      queued_.pop_front();
      return answer;
    }
    if (!responder_) return default_answer_;
    responder = responder_;
  }
  return responder(entry_point, request);
}

void FakeServer::QueueAnswer(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  queued_.push_back(std::move(text));
}

void FakeServer::SetResponder(Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

void FakeServer::SetDefaultAnswer(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_answer_ = std::move(text);
}

std::vector<FakeServer::Request> FakeServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t FakeServer::request_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

std::string FakeServer::last_request() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.empty() ? std::string() : requests_.back().text;
}

int FakeServer::last_entry_point() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.empty() ? 0 : requests_.back().entry_point;
}

void FakeServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
}

}  // namespace testing
}  // namespace docsec
