// The reference agent end to end: the library's own command functions talk to an in-process
// agent over real loopback TCP, each test on its own 127.0.0.N.
#include "tools/agent/reference_agent.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "docsec/agent/agent_channel.h"
#include "docsec/agent/agent_command.h"
#include "docsec/platform/host.h"
#include "docsec/platform/uuid.h"
#include "docsec/testing/free_loopback.h"
#include "gtest/gtest.h"
#include "tools/agent/agent_test_util.h"
#include "tools/agent/sealed_file.h"

namespace docsec::agent {
namespace {

using testing::Attr;
using testing::ChildValue;
using testing::ListedElement;
using testing::ListedNames;
using testing::Retcode;
using testing::ScratchTree;

constexpr char kUuid[] = "0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3";

class ReferenceAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.Dir("c");
    tree_.Dir("c/docs");
    tree_.Dir("c/docs/sub");
    tree_.Dir("d");
    tree_.Dir("outside");
    tree_.Write("c/docs/a.txt", "alpha");
    tree_.Write("c/docs/big.doc", std::string(3000, 'b'));
    tree_.Write("c/docs/sub/c.txt", "charlie");
    tree_.Write("outside/secret.txt", "top secret");
    tree_.Link("c/docs/out", "../../outside");
  }

  ReferenceAgentOptions Options(const std::string& uuid = "") const {
    ReferenceAgentOptions options;
    options.drives = {{"C:", tree_.At("c")}, {"D:", tree_.At("d")}};
    options.uuid = uuid;
    options.state_dir = tree_.At("state");
    return options;
  }

  // Starts the agent on a loopback address free at the time (a restart may get another one).
  void StartAgent(const std::string& uuid = "",
                  const std::function<void(ReferenceAgentOptions*)>& adjust = nullptr) {
    agent_.reset();
    std::string error;
    address_ = docsec::testing::StartOnFreeLoopback([&](uint32_t address) {
      ReferenceAgentOptions options = Options(uuid);
      options.listen_address = FormatIpv4(address);
      if (adjust) adjust(&options);
      agent_ = std::make_unique<ReferenceAgent>(options);
      return agent_->Start(&error);
    });
    ASSERT_NE(address_, 0u) << error;
  }

  // Sends a command built by the library's BuildAgentCommand, with `body` (elements as text)
  // appended under its root, and returns the reply (null when the exchange failed).
  XmlDocument Send(const char* service, const std::string& body = "") {
    XmlDocument command = BuildAgentCommand(service);
    EXPECT_TRUE(command);
    if (!body.empty()) {
      XmlDocument parts = XmlDocument::Create();
      EXPECT_TRUE(parts.LoadXml("<parts>" + body + "</parts>"));
      XmlNodeList children = parts.DocumentElement().SelectChildren(nullptr);
      for (size_t i = 0; i < children.Length(); ++i) {
        command.DocumentElement().AppendChild(children.Item(i));
      }
    }
    return SendAgentCommand(address_, command);
  }

  // Sends `text` as it is as the request body (for requests the library's own document could not
  // build) and returns the reply, null when none came.
  XmlDocument SendText(const std::string& text) {
    AgentChannel channel(address_);
    AgentPacket packet;
    packet.body = text;
    packet.length = static_cast<uint32_t>(text.size());
    XmlDocument reply = XmlDocument::Create();
    if (!channel.Connect(AgentPort) || !channel.SendPacket(&packet) ||
        !channel.ReceiveDocument(reply)) {
      return XmlDocument();
    }
    return reply;
  }

  ScratchTree tree_;
  std::unique_ptr<ReferenceAgent> agent_;
  uint32_t address_ = 0;
};

