// The generic server verbs and look-ups, through the in-process server.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>
#include <string>

#include "docsec/channel/last_error.h"
#include "docsec/channel/outcome.h"
#include "docsec/core/data_object.h"
#include "docsec/testing/fake_server.h"
#include "docsec/testing/test_objects.h"

namespace docsec {
namespace {

using testing::AppointmentLike;
using testing::DepartmentLike;
using testing::FakeServer;
using testing::UserLike;

std::string Request(const std::string& body) {
  return std::string(FakeServer::kProlog) + "<document>" + body + "</document>";
}

class Verbs : public ::testing::Test {
 protected:
  void SetUp() override { GetLastDrmError(); }
  FakeServer server_;
};

TEST_F(Verbs, RefreshSendsTheKeyElementAndReloads) {
  DepartmentLike d;
  d.SetAttrValue("id", Variant(5));
  d.SetAttrValue("name", Variant("old"));
  server_.QueueAnswer(
      "<document><return code=\"0\"/><department id=\"5\" name=\"Sales\"/></document>");
  EXPECT_EQ(d.Refresh(), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"QueryDepartment\"/><department id=\"5\"/>"));
  EXPECT_EQ(server_.last_entry_point(), 1);
  EXPECT_STREQ(d.GetAttrValue("name")->Text(), "Sales");
}

TEST_F(Verbs, RefreshOfAnObjectWithoutKeyValuesSendsABareElement) {
  DepartmentLike d;
  d.SetAttrValue("name", Variant("n"));
  d.Refresh();
  EXPECT_EQ(server_.last_request(), Request("<service value=\"QueryDepartment\"/><department/>"));
}

TEST_F(Verbs, AddReloadsServerAssignedValues) {
  UserLike u;
  u.SetAttrValue("name", Variant("ann"));
  server_.QueueAnswer("<document><return code=\"0\"/><user id=\"31\"/></document>");
  EXPECT_EQ(u.Add(), 1);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"AddUser\"/><user name=\"ann\"/>"));
  EXPECT_EQ(u.GetAttrValue("id")->Int32(), 31);
  EXPECT_STREQ(u.GetAttrValue("name")->Text(), "ann");
}

TEST_F(Verbs, AddWithoutTheObjectInTheAnswerFailsWithLastErrorZero) {
  UserLike u;
  SetLastDrmError(8);
  server_.QueueAnswer("<document><return code=\"0\"/></document>");
  EXPECT_EQ(u.Add(), 0);
  EXPECT_EQ(GetLastDrmError(), 0u);
}

TEST_F(Verbs, UpdateForms) {
  UserLike u;
  u.SetAttrValue("id", Variant(4));
  EXPECT_EQ(u.Update(), 1);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"UpdateUser\"/><user id=\"4\"/>"));
  EXPECT_EQ(u.Update("UpdateUserPassword"), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateUserPassword\"/><user id=\"4\"/>"));
  size_t before = server_.request_count();
  EXPECT_EQ(u.Update(nullptr), 0);
  EXPECT_EQ(server_.request_count(), before);
}

TEST_F(Verbs, DeleteSendsTheFullElementAndKeepsTheObject) {
  UserLike u;
  u.SetAttrValue("id", Variant(4));
  u.SetAttrValue("name", Variant("bob"));
  EXPECT_EQ(u.Delete(), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"DelUser\"/><user id=\"4\" name=\"bob\"/>"));
  EXPECT_EQ(u.GetAttrValue("id")->Int32(), 4);  // still alive and usable
}

// Delete goes through the virtual batch slot, so an override applies.
class CountingUser : public UserLike {
 public:
  int BatchDelete(DataObjectList* list) override {
    ++batch_deletes;
    return UserLike::BatchDelete(list);
  }
  int batch_deletes = 0;
};

TEST_F(Verbs, DeleteUsesTheBatchSlot) {
  CountingUser u;
  u.Delete();
  EXPECT_EQ(u.batch_deletes, 1);
}

TEST_F(Verbs, BatchesUseTheReceiversNameAndTheMembersElements) {
  UserLike a, b;
  a.SetAttrValue("id", Variant(1));
  b.SetAttrValue("id", Variant(2));
  DataObjectList list{&a, &b};
  DepartmentLike* receiver = DepartmentLike::GetClassInstance();
  EXPECT_EQ(receiver->BatchUpdate(&list), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateDepartment\"/><user id=\"1\"/><user id=\"2\"/>"));
  EXPECT_EQ(UserLike::GetClassInstance()->BatchDelete(&list), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"DelUser\"/><user id=\"1\"/><user id=\"2\"/>"));
  EXPECT_EQ(list.GetSize(), 2);  // the caller's list is untouched
}

