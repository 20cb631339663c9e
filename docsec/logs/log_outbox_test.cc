// The operation-log outbox against FakeServer: records survive an absent or refusing server, a
// killed process and a damaged file, and reach the server once each, oldest first.
#include "docsec/logs/log_outbox.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "docsec/computers/computer.h"
#include "docsec/logs/drm_log.h"
#include "docsec/testing/environment.h"
#include "docsec/testing/fake_server.h"
#include "docsec/testing/trace_recorder.h"

namespace docsec {
namespace {

namespace fs = std::filesystem;
using testing::FakeServer;

constexpr char kRefused[] = "<document><return code=\"17\"/></document>";

// Each test keeps its outbox in a directory of its own.
class LogOutboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = testing::MakeTemporaryDirectory("docsec-outbox-");
    ASSERT_FALSE(root_.empty());
    dir_ = root_ + "/outbox";
    SetLogOutboxDirectory(dir_.c_str());
    computer_.SetName("pc-1");
    computer_.SetUuid("0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3");
  }
  void TearDown() override {
    SetLogOutboxDirectory(nullptr);
    fs::remove_all(root_);
  }

  // Submits one batch of records whose "srcFile" names them.
  int Submit(const std::vector<std::string>& files) {
    LogOutboxBatch batch;
    for (const std::string& file : files) {
      CDODrmLog log;
      log.SetUid("admin");
      log.SetSrcFile(file.c_str());
      EXPECT_TRUE(batch.Add(&log, &computer_));
    }
    return batch.Submit();
  }

  // The files of the outbox directory, sorted.
  std::vector<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.insert(entry.path().filename().string());
    }
    return {names.begin(), names.end()};
  }

  std::string root_;
  std::string dir_;
  CDOComputer computer_;
};

// The "srcFile" and "entryId" of every "UploadLogs" request the server saw, in order.
struct Upload {
  std::string file;
  std::string id;
};
std::vector<Upload> Uploads(const FakeServer& server) {
  std::vector<Upload> uploads;
  for (const FakeServer::Request& request : server.requests()) {
    XmlDocument doc = XmlDocument::Create();
    if (!doc.LoadXml(request.text)) continue;
    XmlElement log = doc.DocumentElement().SelectChild("computer").SelectChild("log");
    uploads.push_back({log.GetAttribute("srcFile"), log.GetAttribute("entryId")});
  }
  return uploads;
}

TEST_F(LogOutboxTest, RecordTravelsAsAnUploadWithItsIdentity) {
  FakeServer server;
  EXPECT_EQ(Submit({"C:\\a.txt"}), 0);
  ASSERT_EQ(server.request_count(), 1u);
  const std::string id = Uploads(server).at(0).id;
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(server.last_entry_point(), 1);
  EXPECT_EQ(server.last_request(),
            std::string(FakeServer::kProlog) +
                "<document><service value=\"UploadLogs\"/>"
                "<computer name=\"pc-1\" uuid=\"0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3\">"
                "<log userId=\"admin\" srcFile=\"C:\\a.txt\" entryId=\"" +
                id + "\"/></computer></document>");
  EXPECT_EQ(CountLogOutbox(), 0);
  EXPECT_EQ(Files(), std::vector<std::string>{".lock"});
}

TEST_F(LogOutboxTest, PartlyAcceptedBatchKeepsTheRestInOrder) {
  FakeServer server;
  server.QueueAnswer(FakeServer::kOk);
  server.QueueAnswer(FakeServer::kOk);
  server.SetDefaultAnswer("");
  EXPECT_EQ(Submit({"a", "b", "c", "d"}), 2);
  EXPECT_EQ(Submit({"e"}), 3);
  server.ClearRequests();
  server.SetDefaultAnswer(FakeServer::kOk);
  EXPECT_EQ(FlushLogOutbox(), 0);
  std::vector<std::string> files;
  for (const Upload& upload : Uploads(server)) files.push_back(upload.file);
  EXPECT_EQ(files, (std::vector<std::string>{"c", "d", "e"}));
}

