// FakeServer: the management server for tests. While alive it is the in-process delivery of
// svctransport: it records every request (entry point and exact text) and answers from a script,
// queued answers first, then the responder, then the default answer.
//
// Thread safety: requests may arrive from several threads; the accessors lock.
#ifndef DOCSEC_TESTING_FAKE_SERVER_H_
#define DOCSEC_TESTING_FAKE_SERVER_H_

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "svctransport/svctransport.h"

namespace docsec {
namespace testing {

class FakeServer {
 public:
  struct Request {
    int entry_point;
    std::string text;
  };
  using Responder = std::function<std::string(int entry_point, const std::string& request)>;

  // A success answer with nothing else in it.
  static constexpr const char* kOk = "<document><return code=\"0\"/></document>";
  // The XML declaration every request starts with.
  static constexpr const char* kProlog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  // The whole text of a request whose document element holds `body` (service element included).
  static std::string RequestText(const std::string& body) {
    return kProlog + ("<document>" + body + "</document>");
  }
  // A success answer holding `body` after its return element.
  static std::string AnswerText(const std::string& body) {
    return "<document><return code=\"0\"/>" + body + "</document>";
  }

  // Installs itself as the transport's handler, standing for the server `name` (see
  // SvcTransportDestination; "in-process" when empty); the destructor restores the previous
  // handler and its name.
  explicit FakeServer(const std::string& name = "");
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  // Answers the next request with `text` (an empty text: no answer).
  void QueueAnswer(std::string text);
  // Answers requests with no queued answer.
  void SetResponder(Responder responder);
  // The answer when nothing else is scripted (kOk unless changed).
  void SetDefaultAnswer(std::string text);

  std::vector<Request> requests() const;
  size_t request_count() const;
  // The last request's text ("" when none).
  std::string last_request() const;
  int last_entry_point() const;
  void ClearRequests();

 private:
  std::string Handle(int entry_point, const std::string& request);

  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::deque<std::string> queued_;
  Responder responder_;
  std::string default_answer_ = kOk;
  SvcTransportHandler previous_;
  std::string previous_name_;
};

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_FAKE_SERVER_H_
