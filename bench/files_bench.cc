// Remote-file benchmarks against the reference agent on loopback, each beside its baseline so the
// ratio can be read off one run:
//   - listing a folder of 10,000 files into folder objects vs. the raw agent exchange of the same
//     "LocateFile" command (reply parsed, no objects);
//   - encrypting 1,000 small files with one command (files a second; with and without the
//     operation-log entries going through the outbox to an in-process server) vs. sealing the
//     same bytes in-process with AES-256-GCM;
//   - encrypting, relabelling and decrypting a folder of 10,000 small files (1 to 64 KiB), the
//     agent's new contents made durable in groups vs. one file and its folder flushed at a time;
//     and one large file against writing and flushing the same bytes raw (the disk's own speed);
//   - searching a tree of 100,000 files by name pattern vs. walking the same tree in-process and
//     matching the same pattern.
// The agent's tree lives under $TMPDIR (default /tmp), which should be an ordinary disk for the
// bulk figures: on a memory file system flushes cost nothing. Built only with the tools, since
// the reference agent is one of them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "docsec/agent/agent_command.h"
#include "docsec/computers/computer.h"
#include "docsec/files/agent_folder.h"
#include "docsec/logs/log_outbox.h"
#include "docsec/platform/host.h"
#include "docsec/testing/fake_server.h"
#include "docsec/testing/free_loopback.h"
#include "docsec/users/user.h"
#include "tools/agent/file_crypto.h"
#include "tools/agent/agent_service.h"
#include "tools/agent/reference_agent.h"
#include "tools/agent/replacement_group.h"

namespace docsec {
namespace {

namespace fs = std::filesystem;

constexpr int kListedFiles = 10000;
constexpr int kEncryptedFiles = 1000;
constexpr size_t kSmallFileSize = 1024;
constexpr int kSearchFolders = 100;
constexpr int kSearchFilesPerFolder = 1000;
constexpr char kSearchPattern[] = "*77.log";  // one file in a hundred: the hits fit one reply

// A scratch directory with an agent serving it as drive C:, and a computer that reaches it.
class AgentSite {
 public:
  // `build` fills the drive's directory before the agent starts.
  template <class Build>
  explicit AgentSite(Build build, agent::ReplacementGroup::Limits limits = {}) {
    // TMPDIR chooses the file system (a memory one shows the cost of the disk's flushes).
    const char* temp = getenv("TMPDIR");
    std::string pattern =
        std::string(temp != nullptr && *temp ? temp : "/tmp") + "/docsec-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) return;
    root_ = pattern;
    fs::create_directories(root_ + "/c");
    build(root_ + "/c");
    address_ = testing::StartOnFreeLoopback([&](uint32_t candidate) {
      agent::ReferenceAgentOptions options;
      options.listen_address = FormatIpv4(candidate);
      options.drives = {{"C:", root_ + "/c"}};
      options.state_dir = root_ + "/state";
      options.replacement_limits = limits;
      agent_ = std::make_unique<agent::ReferenceAgent>(options);
      return agent_->Start(nullptr);
    });
    if (address_ == 0) return;
    computer_.SetIp(FormatIpv4(address_).c_str());
    computer_.SetName("bench");
    computer_.SetUuid(agent_->uuid().ToString().c_str());
    computer_.SetConnectionStatus(ConnectionRunning);
    SetLogOutboxDirectory((root_ + "/outbox").c_str());
  }
  ~AgentSite() {
    SetLogOutboxDirectory(nullptr);
    agent_.reset();
    if (!root_.empty()) fs::remove_all(root_);
  }
  bool ok() const { return address_ != 0; }
  uint32_t address() const { return address_; }
  std::string DriveDirectory() const { return root_ + "/c"; }
  std::string Root() const { return root_; }
  CDOAgentFolder* Folder(const char* path) { return computer_.FindFolderByPath(path); }

