#include "docsec/org/department.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "docsec/channel/last_error.h"
#include "docsec/channel/outcome.h"
#include "docsec/computers/computer.h"
#include "docsec/org/ip_segment.h"
#include "docsec/testing/class_checks.h"
#include "docsec/testing/fake_server.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"

namespace docsec {
namespace {

using testing::FakeServer;

std::string Request(const std::string& body) {
  return std::string(FakeServer::kProlog) + "<document>" + body + "</document>";
}
std::string Answer(const std::string& body) {
  return "<document><return code=\"0\"/>" + body + "</document>";
}
constexpr const char* kRefused = "<document><return code=\"7\"/></document>";

// A department loaded from `xml` (a department element).
std::unique_ptr<CDODepartment> Load(const std::string& xml) {
  XmlDocument doc = XmlDocument::Create();
  EXPECT_TRUE(doc.LoadXml(xml));
  auto department = std::make_unique<CDODepartment>();
  EXPECT_EQ(department->LoadFromXmlNode(doc.DocumentElement()), 1);
  return department;
}

template <class T>
T* At(DataObjectList* list, int index) {
  return static_cast<T*>(list->GetAt(index));
}

std::string NameOf(CDataObject* object) {
  char name[64] = "";
  if (auto* user = dynamic_cast<CDOUser*>(object)) user->GetName(name, sizeof name);
  if (auto* computer = dynamic_cast<CDOComputer*>(object)) computer->GetName(name, sizeof name);
  if (auto* position = dynamic_cast<CDOPosition*>(object)) {
    position->GetPositionName(name, sizeof name);
  }
  return name;
}

// The names of a search result, in order; the list (not its members) is deleted.
std::string Names(DataObjectList* list) {
  std::string out;
  for (CDataObject* object : *list) out += (out.empty() ? "" : ",") + NameOf(object);
  ShallowDelete(list);
  return out;
}

TEST(Department, ClassesAreWellFormed) {
  testing::ExpectWellFormedClass<CDODepartment>(kObjectTypeDepartment, "Department", "department");
  testing::ExpectWellFormedClass<CDOIpSegment>(kObjectTypeIpSegment, "IpSegment", "ip");
}

TEST(Department, LoadBuildsTheNestedTreeWithOwners) {
  auto root = Load(
      "<department id='1' name='A'><department id='2' name='B'><user id='u1'/>"
      "<computer uuid='c1'/></department><position id='7'/><ip ipFrom='1' ipTo='2'/>"
      "</department>");
  ASSERT_EQ(root->GetSubDepartments()->GetSize(), 1);
  auto* b = At<CDODepartment>(root->GetSubDepartments(), 0);
  EXPECT_EQ(b->GetOwnerDepartment(), root.get());
  EXPECT_EQ(b->GetId(), 2);
  EXPECT_EQ(At<CDOUser>(b->GetUsers(), 0)->GetOwnerDepartment(), b);
  EXPECT_EQ(At<CDOComputer>(b->GetComputers(), 0)->GetOwnerDepartment(), b);
  EXPECT_EQ(At<CDOPosition>(root->GetPositons(), 0)->GetOwnerDepartment(), root.get());
  EXPECT_EQ(At<CDOIpSegment>(root->GetIpSegments(), 0)->GetOwnerDepartment(), root.get());
  EXPECT_EQ(root->LoadFromXmlNode(XmlElement()), 0);
}

TEST(Department, LoadLeavesListsThatExistAndKeepsDocumentOrder) {
  auto d = Load("<department><user name='a'/><computer name='pc'/><user name='b'/></department>");
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(
      doc.LoadXml("<department name='X'><user name='c'/><position positionName='p'/>"
                  "</department>"));
  ASSERT_EQ(d->LoadFromXmlNode(doc.DocumentElement()), 1);
  EXPECT_EQ(Names(new DataObjectList(*d->GetUsers())), "a,b");  // not replaced
  EXPECT_EQ(d->GetPositons()->GetSize(), 0);  // existed (empty) before: the position is ignored
  char name[8];
  EXPECT_EQ(d->GetName(name, sizeof name), 1);  // the own attributes are reloaded
}

// Loaded objects share their answer's memory; callers still own them one by one. A user moved out
// of the tree outlives it with all its values, and values copied out are independent.
TEST(Department, ObjectsMovedOutOfALoadedTreeOutliveIt) {
  const std::string mail(40, 'm');
  auto root = Load("<department><user id='u1' name='A rather long user name' mail='" + mail +
                   "' departmentId=' 12' isSupervisor='TRUE' isLock='false'/><user id='u2'/>"
                   "</department>");
  auto* user = At<CDOUser>(root->GetUsers(), 0);
  ASSERT_EQ(root->MoveOutUser(user), 1);
  CDOUser copy(user);
  delete At<CDOUser>(root->GetUsers(), 0);  // a caller deleting one member of the tree
  root->GetUsers()->RemoveAll();
  root.reset();
  char text[64];
  EXPECT_EQ(user->GetName(text, sizeof text), 23);
  EXPECT_EQ(copy.GetMail(text, sizeof text), 40);
  EXPECT_EQ(user->GetDepartmentId(), 12);  // the general conversions still apply
  EXPECT_TRUE(user->GetIsSupervisor());
  EXPECT_FALSE(user->GetIsUserLock());
  user->SetName("renamed after the tree died");
  delete user;
  EXPECT_EQ(copy.GetMail(text, sizeof text), 40);
}

// A loaded object holds only the values its answer gave; what it writes back is exactly that.
TEST(Department, LoadedMembersWriteBackWhatTheAnswerGave) {
  struct Case {
    const char* user;     // attributes of the loaded user element
    const char* written;  // its full element written back
  };
  const Case cases[] = {
      {"id='u7' name='Seventh User Of Many'", "<user id=\"u7\" name=\"Seventh User Of Many\"/>"},
      {"isSupervisor='true' departmentId='12' other='x'",
       "<user isSupervisor=\"true\" departmentId=\"12\"/>"},
      {"name='first' name='second'", "<user name=\"first\"/>"},
      {"", "<user/>"},
      {"departmentId='twelve' tel='1'", "<user tel=\"1\"/>"},  // not a number: unset
  };
  for (const Case& c : cases) {
    auto root = Load(std::string("<department><user ") + c.user + "/></department>");
    XmlDocument out = XmlDocument::Create();
    XmlElement parent = out.CreateDocumentElement("r");
    EXPECT_EQ(At<CDOUser>(root->GetUsers(), 0)->AssemblyXmlNode(parent).Xml(), c.written) << c.user;
  }
}

// The value store of a data object, reached as its classes reach it.
struct Values : CDataObject {
  static Variant* Get(CDataObject* object, const char* name) {
    return (object->*(&Values::GetAttrValue))(name);
  }
  static int Set(CDataObject* object, const char* name, const Variant& value) {
    return (object->*(&Values::SetAttrValue))(name, value);
  }
};

// A value pointer stays valid until its own name is stored again, whether the answer gave the
// name, the class declares it without the answer giving it, or the class does not know it.
TEST(Department, LoadedValuePointersSurviveStoresOfOtherNames) {
  auto root = Load(
      "<department><user id='u5' name='A Name Longer Than Inline' departmentId='9'/></department>");
  auto* user = At<CDOUser>(root->GetUsers(), 0);
  Variant* name = Values::Get(user, "name");
  Variant* id = Values::Get(user, "id");
  ASSERT_NE(name, nullptr);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(user->SetPassword("secret"), 1);
  EXPECT_EQ(Values::Set(user, "isLock", Variant("true")), 1);
  EXPECT_EQ(Values::Set(user, "undeclared", Variant("u")), 1);
  Variant* password = Values::Get(user, "password");
  for (int i = 0; i < 50; ++i) user->SetDepartmentId(i);
  user->SetMail("mail@example.com");
  EXPECT_EQ(Values::Get(user, "name"), name);
  EXPECT_EQ(Values::Get(user, "id"), id);
  EXPECT_EQ(Values::Get(user, "password"), password);
  EXPECT_STREQ(name->Text(), "A Name Longer Than Inline");
  EXPECT_STREQ(password->Text(), "secret");
  // Names set after the load take their declared types like any other.
  EXPECT_TRUE(user->GetIsUserLock());
  EXPECT_EQ(Values::Get(user, "isLock")->Type(), kVtBool);
  EXPECT_EQ(user->GetDepartmentId(), 49);
  EXPECT_EQ(Values::Set(user, "isLock", Variant("maybe")), 0);  // does not convert: unset
  EXPECT_EQ(Values::Get(user, "isLock"), nullptr);
  char text[64];
  EXPECT_EQ(user->GetMail(text, sizeof text), 16);
}

// Members of one answer that carry the same text stay independent of each other.
TEST(Department, EqualTextsOfLoadedMembersStayIndependent) {
  const std::string path = "/Department 1/Department 22";
  auto root = Load("<department><user id='a' departmentPath='" + path + "'/><user id='b' " +
                   "departmentPath='" + path + "'/></department>");
  auto* a = At<CDOUser>(root->GetUsers(), 0);
  auto* b = At<CDOUser>(root->GetUsers(), 1);
  EXPECT_EQ(Values::Set(a, "departmentPath", Variant("changed")), 1);
  EXPECT_STREQ(Values::Get(a, "departmentPath")->Text(), "changed");
  EXPECT_STREQ(Values::Get(b, "departmentPath")->Text(), path.c_str());
  Variant copy = *Values::Get(b, "departmentPath");
  root.reset();
  EXPECT_STREQ(copy.Text(), path.c_str());
}

// ---- tree refresh ----

class Refresh : public ::testing::Test {
 protected:
  FakeServer server_;
};

TEST_F(Refresh, AdministeredRootRequestLoadsTheTreeAndSetsTheMark) {
  CDODepartment root;
  root.SetId(5);
  server_.QueueAnswer(Answer(
      "<department id='5' name='HQ'><department id='6' name='Sales'><user id='u'/></department>"
      "<computer uuid='c'/></department>"));
  ASSERT_EQ(root.RefreshSubObjectsEx(1, 1, 1, 1, 0, 2), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetDepartmentTreeView\"/><department id=\"5\" "
                    "isWithComputers=\"true\" isWithPositions=\"true\" isWithUsers=\"true\" "
                    "deep=\"2\"/>"));
  EXPECT_EQ(root.GetRefreshDeep(), 1);
  auto* sales = At<CDODepartment>(root.GetSubDepartments(), 0);
  EXPECT_EQ(sales->GetUsers()->GetSize(), 1);
  EXPECT_EQ(sales->GetRefreshDeep(), 0);
  // With the mark set nothing is sent; cleared, the next call goes out and asks for the
  // sub-departments, which are loaded now.
  EXPECT_EQ(root.RefreshSubObjectsEx(1, 1, 1, 1, 0, 2), 1);
  EXPECT_EQ(server_.request_count(), 1u);
  root.SetRefreshDeep(0);
  server_.QueueAnswer(Answer("<department id='5'/>"));
  ASSERT_EQ(root.RefreshSubObjectsEx(1, 0, 0, 0, 1, 0), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetDepartmentTreeView1\"/><department id=\"5\" "
                    "isWithSubDepartments=\"true\" deep=\"0\"/>"));
  EXPECT_EQ(root.GetSubDepartments()->GetSize(), 0);  // dropped and refilled from the answer
  EXPECT_EQ(root.GetComputers()->GetSize(), 1);       // not asked for: kept
}

