// Computers against the reference agent, over real loopback TCP on an address of each test's own.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <string>

#include "docsec/computers/computer.h"
#include "docsec/platform/host.h"
#include "docsec/testing/fake_server.h"
#include "docsec/testing/free_loopback.h"
#include "tools/agent/agent_test_util.h"
#include "tools/agent/reference_agent.h"

namespace docsec {
namespace {

constexpr char kAgentUuid[] = "5b0c1d2e-3f40-4a51-8b62-7c83d94ea5f6";

class ComputerAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.Dir("c"));
    std::string error;
    address_ = testing::StartOnFreeLoopback([&](uint32_t address) {
      agent::ReferenceAgentOptions options;
      options.listen_address = FormatIpv4(address);
      options.drives = {{"C:", tree_.At("c")}};
      options.uuid = kAgentUuid;
      options.state_dir = tree_.At("state");
      agent_ = std::make_unique<agent::ReferenceAgent>(options);
      return agent_->Start(&error);
    });
    ASSERT_NE(address_, 0u) << error;
    computer_.SetIp(FormatIpv4(address_).c_str());
    computer_.SetUuid(kAgentUuid);
    computer_.SetIsApproved(true);
  }
  void TearDown() override { SetIcmpUsableForTesting(true); }

  bool IcmpMissing() { return !GetIcmpService().usable; }
  int StatusRequests() const { return agent_->service()->status_requests(); }
  int Notifications() const { return agent_->service()->approve_notifications(); }
  uint64_t Connections() const { return agent_->stats().accepted; }

  agent::testing::ScratchTree tree_;
  std::unique_ptr<agent::ReferenceAgent> agent_;
  uint32_t address_ = 0;
  CDOComputer computer_;
};

#define SKIP_WITHOUT_ICMP()                                                                 \
  if (IcmpMissing())                                                                        \
  GTEST_SKIP() << "no ICMP socket may be opened by this process (neither an ICMP datagram " \
                  "socket, see net.ipv4.ping_group_range, nor a raw socket)"

TEST_F(ComputerAgentTest, TwoProbesOfAnUnchangedAgentReportOneChange) {
  SKIP_WITHOUT_ICMP();
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionRunning);
  EXPECT_EQ(computer_.IsRunningStatusOk(), 1);
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 0);
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionRunning);
  EXPECT_EQ(StatusRequests(), 2);
}

TEST_F(ComputerAgentTest, UuidsCompareAsValuesNotAsText) {
  SKIP_WITHOUT_ICMP();
  std::string upper = kAgentUuid;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  computer_.SetUuid(upper.c_str());
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionRunning);
  // Another agent at the computer's address is not the computer's agent.
  computer_.SetUuid("5b0c1d2e-3f40-4a51-8b62-7c83d94ea5f7");
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionAgentNotRunning);
}

TEST_F(ComputerAgentTest, ComputersThatCannotBeProbedSendNothing) {
  struct Case {
    const char* what;
    const char* ip;  // null: the agent's address
    const char* uuid;
    bool approved;
  } cases[] = {
      {"not approved", nullptr, kAgentUuid, false},
      {"ip is a host name", "localhost", kAgentUuid, true},
      {"uuid is no uuid", nullptr, "agent-7", true},
      {"uuid in braces", nullptr, "{5b0c1d2e-3f40-4a51-8b62-7c83d94ea5f6}", true},
  };
  for (const Case& c : cases) {
    CDOComputer computer;
    computer.SetIp(c.ip != nullptr ? c.ip : FormatIpv4(address_).c_str());
    computer.SetUuid(c.uuid);
    computer.SetIsApproved(c.approved);
    computer.SetConnectionStatus(ConnectionPingFailed);
    EXPECT_EQ(computer.RefreshConnectionStatus(), 0) << c.what;
    EXPECT_EQ(computer.GetConnectionStatus(), ConnectionPingFailed) << c.what;
  }
  EXPECT_EQ(Connections(), 0u);
}

TEST_F(ComputerAgentTest, WithoutPingTheAgentIsNotAsked) {
  SetIcmpUsableForTesting(false);
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionPingFailed);
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 0);
  EXPECT_EQ(Connections(), 0u);
}

TEST_F(ComputerAgentTest, AddressWithoutAgentEndsNotRunningWithinTheConnectBound) {
  SKIP_WITHOUT_ICMP();
  const uint32_t silent = testing::ProbeFreeLoopback();
  ASSERT_NE(silent, 0u);
  computer_.SetIp(FormatIpv4(silent).c_str());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionAgentNotRunning);
}

TEST_F(ComputerAgentTest, ApprovalChangesReachTheAgent) {
  testing::FakeServer server;
  EXPECT_EQ(computer_.NotifyAgentConfigChange(), 1);
  EXPECT_EQ(Notifications(), 1);

  EXPECT_EQ(computer_.ApplyApprovedStatus(1), 1);  // already approved: nobody is told
  EXPECT_EQ(computer_.ApplyApprovedStatus(0), 1);
  EXPECT_EQ(Notifications(), 2);
  server.QueueAnswer("<document><return code=\"17\"/></document>");
  EXPECT_EQ(computer_.ApplyApprovedStatus(1), 0);  // the server refused: nobody is told
  EXPECT_EQ(Notifications(), 2);
  EXPECT_EQ(computer_.ApplyApprovedStatus(1), 1);
  EXPECT_EQ(Notifications(), 3);

  // The list form saves the approval only; the agents are not told.
  DataObjectList list{&computer_};
  EXPECT_EQ(computer_.ApplyApprovedStatus(&list, false), 1);
  EXPECT_EQ(Notifications(), 3);
  EXPECT_EQ(server.request_count(), 4u);
  EXPECT_EQ(StatusRequests(), 0);
}

TEST_F(ComputerAgentTest, ApprovalIsSavedWhenNoAgentAcknowledges) {
  const uint32_t silent = testing::ProbeFreeLoopback();
  ASSERT_NE(silent, 0u);
  computer_.SetIp(FormatIpv4(silent).c_str());
  EXPECT_EQ(computer_.NotifyAgentConfigChange(), 0);
  testing::FakeServer server;
  EXPECT_EQ(computer_.ApplyApprovedStatus(0), 1);
  EXPECT_FALSE(computer_.GetIsApproved());
  EXPECT_EQ(Connections(), 0u);
}

}  // namespace
}  // namespace docsec