TEST_F(ReferenceAgentTest, AnswersStatusAndCountsApprovals) {
  StartAgent(kUuid);
  XmlDocument status = Send("GetStatus");
  ASSERT_TRUE(status);
  EXPECT_TRUE(CheckAgentReply(status));
  EXPECT_EQ(ChildValue(status, "status"), "0");
  EXPECT_EQ(ChildValue(status, "uuid"), kUuid);

  for (int i = 0; i < 2; ++i) {
    XmlDocument ack = Send("NotifyApproveStatus");
    ASSERT_TRUE(ack);
    EXPECT_TRUE(CheckAgentReply(ack));
  }
  EXPECT_EQ(agent_->service()->approve_notifications(), 2);

  XmlDocument unknown = Send("FormatDisk");
  ASSERT_TRUE(unknown);
  EXPECT_FALSE(CheckAgentReply(unknown));
  EXPECT_EQ(agent_->service()->approve_notifications(), 2);

  // Where this process may ping, the library's own probe finds the agent running.
  Uuid expected;
  ASSERT_TRUE(Uuid::Parse(kUuid, &expected));
  if (InitializeIcmp() && PingHost(address_)) {
    EXPECT_EQ(ProbeAgent(address_, expected), ConnectionRunning);
  }
}

TEST_F(ReferenceAgentTest, IdentityIsKeptInTheStateDirectoryAcrossRestarts) {
  StartAgent();
  std::string first = ChildValue(Send("GetStatus"), "uuid");
  Uuid parsed;
  ASSERT_TRUE(Uuid::Parse(first, &parsed));
  agent_->Stop();
  EXPECT_FALSE(Send("GetStatus"));  // nobody listens any more

  StartAgent();
  EXPECT_EQ(ChildValue(Send("GetStatus"), "uuid"), first);
  agent_.reset();

  StartAgent(kUuid);
  EXPECT_EQ(ChildValue(Send("GetStatus"), "uuid"), kUuid);
}

TEST_F(ReferenceAgentTest, ListsDrivesAndFolders) {
  StartAgent();
  XmlDocument drives = Send("LocateFile", "<dir path=\"\"/>");
  ASSERT_TRUE(CheckAgentReply(drives));
  EXPECT_EQ(ListedNames(drives, "dir"), (std::vector<std::string>{"C:", "D:"}));

  XmlDocument drive = Send("LocateFile", "<dir path=\"C:\"/>");
  ASSERT_TRUE(CheckAgentReply(drive));
  EXPECT_EQ(ListedNames(drive, "dir"), (std::vector<std::string>{"docs"}));

  XmlDocument docs = Send("LocateFile", "<dir path=\"C:\\docs\"/>");
  ASSERT_TRUE(CheckAgentReply(docs));
  EXPECT_EQ(ListedNames(docs, "dir"), (std::vector<std::string>{"sub"}));
  EXPECT_EQ(ListedNames(docs, "file"), (std::vector<std::string>{"a.txt", "big.doc"}));
  XmlElement big = ListedElement(docs, "file", "big.doc");
  EXPECT_EQ(Attr(big, "size"), "3000");
  EXPECT_EQ(Attr(big, "encrypted"), "false");
  EXPECT_EQ(Attr(big, "secretLevelId"), "-1");
}

TEST_F(ReferenceAgentTest, SearchesWithEachCondition) {
  StartAgent();
  ASSERT_TRUE(CheckAgentReply(Send("EncryptFile",
                                   "<dir path=\"C:\\docs\\sub\">"
                                   "<file name=\"c.txt\" secretLevelId=\"2\"/></dir>")));
  struct Case {
    std::string condition;
    std::vector<std::string> found;
  };
  const Case cases[] = {
      // The form the library sends for "at least 1024 bytes, sub-folders included".
      {"<condition path=\"C:\\docs\" subfolder=\"true\" casesensitive=\"false\">"
       "<size from=\"1024\"/><modifytime/></condition>",
       {"big.doc"}},
      {"<condition path=\"C:\\docs\" name=\"*.TXT\" subfolder=\"true\" casesensitive=\"false\">"
       "<size/><modifytime/></condition>",
       {"a.txt", "sub\\c.txt"}},
      {"<condition path=\"C:\\docs\" name=\"*.TXT\" subfolder=\"true\" casesensitive=\"true\">"
       "<size/><modifytime/></condition>",
       {}},
      {"<condition path=\"C:\\docs\" encrypted=\"true\" subfolder=\"true\" "
       "casesensitive=\"false\"><size/><modifytime/></condition>",
       {"sub\\c.txt"}},
      {"<condition path=\"C:\\docs\" subfolder=\"false\" casesensitive=\"false\">"
       "<size to=\"100\"/><modifytime from=\"2000-01-01 00:00:00\"/></condition>",
       {"a.txt"}},
      {"<condition path=\"C:\\docs\" subfolder=\"true\" casesensitive=\"false\">"
       "<size/><modifytime to=\"2000-01-01 00:00:00\"/></condition>",
       {}},
  };
  for (const Case& c : cases) {
    XmlDocument reply = Send("QueryFile", "<dir name=\"docs\"/>" + c.condition);
    ASSERT_TRUE(CheckAgentReply(reply)) << c.condition;
    EXPECT_EQ(ListedNames(reply, "file"), c.found) << c.condition;
  }
}