TEST_F(Refresh, PlainFormSendsNoDeepNorMarkAndCarriesTheSegmentFlag) {
  CDODepartment d;
  d.SetId(3);
  d.SetIsDelSubDeptIpSegment(true);
  server_.QueueAnswer(Answer("<department id='3'/>"));
  ASSERT_EQ(d.RefreshSubObjects(1, 0, 1, 0, 0), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetDepartmentTreeView\"/><department id=\"3\" "
                    "isDelSubDeptIpSegment=\"true\" isWithPositions=\"true\"/>"));
  EXPECT_EQ(d.GetRefreshDeep(), 0);
}

TEST_F(Refresh, FailuresGiveZeroKeepTheMarkAndHaveDroppedTheAskedLists) {
  struct Case {
    std::string answer;
  } cases[] = {{kRefused}, {""}, {Answer("<user id='x'/>")}};
  for (const Case& c : cases) {
    auto d =
        Load("<department id='4'><user id='a'/><position id='1'/><ip ipFrom='1'/></department>");
    server_.QueueAnswer(c.answer);
    EXPECT_EQ(d->RefreshSubObjectsEx(0, 0, 0, 1, 0, 1), 0) << c.answer;
    EXPECT_EQ(d->GetRefreshDeep(), 0);
    EXPECT_EQ(d->GetUsers(), nullptr);
    EXPECT_EQ(d->GetIpSegments(), nullptr);
    EXPECT_EQ(d->GetPositons()->GetSize(), 1);
  }
}

