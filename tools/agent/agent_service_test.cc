#include "tools/agent/agent_service.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "docsec/platform/uuid.h"
#include "gtest/gtest.h"
#include "tools/agent/agent_state.h"
#include "tools/agent/agent_test_util.h"
#include "tools/agent/replacement_file.h"
#include "tools/agent/sealed_file.h"

namespace docsec::agent {
namespace {

using testing::Attr;
using testing::ChildValue;
using testing::ListedElement;
using testing::ListedNames;
using testing::ParseRequest;
using testing::Retcode;
using testing::ScratchTree;

constexpr char kUuid[] = "6f1c2d3e-4a5b-4c6d-8e7f-0123456789ab";

// Bytes that exercise the cipher: every byte value, and more than one read chunk.
std::string SampleBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned x = seed;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return bytes;
}

class AgentServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    old_tz_ = tz ? tz : "";
    had_tz_ = tz != nullptr;
    setenv("TZ", "UTC0", 1);
    tzset();

    tree_.Dir("c");
    tree_.Dir("c/docs");
    tree_.Dir("c/docs/sub");
    tree_.Dir("c/docs/sub/deeper");
    tree_.Dir("c/empty");
    tree_.Dir("d");
    tree_.Dir("outside");
    tree_.Write("c/docs/a.txt", "alpha");
    tree_.Write("c/docs/B.TXT", "bravo!");
    tree_.Write("c/docs/report.doc", std::string(2048, 'r'));
    tree_.Write("c/docs/.hidden", "h");
    tree_.Write("c/docs/sub/c.txt", "charlie");
    tree_.Write("c/docs/sub/deeper/d.txt", "delta");
    tree_.Write("outside/secret.txt", "top secret");
    tree_.Link("c/docs/link_out", "../../outside");
    tree_.Link("c/docs/link_in", "sub");
    tree_.Link("c/docs/sub/loop", "..");
    Restart("");
  }

  void TearDown() override {
    service_.reset();
    if (had_tz_) {
      setenv("TZ", old_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  void Restart(const std::string& uuid) {
    service_.reset();
    std::string error;
    AgentServiceOptions options;
    options.drives = {{"C:", tree_.At("c")}, {"D:", tree_.At("d")}};
    options.uuid = uuid;
    options.state_dir = tree_.At("state");
    service_ = AgentService::Create(options, &error);
    ASSERT_NE(service_, nullptr) << error;
  }

  XmlDocument Send(const std::string& service, const std::string& body) {
    XmlDocument request = ParseRequest("<?xml version=\"1.0\"?><document><service value=\"" +
                                       service + "\"/>" + body + "</document>");
    XmlDocument reply = service_->Handle(request);
    EXPECT_TRUE(reply);
    return reply;
  }

  XmlDocument Locate(const std::string& path) {
    return Send("LocateFile", "<dir path=\"" + path + "\"/>");
  }

  XmlDocument Query(const std::string& condition_attributes, const std::string& inner = "") {
    return Send("QueryFile", "<dir name=\"docs\"/><condition " + condition_attributes + ">" +
                                 inner + "</condition>");
  }

  // Runs a file operation on items of folder `path`.
  XmlDocument Operate(const std::string& service, const std::string& path,
                      const std::string& items) {
    return Send(service, "<dir path=\"" + path + "\">" + items + "</dir>");
  }

  ScratchTree tree_;
  std::unique_ptr<AgentService> service_;
  std::string old_tz_;
  bool had_tz_ = false;
};

// ---- status and identity ----

TEST_F(AgentServiceTest, GetStatusAnswersRunningWithItsUuid) {
  Restart(kUuid);
  XmlDocument reply = Send("GetStatus", "");
  EXPECT_EQ(reply.Xml(), std::string("<?xml version=\"1.0\"?><document><retcode value=\"0\"/>"
                                     "<status value=\"0\"/><uuid value=\"") +
                             kUuid + "\"/></document>");
  EXPECT_EQ(service_->status_requests(), 1);
  EXPECT_EQ(Retcode(Send("NotifyApproveStatus", "")), 0);
  EXPECT_EQ(service_->status_requests(), 1);  // only "GetStatus" counts here
}

TEST_F(AgentServiceTest, NotifyApproveStatusIsAcknowledgedAndCounted) {
  EXPECT_EQ(service_->approve_notifications(), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Retcode(Send("NotifyApproveStatus", "")), 0);
  EXPECT_EQ(service_->approve_notifications(), 3);
}

TEST_F(AgentServiceTest, GeneratedIdentityIsKeptAcrossRestarts) {
  Uuid first = service_->uuid();
  EXPECT_FALSE(first.IsNil());
  std::string key = tree_.Read("state/file-key");
  ASSERT_EQ(key.size(), kFileKeySize);
  Restart("");
  EXPECT_EQ(service_->uuid(), first);
  EXPECT_EQ(tree_.Read("state/file-key"), key);

  // An explicit identity wins without touching the kept one.
  Restart(kUuid);
  EXPECT_EQ(service_->uuid().ToString(), kUuid);
  Restart("");
  EXPECT_EQ(service_->uuid(), first);

  // A file encrypted before a restart still decrypts after it: the key was kept.
  ASSERT_EQ(Retcode(Operate("EncryptFile", "C:\\docs", "<file name=\"a.txt\"/>")), 0);
  Restart("");
  ASSERT_EQ(Retcode(Operate("DecryptFile", "C:\\docs", "<file name=\"a.txt\"/>")), 0);
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
}

TEST_F(AgentServiceTest, StateProblemsStopTheStart) {
  struct Case {
    const char* what;
    std::string uuid;
    std::string key;  // written to the state's key file first when not empty
    unsigned key_mode;
  };
  const Case cases[] = {
      {"uuid that does not parse", "{6f1c2d3e-4a5b-4c6d-8e7f-0123456789ab}", "", 0600},
      {"key of the wrong size", "", "short", 0600},
      {"key readable by others", "", std::string(kFileKeySize, 'k'), 0644},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchTree tree;
    tree.Dir("state");
    if (!c.key.empty()) {
      tree.Write("state/file-key", c.key);
      tree.SetMode("state/file-key", c.key_mode);
    }
    AgentServiceOptions options;
    options.uuid = c.uuid;
    options.state_dir = tree.At("state");
    std::string error;
    EXPECT_EQ(AgentService::Create(options, &error), nullptr);
    EXPECT_FALSE(error.empty());
    // A refused key is never replaced.
    if (!c.key.empty()) {
      EXPECT_EQ(tree.Read("state/file-key"), c.key);
    }
  }
}

TEST(AgentServiceOptions, DriveProblemsStopTheStart) {
  ScratchTree tree;
  tree.Dir("share");
  tree.Write("file", "x");
  struct Case {
    std::vector<AgentDrive> drives;
  };
  const Case cases[] = {
      {{{"C:", tree.At("missing")}}},
      {{{"C:", tree.At("file")}}},
      {{{"C:", tree.At("share")}, {"c:", tree.At("share")}}},
      {{{"a\\b", tree.At("share")}}},
      {{{"..", tree.At("share")}}},
  };
  for (const Case& c : cases) {
    AgentServiceOptions options;
    options.drives = c.drives;
    options.state_dir = tree.At("state");
    std::string error;
    EXPECT_EQ(AgentService::Create(options, &error), nullptr) << c.drives.back().name;
    EXPECT_FALSE(error.empty());
  }
  // The agent's key must never be reachable through a drive.
  for (const char* state : {"share/state", "share"}) {
    AgentServiceOptions options;
    options.drives = {{"C:", tree.At("share")}};
    options.state_dir = tree.At(state);
    std::string error;
    EXPECT_EQ(AgentService::Create(options, &error), nullptr) << state;
    EXPECT_NE(error.find("inside drive"), std::string::npos) << error;
  }
  AgentDrive drive;
  std::string error;
  EXPECT_TRUE(ParseDriveOption("C:=/srv/share=x", &drive, &error));
  EXPECT_EQ(drive.name, "C:");
  EXPECT_EQ(drive.directory, "/srv/share=x");
  for (const char* bad : {"C:", "=/srv", "C:=", "a/b=/srv"}) {
    EXPECT_FALSE(ParseDriveOption(bad, &drive, &error)) << bad;
  }
}

// ---- malformed requests ----

TEST_F(AgentServiceTest, MalformedRequestsGetNonZeroRetcodes) {
  struct Case {
    std::string text;
    int retcode;
  };
  const Case cases[] = {
      {"<document/>", kRetMalformed},
      {"<document><service/></document>", kRetMalformed},
      {"<other><service value=\"Format\"/></other>", kRetUnknownService},
      {"<document><service value=\"getstatus\"/></document>", kRetUnknownService},
      {"<document><service value=\"LocateFile\"/></document>", kRetMalformed},
      {"<document><service value=\"QueryFile\"/><dir path=\"C:\"/></document>", kRetMalformed},
      {"<document><service value=\"QueryFile\"/><condition subfolder=\"true\"/></document>",
       kRetMalformed},
      {"<document><service value=\"QueryFile\"/><condition path=\"C:\" subfolder=\"maybe\"/>"
       "</document>",
       kRetMalformed},
      {"<document><service value=\"QueryFile\"/><condition path=\"C:\"><size from=\"1k\"/>"
       "</condition></document>",
       kRetMalformed},
      {"<document><service value=\"QueryFile\"/><condition path=\"C:\">"
       "<modifytime from=\"yesterday\"/></condition></document>",
       kRetMalformed},
      {"<document><service value=\"QueryFile\"/><condition path=\"C:\" name=\"" +
           std::string(2000, '*') + "\"/></document>",
       kRetMalformed},
      {"<document><service value=\"EncryptFile\"/></document>", kRetMalformed},
      {"<document><service value=\"EncryptFile\"/><dir><file name=\"a.txt\"/></dir></document>",
       kRetMalformed},
  };
  for (const Case& c : cases) {
    XmlDocument reply = service_->Handle(ParseRequest(c.text));
    EXPECT_EQ(Retcode(reply), c.retcode) << c.text;
    EXPECT_NE(ChildValue(reply, "error"), "<missing>") << c.text;
  }
  // No document at all, and a document without root.
  EXPECT_EQ(Retcode(service_->Handle(XmlDocument())), kRetMalformed);
  XmlDocument unparsed = XmlDocument::Create();
  unparsed.LoadXml("<document><service value=");
  EXPECT_EQ(Retcode(service_->Handle(unparsed)), kRetMalformed);
  // Nothing was encrypted on the way.
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
}

// ---- listing ----

TEST_F(AgentServiceTest, EmptyPathListsTheDrives) {
  XmlDocument reply = Locate("");
  ASSERT_EQ(Retcode(reply), 0);
  EXPECT_EQ(ListedNames(reply, "dir"), (std::vector<std::string>{"C:", "D:"}));
  EXPECT_TRUE(ListedNames(reply, "file").empty());
  EXPECT_EQ(Attr(ListedElement(reply, "dir", "C:"), "type"), "drive");
}

TEST_F(AgentServiceTest, FolderListsSubFoldersThenFilesWithTheirAttributes) {
  tree_.SetModifyTime("c/docs/a.txt", 1236434709);  // 2009-03-07 14:05:09 UTC
  tree_.SetMode("c/docs/B.TXT", 0444);
  XmlDocument reply = Locate("C:\\docs");
  ASSERT_EQ(Retcode(reply), 0);
  // Links inside the drive are listed as what they point at; the one pointing out is not listed.
  EXPECT_EQ(ListedNames(reply, "dir"), (std::vector<std::string>{"link_in", "sub"}));
  EXPECT_EQ(ListedNames(reply, "file"),
            (std::vector<std::string>{".hidden", "a.txt", "B.TXT", "report.doc"}));
  // Sub-folders come first in the reply's "dir", then the files.
  XmlElement first = reply.DocumentElement().SelectChild("dir").SelectChild(nullptr);
  EXPECT_STREQ(first.Name(), "dir");

  XmlElement a = ListedElement(reply, "file", "a.txt");
  std::string xml = a.Xml();
  EXPECT_EQ(xml.substr(0, xml.find(" createTime=")),
            "<file name=\"a.txt\" size=\"5\" type=\"txt\" modifytime=\"2009-03-07 14:05:09\"");
  EXPECT_EQ(xml.substr(xml.find(" readonly=")),
            " readonly=\"false\" hidden=\"false\" encrypted=\"false\" secretLevelId=\"-1\" "
            "departmentId=\"-1\" GUID=\"\"/>");
  int64_t seconds = 0;
  EXPECT_TRUE(ParseLocalTime(Attr(a, "createTime"), &seconds));
  EXPECT_EQ(Attr(ListedElement(reply, "file", "B.TXT"), "readonly"), "true");
  EXPECT_EQ(Attr(ListedElement(reply, "file", ".hidden"), "hidden"), "true");
  EXPECT_EQ(Attr(ListedElement(reply, "file", "report.doc"), "type"), "doc");
  EXPECT_EQ(Attr(ListedElement(reply, "dir", "sub"), "type"), "folder");

  EXPECT_EQ(ListedNames(Locate("C:\\docs\\sub\\deeper"), "file"),
            (std::vector<std::string>{"d.txt"}));
  EXPECT_EQ(ListedNames(Locate("c:/docs/sub\\\\deeper\\"), "file"),
            (std::vector<std::string>{"d.txt"}));
  XmlDocument empty = Locate("C:\\empty");
  EXPECT_EQ(Retcode(empty), 0);
  EXPECT_EQ(empty.DocumentElement().SelectChild("dir").Xml(), "<dir/>");
}

TEST_F(AgentServiceTest, NamesThatCannotTravelInXmlAreLeftOut) {
  tree_.Dir("c/odd");
  tree_.Write("c/odd/good.txt", "g");
  tree_.Write("c/odd/back\\slash.txt", "b");
  tree_.Write("c/odd/ctl\x01.txt", "c");
  tree_.Write("c/odd/bad\xff.txt", "f");
  tree_.Write("c/odd/amp&<q\".txt", "a");
  XmlDocument reply = Locate("C:\\odd");
  ASSERT_EQ(Retcode(reply), 0);
  EXPECT_EQ(ListedNames(reply, "file"), (std::vector<std::string>{"amp&<q\".txt", "good.txt"}));
  // The reply still parses as XML.
  XmlDocument reparsed = XmlDocument::Create();
  EXPECT_TRUE(reparsed.LoadXml(reply.Xml()));
}

// A user's file may carry any name, the agent's temporary prefix included: it is listed and
// processed like any other. Only names made under the agent's own key are its temporaries; left
// over by a killed agent, they are never listed, and go at start-up and before a file operation.
TEST_F(AgentServiceTest, OnlyTheAgentsOwnTemporariesAreHidden) {
  AgentState state;
  std::string error;
  ASSERT_TRUE(LoadAgentState(tree_.At("state"), "", &state, &error)) << error;
  TempNames names(state.file_key);
  tree_.Dir("c/odd");
  const std::string user_prefixed = ".~docsec-0123456789abcdef";
  const std::string user_lookalike = ".~docsec-" + std::string(48, '0');  // right form, no MAC
  tree_.Write("c/odd/" + user_prefixed, "mine");
  tree_.Write("c/odd/" + user_lookalike, "mine too");
  auto plant = [&](const std::string& folder) {
    DirHandle dir = DirHandle::Open(tree_.At(folder), nullptr);
    FileInfo info;
    EXPECT_TRUE(dir.StatSelf(&info));
    std::string name = names.NewName(info);
    EXPECT_TRUE(names.IsOurs(name, info));
    EXPECT_TRUE(tree_.Write(folder + "/" + name, "plaintext left by a killed agent"));
    return name;
  };
  const std::string at_start = plant("c/docs/sub");
  Restart(kUuid);
  EXPECT_FALSE(tree_.Exists("c/docs/sub/" + at_start));

  const std::string later = plant("c/odd");
  // The name verifies only in the folder it was made for.
  tree_.Write("c/docs/" + later, "a user's copy of the name elsewhere");
  EXPECT_EQ(ListedNames(Locate("C:\\odd"), "file"),
            (std::vector<std::string>{user_lookalike, user_prefixed}));
  XmlDocument sealed =
      Operate("EncryptFile", "C:", "<dir name=\"odd\" subfolder=\"true\" secretLevelId=\"1\"/>");
  ASSERT_EQ(Retcode(sealed), 0) << sealed.Xml();
  EXPECT_EQ(Attr(ListedElement(sealed, "dir", "odd"), "filesDone"), "2");
  EXPECT_EQ(tree_.Read("c/odd/" + user_prefixed).substr(0, 8), "DSECFILE");
  EXPECT_EQ(tree_.Read("c/odd/" + user_lookalike).substr(0, 8), "DSECFILE");
  EXPECT_FALSE(tree_.Exists("c/odd/" + later));
  EXPECT_TRUE(tree_.Exists("c/docs/" + later));
}

// ---- the drive boundary ----

TEST_F(AgentServiceTest, PathsLeavingTheDriveAreRefused) {
  tree_.Link("c/abs_out", tree_.At("outside/secret.txt"));
  struct Case {
    std::string path;
    int retcode;
  };
  const Case cases[] = {
      {"C:\\..", kRetPathRefused},
      {"C:\\docs\\..\\..\\outside", kRetPathRefused},
      {"C:/docs/../..", kRetPathRefused},
      {"\\outside", kRetPathRefused},
      {"/etc", kRetPathRefused},
      {"\\\\server\\share", kRetPathRefused},
      {"C:\\docs\\link_out", kRetPathRefused},
      {"C:\\docs\\link_out\\", kRetPathRefused},
      {"C:\\abs_out", kRetPathRefused},
      {"X:\\docs", kRetNotFound},
      {"C:\\nothing", kRetNotFound},
      {"C:\\docs\\a.txt", kRetNotFound},
  };
  for (const Case& c : cases) {
    XmlDocument reply = Locate(c.path);
    EXPECT_EQ(Retcode(reply), c.retcode) << c.path;
    EXPECT_TRUE(ListedNames(reply, "file").empty()) << c.path;
    XmlDocument query = Query("path=\"" + c.path + "\" subfolder=\"true\"");
    EXPECT_EQ(Retcode(query), c.retcode) << c.path;
    XmlDocument encrypt = Operate("EncryptFile", c.path, "<file name=\"secret.txt\"/>");
    EXPECT_EQ(Retcode(encrypt), c.retcode) << c.path;
  }
  EXPECT_EQ(tree_.Read("outside/secret.txt"), "top secret");
}

TEST_F(AgentServiceTest, ItemNamesLeavingTheFolderAreRefused) {
  tree_.Link("c/docs/secret_link", "../../outside/secret.txt");
  for (const char* name : {"..", "../../outside/secret.txt", "..\\..\\outside\\secret.txt",
                           "/etc/passwd", "secret_link", "link_out", ""}) {
    for (const char* service : {"EncryptFile", "DecryptFile", "ChangeSecretLevel"}) {
      XmlDocument reply =
          Operate(service, "C:\\docs",
                  std::string("<file name=\"") + name + "\" secretLevelId=\"2\"/><dir name=\"" +
                      name + "\" subfolder=\"true\" secretLevelId=\"2\"/>");
      EXPECT_EQ(Retcode(reply), kRetItemsFailed) << service << " " << name;
      EXPECT_TRUE(ListedNames(reply, "file").empty()) << service << " " << name;
      EXPECT_EQ(ListedNames(reply, "failed").size(), 2u) << service << " " << name;
    }
  }
  EXPECT_EQ(tree_.Read("outside/secret.txt"), "top secret");
}

// ---- searching ----

TEST(MatchNamePattern, WildcardsAndCase) {
  const std::string long_name(300, 'b');
  struct Case {
    const char* pattern;
    const char* name;
    bool case_sensitive;
    bool match;
  };
  const Case cases[] = {
      {"", "anything", false, true},        {"*", "", false, true},
      {"*.*", "noext", false, true},        {"*.txt", "a.txt", false, true},
      {"*.txt", "a.TXT", false, true},      {"*.txt", "a.TXT", true, false},
      {"a?.txt", "ab.txt", false, true},    {"a?.txt", "a.txt", false, false},
      {"a?.txt", "abc.txt", false, false},  {"*b*", "abc", false, true},
      {"a*c*e", "abcde", false, true},      {"a*c*e", "abcdf", false, false},
      {"?", "\xc3\xa9", false, true},       {"??", "\xc3\xa9", false, false},
      {"*.txt", "a.txt.bak", false, false}, {"A.TXT", "a.txt", true, false},
      {"**a**", "xxa", false, true},        {"*a", long_name.c_str(), false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchNamePattern(c.pattern, c.name, c.case_sensitive), c.match)
        << c.pattern << " vs " << c.name << (c.case_sensitive ? " (case)" : "");
  }
}

TEST_F(AgentServiceTest, QueryFileAppliesEachCondition) {
  tree_.SetModifyTime("c/docs/a.txt", 1236434709);             // 2009-03-07 14:05:09
  tree_.SetModifyTime("c/docs/B.TXT", 1262304000);             // 2010-01-01 00:00:00
  tree_.SetModifyTime("c/docs/report.doc", 1293840000);        // 2011-01-01 00:00:00
  tree_.SetModifyTime("c/docs/sub/c.txt", 1262304000);         // 2010-01-01 00:00:00
  tree_.SetModifyTime("c/docs/sub/deeper/d.txt", 1293840000);  // 2011-01-01 00:00:00
  tree_.SetModifyTime("c/docs/.hidden", 1293840000);
  ASSERT_EQ(Retcode(Operate("EncryptFile", "C:\\docs\\sub", "<file name=\"c.txt\"/>")), 0);
  tree_.SetModifyTime("c/docs/sub/c.txt", 1262304000);

  const std::string docs = "path=\"C:\\docs\" ";
  struct Case {
    std::string attributes;
    std::string inner;
    std::vector<std::string> found;
  };
  const Case cases[] = {
      {docs + "subfolder=\"false\" casesensitive=\"false\"",
       "<size/><modifytime/>",
       {".hidden", "a.txt", "B.TXT", "report.doc"}},
      {docs + "name=\"*.txt\" subfolder=\"false\" casesensitive=\"false\"", "", {"a.txt", "B.TXT"}},
      {docs + "name=\"*.txt\" subfolder=\"false\" casesensitive=\"true\"", "", {"a.txt"}},
      {docs + "name=\"?.txt\" subfolder=\"true\"",
       "",
       {"a.txt", "B.TXT", "sub\\c.txt", "sub\\deeper\\d.txt"}},
      {docs + "encrypted=\"true\" subfolder=\"true\"", "", {"sub\\c.txt"}},
      {docs + "encrypted=\"true\" subfolder=\"false\"", "", {}},
      {docs + "subfolder=\"true\"", "<size from=\"6\"/>", {"B.TXT", "report.doc", "sub\\c.txt"}},
      {docs + "subfolder=\"true\"",
       "<size from=\"2\" to=\"6\"/>",
       {"a.txt", "B.TXT", "sub\\deeper\\d.txt"}},
      {docs + "subfolder=\"true\"",
       "<modifytime from=\"2009-12-31 00:00:00\" to=\"2010-06-30 00:00:00\"/>",
       {"B.TXT", "sub\\c.txt"}},
      {docs + "subfolder=\"true\"", "<modifytime to=\"2009-12-31 00:00:00\"/>", {"a.txt"}},
      {docs + "name=\"d*\" subfolder=\"true\"",
       "<modifytime from=\"2010-06-30 00:00:00\"/>",
       {"sub\\deeper\\d.txt"}},
      {"path=\"C:\\docs\\sub\" subfolder=\"true\"", "", {"c.txt", "deeper\\d.txt"}},
      {"path=\"\" name=\"d.txt\" subfolder=\"true\"", "", {"C:\\docs\\sub\\deeper\\d.txt"}},
      {"path=\"\" subfolder=\"false\"", "", {}},
  };
  for (const Case& c : cases) {
    XmlDocument reply = Query(c.attributes, c.inner);
    ASSERT_EQ(Retcode(reply), 0) << c.attributes << c.inner;
    EXPECT_EQ(ListedNames(reply, "file"), c.found) << c.attributes << c.inner;
    EXPECT_TRUE(ListedNames(reply, "dir").empty());
  }
  // A file found below the searched folder carries its own attributes.
  XmlElement c_txt =
      ListedElement(Query(docs + "encrypted=\"true\" subfolder=\"true\""), "file", "sub\\c.txt");
  EXPECT_EQ(Attr(c_txt, "encrypted"), "true");
  EXPECT_EQ(Attr(c_txt, "hidden"), "false");
}

TEST_F(AgentServiceTest, SearchJudgesLinksAndSpecialFilesByWhatTheyAre) {
  tree_.Link("c/docs/alias.txt", "a.txt");       // a link to a file: found under its own name
  tree_.Link("c/docs/gone.txt", "missing.txt");  // a dangling link: nothing to report
  tree_.Dir("c/docs/dir.txt");                   // a folder whose name matches is no file
  tree_.Write("c/docs/dir.txt/inner.txt", "i");
  ASSERT_EQ(mkfifo(tree_.At("c/docs/pipe.txt").c_str(), 0600), 0);  // nor is a pipe
  struct Case {
    std::string attributes;
    std::vector<std::string> found;
  };
  const Case cases[] = {
      {"name=\"*.txt\" subfolder=\"false\"", {"a.txt", "alias.txt", "B.TXT"}},
      {"name=\"*.txt\" subfolder=\"true\"",
       {"a.txt", "alias.txt", "B.TXT", "dir.txt\\inner.txt", "sub\\c.txt", "sub\\deeper\\d.txt"}},
      {"name=\"A*\" subfolder=\"false\" casesensitive=\"true\"", {}},
      {"name=\"*\" subfolder=\"false\"", {".hidden", "a.txt", "alias.txt", "B.TXT", "report.doc"}},
  };
  for (const Case& c : cases) {
    XmlDocument reply = Query("path=\"C:\\docs\" " + c.attributes);
    ASSERT_EQ(Retcode(reply), 0) << c.attributes;
    EXPECT_EQ(ListedNames(reply, "file"), c.found) << c.attributes;
  }
  // A link is reported with what it leads to.
  XmlElement alias =
      ListedElement(Query("path=\"C:\\docs\" name=\"alias.txt\""), "file", "alias.txt");
  EXPECT_EQ(Attr(alias, "size"), "5");
}

TEST_F(AgentServiceTest, SearchStopsAtTheDepthBoundAndSaysSo) {
  std::string path = "c/deep";
  tree_.Dir(path);
  for (int i = 0; i < AgentService::kMaxSearchDepth + 3; ++i) {
    path += "/n";
    tree_.Dir(path);
  }
  tree_.Write(path + "/bottom.txt", "b");
  tree_.Write("c/deep/top.txt", "t");
  XmlDocument reply = Query("path=\"C:\\deep\" subfolder=\"true\"");
  ASSERT_EQ(Retcode(reply), 0);
  EXPECT_EQ(ListedNames(reply, "file"), (std::vector<std::string>{"top.txt"}));
  EXPECT_EQ(Attr(reply.DocumentElement().SelectChild("dir"), "truncated"), "true");
}

// ---- encryption, decryption, level changes ----

TEST_F(AgentServiceTest, EncryptThenDecryptRestoresTheBytes) {
  const std::string big = SampleBytes(200000, 7);
  tree_.Write("c/docs/big.bin", big);
  tree_.Write("c/docs/empty.txt", "");
  XmlDocument reply = Operate("EncryptFile", "C:\\docs",
                              "<file name=\"a.txt\" destSecretLevelId=\"3\" departmentId=\"12\"/>"
                              "<file name=\"big.bin\" secretLevelId=\"1\"/>"
                              "<file name=\"empty.txt\"/>");
  ASSERT_EQ(Retcode(reply), 0) << reply.Xml();
  EXPECT_EQ(Attr(reply.DocumentElement().SelectChild("dir"), "path"), "C:\\docs");
  EXPECT_EQ(ListedNames(reply, "file"),
            (std::vector<std::string>{"a.txt", "big.bin", "empty.txt"}));
  XmlElement a = ListedElement(reply, "file", "a.txt");
  EXPECT_EQ(Attr(a, "encrypted"), "true");
  EXPECT_EQ(Attr(a, "secretLevelId"), "3");
  EXPECT_EQ(Attr(a, "departmentId"), "12");
  Uuid guid;
  EXPECT_TRUE(Uuid::Parse(Attr(a, "GUID"), &guid));
  EXPECT_EQ(Attr(a, "size"), std::to_string(5 + kSealedOverhead));
  EXPECT_EQ(Attr(ListedElement(reply, "file", "big.bin"), "secretLevelId"), "1");
  EXPECT_EQ(Attr(ListedElement(reply, "file", "empty.txt"), "secretLevelId"), "-1");

  // On disk the content is gone, and a listing reports the same state.
  EXPECT_EQ(tree_.Read("c/docs/a.txt").substr(0, 8), "DSECFILE");
  EXPECT_EQ(tree_.Read("c/docs/big.bin").find(big.substr(1000, 64)), std::string::npos);
  XmlElement listed = ListedElement(Locate("C:\\docs"), "file", "a.txt");
  EXPECT_EQ(Attr(listed, "GUID"), Attr(a, "GUID"));
  EXPECT_EQ(Attr(listed, "secretLevelId"), "3");

  // Encrypting again changes nothing (no double encryption, same GUID).
  XmlDocument again = Operate("EncryptFile", "C:\\docs", "<file name=\"a.txt\"/>");
  ASSERT_EQ(Retcode(again), 0);
  EXPECT_EQ(Attr(ListedElement(again, "file", "a.txt"), "GUID"), Attr(a, "GUID"));

  XmlDocument plain = Operate("DecryptFile", "C:\\docs",
                              "<file name=\"a.txt\"/><file name=\"big.bin\"/>"
                              "<file name=\"empty.txt\"/><file name=\"B.TXT\"/>");
  ASSERT_EQ(Retcode(plain), 0) << plain.Xml();
  XmlElement a_plain = ListedElement(plain, "file", "a.txt");
  EXPECT_EQ(Attr(a_plain, "encrypted"), "false");
  EXPECT_EQ(Attr(a_plain, "secretLevelId"), "-1");
  EXPECT_EQ(Attr(a_plain, "GUID"), "");
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
  EXPECT_EQ(tree_.Read("c/docs/big.bin"), big);
  EXPECT_EQ(tree_.Read("c/docs/empty.txt"), "");
  EXPECT_EQ(tree_.Read("c/docs/B.TXT"), "bravo!");  // was plain: left as it was
  // No temporary file is left behind.
  for (const std::string& name : tree_.List("c/docs")) {
    EXPECT_NE(name.rfind(".~docsec-", 0), 0u) << name;
  }
}

// The files of a request wait to be stored together, yet the reply lists the items in request
// order, and a file named twice is worked on once: the second time finds it done.
TEST_F(AgentServiceTest, RepliesKeepTheOrderOfTheItems) {
  XmlDocument reply = Operate("EncryptFile", "C:\\docs",
                              "<file name=\"a.txt\"/><file name=\"missing.txt\"/>"
                              "<file name=\"a.txt\"/><file name=\"B.TXT\"/>");
  ASSERT_EQ(Retcode(reply), 0) << reply.Xml();
  std::vector<std::string> order;
  XmlNodeList children = reply.DocumentElement().SelectChild("dir").SelectChildren(nullptr);
  for (size_t i = 0; i < children.Length(); ++i) {
    order.push_back(std::string(children.Item(i).Name()) + ":" + Attr(children.Item(i), "name"));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"file:a.txt", "failed:missing.txt", "file:a.txt",
                                             "file:B.TXT"}));
  std::vector<std::string> guids;
  for (size_t i = 0; i < children.Length(); ++i) {
    if (Attr(children.Item(i), "name") == "a.txt") guids.push_back(Attr(children.Item(i), "GUID"));
  }
  ASSERT_EQ(guids.size(), 2u);
  EXPECT_EQ(guids[0], guids[1]);
  EXPECT_FALSE(guids[0].empty());
}

