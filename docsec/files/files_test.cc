// The remote-file classes on their own: identity, declarations, keys, the drive/folder type,
// paths, the file's authorizations and owner department against FakeServer, and the agent
// commands as a scripted agent receives them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "docsec/computers/computer.h"
#include "docsec/files/agent_file.h"
#include "docsec/files/agent_folder.h"
#include "docsec/org/department.h"
#include "docsec/platform/host.h"
#include "docsec/platform/ole_date_time.h"
#include "docsec/policy/auth_file_by_position.h"
#include "docsec/policy/auth_file_by_user.h"
#include "docsec/testing/class_checks.h"
#include "docsec/testing/fake_server.h"
#include "docsec/testing/scripted_agent.h"
#include "docsec/testing/trace_recorder.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;
using testing::FakeServer;

TEST(FilesClasses, AreWellFormed) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDOAgentFile>, kObjectTypeAgentFile, "AgentFile", "file"},
      {&ExpectWellFormedClass<CDOAgentFolder>, kObjectTypeDrive, "AgentFolder", "dir"},
  });
}

// A remote file is identified by GUID, path and department, a folder by its path alone; the
// server file keeps its own key, and the attributes keep their inherited order.
TEST(FilesClasses, KeysReplaceTheInheritedOnes) {
  CDOFile file;
  CDOAgentFile agent_file;
  CDOAgentFolder folder;
  EXPECT_EQ(DataObjectAccess::Schema(file).key_names(), NameList({"id"}));
  EXPECT_EQ(DataObjectAccess::Schema(agent_file).key_names(),
            NameList({"GUID", "path", "departmentId"}));
  EXPECT_EQ(DataObjectAccess::Schema(folder).key_names(), NameList({"path"}));
  EXPECT_EQ(DataObjectAccess::Schema(folder).attribute_names(),
            NameList({"id", "GUID", "createTime", "name", "size", "type", "modifytime", "encrypted",
                      "secretLevelId", "departmentId", "destSecretLevelId", "subfolder"}));
}

TEST(FilesClasses, FilesWithTheSameKeysAreEqualWhateverTheirNames) {
  CDOAgentFile a, b;
  for (CDOAgentFile* f : {&a, &b}) {
    f->SetUuid("g-1");
    f->SetFullPath("C:\\a.doc");
    f->SetDepartmentId("4");
  }
  a.SetName("a.doc");
  b.SetName("other");
  EXPECT_EQ(a.Equals(&b), 1);
  b.SetFullPath("C:\\b.doc");
  EXPECT_EQ(a.Equals(&b), 0);
}

TEST(AgentFolder, IsADriveWithoutParentPathAndAFolderInsideOne) {
  CDOComputer* no_computer = nullptr;
  CDOAgentFolder root(no_computer, "");
  CDOAgentFolder drive(&root, "C:");
  drive.SetFullPath("C:");
  CDOAgentFolder windows(&drive, "Windows");
  CDOAgentFolder by_path(no_computer, "C:\\Windows");
  EXPECT_EQ(root.GetObjectType(), kObjectTypeDrive);
  EXPECT_EQ(drive.GetObjectType(), kObjectTypeDrive);
  EXPECT_EQ(windows.GetObjectType(), kObjectTypeFolder);
  EXPECT_EQ(windows.GetParentFolder(), &drive);
  EXPECT_EQ(by_path.GetObjectType(), kObjectTypeFolder);
}

// ---- paths ----

TEST(AgentFile, PathJoinsParentPathAndNameWithinTheLimit) {
  const std::string long_parent(CDOAgentFile::kMaxPath, 'p');
  const std::string almost(CDOAgentFile::kMaxPath - 3, 'p');
  const struct {
    std::string parent, name, path;
  } cases[] = {
      {"", "C:", "C:"},
      {"C:", "Windows", "C:\\Windows"},
      {"C:\\", "Windows", "C:\\Windows"},
      {long_parent, "x", long_parent},
      {almost, "xyz", almost + "\\xy"},
      {almost, "\xE2\x82\xAC", almost + "\\"},  // never half a character
  };
  CDOComputer* no_computer = nullptr;
  for (const auto& c : cases) {
    CDOAgentFile file(no_computer, c.parent.c_str(), c.name.c_str());
    char path[1024] = "";
    file.GetFullPath(path, sizeof path);
    EXPECT_EQ(path, c.path) << c.parent.size() << " + " << c.name;
  }
}

// ---- file authorizations ----

