#include "docsec/users/user.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "docsec/channel/last_error.h"
#include "docsec/org/department.h"
#include "docsec/platform/xml.h"
#include "docsec/policy/auth_level_by_user.h"
#include "docsec/policy/policy.h"
#include "docsec/policy/secret_level.h"
#include "docsec/testing/class_checks.h"
#include "docsec/testing/fake_server.h"
#include "docsec/users/position.h"
#include "docsec/users/user_appointment.h"

namespace docsec {
namespace {

using testing::FakeServer;

std::string Request(const std::string& body) { return FakeServer::RequestText(body); }
std::string Answer(const std::string& body) { return FakeServer::AnswerText(body); }

// Loads `xml` (one element) into `object`, as an answer would.
void Load(CDataObject* object, const std::string& xml) {
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml(xml));
  object->LoadFromXmlNode(doc.DocumentElement());
}

TEST(User, ClassesAreWellFormed) {
  testing::ExpectWellFormedClass<CDOUser>(kObjectTypeUser, "User", "user");
  testing::ExpectWellFormedClass<CDOPosition>(kObjectTypePosition, "Position", "position");
  testing::ExpectWellFormedClass<CDOUserAppointment>(kObjectTypeNone, "UserAccession",
                                                     "userAccession");
  testing::ExpectWellFormedClass<CDOAuthLevelByUser>(kObjectTypeAuthLevelByUser,
                                                     "UserAuthorization", "userAuthorization");
}

TEST(User, SupervisorFlagLoadsAsBooleanWhateverItsCase) {
  const struct {
    const char* text;
    bool on;
  } cases[] = {{"TRUE", true}, {"true", true}, {"false", false}, {"FALSE", false}};
  for (const auto& c : cases) {
    CDOUser user;
    Load(&user, std::string("<user id=\"a\" isSupervisor=\"") + c.text + "\"/>");
    EXPECT_EQ(user.GetIsSupervisor(), c.on) << c.text;
  }
}

class Login : public ::testing::Test {
 protected:
  void SetUp() override { GetLastDrmError(); }
  FakeServer server_;
  CDOUser console_;
};

TEST_F(Login, SendsTheDirectoryFlagOnlyWhenAsked) {
  const struct {
    int validate;
    const char* request;
  } cases[] = {
      {0, "<service value=\"Login\"/><user id=\"ann\" password=\"p&amp;w\"/>"},
      {1,
       "<service value=\"Login\"/><user id=\"ann\" password=\"p&amp;w\" "
       "mustValidateOnLDAPServer=\"true\"/>"},
  };
  for (const auto& c : cases) {
    server_.QueueAnswer(Answer("<user id=\"ann\" name=\"Ann\" departmentId=\"4\"/>"));
    std::unique_ptr<CDOUser> user(console_.LoginEx("ann", "p&w", c.validate));
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(server_.last_request(), Request(c.request));
    EXPECT_EQ(user->GetDepartmentId(), 4);
    EXPECT_EQ(CDOUser::GetLastLoginUser(), user.get());
  }
}

TEST_F(Login, EncryptModeOfTheAnswerLandsOnTheCallingObject) {
  const std::string answer = Answer("<config encryptMode=\"2\"/><user id=\"ann\"/>");
  server_.QueueAnswer(answer);
  std::unique_ptr<CDOUser> user(console_.Login("ann", "pw"));
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(console_.GetAgentEncryptModule(), 2);
  EXPECT_EQ(user->GetAgentEncryptModule(), -1);

  CDOUser other;
  server_.QueueAnswer(answer);
  std::unique_ptr<CDOUser> logged(other.LogLogin("ann", "pw"));
  ASSERT_NE(logged, nullptr);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"Login\"/><user id=\"ann\" password=\"pw\"/>"));
  EXPECT_EQ(other.GetAgentEncryptModule(), -1);  // the log-in for logs reads no configuration
  EXPECT_EQ(CDOUser::GetLastLoginUser(), logged.get());
}

