// Remote folders and files end to end: the library against the reference agent on a loopback
// address of its own, with FakeServer as the management server. The agent serves a scratch tree
// and really encrypts it, so the tests read the files' bytes on disk.
#include "docsec/files/agent_folder.h"

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "docsec/computers/computer.h"
#include "docsec/files/agent_file.h"
#include "docsec/logs/log_outbox.h"
#include "docsec/platform/host.h"
#include "docsec/platform/ole_date_time.h"
#include "docsec/policy/secret_level.h"
#include "docsec/testing/fake_server.h"
#include "docsec/testing/free_loopback.h"
#include "docsec/testing/trace_recorder.h"
#include "docsec/users/user.h"
#include "tools/agent/agent_test_util.h"
#include "tools/agent/reference_agent.h"

namespace docsec {
namespace {

using testing::FakeServer;
using Attributes = std::map<std::string, std::string>;

constexpr char kAgentUuid[] = "0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3";
constexpr char kSealedMagic[] = "DSECFILE";  // how the reference agent's encrypted files begin

std::string NameOf(CDataObject* object) {
  char name[520] = "";
  static_cast<CDOAgentFile*>(object)->GetName(name, sizeof name);
  return name;
}

std::string PathOf(CDataObject* object) {
  char path[768] = "";
  static_cast<CDOAgentFile*>(object)->GetFullPath(path, sizeof path);
  return path;
}

std::vector<std::string> Names(const DataObjectList* list) {
  std::vector<std::string> names;
  if (list != nullptr) {
    for (CDataObject* object : *list) names.push_back(NameOf(object));
  }
  return names;
}

// Records each outcome an operation reports.
struct Outcomes : FileOperationObserver {
  void OnItem(CDOAgentFile* item, bool done, const char* reason) override {
    seen.push_back(NameOf(item) + (done ? ": done" : std::string(": ") + reason));
  }
  std::vector<std::string> seen;
};

class RemoteFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Dir("c");
    tree_.Dir("c/docs");
    tree_.Dir("c/docs/sub");
    tree_.Dir("c/Windows");
    tree_.Dir("d");
    tree_.Write("c/docs/a.txt", "alpha");
    tree_.Write("c/docs/b.doc", std::string(3000, 'b'));
    tree_.Write("c/docs/sub/c.txt", "charlie");
    std::string error;
    const uint32_t address = docsec::testing::StartOnFreeLoopback([&](uint32_t candidate) {
      agent::ReferenceAgentOptions options;
      options.listen_address = FormatIpv4(candidate);
      options.drives = {{"C:", tree_.At("c")}, {"D:", tree_.At("d")}};
      options.uuid = kAgentUuid;
      options.state_dir = tree_.At("state");
      agent_ = std::make_unique<agent::ReferenceAgent>(options);
      return agent_->Start(&error);
    });
    ASSERT_NE(address, 0u) << error;
    ip_ = FormatIpv4(address);
    computer_.SetIp(ip_.c_str());
    computer_.SetUuid(kAgentUuid);
    computer_.SetName("pc-1");
    computer_.SetConnectionStatus(ConnectionRunning);
    SetLogOutboxDirectory(tree_.At("outbox").c_str());
  }
  void TearDown() override {
    SetLogOutboxDirectory(nullptr);
    CDOSecretLevel::ReleaseAllInstance();
  }

