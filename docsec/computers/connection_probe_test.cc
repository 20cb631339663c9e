// Many computers probed together against the reference agent and other loopback peers: the
// statuses and causes are those of one probe at a time, whatever the bound on sockets.
#include "docsec/computers/connection_probe.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "docsec/computers/computer.h"
#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"
#include "docsec/testing/free_loopback.h"
#include "tools/agent/agent_test_util.h"
#include "tools/agent/reference_agent.h"

namespace docsec {
namespace {

constexpr char kAgentUuid[] = "6c1d2e3f-4051-4a62-8c73-8d94ea5fb607";
constexpr char kOtherUuid[] = "6c1d2e3f-4051-4a62-8c73-8d94ea5fb608";

class ConnectionProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree_.Dir("c"));
    std::string error;
    agent_address_ = agent::testing::StartTreeAgent(tree_, kAgentUuid, &agent_, &error);
    ASSERT_NE(agent_address_, 0u) << error;
    // A black hole: a listener whose queue of length 0 is filled, so later connections get no
    // answer and wait out the bound.
    hole_address_ = testing::StartOnFreeLoopback(
        [&](uint32_t address) { return hole_.Listen(address, AgentPort, 0, nullptr); });
    ASSERT_NE(hole_address_, 0u);
    ASSERT_TRUE(queued_.Connect(hole_address_, AgentPort, 1000));
    silent_address_ = testing::ProbeFreeLoopback();
    ASSERT_NE(silent_address_, 0u);
    // The bound shrinks with the test cap, so the black hole costs a fraction of a second.
    saved_cap_ = SocketTimeoutCapForTesting();
    SetSocketTimeoutCapForTesting(300);
  }
  void TearDown() override {
    SetSocketTimeoutCapForTesting(saved_cap_);
    SetIcmpUsableForTesting(true);
  }

  std::unique_ptr<CDOComputer> Computer(uint32_t address, const char* uuid, bool approved) {
    auto computer = std::make_unique<CDOComputer>();
    computer->SetIp(FormatIpv4(address).c_str());
    computer->SetUuid(uuid);
    computer->SetIsApproved(approved);
    computer->SetConnectionStatus(ConnectionPingFailed);
    return computer;
  }

  agent::testing::ScratchTree tree_;
  std::unique_ptr<agent::ReferenceAgent> agent_;
  TcpListener hole_;
  TcpSocket queued_;
  uint32_t agent_address_ = 0, hole_address_ = 0, silent_address_ = 0;
  int saved_cap_ = 0;
};

TEST_F(ConnectionProbeTest, MixedFleetGetsTheStatusesOfSingleProbes) {
  if (!GetIcmpService().usable) GTEST_SKIP() << "no ICMP socket may be opened by this process";
  struct Case {
    uint32_t address;
    const char* uuid;
    bool approved;
    bool probed;
    CEnumComputerConnectionStatus status;
    const char* cause;  // part of the cause
  } cases[] = {
      {agent_address_, kAgentUuid, true, true, ConnectionRunning, ""},
      {agent_address_, kOtherUuid, true, true, ConnectionAgentNotRunning, "another computer"},
      {silent_address_, kAgentUuid, true, true, ConnectionAgentNotRunning, "refused"},
      {hole_address_, kAgentUuid, true, true, ConnectionAgentNotRunning, "did not accept"},
      {agent_address_, kAgentUuid, false, false, ConnectionPingFailed, ""},
      {agent_address_, "agent-7", true, false, ConnectionPingFailed, ""},
  };
  // One socket at a time and several at once give the same answers.
  for (size_t in_flight : {size_t{1}, size_t{64}}) {
    std::vector<std::unique_ptr<CDOComputer>> owned;
    std::vector<CDOComputer*> computers;
    for (const Case& c : cases) {
      owned.push_back(Computer(c.address, c.uuid, c.approved));
      computers.push_back(owned.back().get());
    }
    computers.push_back(nullptr);
    ConnectionProbeOptions options;
    options.in_flight = in_flight;
    options.workers = 2;
    std::vector<size_t> done;
    options.done = [&](size_t index) { done.push_back(index); };
    const ConnectionProbeReport report = RefreshConnectionStatuses(computers, options);
    ASSERT_EQ(report.results.size(), computers.size());
    EXPECT_EQ(report.in_flight, in_flight);
    EXPECT_FALSE(report.results.back().probed);
    EXPECT_EQ(done.size(), 4u);
    for (size_t i = 0; i < std::size(cases); ++i) {
      const Case& c = cases[i];
      const ConnectionProbeResult& result = report.results[i];
      SCOPED_TRACE(std::to_string(i) + " with " + std::to_string(in_flight) + " at once");
      EXPECT_EQ(result.probed, c.probed);
      EXPECT_EQ(computers[i]->GetConnectionStatus(), c.status);
      if (c.probed) {
        EXPECT_EQ(result.status, c.status);
      }
      EXPECT_NE(result.cause.find(c.cause), std::string::npos) << result.cause;
      // The single probe of the same computer agrees.
      owned[i]->SetConnectionStatus(ConnectionPingFailed);
      owned[i]->RefreshConnectionStatus();
      EXPECT_EQ(owned[i]->GetConnectionStatus(), c.status);
    }
  }
}

// A peer that takes connections and never answers holds a worker only for the status question's
// own bound, not for the exchange deadline of folder operations (minutes).
TEST_F(ConnectionProbeTest, APeerThatNeverAnswersIsNotRunningAfterTheStatusBound) {
  if (!GetIcmpService().usable) GTEST_SKIP() << "no ICMP socket may be opened by this process";
  TcpListener mute;  // listens, never accepts: connections complete in its queue
  const uint32_t mute_address = testing::StartOnFreeLoopback(
      [&](uint32_t address) { return mute.Listen(address, AgentPort, 8, nullptr); });
  ASSERT_NE(mute_address, 0u);
  SetSocketTimeoutCapForTesting(0);
  std::unique_ptr<CDOComputer> computer = Computer(mute_address, kAgentUuid, true);
  ConnectionProbeOptions options;
  options.answer_ms = 300;
  const ConnectionProbeReport report = RefreshConnectionStatuses({computer.get()}, options);
  EXPECT_EQ(computer->GetConnectionStatus(), ConnectionAgentNotRunning);
  EXPECT_NE(report.results[0].cause.find("sent no reply within 300 ms"), std::string::npos)
      << report.results[0].cause;
  EXPECT_LT(report.results[0].seconds, 30.0);
}

TEST_F(ConnectionProbeTest, WithoutPingNoAgentIsAsked) {
  SetIcmpUsableForTesting(false);
  std::vector<std::unique_ptr<CDOComputer>> owned;
  owned.push_back(Computer(agent_address_, kAgentUuid, true));
  owned.push_back(Computer(silent_address_, kAgentUuid, true));
  std::vector<CDOComputer*> computers = {owned[0].get(), owned[1].get()};
  for (CDOComputer* computer : computers) computer->SetConnectionStatus(ConnectionRunning);
  const ConnectionProbeReport report = RefreshConnectionStatuses(computers, {});
  for (size_t i = 0; i < computers.size(); ++i) {
    EXPECT_EQ(computers[i]->GetConnectionStatus(), ConnectionPingFailed);
    EXPECT_NE(report.results[i].cause.find("does not answer ping"), std::string::npos);
  }
  EXPECT_EQ(agent_->stats().accepted, 0u);
}

}  // namespace
}  // namespace docsec
