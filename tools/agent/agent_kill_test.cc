// The docsec-agent program killed at random moments while it decrypts a folder: each file must be
// left with its old bytes or its complete new bytes, and no other copy of the plaintext may
// survive the next start.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "docsec/agent/agent_command.h"
#include "docsec/platform/host.h"
#include "docsec/testing/free_loopback.h"
#include "gtest/gtest.h"
#include "tools/agent/agent_state.h"
#include "tools/agent/agent_test_util.h"
#include "tools/agent/replacement_file.h"

extern char** environ;

namespace docsec::agent {
namespace {

using Clock = std::chrono::steady_clock;

// The program as a child process, serving one drive.
class AgentProcess {
 public:
  ~AgentProcess() { Kill(); }

  // Starts the program on a free loopback address and waits until it answers.
  bool Start(const std::string& drive_dir, const std::string& state_dir) {
    address_ = docsec::testing::StartOnFreeLoopback([&](uint32_t address) {
      std::vector<std::string> args = {
          DOCSEC_AGENT_PROGRAM, "--listen", FormatIpv4(address), "--drive", "C:=" + drive_dir,
          "--state-dir", state_dir,
          // Small groups, so that kills also land between groups and mid-group.
          "--group-files", "3"};
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(&arg[0]);
      argv.push_back(nullptr);
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
      int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
      posix_spawn_file_actions_destroy(&actions);
      if (spawned != 0) {
        pid_ = -1;
        return false;
      }
      for (auto until = Clock::now() + std::chrono::seconds(10); Clock::now() < until;) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {  // it could not start there
          pid_ = -1;
          return false;
        }
        if (CheckAgentReply(SendAgentCommand(address, BuildAgentCommand("GetStatus")))) {
          return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      Kill();
      return false;
    });
    return address_ != 0;
  }

  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  uint32_t address() const { return address_; }

 private:
  pid_t pid_ = -1;
  uint32_t address_ = 0;
};

XmlDocument FolderCommand(const char* service) {
  XmlDocument command = BuildAgentCommand(service);
  XmlElement dir = command.DocumentElement().AppendElement("dir");
  dir.SetAttribute("path", "C:");
  XmlElement item = dir.AppendElement("dir");
  item.SetAttribute("name", "folder");
  item.SetAttribute("subfolder", "true");
  item.SetAttribute("secretLevelId", "2");
  return command;
}

TEST(AgentKill, KilledDuringDecryptLeavesNoPlaintextCopy) {
  constexpr int kRounds = 20;
  constexpr int kFiles = 12;
  testing::ScratchTree tree;
  ASSERT_TRUE(tree.Dir("c"));
  ASSERT_TRUE(tree.Dir("c/folder"));
  std::mt19937 random(std::random_device{}());
  std::vector<std::string> names, plain;
  for (int i = 0; i < kFiles; ++i) {
    names.push_back("file" + std::to_string(100 + i) + ".doc");
    std::string bytes(64 * 1024, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    plain.push_back(bytes);
    ASSERT_TRUE(tree.Write("c/folder/" + names.back(), bytes));
  }
  const std::string state_dir = tree.At("state");

  long long decrypt_ms = 0;  // measured in the first round, which is not killed
  int mixed = 0;             // rounds killed with part of the folder done
  int leftovers_seen = 0;    // own temporaries found right after a kill
  for (int round = 0; round <= kRounds; ++round) {
    AgentProcess agent;
    ASSERT_TRUE(agent.Start(tree.At("c"), state_dir)) << "round " << round;
    // The start removed whatever the last kill left: only the files are there.
    std::vector<std::string> expected = names;
    EXPECT_EQ(tree.List("c/folder"), expected) << "round " << round;
    ASSERT_TRUE(CheckAgentReply(SendAgentCommand(agent.address(), FolderCommand("EncryptFile"))));

    auto start = Clock::now();
    std::thread client([&] { SendAgentCommand(agent.address(), FolderCommand("DecryptFile")); });
    if (round == 0) {
      client.join();
      decrypt_ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      continue;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(
        std::uniform_int_distribution<long long>(0, decrypt_ms * 1000 + 1000)(random)));
    agent.Kill();
    client.join();

    AgentState state;
    std::string error;
    ASSERT_TRUE(LoadAgentState(state_dir, "", &state, &error)) << error;
    TempNames own(state.file_key);
    DirHandle folder = DirHandle::Open(tree.At("c/folder"), nullptr);
    FileInfo folder_info;
    ASSERT_TRUE(folder.StatSelf(&folder_info));
    int sealed = 0, opened = 0;
    for (const std::string& entry : tree.List("c/folder")) {
      auto known = std::find(names.begin(), names.end(), entry);
      if (known == names.end()) {
        // Nothing but the agent's own temporary may be there, and the next start removes it.
        EXPECT_TRUE(own.IsOurs(entry, folder_info)) << entry;
        ++leftovers_seen;
        continue;
      }
      std::string bytes = tree.Read("c/folder/" + entry);
      if (bytes == plain[known - names.begin()]) {
        ++opened;
        continue;
      }
      SealState seal = SealState::kPlain;
      SealedLabel label;
      EXPECT_TRUE(ProbeSealedFile(folder, entry, state.file_key, &seal, &label));
      EXPECT_EQ(seal, SealState::kSealed) << entry;
      EXPECT_EQ(bytes.size(), plain[known - names.begin()].size() + kSealedOverhead) << entry;
      ++sealed;
    }
    EXPECT_EQ(sealed + opened, kFiles) << "round " << round;
    if (sealed > 0 && opened > 0) ++mixed;
  }
  std::printf(
      "decrypt of %d files took %lld ms; %d of %d kills landed mid-folder; %d leftover "
      "temporaries seen before a restart\n",
      kFiles, decrypt_ms, mixed, kRounds, leftovers_seen);
  // The kills must have hit the work itself, or the test proved nothing.
  EXPECT_GT(mixed, 0);
}

}  // namespace
}  // namespace docsec::agent