TEST_F(Login, FailuresReturnNullAndKeepTheLastLoginUser) {
  server_.QueueAnswer(Answer("<user id=\"ann\"/>"));
  std::unique_ptr<CDOUser> first(console_.Login("ann", "pw"));
  ASSERT_NE(first, nullptr);
  const struct {
    std::string answer;
    unsigned error;
  } cases[] = {
      {"<document><return code=\"17\"/><user id=\"ann\"/></document>", 17},  // wrong password
      {Answer(""), 0},                                                       // no user element
      {"", 0},                                                               // no answer
  };
  for (const auto& c : cases) {
    server_.QueueAnswer(c.answer);
    EXPECT_EQ(console_.Login("ann", "bad"), nullptr) << c.answer;
    EXPECT_EQ(CDOUser::GetLastLoginUser(), first.get()) << c.answer;
    EXPECT_EQ(GetLastDrmError(), c.error) << c.answer;
  }
}

TEST_F(Login, LastLoginUserIsClearedWhenThatUserDies) {
  server_.SetDefaultAnswer(Answer("<user id=\"ann\"/>"));
  std::unique_ptr<CDOUser> first(console_.Login("ann", "pw"));
  std::unique_ptr<CDOUser> second(console_.Login("ann", "pw"));
  ASSERT_EQ(CDOUser::GetLastLoginUser(), second.get());
  first.reset();  // not the last one: nothing changes
  EXPECT_EQ(CDOUser::GetLastLoginUser(), second.get());
  std::thread([&second] { second.reset(); }).join();
  EXPECT_EQ(CDOUser::GetLastLoginUser(), nullptr);

  // Logins and deaths racing on two threads never leave a pointer to a dead user behind.
  auto churn = [this] {
    for (int i = 0; i < 100; ++i) delete console_.Login("ann", "pw");
  };
  std::thread a(churn), b(churn);
  a.join();
  b.join();
  EXPECT_EQ(CDOUser::GetLastLoginUser(), nullptr);
}

// A resumed login is the last login user only when the server answers for that very account.
TEST_F(Login, ResumedLoginBecomesTheLastLoginUserOnlyForItsOwnAccount) {
  server_.QueueAnswer(Answer("<user id=\"ann\"/>"));
  std::unique_ptr<CDOUser> first(console_.Login("ann", "pw"));
  ASSERT_NE(first, nullptr);
  const struct {
    const char* account;
    std::string answer;
    bool resumed;
  } cases[] = {
      {"ann", Answer("<user id=\"ann\" name=\"Ann\" departmentId=\"4\"/>"), true},
      {"ann", "<document><return code=\"12\"/></document>", false},  // the session is over
      {"ann", Answer(""), false},                                    // no such account
      {"ann", Answer("<user id=\"bob\"/>"), false},                  // another account
      {"ann", "", false},                                            // no answer
      {"", Answer("<user id=\"\"/>"), false},                        // nobody to resume
  };
  for (const auto& c : cases) {
    server_.ClearRequests();
    server_.QueueAnswer(c.answer);
    CDOUser* last = CDOUser::GetLastLoginUser();
    std::unique_ptr<CDOUser> user(console_.ResumeLogin(c.account));
    EXPECT_EQ(user != nullptr, c.resumed) << c.answer;
    if (c.resumed) {
      EXPECT_EQ(server_.last_request(),
                Request("<service value=\"QueryUser\"/><user id=\"ann\"/>"));
      EXPECT_EQ(CDOUser::GetLastLoginUser(), user.get());
      EXPECT_EQ(user->GetDepartmentId(), 4);
      first = std::move(user);
    } else {
      EXPECT_EQ(CDOUser::GetLastLoginUser(), last) << c.answer;
      EXPECT_EQ(server_.request_count(), *c.account != '\0' ? 1u : 0u) << c.answer;
    }
  }
  GetLastDrmError();
}

