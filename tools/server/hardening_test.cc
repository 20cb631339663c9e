// The reference server against hostile clients: a scoped manager reaching past its departments,
// sessions that outlive what ended them, strangers locking accounts out, and input that would
// poison what the server stores or answers. Each family is one fixture over the demo organisation
// (eng.admin manages Engineering, sales.admin Sales, admin everything).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tools/server/password_hash.h"
#include "tools/server/result_codes.h"
#include "tools/server/server.h"
#include "tools/server/server_test_util.h"

namespace docsec::server {
namespace {

using testing::Answer;
using testing::ManualClock;

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

class InputTest : public testing::DemoServerTest {
 protected:
  void SetUp() override {
    DemoServerTest::SetUp();
    ASSERT_EQ(LoginAs("eng.admin", "demo-eng"), 0);
  }
};

TEST_F(InputTest, TextThatIsNotUtf8IsRefusedNamingTheAttribute) {
  const char* const names[] = {"\xC3\x28",         "\x80",      "\xC0\xAF", "\xED\xA0\x80",
                               "\xF4\x90\x80\x80", "ok\xE2\x82"};
  for (const char* name : names) {
    Answer answer = Call("AddDepartment", std::string("<department superDeptId=\"3\" office=\"") +
                                              name + "\" name=\"x\"/>");
    EXPECT_EQ(answer.code, kBadValue) << name;
    EXPECT_NE(std::string(answer.root.child("return").attribute("message").value())
                  .find("department/@office"),
              std::string::npos);
  }
  EXPECT_TRUE(Call("QueryDepartment", "<department name=\"x\"/>").All("department").empty());
  EXPECT_EQ(Call("AddDepartment",
                 "<department superDeptId=\"3\" name=\"Z\xC3\xBCrich \xF0\x9F\x8F\xA2\"/>")
                .code,
            0);
}

TEST_F(InputTest, SiblingsCannotShareANameInAnyCase) {
  struct Case {
    const char* service;
    const char* content;
    int code;
  };
  const Case cases[] = {
      {"AddDepartment", "<department superDeptId=\"3\" name=\"platform\"/>", kAlreadyExists},
      {"UpdateDepartment", "<department id=\"6\" name=\"PLATFORM\"/>", kAlreadyExists},
      {"AddDepartment", "<department superDeptId=\"3\" name=\"Storage\"/>", 0},
      {"UpdateDepartment", "<department id=\"9\" superDeptId=\"3\"/>", kAlreadyExists},
      {"UpdateDepartment", "<department id=\"10\" superDeptId=\"3\"/>", 0},       // Network
      {"AddDepartment", "<department superDeptId=\"5\" name=\"Platform\"/>", 0},  // a cousin
  };
  for (const Case& c : cases) EXPECT_EQ(Call(c.service, c.content).code, c.code) << c.content;
}

// A scoped manager building the deepest tree of the longest names it can: both are bounded, so a
// tree view stays proportional to what it answers. The loop stops at the first refusal, so even a
// server without the bounds builds nothing that could strain the machine.
TEST_F(InputTest, NamesAndDepthAreBounded) {
  const std::string longest(519, 'n');
  EXPECT_EQ(Call("AddDepartment", "<department superDeptId=\"3\" name=\"" + longest + "x\"/>").code,
            kBadValue);
  int64_t parent = 3;  // Engineering, on the second level
  int levels = 2;
  Answer refused;
  for (int i = 0; i < 80; ++i) {
    Answer added = Call("AddDepartment", "<department superDeptId=\"" + std::to_string(parent) +
                                             "\" name=\"" + longest + "\"/>");
    if (added.code != 0) {
      refused = added;
      break;
    }
    parent = added.root.child("department").attribute("id").as_llong();
    ++levels;
  }
  EXPECT_EQ(levels, 64);
  EXPECT_EQ(refused.code, kConflict);
  EXPECT_NE(std::string(refused.root.child("return").attribute("message").value()).find("64"),
            std::string::npos);
  // Platform has a level below it: moved under the 63rd level, it would reach the 65th.
  int64_t at_63 = 0;
  Answer chain = Call("QueryDepartment", "<department id=\"" + std::to_string(parent) + "\"/>");
  at_63 = chain.root.child("department").attribute("superDeptId").as_llong();
  EXPECT_EQ(Call("UpdateDepartment",
                 "<department id=\"5\" superDeptId=\"" + std::to_string(at_63) + "\"/>")
                .code,
            kConflict);

  // Every level carries the path above it: about 62 * 63 / 2 names of 520 bytes in all.
  auto start = std::chrono::steady_clock::now();
  std::string tree = testing::Exchange(
      testing::Request("GetDepartmentTreeView", "<department id=\"3\" isWithUsers=\"true\"/>"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(testing::ParseAnswer(tree).code, 0);
  EXPECT_LT(tree.size(), 1200000u);
}

// Logins as they come over the network, each from the address given.
class StrangerTest : public testing::DemoServerTest {
 protected:
  ServerOptions Options() override {
    ServerOptions options = testing::FastOptions();
    options.now = clock_.function();
    options.login_limits.max_source_failures = 8;
    options.login_limits.attempts_per_second = 1;
    options.login_limits.attempt_burst = 30;
    return options;
  }
  Response Login(const std::string& account, const std::string& password,
                 const std::string& source) {
    return embedded_->server().Handle(
        {1,
         testing::Request("Login", "<user id=\"" + account + "\" password=\"" + password + "\"/>"),
         "", source});
  }

  ManualClock clock_;
};

TEST_F(StrangerTest, GuessesHoldTheAccountOnlyForTheGuesser) {
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Login("admin", "guess", "127.0.0.2").code, kBadCredentials);
  EXPECT_EQ(Login("admin", "demo-admin", "127.0.0.2").code, kTooManyAttempts);
  EXPECT_EQ(Login("admin", "demo-admin", "127.0.0.3").code, 0);  // the owner, elsewhere
  EXPECT_EQ(Login("admin", "demo-admin", "").code, 0);           // and in this process
}

TEST_F(StrangerTest, ASourceThatKeepsFailingIsHeldForEveryAccount) {
  const char* const accounts[] = {"admin", "eng.admin", "sales.admin", "nobody"};
  for (int i = 0; i < 8; ++i) Login(accounts[i % 4], "guess", "127.0.0.4");
  EXPECT_EQ(Login("eng.admin", "demo-eng", "127.0.0.4").code, kTooManyAttempts);
  EXPECT_EQ(Login("eng.admin", "demo-eng", "127.0.0.5").code, 0);
  clock_.Advance(std::chrono::minutes(6));
  EXPECT_EQ(Login("eng.admin", "demo-eng", "127.0.0.4").code, 0);
}

TEST_F(StrangerTest, AFloodOfLoginsIsRateLimitedPerSource) {
  int refused = 0;
  for (int i = 0; i < 40; ++i) {
    if (Login("bob", "demo-bob", "127.0.0.6").code == kTooManyAttempts) ++refused;
  }
  EXPECT_EQ(refused, 10);  // a burst of 30, then nothing until the clock moves
  Response slowed = Login("bob", "demo-bob", "127.0.0.6");
  EXPECT_NE(slowed.body.find("127.0.0.6"), std::string::npos) << slowed.body;
  EXPECT_EQ(Login("bob", "demo-bob", "127.0.0.7").code, kNotConsoleManager);  // another source
  clock_.Advance(std::chrono::seconds(2));
  EXPECT_EQ(Login("bob", "demo-bob", "127.0.0.6").code, kNotConsoleManager);
}

// Password hashing holds no transaction: while a login hashes (a second or more here), a
// supervisor's write goes through at once. The in-memory database has one connection, so
// any transaction held during the hash would make the write wait for all of it. What is
// checked is the order (the write ends while the login still runs), not a time: a machine
// busy with other tests only makes the hash longer, and a hash that ends before the write
// starts tells nothing and is tried again, twice as long.
TEST(LoginLoad, AWriteDoesNotWaitForALoginsPasswordHash) {
  const int probe = 50000;
  HashPassword("warm-up", 1000);
  auto begin = std::chrono::steady_clock::now();
  HashPassword("calibration", probe);
  double probe_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  int iterations = static_cast<int>(1.0 * probe / std::max(probe_seconds, 1e-4));
  bool told = false;
  for (int attempt = 0; attempt < 4 && !told; ++attempt, iterations *= 2) {
    ServerOptions options = testing::FastOptions();
    options.password_iterations = iterations;
    std::string error;
    auto server = Server::Open(options, &error);
    ASSERT_NE(server, nullptr) << error;
    std::string session = server->sessions().Open("admin");
    std::atomic<bool> login_done{false};
    std::thread login([&] {
      server->Handle({1, testing::Request("Login", "<user id=\"admin\" password=\"first-admin\"/>"),
                      "", "127.0.0.8"});
      login_done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    bool started_during_login = !login_done;
    Response write = server->Handle(
        {1, testing::Request("AddDepartment", "<department superDeptId=\"1\" name=\"W\"/>"),
         session});
    bool ended_during_login = !login_done;
    login.join();
    EXPECT_EQ(write.code, 0);
    if (!started_during_login) continue;  // the hash was too quick to tell
    told = true;
    // Had the login hashed inside its transaction, the write would have waited for the rest of it.
    EXPECT_TRUE(ended_during_login) << "the write waited for the login's hash";
  }
  EXPECT_TRUE(told) << "every hash ended before the write began";
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 07777;
}

TEST(LocalFiles, TheDatabaseIsPrivateDurableAndHeldByOneServer) {
  testing::ScopedTempDir dir("docsec-server-files");
  ASSERT_FALSE(dir.path().empty());
  const std::string folder = dir.File("state");
  ServerOptions options = testing::FastOptions();
  options.database = folder + "/server.db";
  options.exclusive_database = true;
  std::string error;
  auto server = Server::Open(options, &error);
  ASSERT_NE(server, nullptr) << error;
  std::string session = server->sessions().Open("admin");
  ASSERT_EQ(
      server
          ->Handle({1,
                    testing::Request("AddDepartment", "<department superDeptId=\"1\" name=\"A\"/>"),
                    session})
          .code,
      0);
  EXPECT_EQ(ModeOf(folder), 0700u);
  for (const char* suffix : {"", "-wal", "-shm"}) {
    EXPECT_EQ(ModeOf(options.database + suffix), 0600u) << suffix;
  }
  int64_t synchronous = 0;
  server->storage().Run(
      Storage::Access::kRead, Storage::Clock::time_point::max(),
      [&](Transaction& tx) { synchronous = tx.QueryInt("PRAGMA synchronous", {}, -1); });
  EXPECT_EQ(synchronous, 2);  // FULL

  EXPECT_EQ(Server::Open(options, &error), nullptr);
  EXPECT_NE(error.find("held by another server (process " + std::to_string(getpid()) + ")"),
            std::string::npos)
      << error;

  // A file another program left readable to all is narrowed when the server opens it.
  server.reset();
  ASSERT_EQ(chmod(options.database.c_str(), 0644), 0);
  server = Server::Open(options, &error);
  ASSERT_NE(server, nullptr) << error;
  EXPECT_EQ(ModeOf(options.database), 0600u);
}

}  // namespace
}  // namespace docsec::server