 private:
  std::string root_;
  uint32_t address_ = 0;
  std::unique_ptr<agent::ReferenceAgent> agent_;
  CDOComputer computer_;
};

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void WriteFile(const std::string& path, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out << std::string(size, 'x');
}

// ---- listing ----

AgentSite& ListingSite() {
  static AgentSite site([](const std::string& drive) {
    fs::create_directories(drive + "/big");
    for (int i = 0; i < kListedFiles; ++i) {
      WriteFile(drive + "/big/report-" + std::to_string(i) + ".docx", 0);
    }
  });
  return site;
}

void BM_ListFolderOf10000Files(benchmark::State& state) {
  AgentSite& site = ListingSite();
  CDOAgentFolder* big = site.ok() ? site.Folder("C:\\big") : nullptr;
  if (big == nullptr) {
    state.SkipWithError("no agent");
    return;
  }
  size_t listed = 0;
  for (auto _ : state) {
    DataObjectList* children = big->RefreshSubFolderAndFiles();
    listed = children->size();
    benchmark::DoNotOptimize(children);
  }
  // The agent stops a reply at its size budget; this many of the files fit one reply.
  state.counters["listed"] = static_cast<double>(listed);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * listed));
}
BENCHMARK(BM_ListFolderOf10000Files)->UseRealTime()->Unit(benchmark::kMillisecond);

// Baseline: the same command through the raw agent exchange, reply parsed, no objects made.
void BM_ListFolderOf10000FilesRawExchange(benchmark::State& state) {
  AgentSite& site = ListingSite();
  if (!site.ok()) {
    state.SkipWithError("no agent");
    return;
  }
  size_t listed = 0;
  for (auto _ : state) {
    XmlDocument command = BuildAgentCommand("LocateFile");
    command.DocumentElement().AppendElement("dir").AppendAttribute("path", "C:\\big");
    XmlDocument reply = SendAgentCommand(site.address(), command);
    if (!CheckAgentReply(reply)) {
      state.SkipWithError("exchange failed");
      break;
    }
    listed = reply.DocumentElement().SelectChild("dir").SelectChildren("file").Length();
  }
  state.counters["listed"] = static_cast<double>(listed);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * listed));
}
BENCHMARK(BM_ListFolderOf10000FilesRawExchange)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---- encryption ----