constexpr char kAuthAnswer[] =
    "<document><return code=\"0\"/><file GUID=\"g-1\">"
    "<fileUserAuthorization fileGUID=\"g-1\" userId=\"ann\" permission=\"3\" userName=\"Ann\" "
    "departmentPath=\"HQ\"/>"
    "<fileUserAuthorization fileGUID=\"g-1\" userId=\"bob\" permission=\"0\"/>"
    "<filePositionAuthorization fileGUID=\"g-1\" positionId=\"5\" departmentId=\"2\" "
    "positionName=\"clerk\" permission=\"1\" departmentPath=\"HQ/IT\"/></file></document>";

class FileAuthorizationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    computer_.SetUuid("0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3");
    file_.SetUuid("g-1");
    file_.SetDepartmentId("4");
    file_.SetOwnerComputer(&computer_);
  }
  std::string Request(const std::string& body) const {
    return std::string(FakeServer::kProlog) + "<document>" + body + "</document>";
  }

  CDOComputer computer_;
  CDOAgentFile file_{static_cast<CDOComputer*>(nullptr), "C:\\docs", "a.doc"};
  FakeServer server_;
};

TEST_F(FileAuthorizationTest, QueryReplacesBothListsFromTheAnswer) {
  file_.GetAuthByUser();  // a local list the query discards
  server_.QueueAnswer(kAuthAnswer);
  ASSERT_EQ(file_.QueryAuthorization(), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"QueryFileAuthorization\"/>"
                    "<file GUID=\"g-1\" path=\"C:\\docs\\a.doc\" departmentId=\"4\"/>"));
  EXPECT_EQ(file_.GetAuthByUser()->GetSize(), 2);
  EXPECT_EQ(file_.GetAuthByPosition()->GetSize(), 1);
  EXPECT_EQ(file_.IsEmptyAuthorization(), 0);
  std::unique_ptr<DataObjectList> valid(file_.GetValidAuthByUser());
  ASSERT_NE(valid, nullptr);
  EXPECT_EQ(valid->GetSize(), 1);  // bob's entry grants nothing
}

TEST_F(FileAuthorizationTest, FailedQueryLeavesNoLists) {
  for (const char* answer : {"<document><return code=\"0\"/></document>",
                             "<document><return code=\"8\"/><file/></document>", ""}) {
    server_.QueueAnswer(kAuthAnswer);
    ASSERT_EQ(file_.QueryAuthorization(), 1);
    server_.QueueAnswer(answer);
    EXPECT_EQ(file_.QueryAuthorization(), 0) << answer;
    EXPECT_EQ(file_.GetValidAuthByUser(), nullptr) << answer;  // made anew, empty
    EXPECT_EQ(file_.GetValidAuthByPosition(), nullptr) << answer;
    EXPECT_EQ(file_.IsEmptyAuthorization(), 1);
  }
}

TEST_F(FileAuthorizationTest, ApplySendsTheValidEntriesUsersFirstAndBothEvenAfterAFailure) {
  server_.QueueAnswer(kAuthAnswer);
  ASSERT_EQ(file_.QueryAuthorization(), 1);
  server_.ClearRequests();
  server_.QueueAnswer("<document><return code=\"5\"/></document>");
  EXPECT_EQ(file_.ApplyAuthorization(), 0);
  const std::string key =
      "<file GUID=\"g-1\" path=\"C:\\docs\\a.doc\" departmentId=\"4\" "
      "computerUuid=\"0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3\">";
  std::vector<FakeServer::Request> requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].text,
            Request("<service value=\"SetFileUserAuthorization\"/>" + key +
                    "<fileUserAuthorization fileGUID=\"g-1\" userId=\"ann\" permission=\"3\"/>"
                    "</file>"));
  EXPECT_EQ(requests[1].text,
            Request("<service value=\"SetFilePositionAuthorization\"/>" + key +
                    "<filePositionAuthorization fileGUID=\"g-1\" positionId=\"5\" "
                    "departmentId=\"2\" positionName=\"clerk\" permission=\"1\" "
                    "departmentPath=\"HQ/IT\"/></file>"));
  EXPECT_EQ(file_.ApplyAuthorization(), 1);
}

TEST_F(FileAuthorizationTest, WithoutValidEntriesTheKeyElementGoesAlone) {
  server_.QueueAnswer(kAuthAnswer);
  ASSERT_EQ(file_.QueryAuthorization(), 1);
  for (CDataObject* entry : *file_.GetAuthByUser()) {
    static_cast<CDOAuthFileByUser*>(entry)->SetPermission(0);
  }
  std::unique_ptr<DataObjectList> valid(file_.GetValidAuthByUser());
  ASSERT_NE(valid, nullptr);
  EXPECT_TRUE(valid->empty());  // entries without permission: an empty list, not null
  file_.SetOwnerComputer(nullptr);
  server_.ClearRequests();
  EXPECT_EQ(file_.ApplyAuthorization(), 1);
  EXPECT_EQ(server_.requests().at(0).text,
            Request("<service value=\"SetFileUserAuthorization\"/>"
                    "<file GUID=\"g-1\" path=\"C:\\docs\\a.doc\" departmentId=\"4\"/>"));
}