TEST_F(Verbs, BatchAddOfAnEmptyListSendsOnlyTheServiceAndReturnsTheVerdict) {
  DataObjectList empty;
  server_.QueueAnswer("<document><return code=\"12\"/></document>");
  EXPECT_EQ(UserLike::GetClassInstance()->BatchAdd(&empty), 0);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"AddUser\"/>"));
  EXPECT_EQ(GetLastDrmError(), 12u);
  EXPECT_EQ(UserLike::GetClassInstance()->BatchAdd(&empty), 1);
  size_t before = server_.request_count();
  EXPECT_EQ(UserLike::GetClassInstance()->BatchAdd(nullptr), 0);
  EXPECT_EQ(server_.request_count(), before);
}

TEST_F(Verbs, DataSourceTwoGoesThroughTheSecondEntryPointEvenForAdd) {
  UserLike u;
  u.SetDataSource(2);
  server_.QueueAnswer("<document><return code=\"0\"/><user id=\"1\"/></document>");
  EXPECT_EQ(u.Add(), 1);
  EXPECT_EQ(server_.last_entry_point(), 2);
  u.Update();
  EXPECT_EQ(server_.last_entry_point(), 2);
  u.SetDataSource(1);
  u.Update();
  EXPECT_EQ(server_.last_entry_point(), 1);
}

TEST_F(Verbs, UpdateSubObjectsNestsMembersInTheKeyElement) {
  UserLike u;
  u.SetAttrValue("id", Variant(7));
  u.SetAttrValue("name", Variant("not in the key form"));
  AppointmentLike a1, a2;
  a1.SetAttrValue("userId", Variant(7));
  a1.SetAttrValue("positionId", Variant(3));
  a2.SetAttrValue("positionId", Variant(4));
  DataObjectList list{&a1, &a2};
  EXPECT_EQ(u.UpdateSubObjects("SetUserAccession", &list), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetUserAccession\"/><user id=\"7\"><userAccession "
                    "userId=\"7\" positionId=\"3\"/><userAccession positionId=\"4\"/></user>"));
  EXPECT_EQ(u.UpdateSubObjects("SetUserAccession", nullptr), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetUserAccession\"/><user id=\"7\"/>"));
}

TEST_F(Verbs, FailuresReportZeroAndTheServerCode) {
  UserLike u;
  server_.QueueAnswer("<document><return code=\"31\"/><user id=\"1\"/></document>");
  EXPECT_EQ(u.Refresh(), 0);
  EXPECT_EQ(u.GetAttrValue("id"), nullptr);  // nothing read from a failed answer
  EXPECT_EQ(GetLastDrmError(), 31u);
  server_.QueueAnswer("");
  EXPECT_EQ(u.Update(), 0);
  EXPECT_EQ(GetLastDrmError(), 0u);
}

TEST_F(Verbs, MalformedAnswersNeverCrashOrSucceed) {
  const std::string answers[] = {
      "not xml",
      "<document>",
      "<document/>",
      "<document><return/></document>",
      "<document><return code=\"abc\"/></document>",
      "<document><return code=\"-1\"/></document>",
      "<document><return code=\"99999999999\"/></document>",
      "<document><return code=\"9999\"/></document>",
      "<document return=\"0\"><user id=\"1\"/></document>",
  };
  for (const std::string& answer : answers) {
    UserLike u;
    SetLastDrmError(3);
    server_.QueueAnswer(answer);
    EXPECT_EQ(u.Refresh(), 0) << answer;
    EXPECT_EQ(GetLastDrmError(), 3u) << answer;
    server_.QueueAnswer(answer);
    EXPECT_EQ(UserLike::GetClassInstance()->Lookup(nullptr), nullptr) << answer;
  }
}

TEST_F(Verbs, LookupWritesConditionsAndReturnsEveryMatch) {
  ValueMap conditions;
  conditions.Set("name", Variant("an"));
  conditions.Set("isSupervisor", Variant(true));
  conditions.Set("createTime", Variant::Date(0.0));
  conditions.Set("id", Variant(3));
  server_.QueueAnswer(
      "<document><return code=\"0\"/><user id=\"1\" name=\"ann\"/><position id=\"8\"/>"
      "<user id=\"2\"/></document>");
  std::unique_ptr<DataObjectList> found(UserLike::GetClassInstance()->Lookup(&conditions));
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"QueryUser\"/><user name=\"an\" isSupervisor=\"true\" "
                    "createTime=\"1899-12-30 00:00:00\" id=\"3\"/>"));
  ASSERT_EQ(found->GetSize(), 2);
  EXPECT_STREQ(static_cast<UserLike*>(found->GetAt(0))->GetAttrValue("name")->Text(), "ann");
  DestructElements(found.get());
}

