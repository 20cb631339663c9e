#include "docsec/agent/agent_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"
#include "docsec/platform/trace.h"
#include "docsec/testing/free_loopback.h"
#include "docsec/testing/scripted_agent.h"
#include "docsec/testing/trace_recorder.h"

namespace docsec {
namespace {

using Clock = std::chrono::steady_clock;
using testing::ScriptedAgent;
using Reply = ScriptedAgent::Reply;

constexpr char kOkReply[] = "<document><retcode value=\"0\"/></document>";

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class AgentChannelTest : public ::testing::Test {
 protected:
  std::vector<std::string> Traces() const { return recorder_.Traces(); }
  bool Traced(const std::string& text) const { return recorder_.Traced(text); }

  testing::TraceRecorder recorder_;
};

// <?xml version="1.0"?><document><service value="xxx..."/></document>, `size` bytes long in
// UTF-8, padded with `unit` (one character of any UTF-8 length) as often as fits plus ASCII.
XmlDocument DocumentOfSize(size_t size, const std::string& unit = "x") {
  XmlDocument doc = XmlDocument::Create();
  doc.AppendProcessingInstruction("xml", "version=\"1.0\"");
  XmlElement service = doc.CreateDocumentElement("document").AppendElement("service");
  service.SetAttribute("value", "");
  size_t overhead = doc.Xml().size();
  std::string value;
  while (value.size() + unit.size() <= size - overhead) value += unit;
  value.append(size - overhead - value.size(), 'x');
  service.SetAttribute("value", value);
  EXPECT_EQ(doc.Xml().size(), size);
  return doc;
}

XmlDocument Command(const char* service) {
  XmlDocument doc = XmlDocument::Create();
  doc.AppendProcessingInstruction("xml", "version=\"1.0\"");
  doc.CreateDocumentElement("document").AppendElement("service").SetAttribute("value", service);
  return doc;
}

TEST_F(AgentChannelTest, ExchangeCarriesRequestAndReply) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kValid, kOkReply);

  AgentChannel channel(peer.address());
  EXPECT_EQ(channel.port(), AgentPort);
  XmlDocument reply = XmlDocument::Create();
  ASSERT_TRUE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply));
  EXPECT_EQ(reply.DocumentElement().SelectChild("retcode").GetAttribute("value"), std::string("0"));

  ASSERT_TRUE(peer.WaitFinished(1, 5000));
  ScriptedAgent::Seen seen = peer.seen();
  const std::string request =
      "<?xml version=\"1.0\"?><document><service value=\"GetStatus\"/></document>";
  EXPECT_TRUE(seen.request_valid);
  EXPECT_EQ(seen.request_xml, request);
  EXPECT_EQ(seen.request_kind, 0u);  // the kind is not put on the wire
  EXPECT_EQ(seen.bytes_received, 16 + request.size() + 4);

  EXPECT_TRUE(Traced("dataHead Sent:16"));
  EXPECT_TRUE(Traced("dataBody Sent:" + std::to_string(request.size())));
  EXPECT_TRUE(Traced("CheckSum Sent:4"));
  bool validated = false;
  for (const std::string& t : Traces()) {
    unsigned computed = 0, received = 0;
    if (std::sscanf(t.c_str(), "CheckPackageValid: dwNew=%X, dwData=%X", &computed, &received) ==
        2) {
      validated = computed == received;
    }
  }
  EXPECT_TRUE(validated);
}

// A packet without body: head and trailer only, both ways.
TEST_F(AgentChannelTest, ZeroLengthBodyStillHasTrailer) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kValid, "");

  AgentChannel channel(peer.address());
  ASSERT_TRUE(channel.Connect(AgentPort));
  AgentPacket out;
  ASSERT_TRUE(channel.SendPacket(&out));
  AgentPacket in;
  in.status = 7;
  ASSERT_TRUE(channel.ReceivePacket(&in));
  EXPECT_EQ(in.length, 0u);
  EXPECT_TRUE(in.body.empty());
  EXPECT_EQ(in.status, 0u);
  ASSERT_TRUE(peer.WaitFinished(1, 5000));
  EXPECT_TRUE(peer.seen().request_valid);
  EXPECT_EQ(peer.seen().bytes_received, 20u);
  EXPECT_FALSE(Traced("dataBody Sent:0"));

  // Decoding no body gives a document without root element.
  XmlDocument reply = XmlDocument::Create();
  EXPECT_TRUE(channel.DecodeDocument(in, reply));
  EXPECT_FALSE(reply.DocumentElement());
}

TEST_F(AgentChannelTest, RequestOfExactlyTheLimitIsSent) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kValid, kOkReply);
  AgentChannel channel(peer.address());
  XmlDocument reply = XmlDocument::Create();
  ASSERT_TRUE(channel.Exchange(kAgentCommandKind, DocumentOfSize(kAgentMaxBodySize), reply));
  ASSERT_TRUE(peer.WaitFinished(1, 5000));
  EXPECT_TRUE(peer.seen().request_valid);
  EXPECT_EQ(peer.seen().request_xml.size(), kAgentMaxBodySize);
}

