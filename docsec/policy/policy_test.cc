// The policy folder's classes: identity, declarations, and the comparison rules they rely on.
#include "docsec/policy/policy.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "docsec/channel/outcome.h"
#include "docsec/org/department.h"
#include "docsec/platform/xml.h"
#include "docsec/policy/application.h"
#include "docsec/policy/auth_file_by_position.h"
#include "docsec/policy/auth_file_by_user.h"
#include "docsec/policy/auth_level_by_position.h"
#include "docsec/policy/auth_level_by_user.h"
#include "docsec/policy/dept_def_app_secret_level.h"
#include "docsec/policy/file.h"
#include "docsec/policy/secret_level.h"
#include "docsec/testing/class_checks.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;

TEST(PolicyClasses, AreWellFormed) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDOSecretLevel>, kObjectTypeNone, "SecretLevel", "secretLevel"},
      {&ExpectWellFormedClass<CDOPolicy>, kObjectTypeNone, "Policy", "policy"},
      {&ExpectWellFormedClass<CDOAuthLevelByPosition>, kObjectTypeAuthLevelByPosition,
       "PositionAuthorization", "positionAuthorization"},
      {&ExpectWellFormedClass<CDOAuthFileByUser>, kObjectTypeAuthFileByUser,
       "FileUserAuthorization", "fileUserAuthorization"},
      {&ExpectWellFormedClass<CDOAuthFileByPosition>, kObjectTypeAuthFileByPosition,
       "FilePositionAuthorization", "filePositionAuthorization"},
      {&ExpectWellFormedClass<CDOApplication>, kObjectTypeNone, "Application", "application"},
      {&ExpectWellFormedClass<CDODeptDefAppSecretLevel>, kObjectTypeNone, "DefAppSecretLevel",
       "defAppSecretLevel"},
      {&ExpectWellFormedClass<CDOFile>, kObjectTypeNone, "File", "file"},
  });
}

TEST(Application, NamesCompareWithLetterCase) {
  const struct {
    const char* mine;
    const char* other;
    int equal;
  } cases[] = {{"Word", "Word", 1}, {"Word", "word", 0}};
  for (const auto& c : cases) {
    CDOApplication a, b;
    a.SetName(c.mine);
    b.SetName(c.other);
    EXPECT_EQ(a.Equals(&b), c.equal) << c.mine << " / " << c.other;
  }
}

// The caller's own file id is in no list: loading an answer never sets it.
TEST(File, IdIsNotLoadedFromAnAnswer) {
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml(std::string("<file id=\"7\" GUID=\"g-1\" innerId=\"3\"/>")));
  CDOFile file;
  ASSERT_EQ(file.LoadFromXmlNode(doc.DocumentElement()), 1);
  EXPECT_EQ(file.GetId(), -1);
  char guid[8];
  EXPECT_EQ(file.GetUuid(guid, sizeof guid), 3);
  EXPECT_EQ(file.SetId(12), 1);
  EXPECT_EQ(file.GetId(), 12);
}

// Loads `text` into `object`; the document stays alive with the returned element.
XmlElement Load(CDataObject* object, const std::string& text) {
  XmlDocument doc = XmlDocument::Create();
  EXPECT_TRUE(doc.LoadXml(text));
  XmlElement element = doc.DocumentElement();
  EXPECT_EQ(object->LoadFromXmlNode(element), 1);
  return element;
}

// The element `object` sends in a request.
std::string Sent(CDataObject* object) {
  XmlDocument doc = XmlDocument::Create();
  return object->AssemblyXmlNode(doc.CreateDocumentElement("document")).Xml();
}

std::string SentWithAuth(CDOPolicy* policy) {
  XmlDocument doc = XmlDocument::Create();
  return policy->AssemblyXMLNodeWithAuth(doc.CreateDocumentElement("document")).Xml();
}

constexpr char kClerk[] = "<position id=\"4\" departmentId=\"8\" positionName=\"Clerk\"/>";