TEST_F(Verbs, LookupWithNoConditionsSendsABareElement) {
  ValueMap none;
  server_.QueueAnswer("<document><return code=\"0\"/></document>");
  std::unique_ptr<DataObjectList> found(UserLike::GetClassInstance()->Lookup(&none));
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->empty());
  EXPECT_EQ(server_.last_request(), Request("<service value=\"QueryUser\"/><user/>"));
}

TEST_F(Verbs, LookupUniqueNeedsExactlyOneMatch) {
  ValueMap conditions;
  server_.QueueAnswer("<document><return code=\"0\"/><user id=\"1\"/><user id=\"2\"/></document>");
  EXPECT_EQ(UserLike::GetClassInstance()->LookupUnique(&conditions), nullptr);  // no leak (LSan)
  server_.QueueAnswer("<document><return code=\"0\"/></document>");
  EXPECT_EQ(UserLike::GetClassInstance()->LookupUnique(&conditions), nullptr);
  server_.QueueAnswer("<document><return code=\"0\"/><user id=\"9\"/></document>");
  std::unique_ptr<CDataObject> one(UserLike::GetClassInstance()->LookupUnique(&conditions));
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(static_cast<UserLike*>(one.get())->GetAttrValue("id")->Int32(), 9);
}

TEST_F(Verbs, LookupSubObjectsLoadsOnceButAlwaysSends) {
  UserLike u;
  u.SetAttrValue("id", Variant(7));
  DataObjectList* appointments = nullptr;
  AppointmentLike prototype;
  server_.QueueAnswer(
      "<document><return code=\"0\"/><user id=\"7\"><userAccession positionId=\"1\"/>"
      "<userAccession positionId=\"2\"/></user></document>");
  EXPECT_EQ(u.LookupSubObjects("QueryUserAccession", &appointments, &prototype), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"QueryUserAccession\"/><user id=\"7\"/>"));
  ASSERT_NE(appointments, nullptr);
  EXPECT_EQ(appointments->GetSize(), 2);
  server_.QueueAnswer(
      "<document><return code=\"0\"/><user id=\"7\"><userAccession/></user></document>");
  size_t before = server_.request_count();
  EXPECT_EQ(u.LookupSubObjects("QueryUserAccession", &appointments, &prototype), 1);
  EXPECT_EQ(server_.request_count(), before + 1);
  EXPECT_EQ(appointments->GetSize(), 2);
  DestructElements(appointments);
  delete appointments;

  DataObjectList* none = nullptr;
  server_.QueueAnswer("<document><return code=\"0\"/></document>");
  EXPECT_EQ(u.LookupSubObjects("QueryUserAccession", &none, &prototype), 0);
  EXPECT_EQ(none, nullptr);
  server_.QueueAnswer("<document><return code=\"0\"/><user id=\"7\"/></document>");
  EXPECT_EQ(u.LookupSubObjects("QueryUserAccession", &none, &prototype), 1);
  ASSERT_NE(none, nullptr);
  EXPECT_TRUE(none->empty());
  delete none;
}

TEST_F(Verbs, LocalSearchConditions) {
  DepartmentLike sales, wholesale, unnamed;
  sales.SetAttrValue("name", Variant("Sales"));
  sales.SetAttrValue("id", Variant(5));
  wholesale.SetAttrValue("name", Variant("Wholesale"));
  wholesale.SetAttrValue("id", Variant(50));
  wholesale.SetAttrValue("isDelSubDeptIpSegment", Variant(true));
  Variant sal("sal"), ales("ALES"), empty(""), five(5), flag(true), five_text("5");
  EXPECT_EQ(sales.CheckSearchCondition("name", &sal), 1);
  EXPECT_EQ(wholesale.CheckSearchCondition("name", &sal), 1);
  EXPECT_EQ(sales.CheckSearchCondition("name", &ales), 1);
  EXPECT_EQ(sales.CheckSearchCondition("name", &empty), 1);
  EXPECT_EQ(unnamed.CheckSearchCondition("name", &empty), 0);
  EXPECT_EQ(unnamed.CheckSearchCondition("name", nullptr), 1);
  EXPECT_EQ(sales.CheckSearchCondition("id", &five), 1);
  EXPECT_EQ(wholesale.CheckSearchCondition("id", &five), 0);
  EXPECT_EQ(sales.CheckSearchCondition("id", &five_text), 1);
  EXPECT_EQ(wholesale.CheckSearchCondition("isDelSubDeptIpSegment", &flag), 1);
  EXPECT_EQ(sales.CheckSearchCondition("isDelSubDeptIpSegment", &flag), 0);

  ValueMap both;
  both.Set("name", Variant("sal"));
  both.Set("id", Variant(50));
  EXPECT_EQ(wholesale.CheckSearchConditions(&both), 1);
  EXPECT_EQ(sales.CheckSearchConditions(&both), 0);
  ValueMap none;
  EXPECT_EQ(unnamed.CheckSearchConditions(&none), 1);
  EXPECT_EQ(unnamed.CheckSearchConditions(nullptr), 1);
}