// A full disk is named as such, so the administrator knows what to free; the file is unchanged.
TEST_F(AgentServiceTest, FullDiskIsReportedAsNoSpace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small file system";
  struct Mount {
    std::string path;
    bool mounted = false;
    ~Mount() {
      if (mounted) umount2(path.c_str(), MNT_DETACH);
    }
  } small{tree_.At("d")};
  small.mounted = mount("tmpfs", small.path.c_str(), "tmpfs", 0, "size=64k") == 0;
  if (!small.mounted) GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  const std::string content = SampleBytes(40 * 1024, 7);
  ASSERT_TRUE(tree_.Write("d/big.bin", content));
  Restart(kUuid);  // the drive must be opened on the small file system
  XmlDocument reply = Operate("EncryptFile", "D:", "<file name=\"big.bin\"/>");
  EXPECT_EQ(Retcode(reply), kRetItemsFailed);
  EXPECT_EQ(Attr(ListedElement(reply, "failed", "big.bin"), "reason"),
            "no space left on the device");
  EXPECT_EQ(tree_.Read("d/big.bin"), content);
  EXPECT_EQ(tree_.List("d"), (std::vector<std::string>{"big.bin"}));
  service_.reset();  // let go of the drive before it is unmounted
}

TEST_F(AgentServiceTest, EncryptionKeepsPermissionBits) {
  tree_.SetMode("c/docs/a.txt", 0640);
  ASSERT_EQ(Retcode(Operate("EncryptFile", "C:\\docs", "<file name=\"a.txt\"/>")), 0);
  FileInfo info;
  DirHandle docs = DirHandle::Open(tree_.At("c/docs"), nullptr);
  ASSERT_TRUE(docs.StatEntry("a.txt", &info));
  EXPECT_EQ(info.mode, 0640u);
}