// An accepted answer without the department asked for fails with a cause that names it; the
// last-error word keeps the answer's code 0, since the server reported no error.
TEST_F(Refresh, DepartmentMissingFromTheAnswerIsNamedInTheOutcome) {
  struct Case {
    const char* operation;
    int (*refresh)(CDODepartment*);
  };
  const Case cases[] = {
      {"QueryDepartment", [](CDODepartment* d) { return d->Refresh(); }},
      {"GetDepartmentTreeView",
       [](CDODepartment* d) { return d->RefreshSubObjects(1, 1, 1, 1, 0); }},
      {"GetDepartmentTreeView1",
       [](CDODepartment* d) { return d->RefreshSubObjectsEx(1, 1, 1, 1, 1, 2); }},
  };
  for (const Case& c : cases) {
    CDODepartment d;
    d.SetId(42);
    SetLastDrmError(9);
    server_.QueueAnswer(Answer("<user id='42'/>"));
    EXPECT_EQ(c.refresh(&d), 0) << c.operation;
    EXPECT_EQ(GetLastDrmError(), 0u);
    Outcome outcome = LastOutcome();
    EXPECT_EQ(outcome.source, OutcomeSource::kLibrary) << c.operation;
    EXPECT_EQ(outcome.operation, c.operation);
    EXPECT_EQ(outcome.message, "department 42 not in the answer");
  }
}