TEST_F(ReferenceAgentTest, EncryptsDecryptsAndRelabelsFilesAndFolders) {
  StartAgent();
  std::string original_big = tree_.Read("c/docs/big.doc");

  // Files, identified by the folder's path and each item's name, as the library sends them.
  XmlDocument sealed = Send("EncryptFile",
                            "<dir path=\"C:\\docs\"><file name=\"a.txt\" destSecretLevelId=\"3\" "
                            "departmentId=\"12\"/><file name=\"big.doc\"/></dir>");
  ASSERT_TRUE(CheckAgentReply(sealed)) << sealed.Xml();
  EXPECT_EQ(ListedNames(sealed, "file"), (std::vector<std::string>{"a.txt", "big.doc"}));
  EXPECT_EQ(Attr(ListedElement(sealed, "file", "a.txt"), "encrypted"), "true");
  EXPECT_EQ(Attr(ListedElement(sealed, "file", "a.txt"), "secretLevelId"), "3");
  EXPECT_NE(tree_.Read("c/docs/a.txt"), "alpha");

  XmlDocument relabelled = Send("ChangeSecretLevel",
                                "<dir path=\"C:\\docs\"><file name=\"a.txt\" secretLevelId=\"5\"/>"
                                "</dir>");
  ASSERT_TRUE(CheckAgentReply(relabelled));
  EXPECT_EQ(Attr(ListedElement(relabelled, "file", "a.txt"), "secretLevelId"), "5");
  EXPECT_EQ(Attr(ListedElement(relabelled, "file", "a.txt"), "departmentId"), "12");

  XmlDocument opened = Send("DecryptFile",
                            "<dir path=\"C:\\docs\"><file name=\"a.txt\"/>"
                            "<file name=\"big.doc\"/></dir>");
  ASSERT_TRUE(CheckAgentReply(opened));
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
  EXPECT_EQ(tree_.Read("c/docs/big.doc"), original_big);

  // A folder with its sub-folders, as EncryptFolder sends it: the folder element under its
  // parent's key element.
  XmlDocument folder = Send("EncryptFile",
                            "<dir path=\"C:\"><dir name=\"docs\" subfolder=\"true\" "
                            "secretLevelId=\"1\"/></dir>");
  ASSERT_TRUE(CheckAgentReply(folder)) << folder.Xml();
  EXPECT_EQ(Attr(ListedElement(folder, "dir", "docs"), "filesDone"), "3");
  EXPECT_EQ(tree_.Read("c/docs/sub/c.txt").substr(0, 8), "DSECFILE");

  // A tampered file fails and is left untouched; the others are still decrypted.
  std::string tampered = tree_.Read("c/docs/sub/c.txt");
  tampered.back() = static_cast<char>(tampered.back() ^ 0x80);
  tree_.Write("c/docs/sub/c.txt", tampered);
  XmlDocument partly = Send("DecryptFile",
                            "<dir path=\"C:\"><dir name=\"docs\" subfolder=\"true\"/>"
                            "</dir>");
  ASSERT_TRUE(partly);
  // Done in part is success: the console must learn which files did change.
  EXPECT_TRUE(CheckAgentReply(partly));
  EXPECT_EQ(ListedNames(partly, "failed"), (std::vector<std::string>{"docs\\sub\\c.txt", "docs"}));
  EXPECT_EQ(tree_.Read("c/docs/sub/c.txt"), tampered);
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
  EXPECT_EQ(tree_.Read("c/docs/big.doc"), original_big);
}