  uint64_t Served() const { return agent_->stats().served; }
  // The agent counts an exchange just after sending its reply, so the count may trail the
  // library's return by a moment: wait for `expected` (briefly), then report the count.
  uint64_t ServedWhenSettled(uint64_t expected) const {
    for (int i = 0; i < 200 && Served() < expected; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return Served();
  }
  CDOAgentFolder* Docs() { return computer_.FindFolderByPath("C:\\docs"); }
  // The listed file of C:\docs named `name`.
  CDOAgentFile* DocsFile(const std::string& name) {
    for (CDataObject* child : *Docs()->GetSubFolderAndFiles()) {
      if (NameOf(child) == name) return static_cast<CDOAgentFile*>(child);
    }
    ADD_FAILURE() << "no file " << name;
    return nullptr;
  }

  // Logs "admin" in through the server; the user is the last login user while it lives.
  std::unique_ptr<CDOUser> LogIn() {
    server_.QueueAnswer(
        "<document><return code=\"0\"/>"
        "<user id=\"admin\" name=\"Admin\" departmentPath=\"HQ/IT\"/></document>");
    std::unique_ptr<CDOUser> user(CDOUser::GetClassInstance()->Login("admin", "secret"));
    EXPECT_NE(user, nullptr);
    EXPECT_EQ(CDOUser::GetLastLoginUser(), user.get());
    return user;
  }

  // The "log" elements of the uploads the server saw, in order, as attribute maps.
  std::vector<Attributes> UploadedLogs() const {
    std::vector<Attributes> logs;
    for (const FakeServer::Request& request : server_.requests()) {
      XmlDocument doc = XmlDocument::Create();
      if (!doc.LoadXml(request.text)) continue;
      XmlElement root = doc.DocumentElement();
      if (std::string(root.SelectChild("service").GetAttribute("value")) != "UploadLogs") continue;
      XmlElement computer = root.SelectChild("computer");
      EXPECT_STREQ(computer.GetAttribute("name"), "pc-1");
      EXPECT_STREQ(computer.GetAttribute("uuid"), kAgentUuid);
      Attributes attributes;
      XmlElement log = computer.SelectChild("log");
      for (XmlAttribute a = log.FirstAttribute(); a; a = a.Next()) {
        attributes[a.Name()] = a.Value();
      }
      logs.push_back(attributes);
    }
    return logs;
  }

  // What every entry of this setup says besides the file and the operation.
  Attributes CommonEntry() const {
    std::vector<uint32_t> addresses = LocalIpv4Addresses();
    return {{"userId", "admin"},
            {"userName", "Admin"},
            {"userDepartment", "HQ/IT"},
            {"operationType", "1536"},
            {"dstCompIp", ip_},
            {"dstCompName", "pc-1"},
            {"usedCompName", LocalHostName()},
            {"usedCompIp", addresses.empty() ? "" : FormatIpv4(addresses[0])}};
  }
  // Checks `entry` against the common part and `expected`, and that its times are now.
  void ExpectEntry(Attributes entry, const Attributes& expected) const {
    for (const char* time : {"operationTime", "createTime"}) {
      double when = 0;
      EXPECT_TRUE(OleDateTime::ParseDateTime(entry[time].c_str(), nullptr, &when)) << time;
      EXPECT_NEAR(when, OleDateTime::GetCurrentTime().Value(), 60.0 / 86400) << time;
      entry.erase(time);
    }
    EXPECT_EQ(entry["entryId"].size(), 36u);
    entry.erase("entryId");
    Attributes want = CommonEntry();
    for (const auto& [name, value] : expected) want[name] = value;
    EXPECT_EQ(entry, want);
  }

  bool Sealed(const std::string& relative) const {
    return tree_.Read(relative).rfind(kSealedMagic, 0) == 0;
  }

  agent::testing::ScratchTree tree_;
  std::unique_ptr<agent::ReferenceAgent> agent_;
  std::string ip_;
  CDOComputer computer_;
  FakeServer server_;
};

// ---- listing ----

TEST_F(RemoteFilesTest, ListsDrivesAFolderAndItsFilesWithTheirPaths) {
  DataObjectList* drives = computer_.GetDrives();
  EXPECT_EQ(Names(drives), (std::vector<std::string>{"C:", "D:"}));
  EXPECT_EQ(PathOf(drives->GetAt(0)), "C:");
  EXPECT_EQ(drives->GetAt(0)->GetObjectType(), kObjectTypeDrive);

  CDOAgentFolder* docs = computer_.FindFolderByPath("C:\\docs");
  ASSERT_NE(docs, nullptr);
  EXPECT_EQ(docs->GetObjectType(), kObjectTypeFolder);
  DataObjectList* children = docs->GetSubFolderAndFiles();
  EXPECT_EQ(Names(children), (std::vector<std::string>{"sub", "a.txt", "b.doc"}));
  EXPECT_EQ(PathOf(children->GetAt(0)), "C:\\docs\\sub");
  EXPECT_EQ(children->GetAt(0)->GetObjectType(), kObjectTypeFolder);
  auto* a = static_cast<CDOAgentFile*>(children->GetAt(1));
  EXPECT_EQ(a->GetObjectType(), kObjectTypeAgentFile);
  EXPECT_EQ(PathOf(a), "C:\\docs\\a.txt");
  EXPECT_EQ(a->GetSize(), 5);
  EXPECT_FALSE(a->GetIsEncrypted());
  EXPECT_EQ(a->GetSecretLevelId(), -1);
  EXPECT_EQ(a->GetParentFolder(), docs);
  EXPECT_EQ(a->GetOwnerComputer(), &computer_);
}

TEST_F(RemoteFilesTest, ListingIsCachedUntilRefreshedOrCleared) {
  DataObjectList* drives = computer_.GetDrives();
  EXPECT_EQ(ServedWhenSettled(1), 1u);
  EXPECT_EQ(computer_.GetDrives(), drives);
  EXPECT_EQ(computer_.FindFolderByPath(""), computer_.GetRootFolder());
  EXPECT_EQ(ServedWhenSettled(1), 1u);

  EXPECT_NE(computer_.FindFolderByPath("c:\\WINDOWS"), nullptr);      // letter case does not matter
  EXPECT_EQ(ServedWhenSettled(2), 2u);                                // C: listed, on the way
  EXPECT_EQ(computer_.FindFolderByPath("C:\\docs\\a.txt"), nullptr);  // files are not folders
  EXPECT_EQ(ServedWhenSettled(3), 3u);

  EXPECT_EQ(Names(computer_.GetDrivesEx()), (std::vector<std::string>{"C:", "D:"}));
  EXPECT_EQ(ServedWhenSettled(4), 4u);
  computer_.ClearRootFolderObjectList();
  EXPECT_EQ(ServedWhenSettled(4), 4u);
  computer_.GetDrives();
  EXPECT_EQ(ServedWhenSettled(5), 5u);
}

TEST_F(RemoteFilesTest, AgentNotFoundRunningIsNotAsked) {
  computer_.SetConnectionStatus(ConnectionAgentNotRunning);
  EXPECT_EQ(computer_.GetDrives(), nullptr);
  EXPECT_EQ(computer_.GetDrivesEx(), nullptr);
  EXPECT_EQ(computer_.SearchFilesWithoutPath("*", 0, 1, 0, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(ServedWhenSettled(0), 0u);
}

TEST_F(RemoteFilesTest, FailedListingStaysEmptyUntilRefreshed) {
  agent_->Stop();
  CDOAgentFolder* root = computer_.GetRootFolder();
  DataObjectList* empty = root->GetSubFolderAndFiles();
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->empty());
  EXPECT_EQ(root->GetSubFolderAndFiles(), empty);
}

// ---- search ----

TEST_F(RemoteFilesTest, SearchFindsFilesByEachCondition) {
  tree_.Write("c/docs/sub/D.TXT", "delta");
  tree_.SetModifyTime("c/docs/a.txt", 946684800);  // 2000-01-01, long before the others
  CDOAgentFolder* docs = Docs();
  const double y2010 = OleDateTime(2010, 1, 1, 0, 0, 0).Value();
  const struct {
    const char* pattern;
    int encrypted, subfolders, case_sensitive;
    double from, to;
    long size_from, size_to;
    std::vector<std::string> found;
  } cases[] = {
      {"*.txt", 0, 0, 0, 0, 0, 0, 0, {"a.txt"}},
      {"*.txt", 0, 1, 0, 0, 0, 0, 0, {"a.txt", "sub\\c.txt", "sub\\D.TXT"}},
      {"*.txt", 0, 1, 1, 0, 0, 0, 0, {"a.txt", "sub\\c.txt"}},
      {nullptr, 0, 1, 0, 0, 0, 1000, 0, {"b.doc"}},
      {nullptr, 0, 1, 0, 0, 0, 0, 6, {"a.txt", "sub\\D.TXT"}},
      {nullptr, 0, 1, 0, y2010, 0, 0, 0, {"b.doc", "sub\\c.txt", "sub\\D.TXT"}},
      {nullptr, 0, 1, 0, 0, y2010, 0, 0, {"a.txt"}},
      {nullptr, 1, 1, 0, 0, 0, 0, 0, {}},
  };
  for (const auto& c : cases) {
    std::unique_ptr<DataObjectList> found(docs->SearchFiles(c.pattern, c.encrypted, c.subfolders,
                                                            c.case_sensitive, c.from, c.to,
                                                            c.size_from, c.size_to));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(Names(found.get()), c.found) << (c.pattern ? c.pattern : "(no pattern)");
    DestructElements(found.get());
  }
  std::unique_ptr<DataObjectList> whole(
      computer_.SearchFilesWithoutPath("c.txt", 0, 1, 0, 0, 0, 0, 0));
  ASSERT_NE(whole, nullptr);
  ASSERT_EQ(whole->GetSize(), 1);
  EXPECT_EQ(PathOf(whole->GetAt(0)), "C:\\docs\\sub\\c.txt");
  DestructElements(whole.get());
}

// ---- file operations and their log ----

TEST_F(RemoteFilesTest, EncryptAndDecryptFilesOneEntryEachAndTheBytesOnDisk) {
  std::unique_ptr<CDOUser> user = LogIn();
  server_.ClearRequests();
  CDOAgentFile* a = DocsFile("a.txt");
  CDOAgentFile* b = DocsFile("b.doc");
  a->SetDestSecretLevelId(2);
  b->SetDestSecretLevelId(3);
  DataObjectList files{a, b};
  ASSERT_EQ(Docs()->EncryptFiles(&files, 0), 1);
  EXPECT_EQ(Docs()->GetLastOperationResult(), FileOperationResult::kAllDone);
  EXPECT_TRUE(Sealed("c/docs/a.txt"));
  EXPECT_TRUE(Sealed("c/docs/b.doc"));
  EXPECT_TRUE(a->GetIsEncrypted());
  EXPECT_EQ(a->GetSecretLevelId(), 2);
  char guid[64] = "";
  a->GetUuid(guid, sizeof guid);
  std::vector<Attributes> logs = UploadedLogs();
  ASSERT_EQ(logs.size(), 2u);
  ExpectEntry(logs[0], {{"operation", "1552"},
                        {"srcFile", "C:\\docs\\a.txt"},
                        {"dstFile", "C:\\docs\\a.txt"},
                        {"dstFileSecLvl", "2"},
                        {"srcFileSecLvl", ""},
                        {"fileType", "txt"},
                        {"fileUUID", guid}});
  EXPECT_EQ(logs[1]["srcFile"], "C:\\docs\\b.doc");
  EXPECT_EQ(logs[1]["dstFileSecLvl"], "3");

  server_.ClearRequests();
  ASSERT_EQ(Docs()->DecryptFiles(&files, 0), 1);
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
  EXPECT_EQ(tree_.Read("c/docs/b.doc"), std::string(3000, 'b'));
  EXPECT_FALSE(a->GetIsEncrypted());
  logs = UploadedLogs();
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0]["operation"], "1553");
  EXPECT_EQ(logs[0]["dstFileSecLvl"], "");
  EXPECT_EQ(CountLogOutbox(), 0);
}

