// Command documents as the reference agent's service receives them once decrypted, run against a
// real drive in a scratch folder. Beside the drive lie a canary file and a folder that a link
// inside the drive points at: whatever the commands say, neither may ever change.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>

#include "docsec/platform/xml.h"
#include "tools/agent/agent_service.h"
#include "tools/agent/file_system.h"

namespace {

namespace fs = std::filesystem;
using namespace docsec;

constexpr char kCanary[] = "the canary outside the drive";

struct Fixture {
  std::string root;
  std::unique_ptr<agent::AgentService> service;
};

void Write(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Fixture* g_fixture = nullptr;

// The scratch folder goes when the run ends.
void RemoveFixture() {
  if (g_fixture == nullptr) return;
  g_fixture->service.reset();
  std::error_code ignored;
  fs::remove_all(g_fixture->root, ignored);
}

// The scratch folder: on a memory file system where there is one, as files are rewritten and
// flushed by the thousand.
Fixture* MakeFixture() {
  auto* fixture = new Fixture;
  std::string base =
      access("/dev/shm", W_OK) == 0 ? "/dev/shm" : fs::temp_directory_path().string();
  fixture->root = agent::CreateUniqueDirectory(base + "/docsec-fuzz-");
  if (fixture->root.empty()) std::abort();
  const std::string& r = fixture->root;
  fs::create_directories(r + "/c/docs/sub");
  fs::create_directories(r + "/outside");
  Write(r + "/c/docs/a.txt", "alpha");
  Write(r + "/c/docs/b.doc", std::string(3000, 'b'));
  Write(r + "/c/docs/sub/c.txt", "charlie");
  Write(r + "/outside/secret.txt", "top secret");
  Write(r + "/canary.txt", kCanary);
  fs::create_directory_symlink("../../outside", r + "/c/docs/out");
  fs::create_symlink(r + "/canary.txt", r + "/c/docs/canary-link");
  agent::AgentServiceOptions options;
  options.drives = {{"C:", r + "/c"}};
  options.state_dir = r + "/state";
  options.work_budget_ms = 2000;
  options.lock_wait_ms = 100;
  std::string error;
  fixture->service = agent::AgentService::Create(options, &error);
  if (!fixture->service) {
    std::fprintf(stderr, "cannot start the service: %s\n", error.c_str());
    std::abort();
  }
  g_fixture = fixture;
  std::atexit(RemoveFixture);
  return fixture;
}

void CheckOutsideUnchanged(const Fixture& f) {
  if (Read(f.root + "/canary.txt") != kCanary ||
      Read(f.root + "/outside/secret.txt") != "top secret") {
    std::fprintf(stderr, "a file outside the drive changed\n");
    std::abort();
  }
  size_t entries = 0;
  for (auto it = fs::directory_iterator(f.root + "/outside"); it != fs::directory_iterator();
       ++it) {
    ++entries;
  }
  if (entries != 1) {
    std::fprintf(stderr, "an entry appeared outside the drive\n");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fixture = MakeFixture();
  XmlDocument request = XmlDocument::Create();
  request.LoadXml(reinterpret_cast<const char*>(data), size);
  XmlDocument reply = fixture->service->Handle(request);
  if (!reply || !reply.DocumentElement()) std::abort();  // every request gets a reply
  CheckOutsideUnchanged(*fixture);
  return 0;
}