// A broken or hostile server nests departments far deeper than any stack frame per level would
// allow; the tree loads, is searched and is freed without recursion.
TEST_F(Refresh, HundredThousandNestedDepartmentsLoadSearchAndFree) {
  constexpr int kDepth = 100000;
  std::string body;
  for (int i = 1; i <= kDepth; ++i)
    body += "<department id=\"" + std::to_string(i) + "\" name=\"d\">";
  body += "<computer uuid=\"deep\" name=\"pc\"/>";
  for (int i = 0; i < kDepth; ++i) body += "</department>";
  auto root = std::make_unique<CDODepartment>();
  root->SetId(1);
  server_.QueueAnswer(Answer(body));
  ASSERT_EQ(root->RefreshSubObjects(1, 1, 1, 1, 0), 1);
  CDODepartment* deepest = root->FindDepartmentById(kDepth);
  ASSERT_NE(deepest, nullptr);
  EXPECT_EQ(root->FindComputerByUuid("DEEP")->GetOwnerDepartment(), deepest);
  EXPECT_EQ(Names(root->SearchComputers("pc", nullptr, 2, 1)), "pc");
  char path[16];
  const int written = deepest->GetFullPath(path, sizeof path);  // cut, never past the buffer
  EXPECT_EQ(written, static_cast<int>(std::strlen(path)));
  EXPECT_EQ(path[0], 'd');
  root.reset();
}

// ---- full path ----

TEST(Department, FullPathFromOwnersOrStoredPathNeverPastTheBuffer) {
  auto a = Load("<department name='A' superDeptPath=''><department name='B'/></department>");
  auto* b = At<CDODepartment>(a->GetSubDepartments(), 0);
  struct Case {
    CDODepartment* department;
    unsigned long size;
    const char* path;
  } cases[] = {{a.get(), 64, "A"}, {b, 64, "A/B"}, {b, 4, "A/B"},
               {b, 3, "A/"},       {b, 2, "B"},    {b, 1, ""}};
  for (const Case& c : cases) {
    char buffer[80];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(c.department->GetFullPath(buffer, c.size), static_cast<int>(std::strlen(c.path)));
    EXPECT_STREQ(buffer, c.path) << c.size;
    EXPECT_EQ(buffer[c.size], '#');
  }
  char untouched = '#';
  EXPECT_EQ(b->GetFullPath(&untouched, 0), 0);
  EXPECT_EQ(untouched, '#');

  CDODepartment detached;
  detached.SetName("C");
  char path[64];
  char full[] = "A/B/C";
  ASSERT_EQ(detached.SetFullPath(full), 1);
  EXPECT_EQ(detached.GetFullPath(path, sizeof path), 5);
  EXPECT_STREQ(path, "A/B/C");
  char bare[] = "C";
  detached.SetFullPath(bare);
  EXPECT_EQ(detached.GetSuperDepartmentPath(path, sizeof path), 0);
  EXPECT_EQ(detached.SetFullPath(nullptr), 0);
}

// ---- look-ups ----

TEST(Department, LookUpsSearchOwnListsFirstThenChildrenDepthFirst) {
  const std::string long_uuid(800, 'a');
  auto root = Load(
      "<department id='1'><department id='2'><department id='3'>"
      "<computer uuid='" +
      long_uuid +
      "b' ip='10.0.0.1' name='x'/></department></department>"
      "<department id='4'><computer uuid='" +
      long_uuid +
      "c' ip='10.0.0.1' name='y'/>"
      "</department><computer uuid='6F1C' ip='10.0.0.2' name='z'/></department>");
  EXPECT_EQ(root->FindDepartmentById(1), root.get());
  EXPECT_EQ(root->FindDepartmentById(4)->GetId(), 4);
  EXPECT_EQ(root->FindDepartmentById(9), nullptr);
  EXPECT_EQ(NameOf(root->FindComputerByUuid("6f1c")), "z");
  // Texts longer than any buffer are compared in full, not cut into equality.
  EXPECT_EQ(NameOf(root->FindComputerByUuid((long_uuid + "C").c_str())), "y");
  EXPECT_EQ(root->FindComputerByUuid(long_uuid.c_str()), nullptr);
  EXPECT_EQ(NameOf(root->FindComputerByIp("10.0.0.1")), "x");  // depth first: 3 before 4
  EXPECT_EQ(root->FindComputerByIp("10.0.0.01"), nullptr);
  EXPECT_EQ(root->FindComputerByUuid(nullptr), nullptr);
}

