// The network delivery against a real HTTP peer on loopback, on every platform (libcurl on POSIX
// systems, WinHTTP on Windows): a small server answers as each case scripts it, so the cases a
// management server rarely produces (errors, redirects, silence) are easy to make.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"
#include "docsec/platform/text.h"
#include "svctransport/svctransport.h"

namespace docsec {
namespace {

struct SeenRequest {
  std::string path;
  std::string session;  // the X-Docsec-Session header; "" when none came
  std::string body;
};

struct Reply {
  int status = 200;
  std::string body;
  std::string session;
  int delay_ms = 0;
};

class HttpPeer {
 public:
  explicit HttpPeer(std::function<Reply(const SeenRequest&)> script) : script_(std::move(script)) {
    std::string error;
    EXPECT_TRUE(listener_.Listen(ParseIpv4("127.0.0.1"), 0, 8, &error)) << error;
    thread_ = std::thread([this] { Serve(); });
  }
  ~HttpPeer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      if (current_ != nullptr) current_->ShutdownBoth();
    }
    wake_.notify_all();
    thread_.join();
  }
  std::string address() const { return "http://127.0.0.1:" + std::to_string(listener_.Port()); }
  int connections() const { return connections_; }
  std::vector<SeenRequest> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      TcpSocket socket = listener_.Accept(50);
      if (!socket.IsOpen()) continue;
      ++connections_;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_) return;
        current_ = &socket;
      }
      while (ServeOne(&socket)) {
      }
      std::lock_guard<std::mutex> lock(mutex_);
      current_ = nullptr;
    }
  }

  // Reads one request and answers it; false when the connection ended.
  bool ServeOne(TcpSocket* socket) {
    std::string data;
    size_t head_end;
    char buffer[16384];
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
      long got = socket->Receive(buffer, sizeof buffer);
      if (got <= 0) return false;
      data.append(buffer, static_cast<size_t>(got));
    }
    SeenRequest request;
    size_t length = 0;
    std::string head = data.substr(0, head_end + 2);
    size_t space = head.find(' ');
    request.path = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
    for (size_t at = head.find("\r\n") + 2; at < head.size();) {
      size_t end = head.find("\r\n", at);
      std::string line = head.substr(at, end - at);
      at = end + 2;
      size_t colon = line.find(':');
      std::string name = line.substr(0, colon);
      for (char& c : name) c = AsciiLower(c);
      std::string value = line.substr(line.find_first_not_of(' ', colon + 1));
      if (name == "content-length") length = std::stoul(value);
      if (name == "x-docsec-session") request.session = value;
    }
    request.body = data.substr(head_end + 4);
    while (request.body.size() < length) {
      long got = socket->Receive(buffer, sizeof buffer);
      if (got <= 0) return false;
      request.body.append(buffer, static_cast<size_t>(got));
    }
    Reply reply = script_(request);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      requests_.push_back(request);
      if (wake_.wait_for(lock, std::chrono::milliseconds(reply.delay_ms),
                         [this] { return stop_.load(); })) {
        return false;
      }
    }
    std::string answer = "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\n";
    if (reply.status / 100 == 3) answer += "Location: /svc\r\n";
    if (!reply.session.empty()) answer += "X-Docsec-Session: " + reply.session + "\r\n";
    answer +=
        "Content-Type: application/xml\r\nContent-Length: " + std::to_string(reply.body.size()) +
        "\r\n\r\n" + reply.body;
    return socket->SendAll(answer.data(), answer.size());
  }

  std::function<Reply(const SeenRequest&)> script_;
  TcpListener listener_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  TcpSocket* current_ = nullptr;
  std::vector<SeenRequest> requests_;
};

class DeliveryTest : public ::testing::Test {
 protected:
  void Use(const std::string& server, long timeout_ms = 10000) {
    SvcTransportConfig config;
    config.server = server;
    config.connect_timeout_ms = 2000;
    config.timeout_ms = timeout_ms;
    std::string error;
    ASSERT_TRUE(SvcTransportConfigure(config, &error)) << error;
  }
  void TearDown() override { SvcTransportConfigure(SvcTransportConfig(), nullptr); }
};

std::optional<std::string> SendTo(int entry_point, const std::string& request) {
  return entry_point == 1 ? SvcTransportSend(request) : SvcTransportSendEx(request);
}

TEST_F(DeliveryTest, BothEntryPointsCarryTheirTextWholeOverOneConnection) {
  HttpPeer peer([](const SeenRequest& request) { return Reply{200, "<a>" + request.body, "", 0}; });
  Use(peer.address());
  // A request larger than any one socket read, with text outside ASCII.
  std::string request = "<r n=\"\xE5\xAF\x86\xE7\xA7\x98\">" + std::string(300000, 'x') + "</r>";
  for (int entry_point : {1, 2, 1}) {
    std::optional<std::string> answer = SendTo(entry_point, request);
    ASSERT_TRUE(answer.has_value()) << "entry point " << entry_point;
    EXPECT_EQ(*answer, "<a>" + request);
  }
  std::vector<SeenRequest> seen = peer.requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].path, "/svc");
  EXPECT_EQ(seen[1].path, "/svc/ex");
  EXPECT_EQ(seen[2].body, request);
  EXPECT_EQ(peer.connections(), 1);  // kept alive between requests
}

