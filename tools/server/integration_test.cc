// The library's own classes against the embedded reference server and the demo organisation:
// what a console does, end to end, with nothing scripted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "docsec/channel/last_error.h"
#include "docsec/computers/computer.h"
#include "docsec/logs/drm_log.h"
#include "docsec/org/department.h"
#include "docsec/policy/application.h"
#include "docsec/policy/auth_level_by_user.h"
#include "docsec/policy/dept_def_app_secret_level.h"
#include "docsec/policy/policy.h"
#include "docsec/policy/secret_level.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"
#include "tools/server/result_codes.h"
#include "tools/server/server_test_util.h"

namespace docsec::server {
namespace {

std::string Text(int (CDODepartment::*getter)(char*, unsigned long), CDODepartment* object) {
  char buffer[520] = {};
  (object->*getter)(buffer, sizeof buffer);
  return buffer;
}

class IntegrationTest : public testing::DemoServerTest {
 protected:
  void SetUp() override {
    DemoServerTest::SetUp();
    CDOUser login;
    user_.reset(login.LoginEx("admin", "demo-admin", 0));
    ASSERT_NE(user_, nullptr);
    root_.reset(user_->GetAdminedRootDeptpartment());
    ASSERT_NE(root_, nullptr);
  }
  void TearDown() override {
    root_.reset();
    user_.reset();
    CDOSecretLevel::ReleaseAllInstance();
    CDOApplication::ReleaseAllInstance();
    DemoServerTest::TearDown();
  }

  // A freshly loaded copy of department `id` with everything below it.
  std::unique_ptr<CDODepartment> Reload(long id) {
    auto department = std::make_unique<CDODepartment>();
    department->SetId(id);
    if (!department->RefreshSubObjects(1, 1, 1, 1, 0)) return nullptr;
    return department;
  }