TEST(Department, FindOnlineComputerProbesOnlyUnprobedAndPassesOverSilentOnes) {
  auto root = Load(
      "<department><computer name='pc' uuid='1'/><computer name='pc' uuid='2'/>"
      "<department><computer name='pc' uuid='3'/></department></department>");
  auto* first = At<CDOComputer>(root->GetComputers(), 0);
  auto* second = At<CDOComputer>(root->GetComputers(), 1);
  auto* child = At<CDOComputer>(At<CDODepartment>(root->GetSubDepartments(), 0)->GetComputers(), 0);
  child->SetConnectionStatus(ConnectionRunning);
  first->SetConnectionStatus(ConnectionPingFailed);
  second->SetConnectionStatus(ConnectionAgentNotRunning);
  EXPECT_EQ(root->FindOnlineComputer("pc"), child);
  EXPECT_EQ(root->FindOnlineComputer("PC"), nullptr);
  // A computer that is not approved is never probed: it stays unprobed, which ends the search
  // even though a running one sits below.
  second->SetIsApproved(false);
  second->SetConnectionStatus(ConnectionNotProbed);
  EXPECT_EQ(root->FindOnlineComputer("pc"), nullptr);
  EXPECT_EQ(second->GetConnectionStatus(), ConnectionNotProbed);
}

// ---- membership ----

class Membership : public ::testing::Test {
 protected:
  FakeServer server_;
};

TEST_F(Membership, AddSendsTheChildThenLinksItOnlyOnSuccess) {
  CDODepartment d;
  d.SetId(8);
  auto* user = new CDOUser;
  user->SetName("ann");
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(d.AddUser(user), 0);
  EXPECT_EQ(d.GetUsers(), nullptr);
  EXPECT_EQ(user->GetOwnerDepartment(), nullptr);
  server_.QueueAnswer(Answer("<user id='ann1'/>"));
  ASSERT_EQ(d.AddUser(user), 1);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"AddUser\"/><user name=\"ann\" "
                                            "departmentId=\"8\"/>"));
  EXPECT_EQ(d.GetUsers()->GetAt(0), user);
  EXPECT_EQ(user->GetOwnerDepartment(), &d);
  EXPECT_EQ(d.AddSubDepartment(nullptr), 0);
}

TEST_F(Membership, RemoveDeletesAnUnlistedUserButLeavesAnUnlistedComputer) {
  CDODepartment d;
  d.SetId(1);
  CDOComputer stranger;  // owned by no department
  EXPECT_EQ(d.RemoveComputer(&stranger), 0);
  EXPECT_EQ(server_.request_count(), 0u);
  auto computer = std::make_unique<CDOComputer>();
  computer->SetOwnerDepartment(&d);
  EXPECT_EQ(d.RemoveComputer(computer.get()), 1);  // not listed: alive afterwards
  computer->SetUuid("still-alive");
  auto* user = new CDOUser;  // deleted by RemoveUser although not listed
  user->SetOwnerDepartment(&d);
  EXPECT_EQ(d.RemoveUser(user), 1);
  EXPECT_EQ(server_.request_count(), 2u);
}

TEST_F(Membership, MoveInRefusesEqualEntriesAndMoveOutComputerMatchesByEquals) {
  auto d = Load("<department><computer uuid='A1'/><user id='u'/></department>");
  CDOComputer same;
  same.SetUuid("A1");
  EXPECT_EQ(d->MoveInComputer(&same), 0);
  auto* listed = d->GetComputers()->GetAt(0);
  EXPECT_EQ(d->MoveOutComputer(&same), 1);  // removes the listed one, which it equals
  EXPECT_EQ(d->GetComputers()->GetSize(), 0);
  delete listed;
  CDOUser other;
  other.SetId("u");
  EXPECT_EQ(d->MoveOutUser(&other), 0);  // users move out only as the very object
  CDODepartment never_loaded;
  EXPECT_EQ(never_loaded.MoveInUser(&other), 0);
  EXPECT_EQ(server_.request_count(), 0u);
}