TEST(User, ConsolePermissionKeepsAll64Bits) {
  const struct {
    uint64_t word;
    const char* text;
  } cases[] = {{0, "0"},
               {5, "5"},
               {0x8000000000000000ull, "-9223372036854775808"},
               {0xffffffffffffffffull, "-1"},
               {0x7fffffffffffffffull, "9223372036854775807"}};
  FakeServer server;
  for (const auto& c : cases) {
    CDOUser user;
    EXPECT_EQ(user.SetConsolePermission(c.word), 1);
    EXPECT_EQ(user.GetConsolePermission(), c.word) << c.text;
    user.Update();
    EXPECT_EQ(server.last_request(),
              Request(std::string("<service value=\"UpdateUser\"/><user consolePermission=\"") +
                      c.text + "\"/>"));
  }
  // What the server may send: the unsigned form reads as the same word; nothing readable as none.
  const struct {
    const char* text;
    uint64_t word;
  } loaded[] = {{"18446744073709551615", ~0ull},
                {"", 0},
                {"12x", 0},
                {"18446744073709551616", 0},
                {"-9223372036854775809", 0}};
  for (const auto& c : loaded) {
    CDOUser user;
    Load(&user, std::string("<user consolePermission=\"") + c.text + "\"/>");
    EXPECT_EQ(user.GetConsolePermission(), c.word) << c.text;
  }
  CDOUser unset;
  EXPECT_EQ(unset.GetConsolePermission(), 0u);
}

class Account : public ::testing::Test {
 protected:
  void SetUp() override {
    GetLastDrmError();
    user_.SetId("ann");
  }
  FakeServer server_;
  CDOUser user_;
};

TEST_F(Account, OneArgumentPasswordChangePutsTheOldOneBackOnFailure) {
  EXPECT_EQ(user_.ChangePassword(nullptr), 0);
  EXPECT_EQ(server_.request_count(), 0u);

  server_.QueueAnswer("<document><return code=\"5\"/></document>");
  EXPECT_EQ(user_.ChangePassword("new"), 0);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateUser\"/><user id=\"ann\" password=\"new\"/>"));
  char buffer[16];
  EXPECT_EQ(user_.GetPassword(buffer, sizeof buffer), 0);  // was unset, is unset again

  user_.SetPassword("old");
  server_.QueueAnswer("<document><return code=\"5\"/></document>");
  EXPECT_EQ(user_.ChangePassword("new"), 0);
  ASSERT_EQ(user_.GetPassword(buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "old");
  EXPECT_EQ(user_.ChangePassword("new"), 1);
  user_.GetPassword(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "new");
}

TEST_F(Account, ThreeArgumentPasswordChangeNamesItsOperation) {
  EXPECT_EQ(user_.ChangePassword("old", nullptr, 0), 0);
  EXPECT_EQ(server_.request_count(), 0u);
  EXPECT_EQ(user_.ChangePassword("old", "new", 0), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateUserPassword\"/><user id=\"ann\" password=\"old\" "
                    "newPassword=\"new\"/>"));
  CDOUser other;
  other.SetId("bob");
  EXPECT_EQ(other.ChangePassword("ignored", "n2", 1), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateUserPassword1\"/><user id=\"bob\" "
                    "newPassword=\"n2\"/>"));
}

TEST_F(Account, QueryUserReloadsThisUser) {
  user_.SetName("old");
  server_.QueueAnswer(Answer("<user id=\"ann\" name=\"Ann\" isLock=\"true\"/>"));
  EXPECT_EQ(user_.QueryUserDepartment(), 1);
  EXPECT_EQ(server_.last_request(), Request("<service value=\"QueryUser\"/><user id=\"ann\"/>"));
  EXPECT_TRUE(user_.GetIsUserLock());
  server_.QueueAnswer(Answer("<position id=\"1\"/>"));
  EXPECT_EQ(user_.QueryUserDepartment(), 0);
}

TEST_F(Account, ChangeDepartmentPutsTheOldIdBackOnFailure) {
  CDODepartment here, there;
  here.SetId(3);
  there.SetId(8);
  user_.SetDepartmentId(3);
  user_.SetOwnerDepartment(&here);
  CDODepartment same;
  same.SetId(3);
  EXPECT_EQ(user_.ChangeDepartment(&same), 1);  // equal to the owner: nothing to do
  EXPECT_EQ(user_.ChangeDepartment(nullptr), 0);
  EXPECT_EQ(server_.request_count(), 0u);

  server_.QueueAnswer("<document><return code=\"4\"/></document>");
  EXPECT_EQ(user_.ChangeDepartment(&there), 0);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateUser\"/><user id=\"ann\" departmentId=\"8\"/>"));
  EXPECT_EQ(user_.GetDepartmentId(), 3);
  EXPECT_EQ(user_.GetOwnerDepartment(), &here);
}