TEST_F(AgentServiceTest, ChangeSecretLevelRewritesOnlyTheLabel) {
  const std::string original = SampleBytes(70000, 3);
  tree_.Write("c/docs/level.bin", original);
  XmlDocument sealed = Operate("EncryptFile", "C:\\docs",
                               "<file name=\"level.bin\" secretLevelId=\"1\" departmentId=\"9\"/>");
  ASSERT_EQ(Retcode(sealed), 0);
  std::string guid = Attr(ListedElement(sealed, "file", "level.bin"), "GUID");
  std::string before = tree_.Read("c/docs/level.bin");

  XmlDocument changed =
      Operate("ChangeSecretLevel", "C:\\docs", "<file name=\"level.bin\" secretLevelId=\"4\"/>");
  ASSERT_EQ(Retcode(changed), 0) << changed.Xml();
  XmlElement file = ListedElement(changed, "file", "level.bin");
  EXPECT_EQ(Attr(file, "secretLevelId"), "4");
  EXPECT_EQ(Attr(file, "departmentId"), "9");
  EXPECT_EQ(Attr(file, "GUID"), guid);
  EXPECT_EQ(Attr(file, "encrypted"), "true");
  EXPECT_NE(tree_.Read("c/docs/level.bin"), before);

  ASSERT_EQ(Retcode(Operate("DecryptFile", "C:\\docs", "<file name=\"level.bin\"/>")), 0);
  EXPECT_EQ(tree_.Read("c/docs/level.bin"), original);

  // A plain file has no level to change, and a request without a level is refused.
  XmlDocument refused = Operate("ChangeSecretLevel", "C:\\docs",
                                "<file name=\"a.txt\" secretLevelId=\"4\"/>"
                                "<file name=\"B.TXT\"/>");
  EXPECT_EQ(Retcode(refused), kRetItemsFailed);
  EXPECT_EQ(ListedNames(refused, "failed"), (std::vector<std::string>{"a.txt", "B.TXT"}));
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
}