// Argument: 0 without a logged-in user (no log entries), 1 with one entry per file.
void BM_EncryptSmallFilesInOneCommand(benchmark::State& state) {
  AgentSite site([](const std::string& drive) {
    fs::create_directories(drive + "/small");
    for (int i = 0; i < kEncryptedFiles; ++i) {
      WriteFile(drive + "/small/f" + std::to_string(i) + ".txt", kSmallFileSize);
    }
  });
  CDOAgentFolder* small = site.ok() ? site.Folder("C:\\small") : nullptr;
  if (small == nullptr) {
    state.SkipWithError("no agent");
    return;
  }
  testing::FakeServer server;
  std::unique_ptr<CDOUser> user;
  if (state.range(0) != 0) {
    server.QueueAnswer(
        "<document><return code=\"0\"/><user id=\"admin\" name=\"Admin\"/></document>");
    user.reset(CDOUser::GetClassInstance()->Login("admin", "secret"));
    if (user == nullptr) {
      state.SkipWithError("no login");
      return;
    }
  }
  DataObjectList files(*small->GetSubFolderAndFiles());
  double client_cpu = 0;
  for (auto _ : state) {
    // Without a user the files are changed but their entries cannot name anyone.
    const FileOperationResult expected =
        state.range(0) != 0 ? FileOperationResult::kAllDone : FileOperationResult::kNotRecorded;
    const double cpu_before = ThreadCpuSeconds();
    const int encrypted = small->EncryptFiles(&files, 0);
    client_cpu += ThreadCpuSeconds() - cpu_before;
    if (!encrypted || small->GetLastOperationResult() != expected) {
      state.SkipWithError("encryption failed");
      break;
    }
    state.PauseTiming();
    small->DecryptFiles(&files, 0);
    state.ResumeTiming();
  }
  state.counters["files_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kEncryptedFiles), benchmark::Counter::kIsRate);
  state.counters["log_requests"] = static_cast<double>(server.request_count());
  // The console's own share: the agent serves on other threads of this process.
  state.counters["client_cpu_us_per_file"] =
      client_cpu * 1e6 /
      static_cast<double>(std::max<int64_t>(1, state.iterations()) * kEncryptedFiles);
}
BENCHMARK(BM_EncryptSmallFilesInOneCommand)
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Baseline: the same bytes sealed in-process with AES-256-GCM, one seal per file.
void BM_SealSameBytesInProcess(benchmark::State& state) {
  const uint8_t key[agent::kAes256KeySize] = {7};
  uint8_t iv[agent::kGcmIvSize] = {1};
  const std::string plain(kSmallFileSize, 'x');
  std::vector<uint8_t> sealed;
  for (auto _ : state) {
    for (int i = 0; i < kEncryptedFiles; ++i) {
      iv[0] = static_cast<uint8_t>(i);
      agent::Aes256GcmSeal(key, iv, nullptr, 0, plain.data(), plain.size(), &sealed);
      benchmark::DoNotOptimize(sealed.data());
    }
  }
  state.counters["files_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kEncryptedFiles), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SealSameBytesInProcess)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---- bulk operations at the disk's speed ----

constexpr int kBulkFiles = 10000;
constexpr size_t kLargeFileSize = size_t{256} << 20;

// One folder-mode command for folder C:\<folder>; the count of files done, -1 on failure.
long long FolderCommand(uint32_t address, const char* service, const char* folder, int level) {
  XmlDocument command = BuildAgentCommand(service);
  XmlElement dir = command.DocumentElement().AppendElement("dir");
  dir.SetAttribute("path", "C:");
  XmlElement item = dir.AppendElement("dir");
  item.SetAttribute("name", folder);
  item.SetAttribute("subfolder", "false");
  item.SetAttribute("secretLevelId", std::to_string(level).c_str());
  XmlDocument reply = SendAgentCommand(address, command);
  if (!CheckAgentReply(reply)) return -1;
  XmlElement done = reply.DocumentElement().SelectChild("dir").SelectChild("dir");
  const char* count = done ? done.GetAttribute("filesDone") : nullptr;
  return count != nullptr ? std::atoll(count) : -1;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Args: files made durable together (1: each file and its folder flushed on its own, as before
// groups), and 1 to flush the whole file system once a group, 0 to flush the group's files in
// parallel. Counters: files a second for each operation and over all three.
void BM_BulkEncrypt10000SmallFiles(benchmark::State& state) {
  agent::ReplacementGroup::Limits limits;
  limits.files = static_cast<size_t>(state.range(0));
  limits.flush_file_system = state.range(1) != 0;
  if (limits.files == 1) limits.flush_threads = 1;
  AgentSite site(
      [](const std::string& drive) {
        fs::create_directories(drive + "/bulk");
        std::mt19937 random(7);
        std::uniform_int_distribution<size_t> size(1024, 64 * 1024);
        for (int i = 0; i < kBulkFiles; ++i) {
          WriteFile(drive + "/bulk/f" + std::to_string(i) + ".doc", size(random));
        }
      },
      limits);
  if (!site.ok()) {
    state.SkipWithError("no agent");
    return;
  }
  sync();  // the files' own first writing is not the operations' cost
  double encrypt = 0, relabel = 0, decrypt = 0;
  for (auto _ : state) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point t0 = Clock::now();
    const long long encrypted = FolderCommand(site.address(), "EncryptFile", "bulk", 1);
    const Clock::time_point t1 = Clock::now();
    const long long relabelled = FolderCommand(site.address(), "ChangeSecretLevel", "bulk", 2);
    const Clock::time_point t2 = Clock::now();
    const long long decrypted = FolderCommand(site.address(), "DecryptFile", "bulk", -1);
    const Clock::time_point t3 = Clock::now();
    if (encrypted != kBulkFiles || relabelled != kBulkFiles || decrypted != kBulkFiles) {
      state.SkipWithError("not every file was done");
      return;
    }
    encrypt += Seconds(t1 - t0);
    relabel += Seconds(t2 - t1);
    decrypt += Seconds(t3 - t2);
  }
  const double files = static_cast<double>(state.iterations()) * kBulkFiles;
  state.counters["encrypt_files_per_second"] = files / encrypt;
  state.counters["relabel_files_per_second"] = files / relabel;
  state.counters["decrypt_files_per_second"] = files / decrypt;
  state.counters["files_per_second"] = 3 * files / (encrypt + relabel + decrypt);
}
BENCHMARK(BM_BulkEncrypt10000SmallFiles)
    ->Args({256, 1})
    ->Args({256, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
// One file at a time takes minutes for the three operations on an ordinary disk.
BENCHMARK(BM_BulkEncrypt10000SmallFiles)
    ->Args({1, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Writes `size` bytes to a new file `path` and flushes it; false on failure.
bool WriteAndFlush(const std::string& path, const std::vector<char>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n =
        ::write(fd, bytes.data() + written, std::min<size_t>(bytes.size() - written, 1 << 20));
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool ok = written == bytes.size() && ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// One 256 MiB file encrypted and decrypted, against writing and flushing the same bytes raw in
// the same folder (the disk's sequential speed, measured in the same run).
void BM_BulkEncryptLargeFile(benchmark::State& state) {
  std::vector<char> bytes(kLargeFileSize);
  std::mt19937 random(11);
  for (size_t i = 0; i < bytes.size(); i += sizeof(uint32_t)) {
    const uint32_t value = random();
    std::memcpy(&bytes[i], &value, sizeof value);
  }
  AgentSite site([&](const std::string& drive) {
    fs::create_directories(drive + "/large");
    WriteAndFlush(drive + "/large/big.bin", bytes);
  });
  if (!site.ok()) {
    state.SkipWithError("no agent");
    return;
  }
  const std::string raw = site.Root() + "/raw.bin";
  double raw_seconds = 0, encrypt = 0, decrypt = 0;
  for (auto _ : state) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point t0 = Clock::now();
    const bool raw_ok = WriteAndFlush(raw, bytes);
    const Clock::time_point t1 = Clock::now();
    const long long encrypted = FolderCommand(site.address(), "EncryptFile", "large", 1);
    const Clock::time_point t2 = Clock::now();
    const long long decrypted = FolderCommand(site.address(), "DecryptFile", "large", -1);
    const Clock::time_point t3 = Clock::now();
    ::unlink(raw.c_str());
    if (!raw_ok || encrypted != 1 || decrypted != 1) {
      state.SkipWithError("the large file was not done");
      return;
    }
    raw_seconds += Seconds(t1 - t0);
    encrypt += Seconds(t2 - t1);
    decrypt += Seconds(t3 - t2);
  }
  const double mib =
      static_cast<double>(state.iterations()) * static_cast<double>(kLargeFileSize) / (1 << 20);
  state.counters["raw_write_mib_per_second"] = mib / raw_seconds;
  state.counters["encrypt_mib_per_second"] = mib / encrypt;
  state.counters["decrypt_mib_per_second"] = mib / decrypt;
  state.counters["encrypt_vs_raw"] = raw_seconds / encrypt;
  state.counters["decrypt_vs_raw"] = raw_seconds / decrypt;
}
BENCHMARK(BM_BulkEncryptLargeFile)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---- search ----

AgentSite& SearchSite() {
  static AgentSite site([](const std::string& drive) {
    for (int d = 0; d < kSearchFolders; ++d) {
      const std::string folder = drive + "/tree/d" + std::to_string(d);
      fs::create_directories(folder);
      for (int i = 0; i < kSearchFilesPerFolder; ++i) {
        WriteFile(folder + "/f" + std::to_string(i) + ".log", 0);
      }
    }
  });
  return site;
}

void BM_SearchTreeOf100000Files(benchmark::State& state) {
  AgentSite& site = SearchSite();
  CDOAgentFolder* tree = site.ok() ? site.Folder("C:\\tree") : nullptr;
  if (tree == nullptr) {
    state.SkipWithError("no agent");
    return;
  }
  size_t found = 0;
  for (auto _ : state) {
    std::unique_ptr<DataObjectList> list(tree->SearchFiles(kSearchPattern, 0, 1, 0, 0, 0, 0, 0));
    if (list == nullptr) {
      state.SkipWithError("search failed");
      break;
    }
    found = list->size();
    DestructElements(list.get());
  }
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_SearchTreeOf100000Files)->UseRealTime()->Unit(benchmark::kMillisecond);

// Baseline: the same tree walked in-process, names matched by the agent's own pattern matcher.
void BM_WalkTreeOf100000FilesInProcess(benchmark::State& state) {
  AgentSite& site = SearchSite();
  if (!site.ok()) {
    state.SkipWithError("no agent");
    return;
  }
  const std::string root = site.DriveDirectory() + "/tree";
  size_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_regular_file() &&
          agent::MatchNamePattern(kSearchPattern, entry.path().filename().string(), false)) {
        ++found;
      }
    }
  }
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_WalkTreeOf100000FilesInProcess)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace docsec