// Membership changes refused before any request say why, naming what they refused.
TEST_F(Membership, LocalRefusalsLeaveALibraryOutcome) {
  auto root = Load(
      "<department id='1'><department id='2'><department id='3'/></department>"
      "<computer uuid='A1'/></department>");
  auto* two = At<CDODepartment>(root->GetSubDepartments(), 0);
  auto* three = At<CDODepartment>(two->GetSubDepartments(), 0);
  CDOComputer same;
  same.SetUuid("A1");
  CDOComputer stranger;
  stranger.SetUuid("B2");
  CDODepartment never_loaded;
  CDOUser user;
  struct Case {
    const char* name;
    std::function<int()> call;
    const char* operation;
    const char* reason;
  };
  const Case cases[] = {
      {"add nothing", [&] { return root->AddUser(nullptr); }, "AddUser", "no object given"},
      {"remove another's computer", [&] { return root->RemoveComputer(&stranger); }, "DelComputer",
       "computer B2 is not a member of department 1"},
      {"move in an equal computer", [&] { return root->MoveInComputer(&same); }, "MoveInComputer",
       "computer A1 is in the list already"},
      {"move into an unloaded list", [&] { return never_loaded.MoveInUser(&user); }, "MoveInUser",
       "not loaded"},
      {"move below itself", [&] { return two->ChangeDepartment(three); }, "UpdateDepartment",
       "department 2 cannot move below itself"},
      {"move a root", [&] { return root->ChangeDepartment(two); }, "UpdateDepartment",
       "root of a tree"},
  };
  for (const Case& c : cases) {
    SetOutcomeOk("earlier");
    EXPECT_EQ(c.call(), 0) << c.name;
    Outcome outcome = LastOutcome();
    EXPECT_EQ(outcome.source, OutcomeSource::kLibrary) << c.name;
    EXPECT_EQ(outcome.operation, c.operation) << c.name;
    EXPECT_NE(outcome.message.find(c.reason), std::string::npos)
        << c.name << ": " << outcome.message;
  }
  EXPECT_EQ(server_.request_count(), 0u);
}

TEST_F(Membership, ChangeDepartmentMovesBetweenListsOrRestoresTheSuperId) {
  auto root = Load(
      "<department id='1'><department id='2' superDeptId='1'/><department id='3'/>"
      "</department>");
  auto* two = At<CDODepartment>(root->GetSubDepartments(), 0);
  auto* three = At<CDODepartment>(root->GetSubDepartments(), 1);
  CDODepartment copy_of_root;
  copy_of_root.SetId(1);
  EXPECT_EQ(two->ChangeDepartment(&copy_of_root), 1);  // equals the present parent: no request
  EXPECT_EQ(server_.request_count(), 0u);
  EXPECT_EQ(root->ChangeDepartment(three), 0);  // a root, and moving it below itself
  EXPECT_EQ(server_.request_count(), 0u);

  server_.QueueAnswer(kRefused);
  EXPECT_EQ(two->ChangeDepartment(three), 0);
  EXPECT_EQ(two->GetSuper(), 1);
  EXPECT_EQ(two->GetOwnerDepartment(), root.get());

  ASSERT_EQ(two->ChangeDepartment(three), 1);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"UpdateDepartment\"/><department "
                                            "id=\"2\" superDeptId=\"3\"/>"));
  EXPECT_EQ(root->GetSubDepartments()->GetSize(), 1);
  EXPECT_EQ(three->GetSubDepartments()->GetAt(0), two);  // created when it was absent
  EXPECT_EQ(two->GetOwnerDepartment(), three);
  EXPECT_EQ(three->ChangeDepartment(two), 0);  // into its own sub-tree
}

TEST_F(Membership, TheSegmentFlagIsAKeySoFlaggedDepartmentsDifferFromUnflagged) {
  auto root = Load("<department id='1'><department id='2'/></department>");
  CDODepartment flagged;
  flagged.SetId(2);
  EXPECT_EQ(root->MoveInSubDepartment(&flagged), 0);  // equal to department 2
  flagged.SetIsDelSubDeptIpSegment(false);
  ASSERT_EQ(root->MoveInSubDepartment(&flagged), 1);
  ASSERT_EQ(root->MoveOutSubDepartment(&flagged), 1);
}

// ---- local searches ----

// A department class with its own computer search; a tree holding one asks it.
class OwnSearchDepartment : public CDODepartment {
 public:
  DataObjectList* SearchComputers(const char*, const char*, int, int) override {
    auto* list = new DataObjectList;
    list->Add(&marker);
    return list;
  }
  CDOComputer marker;
};