TEST_F(Account, DepartmentPathWithoutATreeIsTheOneSent) {
  Load(&user_, "<user id=\"ann\" departmentPath=\"Head/Sales\"/>");
  char buffer[32];
  EXPECT_EQ(user_.GetDepartmentPath(buffer, sizeof buffer), 10);
  EXPECT_STREQ(buffer, "Head/Sales");
  EXPECT_EQ(user_.GetDepartmentPath(buffer, 5), 0);  // does not fit: refused, never overrun
}

TEST_F(Account, DepartmentPermissionWordsAreReadOrLeftAlone) {
  uint32_t inner = 7, author = 7;
  EXPECT_EQ(user_.GetDepartmentPermission(nullptr, &author), 0);
  EXPECT_EQ(user_.GetDepartmentPermission(&inner, nullptr), 0);
  EXPECT_EQ(server_.request_count(), 0u);

  user_.SetName("Ann");
  server_.QueueAnswer(Answer("<parameter authorPermission=\"12\" innerPermission=\"-1\"/>"));
  EXPECT_EQ(user_.GetDepartmentPermission(&inner, &author), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetDepartmentPermission\"/><user id=\"ann\" "
                    "name=\"Ann\"/>"));
  EXPECT_EQ(inner, 0xffffffffu);
  EXPECT_EQ(author, 12u);

  const std::string bad[] = {
      Answer(""),
      Answer("<parameter innerPermission=\"1\"/>"),
      Answer("<parameter innerPermission=\"1\" authorPermission=\"x\"/>"),
      Answer("<parameter innerPermission=\"4294967296\" authorPermission=\"1\"/>"),
      "<document><return code=\"3\"/><parameter innerPermission=\"1\" "
      "authorPermission=\"1\"/></document>",
      "not xml"};
  for (const std::string& answer : bad) {
    inner = author = 7;
    server_.QueueAnswer(answer);
    EXPECT_EQ(user_.GetDepartmentPermission(&inner, &author), 0) << answer;
    EXPECT_EQ(inner, 7u) << answer;
    EXPECT_EQ(author, 7u) << answer;
  }
}

TEST_F(Account, AuthorizedDepartmentsAreOnePerDepartmentAndKeepTheirLevels) {
  server_.QueueAnswer(
      Answer("<userAuthorization authorizeDeptId=\"5\" secretLevelId=\"1\" userId=\"ann\" "
             "permission=\"3\" authorizeDeptPath=\"A/old\"/>"
             "<userAuthorization authorizeDeptId=\"9\" secretLevelId=\"1\" userId=\"ann\" "
             "permission=\"1\" authorizeDeptPath=\"A/Nine\"/>"
             "<userAuthorization authorizeDeptId=\"5\" secretLevelId=\"2\" userId=\"ann\" "
             "permission=\"6\" authorizeDeptPath=\"A/Five\"/>"));
  DataObjectList* departments = user_.GetAuthorizedDepartments();
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"GetUserAuthorization\"/><user id=\"ann\"/>"));
  ASSERT_NE(departments, nullptr);
  ASSERT_EQ(departments->GetSize(), 2);
  auto* five = static_cast<CDODepartment*>(departments->GetAt(0));
  char name[32];
  EXPECT_EQ(five->GetId(), 5);
  five->GetName(name, sizeof name);
  EXPECT_STREQ(name, "A/Five");  // the last authorization on a department names it

  CDOSecretLevel one(1, "one", ""), two(2, "two", ""), three(3, "three", "");
  EXPECT_EQ(user_.GetAuthorizedDeptPermission(five, &one), 3);
  EXPECT_EQ(user_.GetAuthorizedDeptPermission(five, &two), 6);
  EXPECT_EQ(user_.GetAuthorizedDeptPermission(five, &three), 0);
  EXPECT_EQ(user_.GetAuthorizedDeptPermission(nullptr, &one), 0);

  server_.QueueAnswer(Answer(""));
  departments = user_.GetAuthorizedDepartments();
  ASSERT_NE(departments, nullptr);
  EXPECT_TRUE(departments->empty());
  CDODepartment again;  // the earlier authorizations went with the refill
  again.SetId(5);
  EXPECT_EQ(user_.GetAuthorizedDeptPermission(&again, &one), 0);
  server_.QueueAnswer("");
  EXPECT_EQ(user_.GetAuthorizedDepartments(), nullptr);
}

