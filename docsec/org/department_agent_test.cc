// Finding an online computer of a department tree, probing a real reference agent on a loopback
// address of the test's own.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "docsec/computers/computer.h"
#include "docsec/org/department.h"
#include "docsec/platform/host.h"
#include "docsec/testing/free_loopback.h"
#include "tools/agent/agent_test_util.h"
#include "tools/agent/reference_agent.h"

namespace docsec {
namespace {

constexpr char kAgentUuid[] = "5b0c1d2e-3f40-4a51-8b62-7c83d94ea5f6";

TEST(DepartmentAgent, FindOnlineComputerProbesAndPassesOverAnotherAgentsComputer) {
  if (!GetIcmpService().usable) GTEST_SKIP() << "no ICMP socket may be opened by this process";
  agent::testing::ScratchTree tree;
  ASSERT_TRUE(tree.Dir("c"));
  std::unique_ptr<agent::ReferenceAgent> agent;
  std::string error;
  const uint32_t address = testing::StartOnFreeLoopback([&](uint32_t candidate) {
    agent::ReferenceAgentOptions options;
    options.listen_address = FormatIpv4(candidate);
    options.drives = {{"C:", tree.At("c")}};
    options.uuid = kAgentUuid;
    options.state_dir = tree.At("state");
    agent = std::make_unique<agent::ReferenceAgent>(options);
    return agent->Start(&error);
  });
  ASSERT_NE(address, 0u) << error;
  const std::string ip = FormatIpv4(address);
  // Two computers claim the agent's address; only the second carries its identity.
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml("<department><computer name='pc' isApproved='true' ip='" + ip +
                          "' uuid='5b0c1d2e-3f40-4a51-8b62-7c83d94ea5f7'/><department>"
                          "<computer name='pc' isApproved='true' ip='" +
                          ip + "' uuid='" + kAgentUuid + "'/></department></department>"));
  CDODepartment root;
  ASSERT_EQ(root.LoadFromXmlNode(doc.DocumentElement()), 1);
  auto* impostor = static_cast<CDOComputer*>(root.GetComputers()->GetAt(0));
  auto* real = static_cast<CDOComputer*>(
      static_cast<CDODepartment*>(root.GetSubDepartments()->GetAt(0))->GetComputers()->GetAt(0));

  EXPECT_EQ(root.FindOnlineComputer(real->GetIpV4()), real);
  EXPECT_EQ(impostor->GetConnectionStatus(), ConnectionAgentNotRunning);
  EXPECT_EQ(real->GetConnectionStatus(), ConnectionRunning);
  EXPECT_EQ(agent->service()->status_requests(), 2);
  // Known now: no probe goes out again.
  EXPECT_EQ(root.FindOnlineComputer("pc"), real);
  EXPECT_EQ(agent->service()->status_requests(), 2);
}

}  // namespace
}  // namespace docsec
