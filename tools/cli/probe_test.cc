#include "tools/cli/probe.h"

#include <gtest/gtest.h>

#include <map>

#include "docsec/computers/computer.h"
#include "tools/cli/demo_test_fixture.h"

namespace docsec::cli {
namespace {

using ProbeTest = testing::DemoTest;

TEST_F(ProbeTest, EveryComputerOfTheSubTreeGetsItsStatusInTreeOrder) {
  std::vector<CDOComputer*> computers = ComputersOfSubTree(tree_.get());
  ASSERT_EQ(computers.size(), 5u);
  std::vector<size_t> progress;
  ProbeOptions options;
  options.parallel = 4;
  options.progress = [&](const ProbeRow&, size_t done, size_t total) {
    EXPECT_EQ(total, 5u);
    progress.push_back(done);
  };
  ProbeReport report = ProbeComputers(computers, options);
  EXPECT_EQ(progress, (std::vector<size_t>{1, 2, 3, 4, 5}));
  std::map<std::string, std::string> status;
  for (const ProbeRow& row : report.rows) status[row.name] = row.status;
  // demo-pc-4 has no agent; demo-pc-5 is not approved, so it is not probed.
  EXPECT_EQ(status, (std::map<std::string, std::string>{{"demo-pc-1", "running"},
                                                        {"demo-pc-2", "running"},
                                                        {"demo-pc-3", "running"},
                                                        {"demo-pc-4", "agent not running"},
                                                        {"demo-pc-5", "not approved"}}));
  // Depth first: Platform, Storage, Network, Applications, North.
  for (size_t i = 0; i < report.rows.size(); ++i) {
    EXPECT_EQ(report.rows[i].name, "demo-pc-" + std::to_string(i + 1));
  }
  EXPECT_EQ(report.rows[0].address, environment_->agents()[0].address);
  EXPECT_EQ(computers[0]->GetConnectionStatus(), ConnectionRunning);

  // Only the sub-tree: Storage holds demo-pc-2 alone.
  ASSERT_EQ(ComputersOfSubTree(tree_->FindDepartmentById(9)).size(), 1u);
}

}  // namespace
}  // namespace docsec::cli
