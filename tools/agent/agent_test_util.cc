#include "tools/agent/agent_test_util.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "gtest/gtest.h"
#include "docsec/platform/host.h"
#include "docsec/testing/free_loopback.h"
#include "tools/agent/file_system.h"
#include "tools/agent/reference_agent.h"

namespace docsec::agent::testing {

namespace fs = std::filesystem;

ScratchTree::ScratchTree() {
  path_ = CreateUniqueDirectory((fs::temp_directory_path() / "docsec-agent-").string());
  EXPECT_FALSE(path_.empty()) << "cannot create a scratch directory";
}

ScratchTree::~ScratchTree() {
  if (path_.empty()) return;
  std::error_code ec;
  // Give back write permission where a test took it away, so that everything can go.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(path_, ec);
  EXPECT_FALSE(ec) << "cannot remove " << path_ << ": " << ec.message();
}

bool ScratchTree::Dir(const std::string& relative) const {
  std::error_code ec;
  bool ok = fs::create_directory(At(relative), ec);
  EXPECT_TRUE(ok) << "mkdir " << relative << ": " << ec.message();
  return ok;
}

bool ScratchTree::Write(const std::string& relative, const std::string& content) const {
  std::ofstream out(At(relative), std::ios::binary | std::ios::trunc);
  out << content;
  bool ok = static_cast<bool>(out);
  EXPECT_TRUE(ok) << "write " << relative;
  return ok;
}

bool ScratchTree::Link(const std::string& relative, const std::string& target) const {
  std::error_code ec;
  fs::create_symlink(target, At(relative), ec);
  EXPECT_FALSE(ec) << "symlink " << relative << ": " << ec.message();
  return !ec;
}

bool ScratchTree::HardLink(const std::string& relative, const std::string& existing) const {
  std::error_code ec;
  fs::create_hard_link(At(existing), At(relative), ec);
  EXPECT_FALSE(ec) << "link " << relative << ": " << ec.message();
  return !ec;
}

bool ScratchTree::SetModifyTime(const std::string& relative, int64_t seconds) const {
  fs::path path(At(relative));
  DirHandle dir = DirHandle::Open(path.parent_path().string(), nullptr);
  FileHandle file = dir.OpenForReading(path.filename().string());
  bool ok = file.IsOpen() && file.SetModifyTime(seconds, 0);
  EXPECT_TRUE(ok) << "set time of " << relative;
  return ok;
}

bool ScratchTree::SetMode(const std::string& relative, unsigned mode) const {
  std::error_code ec;
  fs::permissions(At(relative), static_cast<fs::perms>(mode), fs::perm_options::replace, ec);
  EXPECT_FALSE(ec) << "chmod " << relative << ": " << ec.message();
  return !ec;
}

std::string ScratchTree::Read(const std::string& relative) const {
  std::ifstream in(At(relative), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ScratchTree::Exists(const std::string& relative) const {
  std::error_code ec;
  return fs::exists(fs::symlink_status(At(relative), ec));
}

std::vector<std::string> ScratchTree::List(const std::string& relative) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(At(relative), ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t StartTreeAgent(const ScratchTree& tree, const std::string& uuid,
                        std::unique_ptr<ReferenceAgent>* agent, std::string* error) {
  return docsec::testing::StartOnFreeLoopback([&](uint32_t address) {
    ReferenceAgentOptions options;
    options.listen_address = FormatIpv4(address);
    options.drives = {{"C:", tree.At("c")}};
    options.uuid = uuid;
    options.state_dir = tree.At("state");
    *agent = std::make_unique<ReferenceAgent>(options);
    return (*agent)->Start(error);
  });
}

std::string ChildValue(const XmlDocument& reply, const char* tag) {
  if (!reply || !reply.DocumentElement()) return "<missing>";
  XmlElement child = reply.DocumentElement().SelectChild(tag);
  const char* value = child ? child.GetAttribute("value") : nullptr;
  return value ? value : "<missing>";
}

int Retcode(const XmlDocument& reply) {
  std::string value = ChildValue(reply, "retcode");
  if (value == "<missing>") return -1000;
  return std::atoi(value.c_str());
}

std::vector<std::string> ListedNames(const XmlDocument& reply, const char* tag) {
  std::vector<std::string> names;
  if (!reply || !reply.DocumentElement()) return names;
  XmlElement dir = reply.DocumentElement().SelectChild("dir");
  if (!dir) return names;
  XmlNodeList items = dir.SelectChildren(tag);
  for (size_t i = 0; i < items.Length(); ++i) {
    const char* name = items.Item(i).GetAttribute("name");
    names.push_back(name ? name : "<unnamed>");
  }
  return names;
}

XmlElement ListedElement(const XmlDocument& reply, const char* tag, const std::string& name) {
  if (!reply || !reply.DocumentElement()) return XmlElement();
  XmlElement dir = reply.DocumentElement().SelectChild("dir");
  if (!dir) return XmlElement();
  XmlNodeList items = dir.SelectChildren(tag);
  for (size_t i = 0; i < items.Length(); ++i) {
    const char* item_name = items.Item(i).GetAttribute("name");
    if (item_name && name == item_name) return items.Item(i);
  }
  return XmlElement();
}

XmlDocument ParseRequest(const std::string& text) {
  XmlDocument doc = XmlDocument::Create();
  EXPECT_TRUE(doc.LoadXml(text)) << text;
  return doc;
}

std::string Attr(const XmlElement& element, const char* name) {
  if (!element) return "<no element>";
  const char* value = element.GetAttribute(name);
  return value ? value : "<absent>";
}

int OpenDeletedFiles() {
  int count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.size() > 10 && target.compare(target.size() - 10, 10, " (deleted)") == 0) {
      ++count;
    }
  }
  return count;
}

}  // namespace docsec::agent::testing