// Work is not cut short by the allowances the peer gets for sending: a folder operation that
// takes far longer is answered in full. One that outlasts the request's work budget stops between
// files and names those it did not reach, so the console logs every change and can send the rest
// again.
TEST_F(ReferenceAgentTest, LongFolderOperationIsAnsweredWithWhatItDid) {
  constexpr int kFiles = 40;
  tree_.Dir("c/many");
  for (int i = 0; i < kFiles; ++i) tree_.Write("c/many/f" + std::to_string(100 + i), "plain");
  const std::string folder_item = "<dir path=\"C:\"><dir name=\"many\" subfolder=\"true\"/></dir>";
  // 20 ms of work for each file that still has to change.
  auto slow = [this](int work_budget_ms) {
    return [this, work_budget_ms](ReferenceAgentOptions* options) {
      options->head_timeout_ms = 200;
      options->work_budget_ms = work_budget_ms;
      options->before_item = [this](const std::string& shown) {
        std::string file = "c/many/" + shown.substr(shown.find('\\') + 1);
        if (tree_.Read(file) == "plain") {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      };
    };
  };
  StartAgent("", slow(60000));
  XmlDocument whole = Send("EncryptFile", folder_item);
  ASSERT_TRUE(whole) << "the reply must come although the work took longer than 200 ms";
  EXPECT_EQ(Attr(ListedElement(whole, "dir", "many"), "filesDone"), std::to_string(kFiles));
  ASSERT_TRUE(CheckAgentReply(Send("DecryptFile", folder_item)));

  StartAgent("", slow(300));
  int rounds = 0;
  // Every round gets somewhere, so the rounds end however slow the machine is.
  for (int done = 0; done < kFiles && rounds < kFiles; ++rounds) {
    XmlDocument part = Send("EncryptFile", folder_item);
    ASSERT_TRUE(CheckAgentReply(part)) << part.Xml();
    XmlElement many = ListedElement(part, "dir", "many");
    int done_now = std::atoi(Attr(many, "filesDone").c_str());
    int unchanged = std::atoi(Attr(many, "filesUnchanged").c_str());
    int not_reached = std::atoi(Attr(many, "filesNotReached").c_str());
    EXPECT_GT(done_now, 0);
    EXPECT_EQ(unchanged, done);  // what an earlier round did is passed over
    EXPECT_EQ(done + done_now + not_reached, kFiles);
    // What the reply calls not reached is untouched, and everything else is encrypted.
    std::vector<std::string> failed = ListedNames(part, "failed");
    for (const std::string& name : failed) {
      if (name == "many") continue;
      EXPECT_EQ(tree_.Read("c/" + name.substr(0, 4) + "/" + name.substr(5)), "plain") << name;
    }
    EXPECT_EQ(failed.size(), static_cast<size_t>(not_reached) + (not_reached > 0 ? 1 : 0));
    done += done_now;
  }
  EXPECT_GT(rounds, 1);
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(tree_.Read("c/many/f" + std::to_string(100 + i)).substr(0, 8), "DSECFILE");
  }
}