TEST_F(RemoteFilesTest, LevelChangeRecordsEachFilesOwnOldLevel) {
  std::unique_ptr<CDOUser> user = LogIn();
  CDOAgentFile* a = DocsFile("a.txt");
  CDOAgentFile* b = DocsFile("b.doc");
  a->SetDestSecretLevelId(2);
  b->SetDestSecretLevelId(3);
  DataObjectList files{a, b};
  ASSERT_EQ(Docs()->EncryptFiles(&files, 0), 1);
  server_.ClearRequests();
  CDOSecretLevel level(4, "restricted", "");
  ASSERT_EQ(Docs()->ChangeSerLevelFiles(&files, &level), 1);
  EXPECT_EQ(a->GetSecretLevelId(), 4);
  std::vector<Attributes> logs = UploadedLogs();
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0]["operation"], "1554");
  EXPECT_EQ(logs[0]["srcFileSecLvl"], "2");
  EXPECT_EQ(logs[1]["srcFileSecLvl"], "3");
  EXPECT_EQ(logs[0]["dstFileSecLvl"], "4");
  EXPECT_EQ(tree_.Read("c/docs/a.txt").rfind(kSealedMagic, 0), 0u);

  server_.ClearRequests();
  ASSERT_EQ(a->ChangeSecretLevel(&level), 1);  // one file, through its folder
  ASSERT_EQ(UploadedLogs().size(), 1u);
  EXPECT_EQ(UploadedLogs()[0]["srcFileSecLvl"], "4");
  EXPECT_EQ(a->ChangeSecretLevel(nullptr), 0);

  // A whole folder's level change is recorded as one folder entry, without a file operation code.
  server_.ClearRequests();
  CDOSecretLevel top(6, "top", "");
  ASSERT_EQ(computer_.FindFolderByPath("C:")->ChangeSerLevelFolder(Docs(), &top, 1), 1);
  EXPECT_EQ(Docs()->GetSecretLevelId(), 6);
  std::vector<Attributes> folder_logs = UploadedLogs();
  ASSERT_EQ(folder_logs.size(), 1u);
  ExpectEntry(folder_logs[0], {{"srcFile", "C:\\docs"},
                               {"dstFile", "C:\\docs"},
                               {"dstFileSecLvl", ""},
                               {"srcFileSecLvl", ""},
                               {"fileType", "folder"},
                               {"fileUUID", ""}});
}