TEST_F(DeliveryTest, SessionTokenFromAnAnswerIsSentUntilForgotten) {
  HttpPeer peer([](const SeenRequest& request) {
    return Reply{200, "<ok/>", request.body == "login" ? "token-17" : "", 0};
  });
  Use(peer.address());
  ASSERT_TRUE(SvcTransportSend("login").has_value());
  EXPECT_EQ(SvcTransportSessionToken(), "token-17");
  ASSERT_TRUE(SvcTransportSendEx("next").has_value());
  SvcTransportForgetSession();
  ASSERT_TRUE(SvcTransportSend("after").has_value());
  SvcTransportResumeSession("resumed-3");
  ASSERT_TRUE(SvcTransportSend("resumed").has_value());
  std::vector<SeenRequest> seen = peer.requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].session, "");
  EXPECT_EQ(seen[1].session, "token-17");
  EXPECT_EQ(seen[2].session, "");
  EXPECT_EQ(seen[3].session, "resumed-3");
}

TEST_F(DeliveryTest, AnswersThatAreNotAnOkWithABodyGiveNoAnswer) {
  using Kind = SvcTransportFailureKind;
  struct Case {
    const char* what;
    Reply reply;
    Kind kind;
  };
  const Case cases[] = {
      {"server error", {500, "<error/>", "", 0}, Kind::kHttpStatus},
      {"body too large for the server", {413, "", "", 0}, Kind::kHttpStatus},
      {"redirect, not followed", {302, "<moved/>", "", 0}, Kind::kHttpStatus},
      {"empty body", {200, "", "", 0}, Kind::kEmptyAnswer},
  };
  for (const Case& c : cases) {
    // The redirect points at /svc, which would answer 200 if it were followed.
    HttpPeer peer([&](const SeenRequest& request) {
      return request.path == "/svc" ? Reply{200, "<followed/>", "", 0} : c.reply;
    });
    Use(peer.address());
    EXPECT_FALSE(SvcTransportSendEx("<r/>").has_value()) << c.what;
    EXPECT_EQ(peer.requests().size(), 1u) << c.what;
    SvcTransportFailure failure = SvcTransportLastFailure();
    EXPECT_EQ(failure.kind, c.kind) << c.what;
    if (c.kind == Kind::kHttpStatus) {
      EXPECT_EQ(failure.http_status, c.reply.status) << c.what;
      EXPECT_NE(failure.text.find(std::to_string(c.reply.status)), std::string::npos) << c.what;
    }
    ASSERT_TRUE(SvcTransportSend("<r/>").has_value()) << c.what;
    EXPECT_EQ(SvcTransportLastFailure().kind, Kind::kNone) << "an answer clears the cause";
  }
}

// Each thread reads the cause of its own last send, whatever the others did meanwhile.
TEST(Delivery, ThreadsKeepTheirOwnCause) {
  SvcTransportSetHandler([](int, const std::string& request) {
    return request == "fail" ? std::string() : std::string("<ok/>");
  });
  std::atomic<int> mixed{0};
  auto worker = [&](const char* body, SvcTransportFailureKind expected) {
    for (int i = 0; i < 2000; ++i) {
      SvcTransportSend(body);
      if (SvcTransportLastFailure().kind != expected) ++mixed;
    }
  };
  std::thread failing(worker, "fail", SvcTransportFailureKind::kEmptyAnswer);
  std::thread answered(worker, "ok", SvcTransportFailureKind::kNone);
  failing.join();
  answered.join();
  SvcTransportSetHandler(nullptr);
  EXPECT_EQ(mixed, 0);
}

TEST(Delivery, NothingToDeliverThroughSaysSo) {
  ASSERT_TRUE(SvcTransportConfigure(SvcTransportConfig(), nullptr));
  EXPECT_FALSE(SvcTransportSend("<r/>").has_value());
  EXPECT_EQ(SvcTransportLastFailure().kind, SvcTransportFailureKind::kNotConfigured);
  SvcTransportSetHandler([](int, const std::string&) { return std::string(); });
  EXPECT_FALSE(SvcTransportSend("<r/>").has_value());
  EXPECT_EQ(SvcTransportLastFailure().kind, SvcTransportFailureKind::kEmptyAnswer);
  SvcTransportSetHandler(nullptr);
}

TEST_F(DeliveryTest, AbsentOrSilentServerGivesNoAnswerWithinTheTimeOut) {
  std::string closed_port;
  {
    HttpPeer gone([](const SeenRequest&) { return Reply{200, "<x/>", "", 0}; });
    closed_port = gone.address();
  }
  Use(closed_port);
  EXPECT_FALSE(SvcTransportSend("<r/>").has_value());
  SvcTransportFailure refused = SvcTransportLastFailure();
  EXPECT_EQ(refused.kind, SvcTransportFailureKind::kConnectionRefused) << refused.text;
  EXPECT_NE(refused.text.find(closed_port), std::string::npos) << refused.text;

  HttpPeer silent([](const SeenRequest&) { return Reply{200, "<late/>", "", 20000}; });
  Use(silent.address(), 500);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SvcTransportSend("<r/>").has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  SvcTransportFailure late = SvcTransportLastFailure();
  EXPECT_EQ(late.kind, SvcTransportFailureKind::kAnswerTimeout) << late.text;
}

#if !defined(_WIN32)
// A malformed variable is named by the first send, which reads the environment, instead of
// passing for "not configured". A process of its own: the environment is read once.
TEST(DeliveryDeathTest, AMalformedEnvironmentIsNamedBySends) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("DOCSEC_SERVER", "ftp://127.0.0.1:21", 1);
        SvcTransportSend("<r/>");
        SvcTransportFailure failure = SvcTransportLastFailure();
        bool named = failure.kind == SvcTransportFailureKind::kBadConfiguration &&
                     failure.text.find("ftp://127.0.0.1:21") != std::string::npos;
        std::exit(named ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace docsec