// A file operation that cannot have the agent soon enough is answered busy and does nothing.
TEST_F(ReferenceAgentTest, FileOperationWaitingTooLongIsAnsweredBusy) {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false, release = false;
  StartAgent("", [&](ReferenceAgentOptions* options) {
    options->lock_wait_ms = 100;
    options->before_item = [&](const std::string&) {
      std::unique_lock<std::mutex> lock(mutex);
      entered = true;
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
    };
  });
  std::thread first([&] {
    EXPECT_TRUE(CheckAgentReply(
        Send("EncryptFile", "<dir path=\"C:\\docs\"><file name=\"a.txt\"/></dir>")));
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return entered; }));
  }
  XmlDocument busy = Send("EncryptFile", "<dir path=\"C:\\docs\"><file name=\"big.doc\"/></dir>");
  EXPECT_EQ(Retcode(busy), kRetBusy);
  EXPECT_EQ(tree_.Read("c/docs/big.doc"), std::string(3000, 'b'));
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  changed.notify_all();
  first.join();
  // Listing never waits for file operations.
  EXPECT_TRUE(CheckAgentReply(Send("LocateFile", "<dir path=\"C:\\docs\"/>")));
}

TEST_F(ReferenceAgentTest, RefusesPathsThatLeaveTheDrive) {
  StartAgent();
  for (const char* path :
       {"C:\\..", "C:\\docs\\..\\..\\outside", "\\outside", "/etc", "C:\\docs\\out", "Z:\\"}) {
    XmlDocument listing = Send("LocateFile", std::string("<dir path=\"") + path + "\"/>");
    ASSERT_TRUE(listing) << path;
    EXPECT_FALSE(CheckAgentReply(listing)) << path;
    EXPECT_TRUE(ListedNames(listing, "file").empty()) << path;
    XmlDocument encrypt = Send(
        "EncryptFile", std::string("<dir path=\"") + path + "\"><file name=\"secret.txt\"/></dir>");
    ASSERT_TRUE(encrypt) << path;
    EXPECT_FALSE(CheckAgentReply(encrypt)) << path;
  }
  XmlDocument item = Send("EncryptFile",
                          "<dir path=\"C:\\docs\"><file name=\"..\\..\\outside\\"
                          "secret.txt\"/><dir name=\"out\" subfolder=\"true\"/>"
                          "</dir>");
  ASSERT_TRUE(item);
  EXPECT_FALSE(CheckAgentReply(item));
  EXPECT_EQ(tree_.Read("outside/secret.txt"), "top secret");
}

// A name spelt with a NUL reference must not be cut at the NUL: the request is refused whole and
// a.txt is left as it was.
TEST_F(ReferenceAgentTest, NulInsideANameIsRefused) {
  tree_.Write("c/docs/a.txt.other", "other");
  StartAgent();
  for (const char* nul : {"&#0;", "&#x0;", "&#x100000000;"}) {
    XmlDocument reply =
        SendText(std::string("<?xml version=\"1.0\"?><document><service value=\"EncryptFile\"/>"
                             "<dir path=\"C:\\docs\"><file name=\"a.txt") +
                 nul + ".other\"/></dir></document>");
    ASSERT_TRUE(reply) << nul;
    EXPECT_EQ(Retcode(reply), kRetMalformed) << nul;
  }
  EXPECT_EQ(tree_.Read("c/docs/a.txt"), "alpha");
  EXPECT_EQ(tree_.Read("c/docs/a.txt.other"), "other");
}

TEST_F(ReferenceAgentTest, LongListingStaysWithinTheBodyLimit) {
  tree_.Dir("c/many");
  const std::string stem(120, 'n');
  for (int i = 0; i < 4000; ++i) tree_.Write("c/many/" + stem + std::to_string(i), "");
  StartAgent();
  XmlDocument reply = Send("LocateFile", "<dir path=\"C:\\many\"/>");
  ASSERT_TRUE(reply) << "a reply over the body limit would not arrive";
  ASSERT_TRUE(CheckAgentReply(reply));
  size_t listed = ListedNames(reply, "file").size();
  EXPECT_GT(listed, 1000u);
  EXPECT_LT(listed, 4000u);
  EXPECT_EQ(Attr(reply.DocumentElement().SelectChild("dir"), "truncated"), "true");
}