TEST(Department, LocalSearchesMatchConditionsInDepthFirstOrder) {
  auto root = Load(
      "<department><user id='1' name='ann' isConsoleManager='true' isSupervisor='false'/>"
      "<user id='10' name='bob' isConsoleManager='false'/>"
      "<computer name='pc1' ip='10.0.0.1' isApproved='true'/><computer name='pc2' "
      "isApproved='false'/>"
      "<position positionName='Sales lead'/>"
      "<department><user id='21' name='cid' isConsoleManager='false'/>"
      "<computer name='pc3' isApproved='false'/><position positionName='wholesale'/></department>"
      "<department><user id='3' name='Ann-Marie'/></department></department>");
  struct Case {
    DataObjectList* result;
    const char* names;
  } cases[] = {
      {root->SearchComputers(nullptr, nullptr, 2, 0), "pc1,pc2"},
      {root->SearchComputers(nullptr, nullptr, 0, 1), "pc2,pc3"},
      {root->SearchComputers("PC", "10.0", 2, 1), "pc1"},
      {root->SearchUsers("1", nullptr, 0, 0, 1), "ann,bob,cid"},
      {root->SearchUsers(nullptr, "ann", 0, 0, 1), "ann,Ann-Marie"},
      {root->SearchUsers(nullptr, nullptr, 2, 0, 1), "bob,cid"},
      {root->SearchUsers(nullptr, nullptr, 1, 2, 0), "ann"},
      {root->SearchPositions("sale", 1), "Sales lead,wholesale"},
      {root->SearchPositions("", 0), "Sales lead"},
  };
  for (const Case& c : cases) EXPECT_EQ(Names(c.result), c.names);

  CDODepartment bare;  // nothing loaded
  EXPECT_EQ(Names(bare.SearchUsers(nullptr, nullptr, 0, 0, 1)), "");
  auto* own = new OwnSearchDepartment;
  own->SetId(99);
  own->marker.SetName("theirs");
  ASSERT_EQ(root->MoveInSubDepartment(own), 1);
  EXPECT_EQ(Names(root->SearchComputers(nullptr, nullptr, 0, 1)), "pc2,pc3,theirs");
}

// ---- server searches ----

class ServerSearch : public ::testing::Test {
 protected:
  void SetUp() override { department_.SetId(7); }
  FakeServer server_;
  CDODepartment department_;
};

TEST_F(ServerSearch, RequestsCarryTheKeyElementAndTheCriteria) {
  server_.SetDefaultAnswer(Answer(""));
  struct Case {
    DataObjectList* result;
    const char* body;
  } cases[] = {
      {department_.SearchUsersFromServer("u1", "never sent", 1, 0, 0),
       "<service value=\"SearchUserPosition\"/><department id=\"7\" "
       "isWithSubDepartments=\"true\" userId=\"u1\"/>"},
      {department_.SearchUsersFromServer("", "x", 0, 0, 0),
       "<service value=\"SearchUserPosition\"/><department id=\"7\"/>"},
      {department_.SearchPositionsFromServer("Sales", 1),
       "<service value=\"SearchObject\"/><department id=\"7\" isWithSubDepartments=\"true\"/>"
       "<position positionName=\"Sales\"/>"},
      {department_.SearchPositionsFromServer(nullptr, 0),
       "<service value=\"SearchObject\"/><department id=\"7\"/><position/>"},
      {department_.SearchUserAndPositionFromServer(0, "ann"),
       "<service value=\"SearchObject\"/><department id=\"7\"/><user name=\"ann\"/>"
       "<position positionName=\"ann\"/>"},
  };
  const std::vector<FakeServer::Request> sent = server_.requests();
  ASSERT_EQ(sent.size(), std::size(cases));
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].text, Request(cases[i].body));
    ASSERT_NE(cases[i].result, nullptr);  // an answer without matches gives an empty list
    EXPECT_EQ(cases[i].result->GetSize(), 0);
    ShallowDelete(cases[i].result);
  }
  EXPECT_EQ(department_.SearchObjectFromServer(1, nullptr), nullptr);
  EXPECT_EQ(department_.SearchUserAndPositionFromServer(1, nullptr), nullptr);
  EXPECT_EQ(server_.request_count(), sent.size());
}

TEST_F(ServerSearch, AnswersGiveNewUnownedObjectsPositionsBeforeUsers) {
  server_.QueueAnswer(Answer("<user name='u1'/><position positionName='p1'/><user name='u2'/>"));
  DataObjectList* both = department_.SearchUserAndPositionFromServer(1, "x");
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(At<CDOUser>(both, 1)->GetOwnerDepartment(), nullptr);
  DestructElements(both);
  delete both;
  CDOComputer sample;
  sample.SetName("pc");
  server_.QueueAnswer(Answer("<computer name='pc9'/><user name='no'/>"));
  DataObjectList* computers = department_.SearchObjectFromServer(1, &sample);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SearchObject\"/><department id=\"7\" "
                    "isWithSubDepartments=\"true\"/><computer name=\"pc\"/>"));
  ASSERT_NE(computers, nullptr);
  ASSERT_EQ(computers->GetSize(), 1);
  EXPECT_EQ(NameOf(computers->GetAt(0)), "pc9");
  DestructElements(computers);
  delete computers;
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(department_.SearchPositionsFromServer("x", 0), nullptr);
}

// ---- IP segments ----

class Segments : public ::testing::Test {
 protected:
  FakeServer server_;
};

