#include "tools/cli/explain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "docsec/computers/computer.h"
#include "docsec/files/agent_folder.h"
#include "docsec/policy/policy.h"
#include "docsec/users/position.h"
#include "tools/cli/demo_test_fixture.h"

namespace docsec::cli {
namespace {

// "Platform Lead 7" for a grant through a position, "user 3" for a direct one.
std::string Who(const Grant& grant) {
  return (grant.through == Grant::Through::kUser ? std::string("user") : grant.position_name) +
         " " + std::to_string(grant.permission);
}

// One line per level: "L2=15 [user 8, Platform Lead 7]".
std::vector<std::string> Levels(const Explanation& e) {
  std::vector<std::string> lines;
  for (const LevelRights& level : e.levels) {
    std::string line =
        "L" + std::to_string(level.level_id) + "=" + std::to_string(level.permission) + " [";
    for (size_t i = 0; i < level.grants.size(); ++i) {
      line += (i ? ", " : "") + Who(level.grants[i]);
    }
    lines.push_back(line + "]");
  }
  return lines;
}

std::vector<std::string> NotInherited(const Explanation& e) {
  std::vector<std::string> lines;
  for (const Grant& grant : e.not_inherited) {
    lines.push_back(grant.department_path + " L" + std::to_string(grant.level_id) + " " +
                    Who(grant));
  }
  return lines;
}

using ExplainTest = testing::DemoTest;

// Derived by hand from the demo organisation: policies Engineering/L3 (Head of Engineering 15,
// bob 3), Sales/L4 (dave 1), Platform/L2 (Platform Lead 7, carol 1); bob holds Platform Lead,
// carol Engineer, eng.admin Head of Engineering, dave Account Manager, grace Chief Executive.
TEST_F(ExplainTest, DepartmentRightsComeFromItsOwnPoliciesOnly) {
  struct Case {
    const char* user;
    long department;
    std::vector<std::string> levels;
    std::vector<std::string> not_inherited;
  };
  const Case cases[] = {
      {"bob", 3, {"L3=3 [user 3]"}, {}},
      {"bob", 5, {"L2=7 [Platform Lead 7]"}, {"Demo Corp/Engineering L3 user 3"}},
      {"carol", 5, {"L2=1 [user 1]"}, {}},  // Engineer is granted nothing
      {"carol", 9, {}, {"Demo Corp/Engineering/Platform L2 user 1"}},
      {"eng.admin", 3, {"L3=15 [Head of Engineering 15]"}, {}},
      {"eng.admin", 9, {}, {"Demo Corp/Engineering L3 Head of Engineering 15"}},
      {"dave", 4, {"L4=1 [user 1]"}, {}},
      {"dave", 7, {}, {"Demo Corp/Sales L4 user 1"}},
      {"grace", 3, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.user) + " in " + std::to_string(c.department));
    CDOUser* user = FindUserInTree(tree_.get(), c.user);
    ASSERT_NE(user, nullptr);
    CDODepartment* department = tree_->FindDepartmentById(c.department);
    ASSERT_NE(department, nullptr);
    Explanation e;
    std::string error;
    ASSERT_TRUE(ExplainDepartment(user, department, &e, &error)) << error;
    EXPECT_EQ(Levels(e), c.levels);
    EXPECT_EQ(NotInherited(e), c.not_inherited);
  }
}

TEST_F(ExplainTest, GrantsToTheUserAndToItsPositionAddUp) {
  CDODepartment* platform = tree_->FindDepartmentById(5);
  CDOUser* bob = FindUserInTree(tree_.get(), "bob");
  ASSERT_NE(bob, nullptr);
  ASSERT_EQ(platform->RefreshPolicies(), 1);
  CDOPolicy* secret = platform->GetPolicy(CDOSecretLevel::GetInstanceById(2));
  ASSERT_NE(secret->GrantUser(bob, 8), nullptr);
  ASSERT_EQ(platform->ApplyPolicy(), 1);

  Explanation e;
  std::string error;
  ASSERT_TRUE(ExplainDepartment(bob, platform, &e, &error)) << error;
  EXPECT_EQ(Levels(e), std::vector<std::string>{"L2=15 [user 8, Platform Lead 7]"});
  ASSERT_EQ(e.positions.size(), 1u);
  EXPECT_EQ(e.positions[0].department_path, "Demo Corp/Engineering/Platform");
  EXPECT_EQ(e.levels[0].level_name, "Secret");
}

// An encrypted file is governed by the department recorded in it, not by its computer's; its own
// authorizations add to that department's grants at the file's level.
TEST_F(ExplainTest, FileRightsJoinTheGoverningPolicyAndTheFilesOwnList) {
  CDOComputer* pc = tree_->FindComputerByUuid(environment_->agents()[0].uuid.c_str());
  ASSERT_NE(pc, nullptr);  // in Platform
  std::string error;
  CDOAgentFile* plan = FindRemoteFile(pc, "C:/Projects/plan.txt", &error);
  ASSERT_NE(plan, nullptr) << error;
  plan->SetDestSecretLevelId(3);
  plan->SetDepartmentId("3");
  DataObjectList items{plan};
  ASSERT_NE(plan->GetParentFolder()->EncryptFiles(&items, 0), 0);
  CDOPosition* lead = nullptr;
  for (CDataObject* object : *tree_->FindDepartmentById(5)->GetPositons()) {
    if (static_cast<CDOPosition*>(object)->GetPositionId() == 3) {
      lead = static_cast<CDOPosition*>(object);
    }
  }
  ASSERT_NE(lead, nullptr);
  ASSERT_NE(plan->GrantPosition(lead, 16), nullptr);
  ASSERT_NE(plan->ApplyAuthorization(), 0);

  CDOUser* bob = FindUserInTree(tree_.get(), "bob");
  Explanation e;
  ASSERT_TRUE(ExplainFile(bob, plan, tree_.get(), &e, &error)) << error;
  EXPECT_TRUE(e.file.encrypted);
  EXPECT_EQ(e.file.level_id, 3);
  EXPECT_EQ(e.file.department_path, "Demo Corp/Engineering");
  ASSERT_EQ(e.file.file_grants.size(), 1u);
  EXPECT_EQ(Who(e.file.file_grants[0]), "Platform Lead 16");
  EXPECT_EQ(e.file.permission, 3 | 16);

  // A plain file: its computer's department, and no level for a policy to govern.
  CDOAgentFile* budget = FindRemoteFile(pc, "C:\\Projects\\budget.csv", &error);
  ASSERT_NE(budget, nullptr) << error;
  ASSERT_TRUE(ExplainFile(bob, budget, tree_.get(), &e, &error)) << error;
  EXPECT_FALSE(e.file.encrypted);
  EXPECT_EQ(e.file.level_id, -1);
  EXPECT_EQ(e.file.department_path, "Demo Corp/Engineering/Platform");
  EXPECT_EQ(e.file.permission, 0);
  EXPECT_EQ(Levels(e), std::vector<std::string>{"L2=7 [Platform Lead 7]"});

  EXPECT_EQ(FindRemoteFile(pc, "C:\\Projects\\missing.txt", &error), nullptr);
  EXPECT_EQ(FindRemoteFile(pc, "plan.txt", &error), nullptr);
}

}  // namespace
}  // namespace docsec::cli