TEST_F(RemoteFilesTest, EncryptFolderWithSubfoldersWritesOneFolderEntry) {
  std::unique_ptr<CDOUser> user = LogIn();
  server_.ClearRequests();
  CDOAgentFolder* drive = computer_.FindFolderByPath("C:");
  ASSERT_EQ(drive->EncryptFolder(Docs(), 1), 1);
  EXPECT_TRUE(Sealed("c/docs/a.txt"));
  EXPECT_TRUE(Sealed("c/docs/sub/c.txt"));
  std::vector<Attributes> logs = UploadedLogs();
  ASSERT_EQ(logs.size(), 1u);
  ExpectEntry(logs[0], {{"operation", "1552"},
                        {"srcFile", "C:\\docs"},
                        {"dstFile", "C:\\docs"},
                        {"dstFileSecLvl", ""},
                        {"srcFileSecLvl", ""},
                        {"fileType", "folder"},
                        {"fileUUID", ""}});
  server_.ClearRequests();
  ASSERT_EQ(drive->DecryptFolder(Docs(), 0), 1);  // without sub-folders
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
  EXPECT_TRUE(Sealed("c/docs/sub/c.txt"));
  ASSERT_EQ(UploadedLogs().size(), 1u);
  EXPECT_EQ(UploadedLogs()[0]["operation"], "1553");
}