// ---- users in a department tree ----

TEST(UserRoots, LoadTheSubTreeWhereTheUserAdministersOrBelongs) {
  FakeServer server;
  const std::string tree =
      Answer("<department id=\"5\"><department id=\"6\"/><user id=\"b\"/></department>");
  const struct {
    long admin;  // -1: administers its own department 3
    CDODepartment* (*load)(CDOUser*);
    const char* request;
  } cases[] = {
      {5, [](CDOUser* u) { return u->GetAdminedRootDeptpartmentEx(0, 2); },
       "<service value=\"GetDepartmentTreeView\"/><department id=\"5\" isWithComputers=\"true\" "
       "isWithPositions=\"true\" isWithUsers=\"true\" deep=\"2\"/>"},
      {-1, [](CDOUser* u) { return u->GetAdminedRootDeptpartmentEx(1, 0); },
       "<service value=\"GetDepartmentTreeView1\"/><department id=\"3\" isWithComputers=\"true\" "
       "isWithPositions=\"true\" isWithUsers=\"true\" deep=\"0\"/>"},
      {-1, [](CDOUser* u) { return u->GetAdminedRootDeptpartment(); },
       "<service value=\"GetDepartmentTreeView\"/><department id=\"3\" isWithComputers=\"true\" "
       "isWithPositions=\"true\" isWithUsers=\"true\"/>"},
      {5, [](CDOUser* u) { return u->GetTreeRootDepartment(); },
       "<service value=\"GetDepartmentTreeView1\"/><department id=\"3\" isWithPositions=\"true\" "
       "isWithUsers=\"true\"/>"},
  };
  for (const auto& c : cases) {
    CDOUser user;
    user.SetDepartmentId(3);
    user.SetManageDeptId(c.admin);
    server.QueueAnswer(tree);
    std::unique_ptr<CDODepartment> root(c.load(&user));
    EXPECT_EQ(server.last_request(), Request(c.request));
    ASSERT_NE(root, nullptr) << c.request;
    ASSERT_NE(root->GetUsers(), nullptr);  // the answer's tree came with it
    EXPECT_EQ(root->GetUsers()->GetSize(), 1);

    server.QueueAnswer("<document><return code=\"8\"/></document>");
    EXPECT_EQ(c.load(&user), nullptr);  // and the department made for it is gone (LSan)
  }
}

class InTree : public ::testing::Test {
 protected:
  void SetUp() override {
    Load(&root_,
         "<department id=\"1\" name=\"Root\"><department id=\"2\" name=\"A\">"
         "<position id=\"7\" departmentId=\"2\" positionName=\"Head\"/>"
         "<user id=\"ann\" departmentId=\"2\"/></department>"
         "<department id=\"3\" name=\"B\"/></department>");
    a_ = root_.FindDepartmentById(2);
    b_ = root_.FindDepartmentById(3);
    ASSERT_NE(a_, nullptr);
    ASSERT_NE(b_, nullptr);
    user_ = static_cast<CDOUser*>(a_->GetUsers()->GetAt(0));
  }
  std::string PathOf(CDOUser* user) {
    char buffer[32] = "";
    user->GetDepartmentPath(buffer, sizeof buffer);
    return buffer;
  }
  FakeServer server_;
  CDODepartment root_;
  CDODepartment* a_ = nullptr;
  CDODepartment* b_ = nullptr;
  CDOUser* user_ = nullptr;
};

TEST_F(InTree, PathsComeFromTheTree) {
  EXPECT_EQ(PathOf(user_), "Root/A");
  auto* position = static_cast<CDOPosition*>(a_->GetPositons()->GetAt(0));
  CDOUserAppointment record(user_, position);
  char text[16];
  record.GetPositionDeptPath(text, sizeof text);
  EXPECT_STREQ(text, "Root/A");
  record.GetUserDeptPath(text, sizeof text);
  EXPECT_STREQ(text, "Root/A");
}

