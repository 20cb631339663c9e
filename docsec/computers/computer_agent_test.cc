// Computers against the reference agent, over real loopback TCP on an address of each test's own.
#include <gtest/gtest.h>

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
    address_ = agent::testing::StartTreeAgent(tree_, kAgentUuid, &agent_, &error);
    ASSERT_NE(address_, 0u) << error;
    computer_.SetIp(FormatIpv4(address_).c_str());
    computer_.SetUuid(kAgentUuid);
    computer_.SetIsApproved(true);
  }
  void TearDown() override { SetIcmpUsableForTesting(true); }

  int StatusRequests() const { return agent_->service()->status_requests(); }
  int Notifications() const { return agent_->service()->approve_notifications(); }

  agent::testing::ScratchTree tree_;
  std::unique_ptr<agent::ReferenceAgent> agent_;
  uint32_t address_ = 0;
  CDOComputer computer_;
};

TEST_F(ComputerAgentTest, ProbesReportChangesOnly) {
  if (!GetIcmpService().usable) GTEST_SKIP() << "no ICMP socket may be opened by this process";
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_EQ(computer_.IsRunningStatusOk(), 1);
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 0);
  EXPECT_EQ(StatusRequests(), 2);
  computer_.SetUuid("5B0C1D2E-3F40-4A51-8B62-7C83D94EA5F6");  // the same value
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 0);
  computer_.SetUuid("5b0c1d2e-3f40-4a51-8b62-7c83d94ea5f7");  // another agent's
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionAgentNotRunning);

  SetIcmpUsableForTesting(false);
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionPingFailed);
  EXPECT_EQ(StatusRequests(), 4);  // no ping, no question
}

TEST_F(ComputerAgentTest, ComputersThatCannotBeProbedSendNothing) {
  struct Case {
    const char* ip;  // null: the agent's address
    const char* uuid;
    bool approved;
  } cases[] = {
      {nullptr, kAgentUuid, false},
      {"localhost", kAgentUuid, true},
      {nullptr, "agent-7", true},
      {nullptr, "{5b0c1d2e-3f40-4a51-8b62-7c83d94ea5f6}", true},
  };
  for (const Case& c : cases) {
    CDOComputer computer;
    computer.SetIp(c.ip != nullptr ? c.ip : FormatIpv4(address_).c_str());
    computer.SetUuid(c.uuid);
    computer.SetIsApproved(c.approved);
    computer.SetConnectionStatus(ConnectionPingFailed);
    EXPECT_EQ(computer.RefreshConnectionStatus(), 0) << c.uuid;
    EXPECT_EQ(computer.GetConnectionStatus(), ConnectionPingFailed) << c.uuid;
  }
  EXPECT_EQ(agent_->stats().accepted, 0u);
}

TEST_F(ComputerAgentTest, AddressWithoutAgentEndsNotRunningWithinTheConnectBound) {
  const uint32_t silent = testing::ProbeFreeLoopback();
  ASSERT_NE(silent, 0u);
  computer_.SetIp(FormatIpv4(silent).c_str());
  EXPECT_EQ(computer_.NotifyAgentConfigChange(), 0);
  testing::FakeServer server;
  EXPECT_EQ(computer_.ApplyApprovedStatus(0), 1);  // saved, though no agent acknowledged
  computer_.SetIsApproved(true);
  if (!GetIcmpService().usable) GTEST_SKIP() << "no ICMP socket may be opened by this process";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(computer_.RefreshConnectionStatus(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(computer_.GetConnectionStatus(), ConnectionAgentNotRunning);
}

TEST_F(ComputerAgentTest, ApprovalChangesReachTheAgent) {
  testing::FakeServer server;
  EXPECT_EQ(computer_.NotifyAgentConfigChange(), 1);
  EXPECT_EQ(computer_.ApplyApprovedStatus(1), 1);  // already approved: nobody is told
  EXPECT_EQ(computer_.ApplyApprovedStatus(0), 1);
  EXPECT_EQ(Notifications(), 2);
  server.QueueAnswer("<document><return code=\"17\"/></document>");
  EXPECT_EQ(computer_.ApplyApprovedStatus(1), 0);  // refused by the server: nobody is told
  EXPECT_EQ(Notifications(), 2);
  DataObjectList list{&computer_};
  EXPECT_EQ(computer_.ApplyApprovedStatus(&list, true), 1);  // the list form tells no agent
  EXPECT_EQ(Notifications(), 2);
  EXPECT_EQ(server.request_count(), 3u);
}

}  // namespace
}  // namespace docsec