// One byte more is refused before anything goes out, whether the text is too long in UTF-16 code
// units (ASCII) or only in UTF-8 bytes (multi-byte characters).
TEST_F(AgentChannelTest, RequestOverTheLimitSendsNothing) {
  struct Case {
    const char* what;
    XmlDocument request;
  } cases[] = {
      {"ASCII", DocumentOfSize(kAgentMaxBodySize + 1)},
      {"two-byte characters", DocumentOfSize(kAgentMaxBodySize + 1, "\xC3\xA9")},
  };
  for (Case& c : cases) {
    ScriptedAgent peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    peer.Script(Reply::kValid, kOkReply);
    {
      AgentChannel channel(peer.address());
      XmlDocument reply = XmlDocument::Create();
      EXPECT_FALSE(channel.Exchange(kAgentCommandKind, c.request, reply)) << c.what;
    }
    ASSERT_TRUE(peer.WaitFinished(1, 5000)) << c.what;
    EXPECT_EQ(peer.seen().bytes_received, 0u) << c.what;
  }
}

TEST_F(AgentChannelTest, EncodeCountsUtf16CodeUnits) {
  AgentChannel channel(MakeIpv4(127, 0, 0, 1));
  AgentPacket packet;
  // 1,048,576 bytes of ASCII: at the limit.
  ASSERT_TRUE(channel.EncodeDocument(&packet, DocumentOfSize(kAgentMaxBodySize)));
  EXPECT_EQ(packet.length, kAgentMaxBodySize);
  // Two-byte characters: fewer code units than bytes, so encoding works, and SendPacket refuses.
  ASSERT_TRUE(channel.EncodeDocument(&packet, DocumentOfSize(kAgentMaxBodySize + 2, "\xC3\xA9")));
  EXPECT_EQ(packet.length, kAgentMaxBodySize + 2);
  EXPECT_FALSE(channel.SendPacket(&packet));
  // Four-byte characters count two code units each: 4 bytes, 2 units.
  EXPECT_TRUE(channel.EncodeDocument(
      &packet, DocumentOfSize(kAgentMaxBodySize * 2 - 100, "\xF0\x9F\x98\x80")));
  EXPECT_FALSE(channel.EncodeDocument(
      &packet, DocumentOfSize(kAgentMaxBodySize * 2 + 100, "\xF0\x9F\x98\x80")));
  EXPECT_FALSE(channel.EncodeDocument(&packet, DocumentOfSize(kAgentMaxBodySize + 1)));
  EXPECT_FALSE(channel.EncodeDocument(&packet, XmlDocument()));
  // A packet announcing more body than it has is not sent either.
  AgentPacket hollow;
  hollow.length = 5;
  EXPECT_FALSE(channel.SendPacket(&hollow));
  hollow.body = "abcd";
  EXPECT_FALSE(channel.SendPacket(&hollow));
}

// Replies that fail on their head must fail at once: the peer holds the connection open, so a
// channel that went on to read a body would wait for the (capped) time-out.
TEST_F(AgentChannelTest, BadReplyHeadFailsWithoutReadingABody) {
  struct Case {
    Reply reply;
  } cases[] = {{Reply::kOversizedHead}, {Reply::kWrongHeadChecksum}};
  for (const Case& c : cases) {
    ScriptedAgent peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    peer.Script(c.reply, kOkReply);
    AgentChannel channel(peer.address());
    ASSERT_TRUE(channel.Connect(AgentPort));
    AgentPacket out;
    ASSERT_TRUE(channel.EncodeDocument(&out, Command("GetStatus")));
    ASSERT_TRUE(channel.SendPacket(&out));
    auto start = Clock::now();
    AgentPacket in;
    EXPECT_FALSE(channel.ReceivePacket(&in));
    EXPECT_LT(MillisecondsSince(start), 2000);
    EXPECT_EQ(in.status, 1u);
    EXPECT_TRUE(in.body.empty());
  }
}

TEST_F(AgentChannelTest, WrongTrailerFails) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kWrongTrailer, kOkReply);
  AgentChannel channel(peer.address());
  XmlDocument reply = XmlDocument::Create();
  EXPECT_FALSE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply));
  EXPECT_FALSE(reply.DocumentElement());
  bool mismatch = false;
  for (const std::string& t : Traces()) {
    unsigned computed = 0, received = 0;
    if (std::sscanf(t.c_str(), "CheckPackageValid: dwNew=%X, dwData=%X", &computed, &received) ==
        2) {
      mismatch = received == computed + 1;
    }
  }
  EXPECT_TRUE(mismatch);
}