  std::unique_ptr<CDOUser> user_;
  std::unique_ptr<CDODepartment> root_;
};

TEST_F(IntegrationTest, LoginLoadsTheWholeAdministeredTree) {
  ASSERT_NE(root_->GetSubDepartments(), nullptr);
  EXPECT_EQ(root_->GetSubDepartments()->size(), 3u);
  CDODepartment* storage = root_->FindDepartmentById(9);
  ASSERT_NE(storage, nullptr);
  char path[520] = {};
  storage->GetFullPath(path, sizeof path);
  EXPECT_STREQ(path, "Demo Corp/Engineering/Platform/Storage");
  CDOComputer* computer = root_->FindComputerByUuid("6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E52");
  ASSERT_NE(computer, nullptr);
  EXPECT_EQ(computer->GetOwnerDepartment(), storage);

  // A scoped administrator gets its own sub-tree only.
  CDOUser login;
  std::unique_ptr<CDOUser> engineer(login.LoginEx("eng.admin", "demo-eng", 0));
  ASSERT_NE(engineer, nullptr);
  std::unique_ptr<CDODepartment> engineering(engineer->GetAdminedRootDeptpartment());
  ASSERT_NE(engineering, nullptr);
  EXPECT_EQ(Text(&CDODepartment::GetName, engineering.get()), "Engineering");
  EXPECT_EQ(engineering->FindDepartmentById(4), nullptr);
}

TEST_F(IntegrationTest, DepartmentsUsersAndComputersAreAddedMovedAndDeleted) {
  CDODepartment* applications = root_->FindDepartmentById(6);
  CDODepartment* sales = root_->FindDepartmentById(4);
  auto* lab = new CDODepartment();
  lab->SetName("Lab");
  ASSERT_EQ(applications->AddSubDepartment(lab), 1);
  long lab_id = lab->GetId();
  EXPECT_GT(lab_id, 10);

  auto* tester = new CDOUser();
  tester->SetId("tester");
  tester->SetName("Tess Ter");
  tester->SetPassword("pw-tester");
  ASSERT_EQ(lab->AddUser(tester), 1);
  auto* pc = new CDOComputer();
  pc->SetUuid("0a0b0c0d-0000-4000-8000-00000000abcd");
  pc->SetIp("127.0.0.77");
  pc->SetName("lab-pc");
  ASSERT_EQ(lab->AddComputer(pc), 1);

  ASSERT_EQ(lab->ChangeDepartment(sales), 1);
  ASSERT_EQ(pc->ChangeDepartment(applications), 1);
  std::unique_ptr<CDODepartment> reloaded = Reload(4);
  ASSERT_NE(reloaded, nullptr);
  CDODepartment* moved = reloaded->FindDepartmentById(lab_id);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(Text(&CDODepartment::GetSuperDepartmentPath, moved), "Demo Corp/Sales");
  EXPECT_EQ(moved->GetComputers()->size(), 0u);
  EXPECT_EQ(moved->GetUsers()->size(), 1u);

  // Not empty yet: the server refuses and the local tree keeps the department.
  EXPECT_EQ(sales->RemoveSubDepartment(lab), 0);
  EXPECT_EQ(GetLastDrmError(), static_cast<unsigned long>(kConflict));
  ASSERT_EQ(lab->RemoveUser(tester), 1);
  ASSERT_EQ(sales->RemoveSubDepartment(lab), 1);
  EXPECT_EQ(Reload(4)->FindDepartmentById(lab_id), nullptr);
  ASSERT_EQ(applications->RemoveComputer(pc), 1);
}

TEST_F(IntegrationTest, ABatchThatFailsHalfwayChangesNothing) {
  CDOUser first;
  first.SetId("first-of-two");
  first.SetDepartmentId(5);
  CDOUser duplicate;
  duplicate.SetId("bob");
  duplicate.SetDepartmentId(5);
  DataObjectList batch{&first, &duplicate};
  EXPECT_EQ(CDOUser::GetClassInstance()->BatchAdd(&batch), 0);
  EXPECT_EQ(GetLastDrmError(), static_cast<unsigned long>(kAlreadyExists));
  ValueMap conditions;
  conditions.Set("id", Variant("first-of-two"));
  DataObjectList* found = CDOUser::GetClassInstance()->Lookup(&conditions);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->size(), 0u);
  DestructElements(found, 0);
  delete found;
}

TEST_F(IntegrationTest, AppointmentsAreAppliedFromBothSides) {
  CDODepartment* platform = root_->FindDepartmentById(5);
  CDOPosition* engineer = nullptr;
  for (CDataObject* object : *platform->GetPositons()) {
    auto* position = static_cast<CDOPosition*>(object);
    char name[64] = {};
    position->GetPositionName(name, sizeof name);
    if (std::string(name) == "Engineer") engineer = position;
  }
  ASSERT_NE(engineer, nullptr);
  CDOUser* bob = nullptr;
  for (CDataObject* object : *platform->GetUsers()) {
    char id[64] = {};
    static_cast<CDOUser*>(object)->GetId(id, sizeof id);
    if (std::string(id) == "bob") bob = static_cast<CDOUser*>(object);
  }
  ASSERT_NE(bob, nullptr);

  ASSERT_NE(engineer->GetAppointments(), nullptr);  // carol, from the demo
  ASSERT_NE(engineer->AppointUser(bob), nullptr);
  ASSERT_EQ(engineer->ApplyAppointments(), 1);
  DataObjectList* positions = bob->GetAppointments();
  ASSERT_NE(positions, nullptr);
  std::set<long> ids;
  for (CDataObject* object : *positions)
    ids.insert(static_cast<CDOPosition*>(object)->GetPositionId());
  EXPECT_EQ(ids, (std::set<long>{3, 4}));

  // From the user's side: drop the lead position, keep Engineer.
  for (CDataObject* object : *positions) {
    auto* position = static_cast<CDOPosition*>(object);
    if (position->GetPositionId() == 3) {
      ASSERT_EQ(bob->RevokePosition(position), 1);
      break;
    }
  }
  ASSERT_EQ(bob->ApplyAppointments(), 1);
  DataObjectList* users = engineer->GetAppointments();
  ASSERT_NE(users, nullptr);
  EXPECT_EQ(users->size(), 2u);  // carol and bob
  ASSERT_EQ(bob->GetAppointments()->size(), 1u);
}

TEST_F(IntegrationTest, PoliciesAndDefaultLevelsAreGrantedAndApplied) {
  CDODepartment* applications = root_->FindDepartmentById(6);
  CDODepartment* platform = root_->FindDepartmentById(5);
  CDOUser* bob = static_cast<CDOUser*>(platform->GetUsers()->GetAt(0));
  ASSERT_EQ(applications->RefreshPolicies(), 1);
  CDOSecretLevel* confidential = CDOSecretLevel::GetInstanceById(3);
  ASSERT_FALSE(confidential->IsNull());
  CDOPolicy* policy = applications->GetPolicy(confidential);
  ASSERT_NE(policy, nullptr);
  ASSERT_NE(policy->GrantUser(bob, 7), nullptr);
  ASSERT_EQ(applications->ApplyPolicy(), 1);

  CDOApplication* word = CDOApplication::GetInstanceByName("winword.exe");
  ASSERT_NE(word, nullptr);
  ASSERT_NE(applications->GetDefaultAppSecretLevel(), nullptr);
  ASSERT_NE(applications->GrantApplication(word, CDOSecretLevel::GetDefaultInstance()), nullptr);
  ASSERT_EQ(applications->ApplyApplicationSecretLevel(), 1);

  std::unique_ptr<CDODepartment> again = Reload(6);
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(again->RefreshPolicies(), 1);
  CDOPolicy* stored = again->GetPolicy(confidential);
  ASSERT_NE(stored, nullptr);
  ASSERT_EQ(stored->GetAuthByUser()->size(), 1u);
  EXPECT_EQ(static_cast<CDOAuthLevelByUser*>(stored->GetAuthByUser()->GetAt(0))->GetPermission(),
            7);
  DataObjectList* levels = again->GetDefaultAppSecretLevel();
  ASSERT_NE(levels, nullptr);
  ASSERT_EQ(levels->size(), 1u);
  auto* level = static_cast<CDODeptDefAppSecretLevel*>(levels->GetAt(0));
  EXPECT_EQ(level->GetSecretLevelId(), 5);
  EXPECT_EQ(level->GetApplication(), word);
}

TEST_F(IntegrationTest, LogsAreUploadedAndPagedCompletely) {
  CDOComputer* computer = root_->FindComputerByUuid("6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e51");
  ASSERT_NE(computer, nullptr);
  CDODrmLog record;
  record.SetUid("admin");
  record.SetOperationType("1536");
  record.SetOperation("1552");
  record.SetOperationTime("2024-04-02 08:00:00");
  record.SetSrcFile("C:\\uploaded.docx");
  ASSERT_EQ(record.UpdateLogs(computer), 1);

  std::string order = "asc", order_by = "operationTime", empty, page_sum = "64";
  OleDateTime any(0, 0, 0, 0, 0, 0);  // invalid: no bound
  std::set<std::string> seen;
  int total = -1;
  for (int page = 1; page < 20; ++page) {
    std::string page_num = std::to_string(page);
    int count = -1;
    DataObjectList* logs = CDODrmLog::GetClassInstance()->SerachDB(
        &order, &order_by, &empty, &empty, any, any, &empty, &empty, &empty, &empty, 0, &empty,
        &empty, 0, &empty, &empty, &empty, &empty, &empty, &empty, any, any, &page_num, &page_sum,
        count, 0);
    ASSERT_NE(logs, nullptr);
    total = count;
    size_t size = logs->size();
    for (CDataObject* object : *logs) {
      char file[260] = {}, when[64] = {};
      static_cast<CDODrmLog*>(object)->GetSrcFile(file, sizeof file);
      static_cast<CDODrmLog*>(object)->GetOperationTime(when, sizeof when);
      EXPECT_TRUE(seen.insert(std::string(file) + when).second) << file;
    }
    DestructElements(logs, 0);
    delete logs;
    if (size == 0) break;
  }
  EXPECT_EQ(total, 301);
  EXPECT_EQ(seen.size(), 301u);
  EXPECT_EQ(seen.count(std::string("C:\\uploaded.docx") + "2024-04-02 08:00:00"), 1u);
}

TEST(IntegrationRestart, StatePersistsOnAFileDatabase) {
  std::string path =
      ::testing::TempDir() + "/docsec-integration-" + std::to_string(getpid()) + ".db";
  std::remove(path.c_str());
  ServerOptions options = testing::FastOptions();
  options.database = path;
  long kept_id = 0;
  {
    std::string error;
    auto embedded = Embedded::Start(options, &error);
    ASSERT_NE(embedded, nullptr) << error;
    CDOUser login;
    std::unique_ptr<CDOUser> admin(login.LoginEx("admin", "first-admin", 0));
    ASSERT_NE(admin, nullptr);
    std::unique_ptr<CDODepartment> top(admin->GetAdminedRootDeptpartment());
    ASSERT_NE(top, nullptr);
    auto* kept = new CDODepartment();
    kept->SetName("Kept");
    ASSERT_EQ(top->AddSubDepartment(kept), 1);
    kept_id = kept->GetId();
  }
  std::string error;
  auto embedded = Embedded::Start(options, &error);
  ASSERT_NE(embedded, nullptr) << error;
  CDOUser login;
  std::unique_ptr<CDOUser> admin(login.LoginEx("admin", "first-admin", 0));
  ASSERT_NE(admin, nullptr);
  std::unique_ptr<CDODepartment> top(admin->GetAdminedRootDeptpartment());
  ASSERT_NE(top, nullptr);
  CDODepartment* kept = top->FindDepartmentById(kept_id);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(Text(&CDODepartment::GetName, kept), "Kept");
  embedded.reset();
  std::remove(path.c_str());
  std::remove((path + "-wal").c_str());
  std::remove((path + "-shm").c_str());
}

}  // namespace
}  // namespace docsec::server
