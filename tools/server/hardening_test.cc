// The reference server against hostile clients: a scoped manager reaching past its departments,
// sessions that outlive what ended them, strangers locking accounts out, and input that would
// poison what the server stores or answers. Each family is one fixture over the demo organisation
// (eng.admin manages Engineering, sales.admin Sales, admin everything).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/server/result_codes.h"
#include "tools/server/server_test_util.h"

namespace docsec::server {
namespace {

using testing::Answer;

constexpr const char* kNorthComputer = "6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e55";  // in Sales/North

class ScopeTest : public testing::DemoServerTest {
 protected:
  void SetUp() override {
    DemoServerTest::SetUp();
    ASSERT_EQ(LoginAs("admin", "demo-admin"), 0);
    // mallory belongs to Platform (Engineering's) but administers Sales; dave of North holds a
    // position of Platform.
    ASSERT_EQ(Call("AddUser",
                   "<user id=\"mallory\" departmentId=\"5\" adminDept=\"4\""
                   " isConsoleManager=\"true\" password=\"demo-mallory\"/>")
                  .code,
              0);
    ASSERT_EQ(Call("SetPositionAppointment",
                   "<position id=\"4\"><user id=\"carol\"/><user id=\"dave\"/></position>")
                  .code,
              0);
    ASSERT_EQ(LoginAs("eng.admin", "demo-eng"), 0);
  }
};

TEST_F(ScopeTest, AManagerCannotTakeOverAUserWhoAdministersElsewhere) {
  const char* const requests[][2] = {
      {"UpdateUserPassword1", "<user id=\"mallory\" newPassword=\"taken\"/>"},
      {"UpdateUser", "<user id=\"mallory\" password=\"taken\"/>"},
      {"UpdateUser", "<user id=\"mallory\" adminDept=\"-1\"/>"},
      {"DelUser", "<user id=\"mallory\"/>"},
      {"SetUserAccession", "<user id=\"mallory\"/>"},
  };
  for (const auto& request : requests) {
    EXPECT_EQ(Call(request[0], request[1]).code, kPermissionDenied) << request[0];
  }
  EXPECT_EQ(LoginAs("mallory", "demo-mallory"), 0);  // the password is unchanged
  // A user who administers within the manager's departments stays manageable.
  ASSERT_EQ(LoginAs("eng.admin", "demo-eng"), 0);
  EXPECT_EQ(Call("UpdateUserPassword1", "<user id=\"carol\" newPassword=\"fresh\"/>").code, 0);
}

TEST_F(ScopeTest, TheComputerNotTheRequestDecidesAFilesDepartment) {
  const std::string file = std::string("<file GUID=\"{F1}\" computerUuid=\"") + kNorthComputer +
                           "\" departmentId=\"3\" path=\"C:\\\\x.doc\">"
                           "<fileUserAuthorization userId=\"carol\" permission=\"7\"/></file>";
  EXPECT_EQ(Call("SetFileUserAuthorization", file).code, kPermissionDenied);
  EXPECT_EQ(Call("QueryFileAuthorization", file).code, kPermissionDenied);
  ASSERT_EQ(LoginAs("sales.admin", "demo-sales"), 0);
  EXPECT_EQ(Call("SetFileUserAuthorization", file).code, 0);
}

TEST_F(ScopeTest, AppointmentsNameOnlyTheHoldersInScope) {
  Answer answer = Call("QueryPositionAppointment", "<position id=\"4\"/>");
  ASSERT_EQ(answer.code, 0);
  std::vector<std::string> holders;
  for (pugi::xml_node user : answer.root.child("position").children("user")) {
    holders.push_back(user.attribute("id").value());
  }
  EXPECT_EQ(holders, std::vector<std::string>{"carol"});
}

// Sessions driven straight through Server::Handle, so each test holds several at once.
class SessionEndTest : public testing::DemoServerTest {
 protected:
  Response Send(const std::string& session, const std::string& service,
                const std::string& content = "") {
    return embedded_->server().Handle({1, testing::Request(service, content), session});
  }
  std::string Open(const std::string& account, const std::string& password) {
    return Send("", "Login", "<user id=\"" + account + "\" password=\"" + password + "\"/>")
        .session;
  }
  int Tree(const std::string& session) {
    return Send(session, "GetDepartmentTreeView", "<department id=\"3\"/>").code;
  }
};

TEST_F(SessionEndTest, APasswordSetByAnotherEndsTheAccountsSessions) {
  struct Change {
    const char* service;
    const char* content;
    const char* password_after;
  };
  const Change changes[] = {
      {"UpdateUserPassword1", "<user id=\"eng.admin\" newPassword=\"reset-1\"/>", "reset-1"},
      {"UpdateUser", "<user id=\"eng.admin\" password=\"reset-2\"/>", "reset-2"},
  };
  std::string admin = Open("admin", "demo-admin");
  std::string password = "demo-eng";
  for (const Change& change : changes) {
    std::string eng = Open("eng.admin", password);
    ASSERT_EQ(Tree(eng), 0);
    ASSERT_EQ(Send(admin, change.service, change.content).code, 0) << change.service;
    EXPECT_EQ(Tree(eng), kNoSession) << change.service;
    EXPECT_EQ(Tree(admin), 0) << change.service;  // the one who changed it keeps its own
    password = change.password_after;
  }
}

TEST_F(SessionEndTest, ChangingOnesOwnPasswordMovesToANewSession) {
  std::string other = Open("eng.admin", "demo-eng");
  std::string eng = Open("eng.admin", "demo-eng");
  Response changed = Send(eng, "UpdateUserPassword",
                          "<user id=\"eng.admin\" password=\"demo-eng\" newPassword=\"next\"/>");
  ASSERT_EQ(changed.code, 0);
  ASSERT_FALSE(changed.session.empty());
  EXPECT_EQ(Tree(eng), kNoSession);
  EXPECT_EQ(Tree(other), kNoSession);
  EXPECT_EQ(Tree(changed.session), 0);
}

TEST_F(SessionEndTest, LogoutEndsTheSessionItCameWith) {
  std::string first = Open("eng.admin", "demo-eng");
  std::string second = Open("eng.admin", "demo-eng");
  EXPECT_EQ(Send(first, "Logout").code, 0);
  EXPECT_EQ(Tree(first), kNoSession);
  EXPECT_EQ(Send(first, "Logout").code, kNoSession);
  EXPECT_EQ(Tree(second), 0);
}

TEST_F(SessionEndTest, ASessionDoesNotPassToANewAccountUnderTheSameId) {
  std::string admin = Open("admin", "demo-admin");
  const std::string temp =
      "<user id=\"temp\" departmentId=\"3\" isConsoleManager=\"true\" password=\"t\"/>";
  ASSERT_EQ(Send(admin, "AddUser", temp).code, 0);
  std::string old = Open("temp", "t");
  ASSERT_EQ(Tree(old), 0);
  ASSERT_EQ(Send(admin, "DelUser", "<user id=\"temp\"/>").code, 0);
  ASSERT_EQ(Send(admin, "AddUser", temp).code, 0);
  EXPECT_EQ(Tree(old), kNoSession);
  EXPECT_EQ(Tree(Open("temp", "t")), 0);
}

}  // namespace
}  // namespace docsec::server