TEST_F(AgentServiceTest, TamperedFilesFailToDecryptAndStayUntouched) {
  tree_.Write("c/docs/body.bin", SampleBytes(5000, 11));
  tree_.Write("c/docs/head.bin", SampleBytes(100, 12));
  tree_.Write("c/docs/short.bin", SampleBytes(100, 13));
  ASSERT_EQ(Retcode(Operate("EncryptFile", "C:\\docs",
                            "<file name=\"body.bin\"/><file name=\"head.bin\"/>"
                            "<file name=\"short.bin\"/>")),
            0);
  struct Tamper {
    const char* name;
    size_t offset;  // a byte to flip; SIZE_MAX: cut the last byte instead
  };
  const Tamper tampers[] = {
      {"body.bin", kSealedOverhead + 2500},  // ciphertext
      {"head.bin", 30},                      // secret level field of the header
      {"short.bin", SIZE_MAX},               // truncated tag
  };
  for (const Tamper& t : tampers) {
    std::string bytes = tree_.Read(std::string("c/docs/") + t.name);
    if (t.offset == SIZE_MAX) {
      bytes.pop_back();
    } else {
      bytes[t.offset] = static_cast<char>(bytes[t.offset] ^ 0x01);
    }
    tree_.Write(std::string("c/docs/") + t.name, bytes);
    for (const char* service : {"DecryptFile", "ChangeSecretLevel"}) {
      XmlDocument reply = Operate(
          service, "C:\\docs", std::string("<file name=\"") + t.name + "\" secretLevelId=\"5\"/>");
      EXPECT_EQ(Retcode(reply), kRetItemsFailed) << service << " " << t.name;
      EXPECT_EQ(ListedNames(reply, "failed"), std::vector<std::string>{t.name});
      EXPECT_TRUE(ListedNames(reply, "file").empty());
      EXPECT_EQ(tree_.Read(std::string("c/docs/") + t.name), bytes) << service << " " << t.name;
    }
  }
  // A tampered header is not vouched for in listings.
  XmlElement head = ListedElement(Locate("C:\\docs"), "file", "head.bin");
  EXPECT_EQ(Attr(head, "encrypted"), "true");
  EXPECT_EQ(Attr(head, "verified"), "false");
  EXPECT_EQ(Attr(head, "secretLevelId"), "-1");
  for (const std::string& name : tree_.List("c/docs")) {
    EXPECT_NE(name.rfind(".~docsec-", 0), 0u) << name;
  }
}