TEST_F(FileAuthorizationTest, RolesAreGrantedAndRefusedByKind) {
  CDOUser user;
  user.SetId("ann");
  CDOPosition position;
  position.SetPositionName("clerk");
  position.SetDepartmentId(2);
  CDOComputer not_a_role;
  auto* by_user = static_cast<CDOAuthFileByUser*>(file_.GrantRole(&user, 3));
  ASSERT_NE(by_user, nullptr);
  EXPECT_EQ(file_.GrantUser(&user, 7), nullptr);  // one entry per user
  auto* by_position = static_cast<CDOAuthFileByPosition*>(file_.GrantRole(&position, 1));
  ASSERT_NE(by_position, nullptr);
  EXPECT_EQ(file_.GrantPosition(&position, 1), nullptr);
  EXPECT_EQ(file_.GrantRole(&not_a_role, 1), nullptr);
  EXPECT_EQ(file_.GrantRole(nullptr, 1), nullptr);
  EXPECT_EQ(file_.GrantUser(nullptr, 1), nullptr);
  EXPECT_EQ(file_.GetAuthByUser()->GetSize(), 1);
  EXPECT_EQ(server_.request_count(), 0u);

  CDOAuthFileByUser not_listed;
  EXPECT_EQ(file_.RefuseRole(&user), 0);  // a user is not an entry
  EXPECT_EQ(file_.RefuseRole(&not_listed), 0);
  EXPECT_EQ(file_.RefuseRole(by_user), 1);
  EXPECT_EQ(file_.RefuseRole(by_position), 1);
  EXPECT_EQ(file_.GetAuthByUser()->GetSize(), 0);
  EXPECT_EQ(file_.GetAuthByPosition()->GetSize(), 0);
}

// ---- owner department ----

TEST(AgentFile, OwnerDepartmentIsTheComputersForAPlainFileAndLookedUpForAnEncryptedOne) {
  FakeServer server;
  CDOComputer computer;
  CDODepartment computers_department;
  computer.SetOwnerDepartment(&computers_department);
  CDOAgentFile file(&computer, "C:", "a.doc");
  EXPECT_EQ(file.GetOwnerDepartment(), &computers_department);
  EXPECT_EQ(server.request_count(), 0u);

  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml("<file name=\"a.doc\" encrypted=\"true\" departmentId=\"4\"/>"));
  file.LoadFromXmlNode(doc.DocumentElement());
  server.QueueAnswer("<document><return code=\"0\"/></document>");  // none found
  EXPECT_EQ(file.GetOwnerDepartment(), nullptr);
  server.QueueAnswer(
      "<document><return code=\"0\"/><department id=\"4\" name=\"Sales\"/></document>");
  CDODepartment* found = file.GetOwnerDepartment();
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->GetId(), 4);
  EXPECT_EQ(file.GetOwnerDepartment(), found);  // kept: no third request
  EXPECT_EQ(server.request_count(), 2u);
  EXPECT_EQ(server.last_request(), std::string(FakeServer::kProlog) +
                                       "<document><service value=\"QueryDepartment\"/>"
                                       "<department id=\"4\"/></document>");
}

// ---- agent commands, as the agent receives them ----

class AgentCommandTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(agent_.ok()) << agent_.error();
    computer_.SetIp(FormatIpv4(agent_.address()).c_str());
  }
  std::string Command(const std::string& body) const {
    return "<?xml version=\"1.0\"?><document>" + body + "</document>";
  }
  testing::ScriptedAgent agent_;
  CDOComputer computer_;
};

