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
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "docsec/computers/computer.h"
#include "docsec/logs/drm_log.h"
#include "docsec/logs/internal/outbox_file.h"
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

  // The files of the outbox directory (not its folders), sorted.
  std::vector<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (entry.is_regular_file()) names.insert(entry.path().filename().string());
    }
    return {names.begin(), names.end()};
  }

  static std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
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
                            "/00000000000000000000.xml: 1 damaged record(s) lost, 0 recovered; "
                            "set aside as 00000000000000000000.xml.corrupt"));
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
  // The outbox's own lines; the refused upload's outcome is traced beside them.
  std::vector<std::string> outbox;
  for (const std::string& line : traces.Traces()) {
    if (line.rfind("operation log: ", 0) == 0) outbox.push_back(line);
  }
  ASSERT_EQ(outbox.size(), 2u);
  EXPECT_EQ(outbox[0].rfind("operation log: the outbox cannot be used (", 0), 0u);
  const std::string id = Uploads(server)[0].id;
  EXPECT_EQ(outbox[1].rfind("operation log: entry " + id +
                                " is not recorded: the outbox "
                                "cannot keep it (",
                            0),
            0u)
      << outbox[1];
  // Nothing is lost quietly: the record goes whole to the last resort.
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_NE(kept[0].find("srcFile=\"a\" entryId=\"" + id + "\""), std::string::npos) << kept[0];
  EXPECT_EQ(FlushLogOutbox(), -1);
}

// ---- servers, refusals and damage ----

constexpr char kServerA[] = "https://a.example.test:8443";
constexpr char kServerB[] = "https://b.example.test:8443";

// Records written against one server never go to another: B, logged in to later, receives only
// its own, and A's wait for A.
TEST_F(LogOutboxTest, RecordsGoOnlyToTheServerTheyWereWrittenAgainst) {
  std::vector<std::string> seen_by_b;
  {
    FakeServer a(kServerA);
    a.SetDefaultAnswer("");  // A is down
    EXPECT_EQ(Submit({"for-a-1", "for-a-2"}), 2);
  }
  {
    FakeServer b(kServerB);
    EXPECT_EQ(Submit({"for-b"}), 0);
    EXPECT_EQ(FlushLogOutbox(), 0);
    for (const Upload& upload : Uploads(b)) seen_by_b.push_back(upload.file);
  }
  EXPECT_EQ(seen_by_b, std::vector<std::string>{"for-b"});
  LogOutboxReport report;
  std::string error;
  ASSERT_TRUE(InspectLogOutbox(&report, &error)) << error;
  ASSERT_EQ(report.waiting.size(), 1u);
  EXPECT_EQ(report.waiting[0].server, kServerA);
  EXPECT_EQ(report.waiting[0].account, "admin");
  EXPECT_EQ(report.waiting[0].waiting, 2);

  FakeServer a(kServerA);
  ASSERT_TRUE(FlushLogOutboxNow(false, &report, &error)) << error;
  EXPECT_EQ(report.sent, 2);
  EXPECT_TRUE(report.waiting.empty());
  ASSERT_EQ(Uploads(a).size(), 2u);
  EXPECT_EQ(Uploads(a)[1].file, "for-a-2");
}