TEST_F(AgentServiceTest, FileSealedByAnotherAgentIsNotOurs) {
  ASSERT_EQ(Retcode(Operate("EncryptFile", "C:\\docs", "<file name=\"a.txt\"/>")), 0);
  std::string sealed = tree_.Read("c/docs/a.txt");
  // Another agent: same drive, its own state and so its own key.
  AgentServiceOptions options;
  options.drives = {{"C:", tree_.At("c")}};
  options.state_dir = tree_.At("other-state");
  std::string error;
  std::unique_ptr<AgentService> other = AgentService::Create(options, &error);
  ASSERT_NE(other, nullptr) << error;
  XmlDocument reply =
      other->Handle(ParseRequest("<document><service value=\"DecryptFile\"/><dir path=\"C:\\docs\">"
                                 "<file name=\"a.txt\"/></dir></document>"));
  EXPECT_EQ(Retcode(reply), kRetItemsFailed);
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), sealed);
  ASSERT_EQ(Retcode(Operate("DecryptFile", "C:\\docs", "<file name=\"a.txt\"/>")), 0);
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
}

TEST_F(AgentServiceTest, FolderItemsAreProcessedWithOrWithoutSubFolders) {
  // Without sub-folders only the folder's own files change.
  XmlDocument flat = Operate("EncryptFile", "C:\\docs",
                             "<dir name=\"sub\" subfolder=\"false\" destSecretLevelId=\"2\"/>");
  ASSERT_EQ(Retcode(flat), 0) << flat.Xml();
  XmlElement sub = ListedElement(flat, "dir", "sub");
  EXPECT_EQ(Attr(sub, "filesDone"), "1");
  EXPECT_EQ(tree_.Read("c/docs/sub/c.txt").substr(0, 8), "DSECFILE");
  EXPECT_EQ(tree_.Read("c/docs/sub/deeper/d.txt"), "delta");

  // With sub-folders, from the drive's folder: every file below, links not followed.
  XmlDocument deep = Operate("EncryptFile", "C:",
                             "<dir name=\"docs\" subfolder=\"true\" destSecretLevelId=\"2\" "
                             "departmentId=\"5\"/>");
  ASSERT_EQ(Retcode(deep), 0) << deep.Xml();
  XmlElement docs = ListedElement(deep, "dir", "docs");
  EXPECT_EQ(Attr(docs, "filesDone"), "5");       // a, B, report, .hidden, deeper/d
  EXPECT_EQ(Attr(docs, "filesUnchanged"), "1");  // sub/c was encrypted already
  EXPECT_EQ(Attr(docs, "filesFailed"), "0");
  XmlDocument found = Query("path=\"C:\\docs\" encrypted=\"true\" subfolder=\"true\"");
  EXPECT_EQ(ListedNames(found, "file").size(), 6u);
  EXPECT_EQ(Attr(ListedElement(found, "file", "sub\\deeper\\d.txt"), "departmentId"), "5");
  EXPECT_EQ(tree_.Read("outside/secret.txt"), "top secret");

  // Change the level of the whole tree, then decrypt it all.
  XmlDocument relabel = Operate(
      "ChangeSecretLevel", "C:", "<dir name=\"docs\" subfolder=\"true\" secretLevelId=\"7\"/>");
  ASSERT_EQ(Retcode(relabel), 0) << relabel.Xml();
  EXPECT_EQ(Attr(ListedElement(Query("path=\"C:\\docs\" subfolder=\"true\" name=\"d.txt\""), "file",
                               "sub\\deeper\\d.txt"),
                 "secretLevelId"),
            "7");
  XmlDocument plain = Operate("DecryptFile", "", "<dir name=\"C:\" subfolder=\"true\"/>");
  ASSERT_EQ(Retcode(plain), 0) << plain.Xml();
  EXPECT_EQ(Attr(ListedElement(plain, "dir", "C:"), "filesDone"), "6");
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
  EXPECT_EQ(tree_.Read("c/docs/sub/c.txt"), "charlie");
  EXPECT_EQ(tree_.Read("c/docs/sub/deeper/d.txt"), "delta");
  EXPECT_EQ(tree_.Read("c/docs/report.doc"), std::string(2048, 'r'));
}