// A process that dies after handing a record over and before the server's answer loses nothing:
// the record is on disk before it is sent, and the next process sends it. POSIX only: the test
// kills a forked copy of itself, and Windows has no fork (the outbox code is the same there).
#if !defined(_WIN32)
TEST_F(LogOutboxTest, RecordOfAProcessKilledBeforeAcceptanceIsSentAfterRestart) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FakeServer server;
    server.SetResponder([](int, const std::string&) -> std::string {
      raise(SIGKILL);
      return FakeServer::kOk;
    });
    Submit({"C:\\killed.txt"});
    _exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  FakeServer server;
  EXPECT_EQ(CountLogOutbox(), 1);
  EXPECT_EQ(FlushLogOutbox(), 0);
  std::vector<Upload> uploads = Uploads(server);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].file, "C:\\killed.txt");
  EXPECT_EQ(CountLogOutbox(), 0);
}
#endif

TEST_F(LogOutboxTest, DamagedFilesAreSetAsideWithATraceAndTheRestIsSent) {
  FakeServer server;
  server.SetDefaultAnswer("");
  Submit({"first"});
  const std::string damaged[] = {
      "not xml at all",
      "<logOutbox><computer name=\"pc\"><log srcFile=\"x\"/></computer></logOutbox>",  // no id
      "<other/>",
  };
  int n = 0;
  for (const std::string& text : damaged) {
    std::ofstream(dir_ + "/0000000000000000000" + std::to_string(n++) + ".xml") << text;
  }
  std::ofstream(dir_ + "/.tmp-left") << "half a batch";  // a write a crash interrupted
  testing::TraceRecorder traces;
  server.SetDefaultAnswer(FakeServer::kOk);
  server.ClearRequests();
  EXPECT_EQ(FlushLogOutbox(), 0);
  ASSERT_EQ(Uploads(server).size(), 1u);
  EXPECT_EQ(Uploads(server)[0].file, "first");
  EXPECT_EQ(Files(), (std::vector<std::string>{".lock", "00000000000000000000.xml.corrupt",
                                               "00000000000000000001.xml.corrupt",
                                               "00000000000000000002.xml.corrupt"}));
  EXPECT_TRUE(traces.Traced("operation log: " + dir_ +
                            "/00000000000000000000.xml cannot be read as log entries; set aside "
                            "as 00000000000000000000.xml.corrupt"));
}

TEST_F(LogOutboxTest, UnusableDirectoryIsTracedAndRecordsAreSentDirectly) {
  std::ofstream(root_ + "/file") << "a file where the outbox should be";
  const std::string below_a_file = root_ + "/file/outbox";
  SetLogOutboxDirectory(below_a_file.c_str());
  FakeServer server;
  server.SetDefaultAnswer(kRefused);
  testing::TraceRecorder traces;
  std::vector<std::string> kept;
  SetLogOutboxLastResort(
      [&kept](const std::string& record, const std::string&) { kept.push_back(record); });
  EXPECT_EQ(Submit({"a"}), -1);
  SetLogOutboxLastResort(nullptr);
  EXPECT_EQ(server.request_count(), 1u);
  ASSERT_EQ(traces.Traces().size(), 2u);
  EXPECT_EQ(traces.Traces()[0].rfind("operation log: the outbox cannot be used (", 0), 0u);
  const std::string id = Uploads(server)[0].id;
  EXPECT_EQ(traces.Traces()[1].rfind("operation log: entry " + id + " is not recorded: the outbox "
                                     "cannot keep it (",
                                     0),
            0u)
      << traces.Traces()[1];
  // Nothing is lost quietly: the record goes whole to the last resort.
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_NE(kept[0].find("srcFile=\"a\" entryId=\"" + id + "\""), std::string::npos) << kept[0];
  EXPECT_EQ(FlushLogOutbox(), -1);
}

TEST(LogOutbox, DefaultDirectoryIsUnderTheUserStateDirectory) {
  SetLogOutboxDirectory(nullptr);
#if defined(_WIN32)
  testing::ScopedEnvironment state("LOCALAPPDATA", "C:\\state-of-someone");
  EXPECT_EQ(GetLogOutboxDirectory(), "C:\\state-of-someone/docsec/log-outbox");
#else
  testing::ScopedEnvironment state("XDG_STATE_HOME", "/var/tmp/state-of-someone");
  EXPECT_EQ(GetLogOutboxDirectory(), "/var/tmp/state-of-someone/docsec/log-outbox");
#endif
  SetLogOutboxDirectory("/elsewhere");
  EXPECT_EQ(GetLogOutboxDirectory(), "/elsewhere");
  SetLogOutboxDirectory("");
}

}  // namespace
}  // namespace docsec