TEST_F(Verbs, ConditionElementHasOneAttributePerEntry) {
  XmlDocument doc = XmlDocument::Create();
  XmlElement root = doc.CreateDocumentElement("r");
  ValueMap conditions;
  conditions.Set("name", Variant("x"));
  conditions.SetAt("deptId", nullptr);
  UserLike u;
  EXPECT_EQ(u.AssemblyConditionXmlNode(root, &conditions).Xml(), "<user name=\"x\" deptId=\"\"/>");
  EXPECT_FALSE(u.AssemblyConditionXmlNode(XmlElement(), &conditions));
}

// A verb that fails without asking the server, or whose accepted answer lacks what it asked for,
// still says why: a library outcome naming the operation, and a last-error word that holds only
// what the server said (0 for an accepted answer, untouched when nothing was sent).
TEST_F(Verbs, FailuresOfTheLibraryLeaveAnOutcome) {
  struct Case {
    const char* name;
    const char* answer;  // nullptr: nothing may be sent
    std::function<bool()> fails;
    const char* operation;
    const char* reason;
  };
  UserLike user;
  user.SetAttrValue("id", Variant(42));
  AppointmentLike prototype;
  ValueMap none;
  const Case cases[] = {
      {"update without a name", nullptr, [&] { return user.Update(nullptr) == 0; }, "Update",
       "no operation name"},
      {"batch without a list", nullptr, [&] { return user.BatchAdd(nullptr) == 0; }, "AddUser",
       "no list"},
      {"sub-objects without a name", nullptr,
       [&] { return user.UpdateSubObjects(nullptr, nullptr) == 0; }, "UpdateSubObjects",
       "no operation name"},
      {"refresh of a user the answer lacks", FakeServer::kOk, [&] { return user.Refresh() == 0; },
       "QueryUser", "user 42 not in the answer"},
      {"sub-objects of a user the answer lacks", FakeServer::kOk,
       [&] {
         DataObjectList* list = nullptr;
         return user.LookupSubObjects("QueryUserAccession", &list, &prototype) == 0 &&
                list == nullptr;
       },
       "QueryUserAccession", "user 42 not in the answer"},
      {"unique look-up finding none", FakeServer::kOk,
       [&] { return UserLike::GetClassInstance()->LookupUnique(&none) == nullptr; }, "QueryUser",
       "no user matches"},
      {"unique look-up finding two",
       "<document><return code=\"0\"/><user id=\"1\"/><user id=\"2\"/></document>",
       [&] { return UserLike::GetClassInstance()->LookupUnique(&none) == nullptr; }, "QueryUser",
       "2 objects"},
  };
  for (const Case& c : cases) {
    SetLastDrmError(77);
    SetOutcomeOk("earlier");
    const size_t sent = server_.request_count();
    if (c.answer != nullptr) server_.QueueAnswer(c.answer);
    EXPECT_TRUE(c.fails()) << c.name;
    EXPECT_EQ(server_.request_count(), sent + (c.answer != nullptr ? 1 : 0)) << c.name;
    EXPECT_EQ(GetLastDrmError(), c.answer != nullptr ? 0u : 77u) << c.name;
    Outcome outcome = LastOutcome();
    EXPECT_EQ(outcome.source, OutcomeSource::kLibrary) << c.name;
    EXPECT_EQ(outcome.operation, c.operation) << c.name;
    EXPECT_NE(outcome.message.find(c.reason), std::string::npos)
        << c.name << ": " << outcome.message;
  }
}

TEST_F(Verbs, SeparateObjectsExchangeOnSeparateThreads) {
  // The server answers each refresh with the id the request carried, as the name.
  server_.SetResponder([](int, const std::string& request) {
    size_t at = request.find("id=\"") + 4;
    std::string id = request.substr(at, request.find('"', at) - at);
    return "<document><return code=\"0\"/><user id=\"" + id + "\" name=\"n" + id +
           "\"/></document>";
  });
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 200; ++i) {
        UserLike u;
        const int id = t * 1000 + i;
        u.SetAttrValue("id", Variant(id));
        if (u.Refresh() != 1 ||
            std::string(u.GetAttrValue("name")->Text()) != "n" + std::to_string(id)) {
          ++failures;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(server_.request_count(), 800u);
}

}  // namespace
}  // namespace docsec