TEST_F(AgentCommandTextTest, RootListsDrivesWithAnEmptyPath) {
  agent_.Script(testing::ScriptedAgent::Reply::kValid,
                "<document><retcode value=\"0\"/><dir><dir name=\"C:\" type=\"drive\"/>"
                "<file name=\"stray\"/></dir></document>");
  CDOAgentFolder* root = computer_.GetRootFolder();
  DataObjectList* drives = root->GetSubFolderAndFiles();
  EXPECT_EQ(agent_.seen().request_xml, Command("<service value=\"LocateFile\"/><dir path=\"\"/>"));
  ASSERT_EQ(drives->GetSize(), 2);
  EXPECT_EQ(drives->GetAt(0)->GetObjectType(), kObjectTypeDrive);
  CDOAgentFolder* c = root->GetChildFolder("c:");
  ASSERT_NE(c, nullptr);
  agent_.Script(testing::ScriptedAgent::Reply::kValid,
                "<document><retcode value=\"0\"/><dir><dir name=\"Windows\"/></dir></document>");
  CDOAgentFolder* windows = c->GetChildFolder("windows");
  ASSERT_NE(windows, nullptr);
  EXPECT_EQ(agent_.seen().request_xml,
            Command("<service value=\"LocateFile\"/><dir path=\"C:\"/>"));
  char path[64] = "";
  windows->GetFullPath(path, sizeof path);
  EXPECT_STREQ(path, "C:\\Windows");
}

TEST_F(AgentCommandTextTest, ListingCutShortByTheAgentIsTraced) {
  agent_.Script(testing::ScriptedAgent::Reply::kValid,
                "<document><retcode value=\"0\"/><dir truncated=\"true\"><file name=\"a\"/></dir>"
                "</document>");
  testing::TraceRecorder traces;
  CDOAgentFolder big(&computer_, "C:");
  big.SetName("big");
  big.RefreshFullPath();
  EXPECT_EQ(big.GetSubFolderAndFiles()->GetSize(), 1);
  EXPECT_TRUE(traces.Traced("remote files: the agent listed only part of C:\\big"));
}

TEST_F(AgentCommandTextTest, SearchSendsOnlyTheConditionsGiven) {
  CDOAgentFolder docs(&computer_, "C:");
  docs.SetName("docs");
  docs.RefreshFullPath();
  const double from = OleDateTime(2024, 1, 2, 3, 4, 5).Value();
  const struct {
    const char* pattern;
    int encrypted, subfolders, case_sensitive;
    double from, to;
    long size_from, size_to;
    const char* condition;
  } cases[] = {
      {nullptr, 0, 1, 0, 0, 0, 1024, 0,
       "<condition path=\"C:\\docs\" subfolder=\"true\" casesensitive=\"false\">"
       "<size from=\"1024\"/><modifytime/></condition>"},
      {"*.doc", 1, 0, 1, from, from + 1, 0, 99,
       "<condition path=\"C:\\docs\" name=\"*.doc\" encrypted=\"true\" subfolder=\"false\" "
       "casesensitive=\"true\"><size to=\"99\"/>"
       "<modifytime from=\"2024-01-02 03:04:05\" to=\"2024-01-03 03:04:05\"/></condition>"},
      {nullptr, 0, 0, 0, 0, 0, 0, 0,
       "<condition path=\"C:\\docs\" subfolder=\"false\" casesensitive=\"false\">"
       "<size/><modifytime/></condition>"},
  };
  // A reply without a folder element: an empty result, not a failure.
  agent_.Script(testing::ScriptedAgent::Reply::kValid,
                "<document><retcode value=\"0\"/></document>");
  for (const auto& c : cases) {
    std::unique_ptr<DataObjectList> found(docs.SearchFiles(c.pattern, c.encrypted, c.subfolders,
                                                           c.case_sensitive, c.from, c.to,
                                                           c.size_from, c.size_to));
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(found->empty());
    EXPECT_EQ(
        agent_.seen().request_xml,
        Command("<service value=\"QueryFile\"/><dir name=\"docs\"/>" + std::string(c.condition)));
  }
}

TEST_F(AgentCommandTextTest, EncryptFolderSendsTheFolderAloneInItsParent) {
  agent_.Script(testing::ScriptedAgent::Reply::kValid,
                "<document><retcode value=\"0\"/><dir path=\"C:\"><dir name=\"docs\"/></dir>"
                "</document>");
  CDOAgentFolder drive(&computer_, "");
  drive.SetName("C:");
  drive.RefreshFullPath();
  CDOAgentFolder docs(&drive, nullptr);
  docs.SetName("docs");
  docs.RefreshFullPath();
  EXPECT_EQ(drive.EncryptFolder(&docs, 1), 1);
  // No user is logged in here, so the change the agent made has no one to sign its log entry.
  EXPECT_EQ(drive.GetLastOperationResult(), FileOperationResult::kNotRecorded);
  EXPECT_EQ(agent_.seen().request_xml, Command("<service value=\"EncryptFile\"/><dir path=\"C:\">"
                                               "<dir name=\"docs\" subfolder=\"true\"/></dir>"));
}

}  // namespace
}  // namespace docsec