TEST_F(Segments, UpdateSendsOldAndNewRangesUnderTheOwnersKey) {
  auto d = Load("<department id='9'><ip ipFrom='10.0.0.1' ipTo='10.0.0.9'/></department>");
  auto* segment = At<CDOIpSegment>(d->GetIpSegments(), 0);
  CDOIpSegment replacement;
  replacement.SetIpSegmentFrom("10.0.0.1");
  replacement.SetIpSegmentTo("10.0.0.20");
  ASSERT_EQ(segment->UpdateIpSegment(&replacement), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateIpSegment\"/><department id=\"9\"><ip "
                    "ipFrom=\"10.0.0.1\" ipTo=\"10.0.0.9\" oldIpFrom=\"10.0.0.1\" "
                    "oldIpTo=\"10.0.0.9\" newIpFrom=\"10.0.0.1\" newIpTo=\"10.0.0.20\"/>"
                    "</department>"));
  char text[32];
  segment->GetIpSegmentTo(text, sizeof text);
  EXPECT_STREQ(text, "10.0.0.20");
  // An empty end is not copied: the earlier new end goes out again and the end is kept. A refused
  // change keeps the range.
  CDOIpSegment no_end;
  no_end.SetIpSegmentFrom("10.0.0.5");
  server_.QueueAnswer(kRefused);
  EXPECT_EQ(segment->UpdateIpSegment(&no_end), 0);
  EXPECT_NE(server_.last_request().find("newIpFrom=\"10.0.0.5\" newIpTo=\"10.0.0.20\""),
            std::string::npos);
  segment->GetIpSegmentFrom(text, sizeof text);
  EXPECT_STREQ(text, "10.0.0.1");
  EXPECT_EQ(segment->UpdateIpSegment(nullptr), 0);
  CDOIpSegment orphan;
  EXPECT_EQ(orphan.UpdateIpSegment(&replacement), 0);
}

TEST_F(Segments, AddCopiesRemoveMatchesExactlyClearEmptiesTheSubTree) {
  auto root = Load(
      "<department id='1'><ip ipFrom='10.0.0.1' ipTo='10.0.0.9'/>"
      "<department id='2'><ip ipFrom='1' ipTo='2'/></department></department>");
  CDOIpSegment a, b;
  a.SetIpSegmentFrom("10.1.0.1");
  a.SetIpSegmentTo("10.1.0.9");
  b.SetIpSegmentFrom("10.0.0.01");  // differs from the listed range only by a leading zero
  b.SetIpSegmentTo("10.0.0.9");
  DataObjectList both{&a, &b};
  ASSERT_EQ(root->AddIpSegment(&both, true), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetIpSegment\"/><department id=\"1\" "
                    "isDelSubDeptIpSegment=\"true\"><ip ipFrom=\"10.1.0.1\" ipTo=\"10.1.0.9\"/>"
                    "<ip ipFrom=\"10.0.0.01\" ipTo=\"10.0.0.9\"/></department>"));
  ASSERT_EQ(root->GetIpSegments()->GetSize(), 3);
  a.SetIpSegmentTo("changed");
  EXPECT_EQ(a.Equals(root->GetIpSegments()->GetAt(1)), 0);  // a copy, not the caller's object
  EXPECT_EQ(At<CDOIpSegment>(root->GetIpSegments(), 1)->GetOwnerDepartment(), root.get());

  DataObjectList only_b{&b};
  ASSERT_EQ(root->RemoveIpSegment(&only_b, false), 1);
  EXPECT_EQ(root->GetIpSegments()->GetSize(), 2);  // b's own copy went, 10.0.0.1 stayed
  // The department's own list as the argument removes every entry without reading freed ones.
  ASSERT_EQ(root->RemoveIpSegment(root->GetIpSegments(), false), 1);
  EXPECT_EQ(root->GetIpSegments()->GetSize(), 0);

  server_.QueueAnswer(kRefused);
  EXPECT_EQ(root->ClearComputerIpSegment(true), 0);
  auto* child = At<CDODepartment>(root->GetSubDepartments(), 0);
  EXPECT_EQ(child->GetIpSegments()->GetSize(), 1);
  ASSERT_EQ(root->ClearComputerIpSegment(false), 1);
  EXPECT_EQ(child->GetIpSegments()->GetSize(), 1);
  ASSERT_EQ(root->ClearComputerIpSegment(true), 1);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"DelIpSegment\"/><department id=\"1\" "
                                            "isDelSubDeptIpSegment=\"true\"/>"));
  EXPECT_EQ(child->GetIpSegments()->GetSize(), 0);
  EXPECT_EQ(root->AddIpSegment(nullptr, false), 0);
}

}  // namespace
}  // namespace docsec