TEST_F(ReferenceAgentTest, ServesConcurrentClients) {
  StartAgent();
  std::atomic<int> good{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 8; ++t) {
    clients.emplace_back([this, &good] {
      for (int i = 0; i < 10; ++i) {
        XmlDocument reply = Send("LocateFile", "<dir path=\"C:\\docs\"/>");
        if (reply && CheckAgentReply(reply) && ListedNames(reply, "file").size() == 2) ++good;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(good.load(), 80);
}

TEST_F(ReferenceAgentTest, StartFailsCleanly) {
  std::string error;
  ReferenceAgentOptions bad_address = Options();
  bad_address.listen_address = "not-an-address";
  ReferenceAgent first(bad_address);
  EXPECT_FALSE(first.Start(&error));
  EXPECT_FALSE(first.running());
  EXPECT_FALSE(error.empty());

  ReferenceAgentOptions bad_drive = Options();
  bad_drive.listen_address = "127.0.0.1";
  bad_drive.drives.push_back({"E:", tree_.At("missing")});
  ReferenceAgent second(bad_drive);
  error.clear();
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find("E:"), std::string::npos) << error;

  StartAgent();
  EXPECT_FALSE(agent_->Start(&error));  // already running
  ReferenceAgentOptions same_address = Options();
  same_address.listen_address = FormatIpv4(address_);
  ReferenceAgent busy(same_address);
  error.clear();
  EXPECT_FALSE(busy.Start(&error));  // the address is taken
  EXPECT_FALSE(error.empty());
}

TEST(AgentCommandLine, ReadsOptionsAndRefusesMistakes) {
  AgentCommandLine line;
  std::string error;
  ASSERT_TRUE(ParseAgentCommandLine({"--listen", "127.0.0.1", "--drive", "C:=/srv/a",
                                     "--drive=D:=/srv/b", "--uuid", kUuid, "--verbose"},
                                    "/default/state", &line, &error))
      << error;
  EXPECT_EQ(line.options.listen_address, "127.0.0.1");
  ASSERT_EQ(line.options.drives.size(), 2u);
  EXPECT_EQ(line.options.drives[1].name, "D:");
  EXPECT_EQ(line.options.drives[1].directory, "/srv/b");
  EXPECT_EQ(line.options.uuid, kUuid);
  EXPECT_EQ(line.options.state_dir, "/default/state");
  EXPECT_TRUE(line.verbose);
  EXPECT_EQ(line.options.port, AgentPort);
  ASSERT_TRUE(ParseAgentCommandLine(
      {"--listen", "127.0.0.1", "--drive", "C:=/srv/a", "--group-files=3"}, "/s", &line, &error))
      << error;
  EXPECT_EQ(line.options.replacement_limits.files, 3u);

  ASSERT_TRUE(ParseAgentCommandLine({"--help"}, "/s", &line, &error));
  EXPECT_TRUE(line.help);

  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--drive", "C:=/srv"},
      {"--listen", "127.0.0.1"},
      {"--listen", "127.0.0.1", "--drive"},
      {"--listen", "127.0.0.1", "--drive", "C:"},
      {"--listen", "127.0.0.1", "--drive", "C:=/srv", "--uuid", "{not-a-uuid}"},
      {"--listen", "127.0.0.1", "--drive", "C:=/srv", "--port", "1"},
      {"--listen", "127.0.0.1", "--listen", "127.0.0.2", "--drive", "C:=/srv"},
      {"--listen", "127.0.0.1", "--drive", "C:=/srv", "--state-dir="},
      {"--listen", "127.0.0.1", "--drive", "C:=/srv", "--group-files", "0"},
      {"--listen", "127.0.0.1", "--drive", "C:=/srv", "--group-files", "-1"},
      {"--listen", "127.0.0.1", "--drive", "C:=/srv", "--group-files", "65537"},
      {"--listen", "127.0.0.1", "--drive", "C:=/srv", "--group-files", "8x"},
  };
  for (const std::vector<std::string>& args : bad) {
    error.clear();
    EXPECT_FALSE(ParseAgentCommandLine(args, "/s", &line, &error)) << args.size();
    EXPECT_FALSE(error.empty());
  }
  for (const char* option :
       {"--listen", "--drive", "--uuid", "--state-dir", "--group-files", "--verbose", "--help"}) {
    EXPECT_NE(AgentUsage().find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace docsec::agent