// Without a logged-in user no entry can name who acted: the change is made but reported as not
// recorded, never as done.
TEST_F(RemoteFilesTest, WithoutLoggedInUserTheChangeIsReportedNotRecorded) {
  ASSERT_EQ(CDOUser::GetLastLoginUser(), nullptr);
  testing::TraceRecorder traces;
  Outcomes outcomes;
  Docs()->SetOperationObserver(&outcomes);
  DataObjectList files{DocsFile("a.txt")};
  EXPECT_EQ(Docs()->EncryptFiles(&files, 0), 1);
  EXPECT_TRUE(Sealed("c/docs/a.txt"));
  EXPECT_TRUE(UploadedLogs().empty());
  EXPECT_EQ(Docs()->GetLastOperationResult(), FileOperationResult::kNotRecorded);
  EXPECT_EQ(outcomes.seen, (std::vector<std::string>{
                               "a.txt: changed, not recorded: no user is logged in, so no entry "
                               "can name who acted"}));
  EXPECT_TRUE(traces.Traced(
      "operation log: no user is logged in; no entry is written for C:\\docs\\a.txt"));
}

// The outbox's disk full and the server silent: each changed item is reported as not recorded
// with both causes, and its entry reaches the last resort whole. A small memory file system
// stands in for the full disk, which takes mounting (root).
#if defined(__linux__)
TEST_F(RemoteFilesTest, FullOutboxDiskWithoutServerReportsEachItemAndKeepsItsEntryWhole) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system to fill takes root";
  ASSERT_TRUE(tree_.Dir("full"));
  const std::string mount_point = tree_.At("full");
  if (mount("docsec-full", mount_point.c_str(), "tmpfs", 0, "size=16k") != 0) {
    GTEST_SKIP() << "no tmpfs could be mounted: " << std::strerror(errno);
  }
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mount_point};
  const std::string outbox = mount_point + "/outbox";
  ASSERT_EQ(mkdir(outbox.c_str(), 0700), 0);
  SetLogOutboxDirectory(outbox.c_str());
  {
    std::ofstream filler(mount_point + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    for (int i = 0; i < 64 && filler.write(block.data(), block.size()) && filler.flush(); ++i) {
    }
  }
  std::unique_ptr<CDOUser> user = LogIn();
  server_.SetDefaultAnswer("");  // no answer
  std::vector<std::pair<std::string, std::string>> kept;
  SetLogOutboxLastResort([&kept](const std::string& record, const std::string& why) {
    kept.emplace_back(record, why);
  });
  Outcomes outcomes;
  Docs()->SetOperationObserver(&outcomes);
  DataObjectList files{DocsFile("a.txt"), DocsFile("b.doc")};
  EXPECT_EQ(Docs()->EncryptFiles(&files, 0), 1);
  SetLogOutboxLastResort(nullptr);
  EXPECT_TRUE(Sealed("c/docs/a.txt"));
  EXPECT_EQ(Docs()->GetLastOperationResult(), FileOperationResult::kNotRecorded);
  ASSERT_EQ(outcomes.seen.size(), 2u);
  for (const std::string& seen : outcomes.seen) {
    EXPECT_NE(seen.find(": changed, not recorded: the outbox cannot keep it ("), std::string::npos)
        << seen;
    EXPECT_NE(seen.find("No space left on device"), std::string::npos) << seen;
    EXPECT_NE(seen.find("the server did not answer"), std::string::npos) << seen;
  }
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_NE(kept[0].first.find("srcFile=\"C:\\docs\\a.txt\""), std::string::npos) << kept[0].first;
  EXPECT_NE(kept[1].first.find("srcFile=\"C:\\docs\\b.doc\""), std::string::npos) << kept[1].first;
  EXPECT_NE(kept[1].first.find("entryId=\""), std::string::npos);
  EXPECT_EQ(CountLogOutbox(), 0);
}
#endif