TEST(Policy, RoundTripSendsOnlyEntriesWithPermission) {
  const std::string sent =
      "<policy ownerDeptId=\"7\" secretLevelId=\"3\">"
      "<positionAuthorization ownerDeptId=\"7\" secretLevelId=\"3\" positionId=\"4\" "
      "authorizeDeptId=\"8\" positionName=\"Clerk\" permission=\"2\"/>"
      "<userAuthorization authorizeDeptId=\"7\" secretLevelId=\"3\" userId=\"ann\" "
      "permission=\"6\"/></policy>";
  // The answer's form adds load-only attributes and an entry without permission.
  std::string answer = sent;
  answer.insert(answer.find("/><user"), " authorizeDeptPath=\"A/B\"");
  answer.insert(answer.find("<user"),
                "<positionAuthorization ownerDeptId=\"7\" secretLevelId=\"3\" positionId=\"5\" "
                "authorizeDeptId=\"8\" positionName=\"Guard\" permission=\"0\"/>");
  answer.insert(answer.find("/></policy>"), " userName=\"Ann\"");

  CDOPolicy loaded;
  Load(&loaded, answer);
  ASSERT_EQ(loaded.GetAuthByPosition()->GetSize(), 2);
  ASSERT_EQ(loaded.GetAuthByUser()->GetSize(), 1);
  auto* guard = static_cast<CDOAuthLevelByPosition*>(loaded.GetAuthByPosition()->GetAt(1));
  EXPECT_EQ(guard->GetOwnerPolicy(), &loaded);
  EXPECT_EQ(static_cast<CDOAuthLevelByUser*>(loaded.GetAuthByUser()->GetAt(0))->GetOwnerPolicy(),
            &loaded);
  EXPECT_EQ(loaded.IsEmpty(), 0);
  std::unique_ptr<DataObjectList, void (*)(DataObjectList*)> valid(loaded.GetValidAuthByPosition(),
                                                                   &ShallowDelete);
  ASSERT_NE(valid, nullptr);
  EXPECT_EQ(valid->GetSize(), 1);
  EXPECT_EQ(SentWithAuth(&loaded), sent);

  CDOPolicy again;
  Load(&again, sent);
  EXPECT_EQ(SentWithAuth(&again), sent);
}

TEST(Policy, ConstructedPolicyTakesNoAuthorizationsFromAnElement) {
  CDODepartment department;
  department.SetId(7);
  CDOSecretLevel level(3, "Inner", "");
  CDOPolicy policy(&department, &level);
  Load(&policy,
       "<policy ownerDeptId=\"7\" secretLevelId=\"3\"><positionAuthorization permission=\"1\"/>"
       "<userAuthorization permission=\"1\"/></policy>");
  EXPECT_EQ(policy.GetAuthByPosition()->GetSize(), 0);
  EXPECT_EQ(policy.GetAuthByUser()->GetSize(), 0);
  EXPECT_EQ(policy.GetValidAuthByUser(), nullptr);  // present but without entries
  EXPECT_EQ(policy.IsEmpty(), 1);
  EXPECT_EQ(policy.GetOwnerDepartment(), &department);
  EXPECT_EQ(SentWithAuth(&policy), "<policy ownerDeptId=\"7\" secretLevelId=\"3\"/>");
}

TEST(Policy, GrantAndRefuseDispatchOnTheRole) {
  CDODepartment department;
  department.SetId(7);
  CDOSecretLevel level(3, "Inner", "");
  CDOPolicy policy(&department, &level);
  CDOPosition clerk, same_post_other_id, other_department;
  Load(&clerk, kClerk);
  Load(&same_post_other_id, "<position id=\"9\" departmentId=\"8\" positionName=\"Clerk\"/>");
  Load(&other_department, "<position id=\"4\" departmentId=\"9\" positionName=\"Clerk\"/>");
  CDOUser ann;
  ann.SetId("ann");

  CDataObject* entry = policy.GrantRole(&clerk, 2);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(static_cast<CDOAuthLevelByPosition*>(entry)->GetOwnerPolicy(), &policy);
  EXPECT_EQ(Sent(entry),
            "<positionAuthorization ownerDeptId=\"7\" secretLevelId=\"3\" positionId=\"4\" "
            "authorizeDeptId=\"8\" positionName=\"Clerk\" permission=\"2\"/>");
  EXPECT_EQ(policy.GrantRole(&same_post_other_id, 1), nullptr);
  EXPECT_NE(policy.GrantRole(&other_department, 1), nullptr);
  CDataObject* user_entry = policy.GrantRole(&ann, 4);
  ASSERT_NE(user_entry, nullptr);
  EXPECT_EQ(user_entry->GetObjectType(), kObjectTypeAuthLevelByUser);
  EXPECT_EQ(policy.GrantUser(&ann, 1), nullptr);  // the first grant stays in force
  EXPECT_EQ(policy.GrantRole(&department, 1), nullptr);
  EXPECT_EQ(policy.GrantRole(nullptr, 1), nullptr);

  EXPECT_EQ(policy.RefuseRole(&clerk), 0);  // a position, not its authorization
  ASSERT_EQ(policy.RefuseRole(entry), 1);
  std::unique_ptr<CDataObject> refused(entry);  // handed to the caller
  EXPECT_EQ(policy.RefuseRole(entry), 0);
  ASSERT_EQ(policy.RefuseRole(user_entry), 1);
  delete user_entry;
  EXPECT_EQ(policy.GetAuthByPosition()->GetSize(), 1);
  EXPECT_EQ(policy.GetAuthByUser()->GetSize(), 0);
}