// A peer that closes in the middle of any part ends the exchange at once.
TEST_F(AgentChannelTest, TruncatedReplyFailsAtOnce) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  for (Reply reply : {Reply::kTruncatedHead, Reply::kTruncatedBody, Reply::kTruncatedTrailer,
                      Reply::kCloseAtOnce}) {
    peer.Script(reply, kOkReply);
    AgentChannel channel(peer.address());
    XmlDocument reply_doc = XmlDocument::Create();
    auto start = Clock::now();
    EXPECT_FALSE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply_doc))
        << static_cast<int>(reply);
    EXPECT_LT(MillisecondsSince(start), 2000) << static_cast<int>(reply);
  }
  bool head_traced = false;
  for (const std::string& t : Traces()) head_traced |= t.rfind("bytesRecv=10,HeaderSize=", 0) == 0;
  EXPECT_TRUE(head_traced);
}

TEST_F(AgentChannelTest, GarbageFromAnotherServiceFails) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kGarbage);
  for (int i = 0; i < 5; ++i) {
    AgentChannel channel(peer.address());
    XmlDocument reply = XmlDocument::Create();
    EXPECT_FALSE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply));
  }
}

TEST_F(AgentChannelTest, SilentPeerFailsAfterTheReceiveTimeout) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kNeverAnswer);
  SetSocketTimeoutCapForTesting(300);
  AgentChannel channel(peer.address());
  XmlDocument reply = XmlDocument::Create();
  auto start = Clock::now();
  EXPECT_FALSE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply));
  long long ms = MillisecondsSince(start);
  EXPECT_GE(ms, 250);
  EXPECT_LT(ms, 5000);
  EXPECT_TRUE(peer.seen().request_valid);
}

// A peer that sends its reply one byte every 100 ms never lets a single receive time out; the
// exchange's one deadline cuts it off, whether the host shortened it or the test cap did.
TEST_F(AgentChannelTest, TricklingPeerIsCutOffAtTheExchangeDeadline) {
  struct Case {
    const char* what;
    int host_deadline_ms;
    int test_cap_ms;
  } cases[] = {{"host setting", 800, 0}, {"test cap", 0, 800}};
  for (const Case& c : cases) {
    ScriptedAgent peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    // 260 bytes of reply at 10 bytes a second would take about half a minute.
    peer.Script(Reply::kTrickle, "<document><retcode value=\"0\"/><pad value=\"" +
                                     std::string(200, 'p') + "\"/></document>");
    SetAgentExchangeDeadline(c.host_deadline_ms);
    SetSocketTimeoutCapForTesting(c.test_cap_ms);
    AgentChannel channel(peer.address());
    XmlDocument reply = XmlDocument::Create();
    auto start = Clock::now();
    EXPECT_FALSE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply)) << c.what;
    long long ms = MillisecondsSince(start);
    EXPECT_GE(ms, 700) << c.what;
    EXPECT_LT(ms, 3000) << c.what;
    SetAgentExchangeDeadline(0);
    SetSocketTimeoutCapForTesting(0);
  }
  EXPECT_EQ(AgentExchangeDeadlineMs(), kAgentExchangeDeadlineMs);
}

// The peer resets while a 1 MiB request is on its way: the exchange fails, and no SIGPIPE ends
// the test process.
TEST_F(AgentChannelTest, ResetDuringSendFailsWithoutSignal) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kResetWhileReading);
  XmlDocument request = DocumentOfSize(kAgentMaxBodySize);
  for (int i = 0; i < 3; ++i) {
    AgentChannel channel(peer.address());
    XmlDocument reply = XmlDocument::Create();
    EXPECT_FALSE(channel.Exchange(kAgentCommandKind, request, reply));
  }
  EXPECT_TRUE(peer.WaitFinished(3, 5000));
}

TEST_F(AgentChannelTest, NoListenerFailsToConnectAtOnce) {
  AgentChannel channel(testing::ProbeFreeLoopback());
  auto start = Clock::now();
  EXPECT_FALSE(channel.Connect(AgentPort));
  EXPECT_FALSE(channel.IsOpen());
  // A second attempt tries again rather than taking the failed socket for a connection.
  EXPECT_FALSE(channel.Connect(AgentPort));
  XmlDocument reply = XmlDocument::Create();
  EXPECT_FALSE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply));
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_FALSE(channel.IsOpen());
}

// TCP may deliver a reply in any pieces; the receive collects each part whole.
TEST_F(AgentChannelTest, ReplyInSmallSegmentsIsReassembled) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kSplitSegments, kOkReply);
  AgentChannel channel(peer.address());
  XmlDocument reply = XmlDocument::Create();
  ASSERT_TRUE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply));
  EXPECT_TRUE(reply.DocumentElement().SelectChild("retcode"));
}

// A reply that is a valid packet but not XML is a successful exchange with an empty document.
TEST_F(AgentChannelTest, UnparsableReplyGivesDocumentWithoutRoot) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(Reply::kValid, "<document><retcode value=\"0\"/>");
  AgentChannel channel(peer.address());
  XmlDocument reply = XmlDocument::Create();
  ASSERT_TRUE(channel.Exchange(kAgentCommandKind, Command("GetStatus"), reply));
  EXPECT_FALSE(reply.DocumentElement());
}

}  // namespace
}  // namespace docsec