TEST_F(AgentServiceTest, FolderWithATamperedFileReportsItAndGoesOn) {
  ASSERT_EQ(Retcode(Operate("EncryptFile", "C:", "<dir name=\"docs\" subfolder=\"true\"/>")), 0);
  std::string bytes = tree_.Read("c/docs/sub/c.txt");
  bytes[kSealedOverhead - 20] ^= 0x40;
  tree_.Write("c/docs/sub/c.txt", bytes);
  XmlDocument reply = Operate("DecryptFile", "C:", "<dir name=\"docs\" subfolder=\"true\"/>");
  // The other files were decrypted, so the reply succeeds and names the one that failed.
  EXPECT_EQ(Retcode(reply), 0);
  EXPECT_EQ(ListedNames(reply, "failed"), (std::vector<std::string>{"docs\\sub\\c.txt", "docs"}));
  EXPECT_EQ(Attr(ListedElement(reply, "dir", "docs"), "filesFailed"), "1");
  EXPECT_EQ(tree_.Read("c/docs/sub/c.txt"), bytes);
  EXPECT_EQ(tree_.Read("c/docs/sub/deeper/d.txt"), "delta");
}

TEST_F(AgentServiceTest, FilesWithSeveralNamesAndWrongKindsAreRefused) {
  tree_.HardLink("c/docs/a_again.txt", "c/docs/a.txt");
  XmlDocument reply = Operate("EncryptFile", "C:\\docs",
                              "<file name=\"a.txt\"/><file name=\"sub\"/><dir name=\"B.TXT\"/>"
                              "<file name=\"missing.txt\"/><file name=\"report.doc\"/>");
  EXPECT_EQ(Retcode(reply), 0);  // report.doc was done
  EXPECT_EQ(ListedNames(reply, "failed"),
            (std::vector<std::string>{"a.txt", "sub", "B.TXT", "missing.txt"}));
  EXPECT_EQ(ListedNames(reply, "file"), (std::vector<std::string>{"report.doc"}));
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
  EXPECT_EQ(tree_.Read("c/docs/B.TXT"), "bravo!");
}

TEST_F(AgentServiceTest, LinkedFileIsEncryptedWhereItLives) {
  tree_.Link("c/docs/alias.txt", "sub/c.txt");
  XmlDocument reply = Operate("EncryptFile", "C:\\docs", "<file name=\"alias.txt\"/>");
  ASSERT_EQ(Retcode(reply), 0) << reply.Xml();
  EXPECT_EQ(ListedNames(reply, "file"), (std::vector<std::string>{"alias.txt"}));
  EXPECT_EQ(tree_.Read("c/docs/sub/c.txt").substr(0, 8), "DSECFILE");
  EXPECT_TRUE(tree_.Exists("c/docs/alias.txt"));
  EXPECT_EQ(Attr(ListedElement(Locate("C:\\docs"), "file", "alias.txt"), "encrypted"), "true");
}

}  // namespace
}  // namespace docsec::agent
