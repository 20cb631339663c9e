#include "docsec/agent/agent_command.h"

#include "docsec/channel/outcome.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "docsec/agent/agent_channel.h"
#include "docsec/channel/outcome.h"
#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"
#include "docsec/platform/trace.h"
#include "docsec/testing/free_loopback.h"
#include "docsec/testing/scripted_agent.h"
#include "docsec/testing/trace_recorder.h"

namespace docsec {
namespace {

using testing::ScriptedAgent;

constexpr char kAgentUuid[] = "3f2504e0-4f89-41d3-9a0c-0305e82c3301";

XmlDocument Parse(const char* text) {
  XmlDocument doc = XmlDocument::Create();
  doc.LoadXml(text);
  return doc;
}

class AgentCommandTest : public ::testing::Test {
 protected:
  void TearDown() override { SetIcmpUsableForTesting(true); }
  bool Traced(const std::string& text) const { return recorder_.Traced(text); }
  // Probes need a ping that works; where the process may open no ICMP socket they cannot run.
  bool IcmpMissing() { return !GetIcmpService().usable; }

  testing::TraceRecorder recorder_;
};

#define SKIP_WITHOUT_ICMP()                                                                 \
  if (IcmpMissing())                                                                        \
  GTEST_SKIP() << "no ICMP socket may be opened by this process (neither an ICMP datagram " \
                  "socket, see net.ipv4.ping_group_range, nor a raw socket)"

TEST_F(AgentCommandTest, BuildsTheCommandDocument) {
  XmlDocument command = BuildAgentCommand("GetStatus");
  ASSERT_TRUE(command);
  EXPECT_EQ(command.Xml(),
            "<?xml version=\"1.0\"?><document><service value=\"GetStatus\"/></document>");
  // The caller's elements follow "service".
  command.DocumentElement().AppendElement("dir").SetAttribute("path", "C:");
  EXPECT_EQ(command.Xml(),
            "<?xml version=\"1.0\"?><document><service value=\"GetStatus\"/>"
            "<dir path=\"C:\"/></document>");
}

TEST_F(AgentCommandTest, CheckAgentReplyReadsRetcodeAsAnInteger) {
  struct Case {
    const char* reply;
    bool ok;
  } cases[] = {
      {"<document><retcode value=\"0\"/></document>", true},
      {"<answer><x/><retcode value=\" 0 \"/></answer>", true},
      {"<document><retcode value=\"+0\"/></document>", true},
      {"<document><retcode value=\"-0\"/></document>", true},
      {"<document><retcode value=\"00\"/></document>", true},
      {"<document><retcode value=\"1\"/></document>", false},
      {"<document><retcode value=\"-1\"/></document>", false},
      {"<document><retcode value=\"\"/></document>", false},
      {"<document><retcode value=\"zero\"/></document>", false},
      {"<document><retcode value=\"0x0\"/></document>", false},
      {"<document><retcode value=\"0 1\"/></document>", false},
      {"<document><retcode value=\"4294967296\"/></document>", false},
      {"<document><retcode/></document>", false},
      {"<document><status value=\"0\"/></document>", false},
      {"<document><x><retcode value=\"0\"/></x></document>", false},
      {"<document><retcode value=\"0\"/>", false},  // does not parse: no root
  };
  for (const Case& c : cases) EXPECT_EQ(CheckAgentReply(Parse(c.reply)), c.ok) << c.reply;
  EXPECT_FALSE(CheckAgentReply(XmlDocument()));
}

TEST_F(AgentCommandTest, SendAgentCommandReturnsTheReplyOrNull) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(ScriptedAgent::Reply::kValid,
              "<document><retcode value=\"0\"/><dir path=\"C:\"/></document>");
  XmlDocument command = BuildAgentCommand("LocateFile");
  command.DocumentElement().AppendElement("dir").SetAttribute("path", "");
  XmlDocument reply = SendAgentCommand(peer.address(), command);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(CheckAgentReply(reply));
  EXPECT_TRUE(reply.DocumentElement().SelectChild("dir"));
  ASSERT_TRUE(peer.WaitFinished(1, 5000));
  EXPECT_EQ(peer.seen().request_xml,
            "<?xml version=\"1.0\"?><document><service value=\"LocateFile\"/>"
            "<dir path=\"\"/></document>");