TEST_F(InTree, ChangeDepartmentMovesTheUserBetweenLists) {
  EXPECT_EQ(user_->ChangeDepartment(b_), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"UpdateUser\"/><user id=\"ann\" departmentId=\"3\"/>"));
  EXPECT_TRUE(a_->GetUsers()->empty());
  ASSERT_EQ(b_->GetUsers()->GetSize(), 1);
  EXPECT_EQ(b_->GetUsers()->GetAt(0), user_);
  EXPECT_EQ(user_->GetOwnerDepartment(), b_);
  EXPECT_EQ(PathOf(user_), "Root/B");

  // A department that never loaded its users cannot take the user: it stays owned by B's list.
  CDODepartment unloaded;
  unloaded.SetId(9);
  EXPECT_EQ(user_->ChangeDepartment(&unloaded), 1);
  EXPECT_EQ(user_->GetDepartmentId(), 9);
  EXPECT_EQ(user_->GetOwnerDepartment(), b_);
  EXPECT_EQ(b_->GetUsers()->GetSize(), 1);

  // A user outside the tree stays its caller's.
  CDOUser loose;
  loose.SetId("bob");
  EXPECT_EQ(loose.ChangeDepartment(b_), 1);
  EXPECT_EQ(loose.GetOwnerDepartment(), nullptr);
  EXPECT_EQ(b_->GetUsers()->GetSize(), 1);
}

// ---- a user's authorization entry ----

TEST(AuthLevelByUser, JoinsPolicyAndUser) {
  CDOPolicy policy;
  policy.SetOwnerDeptId(5);
  policy.SetSecretLevelId(3);
  CDOUser user;
  Load(&user, "<user id=\"ann\" name=\"Ann\" departmentId=\"7\" departmentPath=\"A/B\"/>");
  CDOAuthLevelByUser entry(&policy, &user, 6);
  EXPECT_EQ(entry.GetOwnerPolicy(), &policy);
  EXPECT_EQ(entry.GetOwnerDeptId(), 5);
  EXPECT_EQ(entry.GetSecretLevelId(), 3);
  EXPECT_EQ(entry.GetUserDeptId(), 7);
  EXPECT_EQ(entry.GetPermission(), 6);
  char text[32];
  entry.GetUserDeptPath(text, sizeof text);
  EXPECT_STREQ(text, "A/B");
  entry.GetUserNameA(text, sizeof text);
  EXPECT_STREQ(text, "Ann");
  EXPECT_EQ(entry.IsAuthorizedTo(&user), 1);
  EXPECT_EQ(entry.IsAuthorizedTo(nullptr), 0);

  CDOUser pathless;
  pathless.SetId("bob");
  CDOAuthLevelByUser plain(&policy, &pathless, 1);
  EXPECT_EQ(plain.GetUserDeptPath(text, sizeof text), 0);
  EXPECT_EQ(plain.IsAuthorizedTo(&pathless), 1);
}

TEST(AuthLevelByUser, MatchesTheWholeAccountName) {
  const std::string long_id(600, 'a');
  const struct {
    std::string entry;
    std::string user;
    int match;
  } cases[] = {{"ann", "ann", 1},
               {"ann", "Ann", 0},
               {"ann", "anne", 0},
               {std::string(519, 'a'), long_id, 0},  // equal as far as a 520-byte buffer goes
               {long_id, long_id, 1},
               {"", "", 0}};
  for (const auto& c : cases) {
    CDOAuthLevelByUser entry;
    entry.SetUserId(c.entry.c_str());
    CDOUser user;
    user.SetId(c.user.c_str());
    EXPECT_EQ(entry.IsAuthorizedTo(&user), c.match) << c.entry.size() << "/" << c.user.size();
  }
  // A joined entry never carries a cut account name that could be someone else's.
  CDOUser user;
  user.SetId(long_id.c_str());
  CDOAuthLevelByUser joined(nullptr, &user, 1);
  char text[8];
  EXPECT_EQ(joined.GetUserId(text, sizeof text), 0);
  EXPECT_EQ(joined.IsAuthorizedTo(&user), 0);
}

}  // namespace
}  // namespace docsec