// A grant or refusal that changes nothing says why on the caller's thread.
TEST(Policy, RefusedGrantsAndRefusalsLeaveTheirReason) {
  CDODepartment department;
  department.SetId(7);
  CDOSecretLevel level(3, "Inner", "");
  CDOPolicy policy(&department, &level);
  CDOUser ann;
  ann.SetId("ann");
  ASSERT_NE(policy.GrantUser(&ann, 2), nullptr);
  CDOAuthLevelByUser stranger;
  const struct {
    const char* name;
    std::function<bool()> refused;
    const char* operation;
    const char* reason;
  } cases[] = {
      {"second grant", [&] { return policy.GrantUser(&ann, 1) == nullptr; }, "Grant",
       "has an entry already"},
      {"no partner", [&] { return policy.GrantUser(nullptr, 1) == nullptr; }, "Grant",
       "no user or position"},
      {"a department as role", [&] { return policy.GrantRole(&department, 1) == nullptr; },
       "GrantRole", "neither a user nor a position"},
      {"a user as entry", [&] { return policy.RefuseRole(&ann) == 0; }, "RefuseRole",
       "not an authorization entry"},
      {"another policy's entry", [&] { return policy.RefuseUser(&stranger) == 0; }, "RefuseUser",
       "not one of the policy's user grants"},
  };
  for (const auto& c : cases) {
    SetOutcomeOk("earlier");
    EXPECT_TRUE(c.refused()) << c.name;
    Outcome outcome = LastOutcome();
    EXPECT_EQ(outcome.source, OutcomeSource::kLibrary) << c.name;
    EXPECT_EQ(outcome.operation, c.operation) << c.name;
    EXPECT_NE(outcome.message.find(c.reason), std::string::npos)
        << c.name << ": " << outcome.message;
  }
}

TEST(FileAuthorization, JoinsTheFileAndSendsItsOwnAttributes) {
  CDOFile file;
  file.SetUuid("g-1");
  CDOUser ann;
  ann.SetId("ann");
  ann.SetName("Ann");
  CDOPosition clerk;
  Load(&clerk, kClerk);
  CDOAuthFileByUser by_user(&file, &ann, 4);
  CDOAuthFileByPosition by_position(&file, &clerk, 1);
  EXPECT_EQ(Sent(&by_user),
            "<fileUserAuthorization fileGUID=\"g-1\" userId=\"ann\" permission=\"4\"/>");
  EXPECT_EQ(Sent(&by_position),
            "<filePositionAuthorization fileGUID=\"g-1\" positionId=\"4\" departmentId=\"8\" "
            "positionName=\"Clerk\" permission=\"1\" departmentPath=\"\"/>");
  char name[8];
  EXPECT_EQ(by_user.GetUserNameA(name, sizeof name), 3);
}

TEST(Authorization, MatchesItsRoleByAccountOrByDepartmentAndName) {
  CDOFile file;
  CDOUser ann, bob, upper_ann;
  ann.SetId("ann");
  bob.SetId("bob");
  upper_ann.SetId("Ann");
  CDOPosition clerk, renumbered, renamed;
  Load(&clerk, kClerk);
  Load(&renumbered, "<position id=\"9\" departmentId=\"8\" positionName=\"Clerk\"/>");
  Load(&renamed, "<position id=\"4\" departmentId=\"8\" positionName=\"clerk\"/>");
  CDOAuthFileByUser by_user(&file, &ann, 1);
  CDOAuthFileByPosition by_position(&file, &clerk, 1);
  CDOAuthLevelByPosition level_by_position(nullptr, &clerk, 1);
  CDOAuthLevelByUser level_by_user(nullptr, &ann, 1);
  CDOUser nobody;  // no account name
  CDOAuthLevelByUser nobodys(nullptr, &nobody, 1);
  const struct {
    const char* what;
    int got;
    int expected;
  } cases[] = {
      {"user itself", by_user.IsAuthorizedTo(&ann), 1},
      {"other user", by_user.IsAuthorizedTo(&bob), 0},
      {"user in other case", by_user.IsAuthorizedTo(&upper_ann), 0},
      {"null user", by_user.IsAuthorizedTo(nullptr), 0},
      {"file: same post, other id", by_position.IsAuthorizedTo(&renumbered), 1},
      {"file: name in other case", by_position.IsAuthorizedTo(&renamed), 0},
      {"file: null position", by_position.IsAuthorizedTo(nullptr), 0},
      {"policy: same post, other id", level_by_position.IsAuthorizedTo(&renumbered), 1},
      {"policy: name in other case", level_by_position.IsAuthorizedTo(&renamed), 0},
      {"policy: null position", level_by_position.IsAuthorizedTo(nullptr), 0},
      {"policy: user itself", level_by_user.IsAuthorizedTo(&ann), 1},
      {"policy: user in other case", level_by_user.IsAuthorizedTo(&upper_ann), 0},
      {"policy: null user", level_by_user.IsAuthorizedTo(nullptr), 0},
      {"policy: entry without account, user without account", nobodys.IsAuthorizedTo(&nobody), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

}  // namespace
}  // namespace docsec
