#include "tools/agent/agent_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "docsec/agent/agent_channel.h"
#include "docsec/agent/agent_command.h"
#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"
#include "docsec/testing/free_loopback.h"
#include "docsec/testing/scripted_agent.h"

namespace docsec {
namespace agent {
namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Starts a server with `options` on a loopback address that is free at the time; the address
// goes to *address (0, and a null server, when none could be had).
std::unique_ptr<AgentServer> StartServer(AgentServerOptions options, AgentRequestHandler handler,
                                         uint32_t* address) {
  std::unique_ptr<AgentServer> server;
  *address = docsec::testing::StartOnFreeLoopback([&](uint32_t candidate) {
    options.listen_address = FormatIpv4(candidate);
    server = std::make_unique<AgentServer>(options, handler);
    return server->Start(nullptr);
  });
  if (*address == 0) server.reset();
  return server;
}

// The server counts an exchange as it ends the connection, which may be just after the client
// has its reply: waits up to 2 s for `count` exchanges served.
bool WaitServed(const AgentServer& server, uint64_t count) {
  for (int i = 0; i < 200 && server.stats().served < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return server.stats().served == count;
}

// Answers retcode 0 and echoes the service name.
XmlDocument EchoService(const XmlDocument& request) {
  XmlDocument reply = XmlDocument::Create();
  XmlElement root = reply.CreateDocumentElement("document");
  root.AppendElement("retcode").SetAttribute("value", "0");
  const char* service = request.DocumentElement().SelectChild("service").GetAttribute("value");
  root.AppendElement("echo").SetAttribute("value", service);
  return reply;
}

const char* ReplyValue(const XmlDocument& reply, const char* tag) {
  XmlElement root = reply ? reply.DocumentElement() : XmlElement();
  if (!root) return nullptr;
  XmlElement child = root.SelectChild(tag);
  return child ? child.GetAttribute("value") : nullptr;
}

// Holds handlers until released; counts how many entered.
class Gate {
 public:
  void Enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++entered_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  bool WaitEntered(int count, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return entered_ >= count; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int entered_ = 0;
  bool open_ = false;
};

// Sends raw bytes to the server and reads until it closes. Returns the bytes it answered.
// `end_after` ends the sending direction after the bytes, as a client that gives up would.
std::string SendRaw(uint32_t address, const std::string& bytes, bool end_after = false) {
  TcpSocket s;
  if (!s.Connect(address, AgentPort, 2000)) return "<no connection>";
  s.SetDeadline(Clock::now() + std::chrono::seconds(10));
  if (!bytes.empty()) s.SendAll(bytes.data(), bytes.size());
  if (end_after) s.ShutdownSend();
  std::string answer;
  char buffer[4096];
  for (;;) {
    long n = s.Receive(buffer, sizeof buffer);
    if (n <= 0) break;
    answer.append(buffer, static_cast<size_t>(n));
  }
  return answer;
}

class AgentServerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSocketTimeoutCapForTesting(10000); }
  void TearDown() override { SetSocketTimeoutCapForTesting(0); }
};

TEST_F(AgentServerTest, AnswersCommandsThroughTheLibrary) {
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(AgentServerOptions(), EchoService, &address);
  ASSERT_TRUE(server);
  for (const char* service : {"GetStatus", "NotifyApproveStatus", "LocateFile"}) {
    XmlDocument reply = SendAgentCommand(address, BuildAgentCommand(service));
    ASSERT_TRUE(reply) << service;
    EXPECT_TRUE(CheckAgentReply(reply));
    EXPECT_STREQ(ReplyValue(reply, "echo"), service);
  }
  server->Stop();
  EXPECT_EQ(server->stats().served, 3u);
  EXPECT_EQ(server->stats().failed, 0u);
  // Stopped: nothing answers any more.
  EXPECT_FALSE(SendAgentCommand(address, BuildAgentCommand("GetStatus")));
}

TEST_F(AgentServerTest, ServesConnectionsConcurrently) {
  static constexpr int kClients = 8;
  static constexpr int kHandlerMs = 200;
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(
      AgentServerOptions(),
      [](const XmlDocument& request) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kHandlerMs));
        return EchoService(request);
      },
      &address);
  ASSERT_TRUE(server);
  std::atomic<int> ok{0};
  auto start = Clock::now();
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      XmlDocument reply = SendAgentCommand(address, BuildAgentCommand("GetStatus"));
      if (CheckAgentReply(reply)) ++ok;
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(ok.load(), kClients);
  // One after another would take kClients * kHandlerMs.
  EXPECT_LT(MillisecondsSince(start), kClients * kHandlerMs / 2);
}