TEST_F(RemoteFilesTest, PartialFailureIsReportedItemByItem) {
  std::unique_ptr<CDOUser> user = LogIn();
  server_.ClearRequests();
  CDOAgentFolder* docs = Docs();
  Outcomes outcomes;
  docs->SetOperationObserver(&outcomes);
  CDOAgentFile missing(docs, "missing.txt");
  DataObjectList some{DocsFile("a.txt"), &missing};
  EXPECT_EQ(docs->EncryptFiles(&some, 0), 1);
  EXPECT_EQ(docs->GetLastOperationResult(), FileOperationResult::kSomeFailed);
  EXPECT_EQ(outcomes.seen,
            (std::vector<std::string>{"a.txt: done", "missing.txt: no such file or folder"}));
  EXPECT_EQ(UploadedLogs().size(), 1u);

  outcomes.seen.clear();
  DataObjectList none{&missing};
  EXPECT_EQ(docs->EncryptFiles(&none, 0), 0);
  EXPECT_EQ(docs->GetLastOperationResult(), FileOperationResult::kNothingDone);
  EXPECT_EQ(outcomes.seen, (std::vector<std::string>{"missing.txt: no such file or folder"}));
  EXPECT_EQ(UploadedLogs().size(), 1u);

  agent_->Stop();
  outcomes.seen.clear();
  EXPECT_EQ(docs->DecryptFiles(&some, 0), 0);
  EXPECT_EQ(outcomes.seen, (std::vector<std::string>{"a.txt: the agent did not answer",
                                                     "missing.txt: the agent did not answer"}));
}

// The server away (then turning entries down) for fifty operations: their entries wait, then
// arrive once each, in order.
TEST_F(RemoteFilesTest, EntriesOfOperationsWhileTheServerIsDownArriveLaterInOrder) {
  std::unique_ptr<CDOUser> user = LogIn();
  CDOAgentFile* a = DocsFile("a.txt");
  DataObjectList files{a};
  for (int i = 0; i < 50; ++i) {
    // No answer, then "busy": both mean "try again later".
    server_.SetDefaultAnswer(i < 25 ? "" : "<document><return code=\"503\"/></document>");
    ASSERT_EQ(i % 2 == 0 ? Docs()->EncryptFiles(&files, 0) : Docs()->DecryptFiles(&files, 0), 1);
  }
  EXPECT_EQ(CountLogOutbox(), 50);
  server_.ClearRequests();
  server_.SetDefaultAnswer(FakeServer::kOk);
  EXPECT_EQ(FlushLogOutbox(), 0);
  std::vector<Attributes> logs = UploadedLogs();
  ASSERT_EQ(logs.size(), 50u);
  std::set<std::string> ids;
  for (size_t i = 0; i < logs.size(); ++i) {
    EXPECT_EQ(logs[i]["operation"], i % 2 == 0 ? "1552" : "1553") << i;
    ids.insert(logs[i]["entryId"]);
  }
  EXPECT_EQ(ids.size(), 50u);
  EXPECT_EQ(FlushLogOutbox(), 0);
  EXPECT_EQ(server_.request_count(), 50u);
}

}  // namespace
}  // namespace docsec