  peer.Script(ScriptedAgent::Reply::kTruncatedBody, "<document><retcode value=\"0\"/></document>");
  EXPECT_FALSE(SendAgentCommand(peer.address(), command));
  EXPECT_FALSE(SendAgentCommand(peer.address(), XmlDocument()));
}

TEST_F(AgentCommandTest, ProbeOfTheExpectedAgentIsRunning) {
  SKIP_WITHOUT_ICMP();
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(ScriptedAgent::Reply::kValid, std::string("<document><retcode value=\"0\"/>") +
                                                "<status value=\"0\"/><uuid value=\"" + kAgentUuid +
                                                "\"/></document>");
  Uuid expected;
  ASSERT_TRUE(Uuid::Parse(kAgentUuid, &expected));
  uint32_t address = peer.address();
  EXPECT_EQ(ProbeAgent(address, expected), ConnectionRunning);
  char ok_text[64];
  std::snprintf(ok_text, sizeof ok_text, "Ping %X OK", address);
  EXPECT_TRUE(Traced(ok_text));
  ASSERT_TRUE(peer.WaitFinished(1, 5000));
  EXPECT_EQ(peer.seen().request_xml,
            "<?xml version=\"1.0\"?><document><service value=\"GetStatus\"/></document>");
}

TEST_F(AgentCommandTest, ProbeFoldsEveryReplyFaultIntoNotRunning) {
  SKIP_WITHOUT_ICMP();
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  Uuid expected;
  ASSERT_TRUE(Uuid::Parse(kAgentUuid, &expected));
  const std::string upper = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
  const std::string other = "3f2504e0-4f89-41d3-9a0c-0305e82c3302";
  auto reply = [](const std::string& retcode, const std::string& status, const std::string& uuid,
                  const char* root = "document") {
    return std::string("<") + root + ">" + retcode + status + uuid + "</" + root + ">";
  };
  const std::string rc0 = "<retcode value=\"0\"/>";
  const std::string st0 = "<status value=\"0\"/>";
  auto uuid = [](const std::string& v) { return "<uuid value=\"" + v + "\"/>"; };
  struct Case {
    const char* what;
    std::string xml;
    CEnumComputerConnectionStatus expected;
    bool uuid_changed;
    const char* cause = nullptr;  // words the outcome's message must hold
  } cases[] = {
      {"uuid in upper case", reply(rc0, st0, uuid(upper)), ConnectionRunning, false},
      {"any root name", reply(rc0, st0, uuid(kAgentUuid), "reply"), ConnectionRunning, false},
      {"status 1", reply(rc0, "<status value=\"1\"/>", uuid(kAgentUuid)), ConnectionAgentNotRunning,
       false, "status 1, not running"},
      {"status not a number", reply(rc0, "<status value=\"ok\"/>", uuid(kAgentUuid)),
       ConnectionAgentNotRunning, false},
      {"status without value", reply(rc0, "<status/>", uuid(kAgentUuid)), ConnectionAgentNotRunning,
       false},
      {"status missing", reply(rc0, "", uuid(kAgentUuid)), ConnectionAgentNotRunning, false},
      {"retcode missing", reply("", st0, uuid(kAgentUuid)), ConnectionAgentNotRunning, false},
      {"retcode 5",
       reply("<retcode value=\"5\"/><error value=\"busy elsewhere\"/>", st0, uuid(kAgentUuid)),
       ConnectionAgentNotRunning, false, "busy elsewhere"},
      {"uuid missing", reply(rc0, st0, ""), ConnectionAgentNotRunning, false},
      {"uuid without value", reply(rc0, st0, "<uuid/>"), ConnectionAgentNotRunning, false},
      {"different uuid", reply(rc0, st0, uuid(other)), ConnectionAgentNotRunning, true,
       "another computer (3f2504e0-4f89-41d3-9a0c-0305e82c3302)"},
      {"uuid in braces", reply(rc0, st0, uuid("{" + std::string(kAgentUuid) + "}")),
       ConnectionAgentNotRunning, true},
      {"uuid not a uuid", reply(rc0, st0, uuid("agent-7")), ConnectionAgentNotRunning, true},
      {"reply without root", "<document>" + rc0 + st0, ConnectionAgentNotRunning, false},
  };
  uint32_t address = peer.address();
  char changed_text[64];
  std::snprintf(changed_text, sizeof changed_text, "IP:%X 's UUID Changed", address);
  for (const Case& c : cases) {
    { recorder_.Clear(); }
    peer.Script(ScriptedAgent::Reply::kValid, c.xml);
    EXPECT_EQ(ProbeAgent(address, expected), c.expected) << c.what;
    EXPECT_EQ(Traced(changed_text), c.uuid_changed) << c.what;
    Outcome outcome = LastOutcome();
    EXPECT_EQ(outcome.ok(), c.expected == ConnectionRunning) << c.what;
    if (c.cause != nullptr) {
      EXPECT_NE(outcome.message.find(c.cause), std::string::npos)
          << c.what << ": " << outcome.message;
    }
  }
}

TEST_F(AgentCommandTest, ProbeWithoutAgentIsNotRunning) {
  SKIP_WITHOUT_ICMP();
  Uuid expected;
  ASSERT_TRUE(Uuid::Parse(kAgentUuid, &expected));
  // The address answers ping (it is this host), but nothing listens on the agent port.
  EXPECT_EQ(ProbeAgent(testing::ProbeFreeLoopback(), expected), ConnectionAgentNotRunning);
  Outcome outcome = LastOutcome();
  EXPECT_EQ(outcome.source, OutcomeSource::kAgent);
  EXPECT_NE(outcome.message.find("refused the connection"), std::string::npos) << outcome.message;
}

TEST_F(AgentCommandTest, WithoutIcmpEveryProbeIsPingFailed) {
  ScriptedAgent peer;
  ASSERT_TRUE(peer.ok()) << peer.error();
  peer.Script(ScriptedAgent::Reply::kValid, std::string("<document><retcode value=\"0\"/>") +
                                                "<status value=\"0\"/><uuid value=\"" + kAgentUuid +
                                                "\"/></document>");
  SetIcmpUsableForTesting(false);
  EXPECT_FALSE(GetIcmpService().usable);
  Uuid expected;
  ASSERT_TRUE(Uuid::Parse(kAgentUuid, &expected));
  uint32_t address = peer.address();
  EXPECT_FALSE(PingHost(address));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ProbeAgent(address, expected), ConnectionPingFailed);
  char failed_text[64];
  std::snprintf(failed_text, sizeof failed_text, "Ping %X Failed", address);
  EXPECT_TRUE(Traced(failed_text));
  // The agent was never asked.
  EXPECT_EQ(peer.seen().connections, 0);
}

TEST_F(AgentCommandTest, PingOfLoopbackIsAnswered) {
  SKIP_WITHOUT_ICMP();
  EXPECT_TRUE(PingHost(MakeIpv4(127, 0, 0, 1)));
  EXPECT_TRUE(PingHost(MakeIpv4(127, 0, 0, 77)));  // any loopback address answers
}

// Start-up decides the ICMP kind once; release makes pings fail until the next start-up.
TEST_F(AgentCommandTest, ReleaseAndInitializeIcmp) {
  bool usable = InitializeIcmp();
  EXPECT_EQ(GetIcmpService().usable, usable);
  ReleaseIcmp();
  EXPECT_FALSE(GetIcmpService().usable);
  EXPECT_FALSE(PingHost(MakeIpv4(127, 0, 0, 1)));
  EXPECT_EQ(InitializeIcmp(), usable);
  if (!usable) {
    EXPECT_TRUE(Traced("Error: Could not load ICMP.DLL"));
  }
}

}  // namespace
}  // namespace docsec