// Connections beyond the workers wait their turn instead of being closed.
TEST_F(AgentServerTest, ConnectionsBeyondTheCapWaitTheirTurn) {
  Gate gate;
  AgentServerOptions options;
  options.max_connections = 2;
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(
      options,
      [&](const XmlDocument& request) {
        gate.Enter();
        return EchoService(request);
      },
      &address);
  ASSERT_TRUE(server);
  std::atomic<int> ok{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 3; ++i) {
    clients.emplace_back([&] {
      if (CheckAgentReply(SendAgentCommand(address, BuildAgentCommand("GetStatus")))) ++ok;
    });
  }
  ASSERT_TRUE(gate.WaitEntered(2, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(gate.WaitEntered(3, 0));  // the third waits for a worker
  EXPECT_EQ(ok.load(), 0);
  gate.Open();
  for (auto& t : clients) t.join();
  EXPECT_EQ(ok.load(), 3);
  EXPECT_TRUE(WaitServed(*server, 3));
}

// The handler's time is not the peer's: a long piece of work is still answered, although the
// peer's allowance for sending is far shorter.
TEST_F(AgentServerTest, LongWorkIsAnsweredInFull) {
  AgentServerOptions options;
  options.head_timeout_ms = 200;
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(
      options,
      [](const XmlDocument& request) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        return EchoService(request);
      },
      &address);
  ASSERT_TRUE(server);
  XmlDocument reply = SendAgentCommand(address, BuildAgentCommand("EncryptFile"));
  EXPECT_STREQ(ReplyValue(reply, "echo"), "EncryptFile");
}

// Connections that send nothing hold no worker and go after the head allowance; a source that
// keeps opening them loses its oldest, so a console is served at once even from the same host.
TEST_F(AgentServerTest, IdleConnectionsDoNotLockConsolesOut) {
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(AgentServerOptions(), EchoService, &address);
  ASSERT_TRUE(server);
  std::vector<TcpSocket> idle(64);
  for (auto& s : idle) ASSERT_TRUE(s.Connect(address, AgentPort, 2000));
  std::atomic<bool> stop{false};
  std::thread attacker([&] {
    // Reconnects round the clock, always keeping 64 idle connections open.
    for (size_t i = 0; !stop.load(); i = (i + 1) % idle.size()) {
      idle[i].Close();
      idle[i].Connect(address, AgentPort, 2000);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  for (int i = 0; i < 10; ++i) {
    auto start = Clock::now();
    EXPECT_TRUE(CheckAgentReply(SendAgentCommand(address, BuildAgentCommand("GetStatus"))));
    EXPECT_LT(MillisecondsSince(start), 2000);
  }
  stop.store(true);
  attacker.join();
  EXPECT_TRUE(WaitServed(*server, 10));
  EXPECT_GT(server->stats().evicted, 0u);
}

// A burst of consoles beyond the number of workers is served, not refused.
TEST_F(AgentServerTest, ConsoleBurstIsServed) {
  constexpr int kConsoles = 128;
  constexpr int kExchanges = 10;
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(AgentServerOptions(), EchoService, &address);
  ASSERT_TRUE(server);
  std::atomic<int> ok{0};
  std::vector<std::thread> consoles;
  for (int c = 0; c < kConsoles; ++c) {
    consoles.emplace_back([&] {
      for (int i = 0; i < kExchanges; ++i) {
        if (CheckAgentReply(SendAgentCommand(address, BuildAgentCommand("GetStatus")))) ++ok;
      }
    });
  }
  for (auto& t : consoles) t.join();
  EXPECT_EQ(ok.load(), kConsoles * kExchanges);
}

// A head announcing more than 1 MiB ends the connection at once, without a reply and without
// waiting for a body.
TEST_F(AgentServerTest, OversizedRequestIsRefused) {
  std::atomic<int> calls{0};
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(
      AgentServerOptions(),
      [&](const XmlDocument& request) {
        ++calls;
        return EchoService(request);
      },
      &address);
  ASSERT_TRUE(server);
  // A correct head for kAgentMaxBodySize + 1 bytes, followed by nothing.
  std::string big(kAgentMaxBodySize + 1, 'x');
  std::string head = docsec::testing::ScriptedAgent::WirePacket(big).substr(0, kAgentHeadSize);
  auto start = Clock::now();
  EXPECT_EQ(SendRaw(address, head), "");
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(calls.load(), 0);
  // The limit itself is served.
  XmlDocument at_limit = BuildAgentCommand("GetStatus");
  at_limit.DocumentElement().AppendElement("pad").SetAttribute("value", "");
  size_t pad = kAgentMaxBodySize - at_limit.Xml().size();
  at_limit.DocumentElement().SelectChild("pad").SetAttribute("value", std::string(pad, 'p'));
  ASSERT_EQ(at_limit.Xml().size(), kAgentMaxBodySize);
  EXPECT_TRUE(CheckAgentReply(SendAgentCommand(address, at_limit)));
}

TEST_F(AgentServerTest, MalformedPacketsOnlyEndTheirConnection) {
  std::atomic<int> calls{0};
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(
      AgentServerOptions(),
      [&](const XmlDocument& request) {
        ++calls;
        return EchoService(request);
      },
      &address);
  ASSERT_TRUE(server);
  std::string valid = docsec::testing::ScriptedAgent::WirePacket(
      "<?xml version=\"1.0\"?><document><service value=\"GetStatus\"/></document>");
  std::string wrong_trailer = valid;
  wrong_trailer.back() = static_cast<char>(wrong_trailer.back() ^ 0x01);
  std::string wrong_head = valid;
  wrong_head[0] = static_cast<char>(wrong_head[0] ^ 0x01);
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"nothing", ""},
      {"garbage", std::string(64, '\x5A')},
      {"wrong head checksum", wrong_head},
      {"wrong trailer", wrong_trailer},
      {"truncated head", valid.substr(0, 9)},
      {"truncated body", valid.substr(0, 30)},
      {"truncated trailer", valid.substr(0, valid.size() - 1)},
  };
  for (const Case& c : cases) {
    auto start = Clock::now();
    EXPECT_EQ(SendRaw(address, c.bytes, /*end_after=*/true), "") << c.what;
    EXPECT_LT(MillisecondsSince(start), 2000) << c.what;
  }
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(server->stats().failed, 7u);
  // Still serving.
  EXPECT_TRUE(CheckAgentReply(SendAgentCommand(address, BuildAgentCommand("GetStatus"))));
  EXPECT_EQ(calls.load(), 1);
}

// A client that sends nothing, or trickles bytes, is cut off when its head is not in on time.
TEST_F(AgentServerTest, ConnectionDeadlineEndsSlowClients) {
  AgentServerOptions options;
  options.head_timeout_ms = 300;
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(options, EchoService, &address);
  ASSERT_TRUE(server);

  auto start = Clock::now();
  EXPECT_EQ(SendRaw(address, ""), "");
  long long ms = MillisecondsSince(start);
  EXPECT_GE(ms, 250);
  EXPECT_LT(ms, 3000);

  std::string valid = docsec::testing::ScriptedAgent::WirePacket(
      "<?xml version=\"1.0\"?><document><service value=\"GetStatus\"/></document>");
  TcpSocket trickle;
  ASSERT_TRUE(trickle.Connect(address, AgentPort, 2000));
  start = Clock::now();
  bool cut = false;
  for (size_t i = 0; i < valid.size() && MillisecondsSince(start) < 5000; ++i) {
    if (!trickle.SendAll(&valid[i], 1)) {
      cut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  char c;
  trickle.SetDeadline(Clock::now() + std::chrono::seconds(5));
  EXPECT_TRUE(cut || trickle.Receive(&c, 1) <= 0);
  EXPECT_LT(MillisecondsSince(start), 3000);
}

TEST_F(AgentServerTest, FailedHandlersAnswerRetcodeOne) {
  std::atomic<int> calls{0};
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(
      AgentServerOptions(),
      [&](const XmlDocument& request) -> XmlDocument {
        ++calls;
        const char* service =
            request.DocumentElement().SelectChild("service").GetAttribute("value");
        std::string name = service ? service : "";
        if (name == "Throw") throw std::runtime_error("handler failed");
        if (name == "Null") return XmlDocument();
        if (name == "Huge") {
          XmlDocument reply = EchoService(request);
          reply.DocumentElement().AppendElement("pad").SetAttribute(
              "value", std::string(kAgentMaxBodySize, 'p'));
          return reply;
        }
        return EchoService(request);
      },
      &address);
  ASSERT_TRUE(server);
  for (const char* service : {"Throw", "Null", "Huge"}) {
    XmlDocument reply = SendAgentCommand(address, BuildAgentCommand(service));
    ASSERT_TRUE(reply) << service;
    EXPECT_EQ(reply.Xml(), "<document><retcode value=\"1\"/></document>") << service;
  }
  EXPECT_EQ(calls.load(), 3);
  // A valid packet whose body is not XML is answered without calling the handler.
  std::string answer =
      SendRaw(address, docsec::testing::ScriptedAgent::WirePacket("not <xml"), false);
  EXPECT_GT(answer.size(), kAgentHeadSize + kAgentTrailerSize);
  EXPECT_EQ(calls.load(), 3);
}

TEST_F(AgentServerTest, StopEndsOpenConnectionsPromptly) {
  uint32_t address = 0;
  std::unique_ptr<AgentServer> server = StartServer(AgentServerOptions(), EchoService, &address);
  ASSERT_TRUE(server);
  // Three connections that send nothing, and one whose worker waits for a body that never comes;
  // their allowances are seconds away.
  std::vector<TcpSocket> idle(4);
  for (auto& s : idle) ASSERT_TRUE(s.Connect(address, AgentPort, 2000));
  std::string head =
      docsec::testing::ScriptedAgent::WirePacket(std::string(1000, 'x')).substr(0, kAgentHeadSize);
  ASSERT_TRUE(idle.back().SendAll(head.data(), head.size()));
  for (int i = 0; i < 500 && server->stats().accepted < 4u; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto start = Clock::now();
  server->Stop();
  EXPECT_LT(MillisecondsSince(start), 1000);
  EXPECT_EQ(server->stats().accepted, 4u);
  server->Stop();  // twice is harmless
}

TEST_F(AgentServerTest, StartReportsBadAddresses) {
  uint32_t address = 0;
  std::unique_ptr<AgentServer> first = StartServer(AgentServerOptions(), EchoService, &address);
  ASSERT_TRUE(first);
  std::string error;
  EXPECT_FALSE(first->Start(&error));

  AgentServerOptions same;
  same.listen_address = FormatIpv4(address);
  AgentServer second(same, EchoService);
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find("bind"), std::string::npos) << error;

  AgentServerOptions bad;
  bad.listen_address = "agent.example";
  AgentServer third(bad, EchoService);
  EXPECT_FALSE(third.Start(&error));
  EXPECT_NE(error.find("agent.example"), std::string::npos) << error;
}

}  // namespace
}  // namespace agent
}  // namespace docsec