// Only a missing or unreadable answer and 501-503 mean "try again"; any other refusal moves the
// record aside with the server's code and message, and the records behind it go on.
TEST_F(LogOutboxTest, PermanentRefusalMovesAsideAndTheRecordsBehindGoOn) {
  const struct {
    const char* answer;
    int waiting;  // after submitting "first", "second", "third" with this answer to "first"
    const char* refused_code;
  } kCases[] = {
      {"", 3, nullptr},
      {"<document><return code=\"501\"/></document>", 3, nullptr},
      {"<document><return code=\"503\" message=\"busy\"/></document>", 3, nullptr},
      {"<document/>", 3, nullptr},
      {"<document><return code=", 3, nullptr},
      {"<document><return code=\"-1\" message=\"no such code\"/></document>", 3, nullptr},
      {"<document><return code=\"206\" message=\"computer pc-1 is outside your scope\"/>"
       "</document>",
       0, "206"},
      {"<document><return code=\"105\" message=\"bad value\"/></document>", 0, "105"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.answer);
    std::string error;
    ASSERT_GE(DiscardRefusedLogOutbox("", &error), 0) << error;
    FakeServer server;
    server.QueueAnswer(c.answer);
    EXPECT_EQ(Submit({"first", "second", "third"}), c.waiting);
    LogOutboxReport report;
    ASSERT_TRUE(InspectLogOutbox(&report, &error)) << error;
    if (c.refused_code == nullptr) {
      EXPECT_TRUE(report.refused.empty());
      EXPECT_EQ(FlushLogOutbox(), 0);  // the server takes them now
      continue;
    }
    ASSERT_EQ(report.refused.size(), 1u);
    EXPECT_EQ(report.refused[0].code, c.refused_code);
    EXPECT_EQ(report.refused[0].entry_id, Uploads(server)[0].id);
    EXPECT_NE(report.refused[0].message, "");
    std::vector<std::string> files;
    for (const Upload& upload : Uploads(server)) files.push_back(upload.file);
    EXPECT_EQ(files, (std::vector<std::string>{"first", "second", "third"}));
  }
  // A refused record goes again only when asked to, and then it is delivered.
  FakeServer server;
  std::string error;
  EXPECT_EQ(FlushLogOutbox(), 0);
  EXPECT_EQ(server.request_count(), 0u);
  EXPECT_EQ(RetryRefusedLogOutbox("", &error), 1) << error;
  EXPECT_EQ(FlushLogOutbox(), 0);
  ASSERT_EQ(Uploads(server).size(), 1u);
  EXPECT_EQ(Uploads(server)[0].file, "first");
  LogOutboxReport report;
  ASSERT_TRUE(InspectLogOutbox(&report, &error));
  EXPECT_TRUE(report.refused.empty());
  EXPECT_EQ(RetryRefusedLogOutbox("no-such-entry", &error), -1);
  EXPECT_EQ(error, "no refused entry no-such-entry");
}

// A batch damaged on disk keeps the records that can still be read; the loss is reported, the
// damaged bytes are kept aside, and the report stays until a person removes them.
TEST_F(LogOutboxTest, DamagedBatchIsReportedAndItsReadableRecordsRecovered) {
  const struct {
    const char* what;
    std::function<void(std::string*)> damage;
    std::vector<std::string> recovered;
  } kCases[] = {
      {"truncated in the last record",
       [](std::string* text) { text->resize(text->size() - 40); },
       {"r1", "r2"}},
      {"a byte changed in the second record",
       [](std::string* text) {
         const size_t at = text->find("r2");
         (*text)[at + 1] = '9';
       },
       {"r1", "r3"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_);
    {
      FakeServer down;
      down.SetDefaultAnswer("");
      ASSERT_EQ(Submit({"r1", "r2", "r3"}), 3);
    }
    std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 2u);  // the lock and the batch
    const std::string batch = dir_ + "/" + files[1];
    std::string text = ReadText(batch);
    c.damage(&text);
    std::ofstream(batch, std::ios::binary | std::ios::trunc) << text;

    LogOutboxReport report;
    std::string error;
    ASSERT_TRUE(InspectLogOutbox(&report, &error)) << error;
    ASSERT_EQ(report.damage.size(), 1u);
    EXPECT_NE(report.damage[0].find("1 damaged record(s) lost, 2 recovered"), std::string::npos)
        << report.damage[0];
    ASSERT_EQ(report.waiting.size(), 1u);
    EXPECT_EQ(report.waiting[0].waiting, 2);
    EXPECT_EQ(ReadText(batch + ".corrupt"), text);

    FakeServer server;
    ASSERT_TRUE(FlushLogOutboxNow(false, &report, &error)) << error;
    std::vector<std::string> sent;
    for (const Upload& upload : Uploads(server)) sent.push_back(upload.file);
    EXPECT_EQ(sent, c.recovered);
    ASSERT_EQ(report.damage.size(), 1u);  // still there, set aside earlier
    EXPECT_NE(report.damage[0].find("set aside earlier"), std::string::npos);
  }
}

