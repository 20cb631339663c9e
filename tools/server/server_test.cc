// The reference server's operations, driven through the transport's in-process delivery with
// literal request documents, against the demo organisation.
#include "tools/server/server.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tools/server/result_codes.h"
#include "tools/server/server_test_util.h"

namespace docsec::server {
namespace {

using testing::Answer;
using testing::DemoServerTest;

class ServerTest : public DemoServerTest {
 protected:
  void SetUp() override {
    DemoServerTest::SetUp();
    ASSERT_EQ(LoginAs("admin", "demo-admin"), 0);
  }

  // Counts the elements named `tag` anywhere below `node`.
  static size_t CountBelow(pugi::xml_node node, const char* tag) {
    size_t count = 0;
    for (pugi::xml_node child : node.children()) {
      if (std::string_view(child.name()) == tag) ++count;
      count += CountBelow(child, tag);
    }
    return count;
  }
};

TEST_F(ServerTest, LoginAnswersTheAccountWithoutItsPassword) {
  Answer answer = Call("Login", "<user id=\"admin\" password=\"demo-admin\"/>");
  ASSERT_EQ(answer.code, 0);
  pugi::xml_node user = answer.root.child("user");
  EXPECT_STREQ(user.attribute("id").value(), "admin");
  EXPECT_STREQ(user.attribute("isSupervisor").value(), "true");
  EXPECT_STREQ(user.attribute("departmentPath").value(), "Demo Corp");
  EXPECT_FALSE(user.attribute("password"));
  EXPECT_STREQ(answer.root.child("config").attribute("encryptMode").value(), "1");
  EXPECT_EQ(embedded_->session().size(), 64u);
}

// Each malformed or incomplete request gets its own code, and the table is the documented one.
TEST_F(ServerTest, RefusedRequestsCarryTheDocumentedCodes) {
  struct Case {
    std::string request;
    int code;
  };
  const Case cases[] = {
      {testing::Request("NoSuchOperation"), kUnknownOperation},
      {"this is not xml", kMalformedDocument},
      {"<other><service value=\"QueryUser\"/></other>", kMalformedDocument},
      {"<document><user id=\"x\"/><service value=\"QueryUser\"/></document>", kMalformedDocument},
      {"<document><service value=\"QueryUser\"/><service value=\"QueryUser\"/></document>",
       kMalformedDocument},
      {testing::Request("GetDepartmentTreeView"), kMissingElement},
      {testing::Request("GetDepartmentTreeView", "<department/>"), kMissingAttribute},
      {testing::Request("GetDepartmentTreeView", "<department id=\"x7\"/>"), kBadValue},
      {testing::Request("GetDepartmentTreeView", "<department id=\"999\"/>"), kNotFound},
      {testing::Request("AddUser", "<user id=\"bob\" departmentId=\"5\"/>"), kAlreadyExists},
      {testing::Request("DelDepartment", "<department id=\"3\"/>"), kConflict},
      {testing::Request("DelDepartment", "<department id=\"1\"/>"), kSystemDefault},
      {testing::Request("ManualSynchronizeLDAP"), kDirectoryNotConfigured},
  };
  for (const Case& c : cases) {
    Answer answer = testing::ParseAnswer(testing::Exchange(c.request));
    EXPECT_EQ(answer.code, c.code) << c.request;
    EXPECT_FALSE(std::string(answer.root.child("return").attribute("message").value()).empty());
  }
}

// A refusal's message names its cause: the attribute and element, the bad value, the department
// with its path, the object's kind and key. Passwords never appear in one.
TEST_F(ServerTest, RefusalsNameTheirCause) {
  struct Case {
    const char* account;  // logged in for the case
    const char* service;
    std::string content;
    int code;
    std::vector<std::string> words;  // each in the message
  };
  const std::string computer = "<computer uuid=\"00000000-0000-4000-8000-0000000000bb\"";
  const Case cases[] = {
      {"admin", "AddUser", "<user departmentId=\"5\"/>", kMissingAttribute, {"\"id\" of <user>"}},
      {"admin",
       "UpdateIpSegment",
       "<department id=\"8\"><ip oldIpTo=\"127.0.0.9\"/></department>",
       kMissingAttribute,
       {"\"oldIpFrom\" of <ip>"}},
      {"admin",
       "SetIpSegment",
       "<department id=\"8\"><ip ipFrom=\"127.0.0.40\" ipTo=\"127.0.0.30\"/></department>",
       kBadValue,
       {"reversed", "ipFrom 127.0.0.40 is above ipTo 127.0.0.30"}},
      {"admin",
       "GetDepartmentTreeView",
       "<department id=\"x7\"/>",
       kBadValue,
       {"\"id\" of <department>", "\"x7\""}},
      {"admin",
       "AddComputer",
       computer + " departmentId=\"5\" ip=\"127.0.0.300\"/>",
       kBadValue,
       {"\"ip\" of <computer>", "\"127.0.0.300\""}},
      {"admin",
       "DelComputer",
       computer + "/>",
       kNotFound,
       {"computer 00000000-0000-4000-8000-0000000000bb"}},
      {"admin", "DelUser", "<user id=\"nobody\"/>", kNotFound, {"user nobody"}},
      {"admin",
       "UpdateIpSegment",
       "<department id=\"8\"><ip oldIpFrom=\"127.0.0.50\" oldIpTo=\"127.0.0.59\"/></department>",
       kNotFound,
       {"department 8 (/Demo Corp/Sales/South) has no range 127.0.0.50 - 127.0.0.59"}},
      {"admin", "AddUser", "<user id=\"bob\" departmentId=\"5\"/>", kAlreadyExists, {"user bob"}},
      {"admin",
       "AddDepartment",
       "<department superDeptId=\"3\" name=\"platform\"/>",
       kAlreadyExists,
       {"department 3 (/Demo Corp/Engineering)", "\"platform\"", "department 5"}},
      {"admin",
       "DelDepartment",
       "<department id=\"3\"/>",
       kConflict,
       {"/Demo Corp/Engineering", "2 sub-departments", "1 user ", "0 computers"}},
      {"admin",
       "SetIpSegment",
       "<department id=\"6\"><ip ipFrom=\"127.0.0.25\" ipTo=\"127.0.0.35\"/></department>",
       kConflict,
       {"overlaps 127.0.0.20 - 127.0.0.29 of department 4 (/Demo Corp/Sales)"}},
      {"admin",
       "UpdateDepartment",
       "<department id=\"3\" superDeptId=\"9\"/>",
       kConflict,
       {"department 3 (/Demo Corp/Engineering) cannot move below department 9"}},
      {"eng.admin",
       "GetDepartmentTreeView",
       "<department id=\"4\"/>",
       kPermissionDenied,
       {"department 4 (/Demo Corp/Sales) is outside your scope",
        "eng.admin administers department 3 (/Demo Corp/Engineering)"}},
      {"eng.admin",
       "AddSecretLevel",
       "<secretLevel name=\"x\"/>",
       kPermissionDenied,
       {"only a supervisor may use AddSecretLevel", "eng.admin"}},
      {"eng.admin",
       "UpdateUser",
       "<user id=\"bob\" isSupervisor=\"true\"/>",
       kPermissionDenied,
       {"make user bob a supervisor"}},
  };
  std::string account = "admin";  // as SetUp logged in
  for (const Case& c : cases) {
    if (account != c.account) {
      account = c.account;
      ASSERT_EQ(LoginAs(account, account == "admin" ? "demo-admin" : "demo-eng"), 0);
    }
    Answer answer = Call(c.service, c.content);
    const std::string message = answer.root.child("return").attribute("message").value();
    EXPECT_EQ(answer.code, c.code) << c.service << ": " << message;
    for (const std::string& word : c.words) {
      EXPECT_NE(message.find(word), std::string::npos) << c.service << ": " << message;
    }
  }
  // A wrong old password and an empty new one: the refusal says what, never the password.
  Answer wrong = Call("UpdateUserPassword",
                      "<user id=\"eng.admin\" password=\"guess-Xy12\" newPassword=\"new-Qz34\"/>");
  EXPECT_EQ(wrong.code, kBadCredentials);
  for (const char* secret : {"guess-Xy12", "new-Qz34"}) {
    EXPECT_EQ(std::string(wrong.root.child("return").attribute("message").value()).find(secret),
              std::string::npos);
  }
}

TEST_F(ServerTest, TreeViewNestsTheWholeSubTreeWithTheAskedKinds) {
  Answer answer = Call("GetDepartmentTreeView",
                       "<department id=\"1\" isWithComputers=\"true\" isWithPositions=\"true\""
                       " isWithUsers=\"true\"/>");
  ASSERT_EQ(answer.code, 0);
  pugi::xml_node root = answer.root.child("department");
  EXPECT_STREQ(root.attribute("name").value(), "Demo Corp");
  EXPECT_EQ(CountBelow(root, "department"), 9u);
  EXPECT_EQ(CountBelow(root, "user"), 9u);
  EXPECT_EQ(CountBelow(root, "computer"), 6u);
  EXPECT_EQ(CountBelow(root, "position"), 6u);
  EXPECT_EQ(CountBelow(root, "ip"), 3u);
  pugi::xml_node storage = root.find_node(
      [](pugi::xml_node n) { return std::string_view(n.attribute("name").value()) == "Storage"; });
  EXPECT_STREQ(storage.attribute("superDeptPath").value(), "Demo Corp/Engineering/Platform");
  // The objects below a department take its path from the tree.
  ASSERT_TRUE(storage.child("computer"));
  EXPECT_FALSE(storage.child("computer").attribute("departmentPath"));
  EXPECT_FALSE(root.find_node([](pugi::xml_node n) { return bool(n.attribute("password")); }));
}

TEST_F(ServerTest, TreeViewHonoursDepthFlagsAndTheVolatileFreeForm) {
  Answer shallow =
      Call("GetDepartmentTreeView", "<department id=\"3\" isWithComputers=\"true\" deep=\"1\"/>");
  ASSERT_EQ(shallow.code, 0);
  pugi::xml_node engineering = shallow.root.child("department");
  EXPECT_EQ(CountBelow(engineering, "department"), 2u);  // Platform and Applications only
  EXPECT_EQ(CountBelow(engineering, "user"), 0u);
  EXPECT_EQ(CountBelow(engineering, "computer"), 2u);

  Answer view1 = Call("GetDepartmentTreeView1", "<department id=\"5\" isWithComputers=\"true\"/>");
  ASSERT_EQ(view1.code, 0);
  pugi::xml_node computer = view1.root.child("department").child("computer");
  ASSERT_TRUE(computer);
  EXPECT_TRUE(computer.attribute("uuid"));
  EXPECT_FALSE(computer.attribute("agentVersion"));
  EXPECT_FALSE(computer.attribute("status"));
}

TEST_F(ServerTest, DepartmentsAreAddedMovedAndDeleted) {
  Answer added = Call("AddDepartment", "<department name=\"Lab\" superDeptId=\"6\"/>");
  ASSERT_EQ(added.code, 0);
  std::string id = added.root.child("department").attribute("id").value();
  EXPECT_STREQ(added.root.child("department").attribute("superDeptPath").value(),
               "Demo Corp/Engineering/Applications");

  EXPECT_EQ(Call("UpdateDepartment", "<department id=\"" + id + "\" superDeptId=\"4\"/>").code, 0);
  Answer moved = Call("QueryDepartment", "<department id=\"" + id + "\"/>");
  EXPECT_STREQ(moved.root.child("department").attribute("superDeptPath").value(),
               "Demo Corp/Sales");
  // A department cannot go below itself.
  EXPECT_EQ(Call("UpdateDepartment", "<department id=\"3\" superDeptId=\"9\"/>").code, kConflict);

  EXPECT_EQ(Call("DelDepartment", "<department id=\"" + id + "\"/>").code, 0);
  EXPECT_TRUE(Call("QueryDepartment", "<department id=\"" + id + "\"/>").All("department").empty());
}

// A parent and an encryption mode are text on the wire but whole numbers in the store: anything
// else is refused, they are answered as numbers, and a search matches the number, not a part.
TEST_F(ServerTest, NumbersCarriedAsTextAreCheckedAndMatchedWhole) {
  Answer lab = Call("AddDepartment", "<department name=\"Lab\" superDeptId=\"10\"/>");
  ASSERT_EQ(lab.code, 0);
  EXPECT_STREQ(lab.root.child("department").attribute("superDeptId").value(), "10");
  EXPECT_EQ(Call("QueryDepartment", "<department superDeptId=\"1\"/>").All("department").size(),
            3u);  // Headquarters, Engineering and Sales; not Lab under 10

  EXPECT_EQ(Call("AddDepartment", "<department name=\"X\" superDeptId=\"one\"/>").code, kBadValue);
  EXPECT_EQ(Call("UpdateUser", "<user id=\"admin\" encryptMode=\"two\"/>").code, kBadValue);
  ASSERT_EQ(Call("UpdateUser", "<user id=\"admin\" encryptMode=\"2\"/>").code, 0);
  Answer login = Call("Login", "<user id=\"admin\" password=\"demo-admin\"/>");
  EXPECT_STREQ(login.root.child("config").attribute("encryptMode").value(), "2");
}

TEST_F(ServerTest, ABatchThatFailsHalfwayStoresNothing) {
  Answer answer = Call("AddUser",
                       "<user id=\"new1\" departmentId=\"5\" password=\"pw-1\"/>"
                       "<user id=\"bob\" departmentId=\"5\"/>");
  EXPECT_EQ(answer.code, kAlreadyExists);
  EXPECT_TRUE(Call("QueryUser", "<user id=\"new1\"/>").All("user").empty());

  // A policy naming an unknown user leaves the department's policies as they were.
  Answer before = Call("QueryPolicy", "<policy ownerDeptId=\"3\"/>");
  EXPECT_EQ(Call("SetPolicy",
                 "<department id=\"3\"><policy ownerDeptId=\"3\" secretLevelId=\"2\">"
                 "<userAuthorization userId=\"nobody\" permission=\"1\"/></policy></department>")
                .code,
            kNotFound);
  Answer after = Call("QueryPolicy", "<policy ownerDeptId=\"3\"/>");
  EXPECT_EQ(before.All("policy").size(), after.All("policy").size());
  EXPECT_EQ(CountBelow(after.root, "userAuthorization"), 1u);
}

TEST_F(ServerTest, UsersAreAddedLogInAndChangeTheirPassword) {
  ASSERT_EQ(Call("AddUser",
                 "<user id=\"nina\" name=\"Nina\" isConsoleManager=\"true\" password=\"pw-nina\""
                 " departmentId=\"9\" adminDept=\"9\"/>")
                .code,
            0);
  ASSERT_EQ(LoginAs("nina", "pw-nina"), 0);
  EXPECT_EQ(
      Call("UpdateUserPassword", "<user id=\"nina\" password=\"wrong\" newPassword=\"pw-2\"/>")
          .code,
      kBadCredentials);
  EXPECT_EQ(
      Call("UpdateUserPassword", "<user id=\"nina\" password=\"pw-nina\" newPassword=\"pw-2\"/>")
          .code,
      0);
  EXPECT_EQ(LoginAs("nina", "pw-nina"), kBadCredentials);
  EXPECT_EQ(LoginAs("nina", "pw-2"), 0);
  // Nina administers Storage only.
  EXPECT_EQ(Call("GetDepartmentTreeView", "<department id=\"5\"/>").code, kPermissionDenied);
  EXPECT_EQ(Call("GetDepartmentTreeView", "<department id=\"9\"/>").code, 0);
}

TEST_F(ServerTest, AppointmentsAreSetAndReadFromBothSides) {
  ASSERT_EQ(Call("SetUserAccession",
                 "<user id=\"bob\"><position id=\"3\" departmentId=\"5\" positionName=\"Platform"
                 " Lead\"/><position departmentId=\"5\" positionName=\"Engineer\"/></user>")
                .code,
            0);
  Answer positions = Call("QueryUserAccession", "<user id=\"bob\"/>");
  ASSERT_EQ(positions.code, 0);
  EXPECT_EQ(positions.root.child("user").select_nodes("position").size(), 2u);

  ASSERT_EQ(Call("SetPositionAppointment",
                 "<position id=\"4\" departmentId=\"5\" positionName=\"Engineer\">"
                 "<user id=\"carol\"/></position>")
                .code,
            0);
  Answer users = Call("QueryPositionAppointment", "<position id=\"4\"/>");
  ASSERT_EQ(users.code, 0);
  std::set<std::string> ids;
  for (pugi::xpath_node user : users.root.child("position").select_nodes("user")) {
    ids.insert(user.node().attribute("id").value());
  }
  EXPECT_EQ(ids, std::set<std::string>{"carol"});  // bob was replaced by the position's list
  Answer sub = Call("QueryPosition", "<position id=\"2\" isWithSubPositions=\"true\"/>");
  EXPECT_EQ(sub.root.child("position").select_nodes("position").size(), 2u);
}

TEST_F(ServerTest, PoliciesAndDefaultLevelsRoundTrip) {
  ASSERT_EQ(Call("SetPolicy",
                 "<department id=\"6\"><policy ownerDeptId=\"6\" secretLevelId=\"3\">"
                 "<positionAuthorization positionId=\"4\" authorizeDeptId=\"5\""
                 " positionName=\"Engineer\" permission=\"5\"/>"
                 "<userAuthorization userId=\"bob\" permission=\"2\"/>"
                 "<userAuthorization userId=\"carol\" permission=\"0\"/></policy></department>")
                .code,
            0);
  Answer policies = Call("QueryPolicy", "<policy ownerDeptId=\"6\"/>");
  ASSERT_EQ(policies.All("policy").size(), 1u);
  pugi::xml_node policy = policies.root.child("policy");
  EXPECT_STREQ(policy.child("positionAuthorization").attribute("authorizeDeptPath").value(),
               "Demo Corp/Engineering/Platform");
  EXPECT_EQ(policy.select_nodes("userAuthorization").size(), 1u);  // permission 0 is no grant

  Answer rights = Call("GetUserAuthorization", "<user id=\"carol\"/>");
  bool found = false;
  for (pugi::xml_node entry : rights.All("userAuthorization")) {
    if (entry.attribute("authorizeDeptId").as_int() == 6) {
      found = true;
      EXPECT_EQ(entry.attribute("permission").as_int(), 5);  // through her Engineer position
    }
  }
  EXPECT_TRUE(found);

  ASSERT_EQ(Call("SetDefAppSecretLevel",
                 "<department id=\"6\"><defAppSecretLevel departmentId=\"6\""
                 " applicationName=\"notepad.exe\" secretLevelId=\"5\" isOnlyDecrypt=\"true\"/>"
                 "</department>")
                .code,
            0);
  Answer levels = Call("QueryDefAppSecretLevel", "<defAppSecretLevel departmentId=\"6\"/>");
  ASSERT_EQ(levels.All("defAppSecretLevel").size(), 1u);
  EXPECT_STREQ(levels.root.child("defAppSecretLevel").attribute("isOnlyDecrypt").value(), "true");
}

// A console resends an entry whose acceptance it never saw; the server keeps it once, whether
// the copy comes in a later request or in the same one. Entries without an id are all kept.
TEST_F(ServerTest, ResentLogEntriesAreStoredOnce) {
  auto upload = [&](const std::string& logs) {
    return Call("UploadLogs",
                "<computer name=\"demo-pc-1\" uuid=\"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E51\">" +
                    logs + "</computer>")
        .code;
  };
  const std::string once =
      "<log userId=\"admin\" operation=\"1552\" srcFile=\"C:\\resent.doc\""
      " entryId=\"0b6c1f5e-0d3c-4c1e-9a57-1f2e3d4c5b6a\"/>";
  const std::string plain = "<log userId=\"admin\" operation=\"1552\" srcFile=\"C:\\resent.doc\"/>";
  ASSERT_EQ(upload(once), 0);
  ASSERT_EQ(upload(once + once), 0);
  ASSERT_EQ(upload(plain + plain), 0);
  Answer answer = Call(
      "QueryLog", "<databaseIndex value=\"0\"/><log srcFile=\"resent.doc\" pageSum=\"100\"/>", 2);
  ASSERT_EQ(answer.code, 0);
  EXPECT_EQ(answer.root.child("count").attribute("value").as_int(), 3);
}

TEST_F(ServerTest, LogPagesAreDisjointCompleteAndCounted) {
  ASSERT_EQ(Call("UploadLogs",
                 "<computer name=\"demo-pc-1\" uuid=\"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E51\">"
                 "<log userId=\"admin\" operationTime=\"2024-04-01 10:00:00\" operation=\"1552\""
                 " operationType=\"1536\" srcFile=\"C:\\new.doc\"/></computer>")
                .code,
            0);
  std::set<std::string> seen;
  int pages = 0;
  for (int page = 1;; ++page) {
    Answer answer = Call("QueryLog",
                         "<databaseIndex value=\"0\"/><log order=\"asc\" orderBy=\"operationTime\""
                         " userId=\"\" pageNum=\"" +
                             std::to_string(page) + "\" pageSum=\"70\"/>",
                         2);
    ASSERT_EQ(answer.code, 0);
    EXPECT_EQ(answer.root.child("count").attribute("value").as_int(), 301);
    std::vector<pugi::xml_node> logs = answer.All("log");
    if (logs.empty()) break;
    ++pages;
    for (pugi::xml_node log : logs) {
      EXPECT_TRUE(seen.insert(log.attribute("fileUUID").value()).second);
    }
  }
  EXPECT_EQ(seen.size(), 301u);
  EXPECT_EQ(pages, 5);

  Answer filtered = Call("QueryLog",
                         "<databaseIndex value=\"0\"/><log operation=\"1554\""
                         " operationTimeFrom=\"2024-03-01 00:00:00\""
                         " operationTimeTo=\"2024-03-05 23:59:59\" pageSum=\"1000\"/>",
                         2);
  ASSERT_EQ(filtered.code, 0);
  for (pugi::xml_node log : filtered.All("log")) {
    EXPECT_STREQ(log.attribute("operation").value(), "1554");
    EXPECT_LE(std::string(log.attribute("operationTime").value()), "2024-03-05 23:59:59");
  }
  EXPECT_EQ(filtered.root.child("count").attribute("value").as_int(),
            static_cast<int>(filtered.All("log").size()));
  EXPECT_EQ(Call("QueryLog", "<databaseIndex value=\"1\"/><log/>", 2)
                .root.child("count")
                .attribute("value")
                .as_int(),
            30);
  EXPECT_EQ(Call("QueryLog", "<databaseIndex value=\"7\"/><log/>", 2).code, kNotFound);
  EXPECT_EQ(Call("QueryLog", "<databaseIndex value=\"0\"/><log orderBy=\"id; DROP\"/>", 2).code,
            kBadValue);
}

// A walk by cursor over entries sharing one time (and some with none) gives each entry that
// existed when it began exactly once, in either order, while more entries with that same time
// arrive between its pages; an offset page and a cursor page over the same rows agree.
TEST_F(ServerTest, LogCursorWalksTiedTimesOnceWhileEntriesArrive) {
  int uploaded = 0;
  auto upload = [&](bool timed) {
    const std::string time = timed ? " operationTime=\"2024-05-01 08:00:00\"" : "";
    return Call("UploadLogs",
                "<computer name=\"demo-pc-1\" uuid=\"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E51\">"
                "<log userId=\"admin\" operation=\"1552\"" +
                    time + " srcFile=\"tie-" + std::to_string(++uploaded) + "\"/></computer>")
        .code;
  };
  auto files = [](const Answer& answer) {
    std::vector<std::string> names;
    for (pugi::xml_node log : answer.All("log")) names.push_back(log.attribute("srcFile").value());
    return names;
  };
  auto after = [](pugi::xml_node cursor) {
    return std::string(" afterId=\"") + cursor.attribute("id").value() +
           "\" afterOperationTime=\"" + cursor.attribute("operationTime").value() + "\"";
  };
  for (int i = 0; i < 24; ++i) ASSERT_EQ(upload(i % 8 != 0), 0);

  for (const char* order : {"asc", "desc"}) {
    SCOPED_TRACE(order);
    std::multiset<std::string> existing, seen;
    for (int i = 1; i <= uploaded; ++i) existing.insert("tie-" + std::to_string(i));
    const std::string search = std::string("<databaseIndex value=\"0\"/><log srcFile=\"tie-\"") +
                               " order=\"" + order + "\" pageSum=\"5\"";
    std::string cursor;
    for (int page = 0; page < 20; ++page) {
      Answer answer = Call("QueryLog", search + cursor + "/>", 2);
      ASSERT_EQ(answer.code, 0);
      EXPECT_EQ(answer.root.child("count").attribute("value").as_uint(), existing.size());
      for (const std::string& file : files(answer)) seen.insert(file);
      pugi::xml_node next = answer.root.child("cursor");
      if (!next.attribute("more").as_bool()) break;
      cursor = after(next) + " maxId=\"" + next.attribute("maxId").value() + "\"";
      ASSERT_EQ(upload(page % 2 == 0), 0);  // arrives amid the walk, ties included
    }
    EXPECT_EQ(seen, existing);
  }

  // Page 2 by number and the page after page 1's cursor are the same entries.
  const std::string search = "<databaseIndex value=\"0\"/><log srcFile=\"tie-\" pageSum=\"6\"";
  Answer first = Call("QueryLog", search + "/>", 2);
  EXPECT_EQ(files(Call("QueryLog", search + " pageNum=\"2\"/>", 2)),
            files(Call("QueryLog", search + after(first.root.child("cursor")) + "/>", 2)));
  for (const char* bad : {"afterId=\"x\"", "afterId=\"3\" orderBy=\"userName\"", "maxId=\"-\""}) {
    EXPECT_EQ(Call("QueryLog", search + " " + bad + "/>", 2).code, kBadValue) << bad;
  }
}

TEST_F(ServerTest, ScopedAdministratorsSeeOnlyTheirDepartments) {
  ASSERT_EQ(LoginAs("eng.admin", "demo-eng"), 0);
  EXPECT_EQ(Call("GetDepartmentTreeView", "<department id=\"4\"/>").code, kPermissionDenied);
  EXPECT_EQ(Call("AddDepartment", "<department name=\"X\" superDeptId=\"4\"/>").code,
            kPermissionDenied);
  EXPECT_EQ(Call("UpdateUser", "<user id=\"dave\" name=\"D\"/>").code, kPermissionDenied);
  EXPECT_EQ(Call("AddUser", "<user id=\"boss\" departmentId=\"5\" isSupervisor=\"true\"/>").code,
            kPermissionDenied);
  EXPECT_EQ(Call("AddSecretLevel", "<secretLevel id=\"9\" name=\"Nine\"/>").code,
            kPermissionDenied);
  Answer departments = Call("QueryDepartment", "<department/>");
  EXPECT_EQ(departments.All("department").size(), 5u);  // Engineering and the four below
  Answer logs = Call("QueryLog", "<databaseIndex value=\"0\"/><log pageSum=\"1000\"/>", 2);
  ASSERT_EQ(logs.code, 0);
  for (pugi::xml_node log : logs.All("log")) {
    EXPECT_STRNE(log.attribute("dstCompName").value(), "demo-pc-5");  // a North computer
  }
  EXPECT_GT(logs.All("log").size(), 0u);
}

// A console session uploads entries only in its own account's name, and every stored entry
// shows who uploaded it.
TEST_F(ServerTest, UploadsInAnotherAccountsNameAreRefusedAndTheUploaderIsShown) {
  ASSERT_EQ(LoginAs("eng.admin", "demo-eng"), 0);
  const struct {
    const char* user;
    int code;
  } kCases[] = {{"sales.admin", kPermissionDenied},
                {"admin", kPermissionDenied},
                {"", kPermissionDenied},
                {"ENG.ADMIN", 0},
                {"eng.admin", 0}};
  for (const auto& c : kCases) {
    Answer answer = Call("UploadLogs",
                         "<computer name=\"pc-x\" uuid=\"00000000-0000-4000-8000-0000000000aa\">"
                         "<log userId=\"" +
                             std::string(c.user) +
                             "\" operation=\"1553\" srcFile=\"C:\\forged.doc\"/></computer>");
    EXPECT_EQ(answer.code, c.code) << c.user;
    if (c.code != 0) {
      EXPECT_NE(std::string(answer.root.child("return").attribute("message").value())
                    .find("a session of eng.admin uploads only its own entries"),
                std::string::npos)
          << c.user;
    }
  }
  ASSERT_EQ(LoginAs("admin", "demo-admin"), 0);
  Answer logs = Call("QueryLog", "<databaseIndex value=\"0\"/><log srcFile=\"forged.doc\"/>", 2);
  ASSERT_EQ(logs.code, 0);
  ASSERT_EQ(logs.All("log").size(), 2u);
  for (pugi::xml_node log : logs.All("log")) {
    EXPECT_STREQ(log.attribute("uploadedBy").value(), "eng.admin");
    EXPECT_STRCASEEQ(log.attribute("userId").value(), "eng.admin");
  }
}

TEST_F(ServerTest, IpSegmentsRefuseAmbiguousRangesAndFollowChanges) {
  EXPECT_EQ(Call("SetIpSegment",
                 "<department id=\"6\" isDelSubDeptIpSegment=\"false\">"
                 "<ip ipFrom=\"127.0.0.15\" ipTo=\"127.0.0.25\"/></department>")
                .code,
            kConflict);  // straddles Engineering's and Sales' ranges
  EXPECT_EQ(Call("SetIpSegment",
                 "<department id=\"6\"><ip ipFrom=\"127.0.0.16\" ipTo=\"127.0.0.300\"/>"
                 "</department>")
                .code,
            kBadValue);
  ASSERT_EQ(Call("SetIpSegment",
                 "<department id=\"6\"><ip ipFrom=\"127.0.0.16\" ipTo=\"127.0.0.17\"/>"
                 "</department>")
                .code,
            0);
  ASSERT_EQ(Call("UpdateIpSegment",
                 "<department id=\"6\"><ip ipFrom=\"127.0.0.16\" ipTo=\"127.0.0.17\""
                 " oldIpFrom=\"127.0.0.16\" oldIpTo=\"127.0.0.17\" newIpFrom=\"127.0.0.16\""
                 " newIpTo=\"127.0.0.18\"/></department>")
                .code,
            0);
  Answer ranges = Call("QueryIpSegment", "<ip ipFrom=\"127.0.0.16\"/>");
  ASSERT_EQ(ranges.All("ip").size(), 1u);
  EXPECT_STREQ(ranges.root.child("ip").attribute("ipTo").value(), "127.0.0.18");
  // Clearing Engineering with its sub-departments takes Platform's and Applications' ranges too.
  ASSERT_EQ(Call("DelIpSegment",
                 "<department id=\"3\" isDelSubDeptIpSegment=\"true\">"
                 "<ip ipFrom=\"127.0.0.10\" ipTo=\"127.0.0.19\"/></department>")
                .code,
            0);
  Answer left = Call("QueryIpSegment", "<ip/>");
  ASSERT_EQ(left.All("ip").size(), 1u);
  EXPECT_STREQ(left.root.child("ip").attribute("departmentId").value(), "4");
}

TEST_F(ServerTest, ComputerStatusQueriesReportAndSettingsStick) {
  Answer scan = Call("RptComputerScanStatus",
                     "<databaseIndex value=\"1\"/>"
                     "<scanLog computerUUID=\"6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e51\"/>"
                     "<scanLog computerUUID=\"6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e52\"/>"
                     "<scanLog computerUUID=\"6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e53\"/>"
                     "<scanLog computerUUID=\"not-a-computer\"/>",
                     2);
  ASSERT_EQ(scan.code, 0);
  EXPECT_EQ(scan.All("scanLog").size(), 3u);
  pugi::xml_node summary = scan.root.child("summary");
  EXPECT_EQ(summary.attribute("total").as_int(), 3);
  EXPECT_EQ(summary.attribute("scaned").as_int(), 2);
  EXPECT_EQ(summary.attribute("abnormal").as_int(), 1);

  Answer versions = Call("GetComputerVersionStatusEx", "<department id=\"5\"/>");
  ASSERT_EQ(versions.code, 0);
  EXPECT_EQ(versions.All("computer").size(), 3u);  // Platform, Storage and Network
  EXPECT_STREQ(versions.root.child("service").attribute("currentVersion").value(), "3.2.1");

  ASSERT_EQ(Call("SetAutoEncrypt",
                 "<computer uuid=\"6f1c2d3e-4a5b-4c6d-8e9f-0a1b2c3d4e51\""
                 " isManualEncrypt=\"true\"/><computer"
                 " uuid=\"6F1C2D3E-4A5B-4C6D-8E9F-0A1B2C3D4E52\" isManualEncrypt=\"false\"/>")
                .code,
            0);
  Answer state = Call("GetAutoEncrypt", "<computer departmentId=\"5\"/>");
  for (pugi::xml_node computer : state.All("computer")) {
    bool first = std::string_view(computer.attribute("uuid").value()).back() == '1';
    EXPECT_STREQ(computer.attribute("isManualEncrypt").value(), first ? "true" : "false");
  }
}

TEST_F(ServerTest, CataloguesAndScanSettingsAreServed) {
  EXPECT_EQ(Call("QuerySecretLevel", "<secretLevel/>").All("secretLevel").size(), 5u);
  EXPECT_EQ(Call("QueryApplication", "<application/>").All("application").size(), 5u);
  Answer operations = Call("QueryOperations");
  ASSERT_FALSE(operations.All("operation").empty());
  EXPECT_FALSE(operations.root.child("operation").children("name").empty());

  ASSERT_EQ(Call("SetScanFileTypeAtConsole",
                 "<extends><extend name=\"DOC\" secretLevelId=\"2\" secretLevelName=\"x\"/>"
                 "<extend name=\"doc\" secretLevelId=\"3\"/></extends>")
                .code,
            0);
  Answer types = Call("GetScanFileTypeAtConsole");
  ASSERT_EQ(types.root.child("extends").select_nodes("extend").size(), 1u);
  EXPECT_STREQ(types.root.child("extends").child("extend").attribute("secretLevelName").value(),
               "Confidential");
  EXPECT_EQ(types.root.child("appExes").select_nodes("appExe").size(), 3u);

  Answer scans = Call("QueryScanLog",
                      "<databaseIndex value=\"1\"/><scanLog appName=\"winword\" status=\"2\""
                      " pageNum=\"1\" pageSum=\"10\"/>",
                      2);
  ASSERT_EQ(scans.code, 0);
  EXPECT_EQ(scans.root.child("count").attribute("value").as_int(), 4);
  std::string run = scans.root.child("scanLog").attribute("id").value();
  Answer files = Call("QueryScanLogFile",
                      "<databaseIndex value=\"1\"/><scanLogFile scanLogId=\"" + run +
                          "\" appName=\"winword.exe\"/>",
                      2);
  EXPECT_EQ(files.All("scanLogFile").size(), 3u);
}

TEST(ServerStorage, StatePersistsAcrossARestartOnAFileDatabase) {
  testing::ScopedTempDir dir("docsec-server-persist");
  ASSERT_FALSE(dir.path().empty());
  std::string path = dir.File("server.db");
  ServerOptions options = testing::FastOptions();
  options.database = path;
  std::string error;
  {
    auto server = Server::Open(options, &error);
    ASSERT_NE(server, nullptr) << error;
    Response login = server->Handle(
        {1, testing::Request("Login", "<user id=\"admin\" password=\"first-admin\"/>"), ""});
    ASSERT_EQ(login.code, 0);
    Response added = server->Handle(
        {1, testing::Request("AddDepartment", "<department name=\"Kept\" superDeptId=\"1\"/>"),
         login.session});
    ASSERT_EQ(added.code, 0) << added.body;
  }
  auto server = Server::Open(options, &error);
  ASSERT_NE(server, nullptr) << error;
  EXPECT_TRUE(server->initial_admin_password().empty());
  Response login = server->Handle(
      {1, testing::Request("Login", "<user id=\"admin\" password=\"first-admin\"/>"), ""});
  ASSERT_EQ(login.code, 0);
  Response query = server->Handle(
      {1, testing::Request("QueryDepartment", "<department name=\"Kept\"/>"), login.session});
  EXPECT_NE(query.body.find("name=\"Kept\""), std::string::npos) << query.body;
}

// A database written by a newer server is left alone rather than read with the wrong schema.
TEST(ServerStorage, ADatabaseFromANewerServerIsRefused) {
  testing::ScopedTempDir dir("docsec-server-schema");
  ASSERT_FALSE(dir.path().empty());
  ServerOptions options = testing::FastOptions();
  options.database = dir.File("server.db");
  std::string error;
  {
    auto server = Server::Open(options, &error);
    ASSERT_NE(server, nullptr) << error;
    server->storage().Run(Storage::Access::kWrite, Storage::Clock::time_point::max(),
                          [](Transaction& tx) {
                            tx.Execute(
                                "INSERT INTO schema_version"
                                " SELECT MAX(version) + 1 FROM schema_version");
                          });
  }
  EXPECT_EQ(Server::Open(options, &error), nullptr);
  EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

}  // namespace
}  // namespace docsec::server