// Batches written before records named their server are still read; they name none, so they
// are sent only when asked to explicitly.
TEST_F(LogOutboxTest, BatchOfAnEarlierVersionWaitsUntilSentExplicitly) {
  fs::create_directories(dir_);
  std::ofstream(dir_ + "/00000000000000000001.xml")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><logOutbox><computer name=\"pc-1\">"
         "<log userId=\"admin\" srcFile=\"old\" entryId=\"1b4e28ba-2fa1-41d2-883f-0016d3cca427\"/>"
         "</computer></logOutbox>";
  FakeServer server;
  EXPECT_EQ(FlushLogOutbox(), 0);
  EXPECT_EQ(server.request_count(), 0u);
  EXPECT_EQ(CountLogOutbox(), 1);
  LogOutboxReport report;
  std::string error;
  ASSERT_TRUE(FlushLogOutboxNow(true, &report, &error)) << error;
  ASSERT_EQ(Uploads(server).size(), 1u);
  EXPECT_EQ(Uploads(server)[0].file, "old");
  EXPECT_EQ(CountLogOutbox(), 0);
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

// The checksum reads eight bytes a step; it must agree with the bit-by-bit definition for every
// length and alignment, and with the published check value.
TEST(OutboxFile, ChecksumMatchesTheBitwiseDefinition) {
  auto bitwise = [](const std::string& text) {
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char byte : text) {
      c ^= byte;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
  };
  EXPECT_EQ(outbox_internal::Crc32("123456789", 9), 0xCBF43926u);
  std::string text;
  for (int i = 0; i < 300; ++i) text += static_cast<char>(i * 131 + 7);
  for (size_t from = 0; from < 9; ++from) {
    for (size_t size :
         {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{64}, size_t{291} - from}) {
      EXPECT_EQ(outbox_internal::Crc32(text.data() + from, size), bitwise(text.substr(from, size)))
          << "from " << from << ", " << size << " bytes";
    }
  }
}

// Records of different servers, accounts and refusals in one file, with text that needs escaping,
// come back as they went in.
TEST(OutboxFile, RecordsOfMixedHeadsReadBackWhole) {
  XmlDocument uploads = XmlDocument::Create();
  XmlElement root = uploads.CreateDocumentElement("batch");
  std::vector<outbox_internal::StoredRecord> records;
  const struct {
    const char* server;
    const char* account;
    const char* code;
    const char* message;
  } heads[] = {
      {"https://a:8443", "admin", "", ""},
      {"https://a:8443", "admin", "", ""},
      {"https://a:8443", "o\"neil & <co>", "", ""},
      {"", "", "", ""},
      {"https://b", "admin", "403", "not \"yours\" & <never>"},
  };
  for (size_t i = 0; i < std::size(heads); ++i) {
    XmlElement computer = root.AppendElement("computer");
    computer.AppendAttribute("name", ("pc&" + std::to_string(i)).c_str());
    computer.AppendElement("log").AppendAttribute("entryId", std::to_string(i).c_str());
    outbox_internal::StoredRecord record;
    record.server = heads[i].server;
    record.account = heads[i].account;
    record.code = heads[i].code;
    record.message = heads[i].message;
    record.computer = computer;
    records.push_back(record);
  }
  const outbox_internal::ReadBatch read =
      outbox_internal::ParseRecords(outbox_internal::RenderRecords(records));
  EXPECT_EQ(read.damaged, 0u);
  ASSERT_EQ(read.records.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const outbox_internal::StoredRecord& got = read.records[i];
    EXPECT_EQ(got.server, records[i].server) << i;
    EXPECT_EQ(got.account, records[i].account) << i;
    EXPECT_EQ(got.code, records[i].code) << i;
    EXPECT_EQ(got.message, records[i].message) << i;
    EXPECT_EQ(got.computer.Xml(), records[i].computer.Xml()) << i;
  }
}

}  // namespace
}  // namespace docsec
