#include "tools/agent/agent_service.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "docsec/platform/text.h"
#include "docsec/platform/trace.h"
#include "tools/agent/agent_request.h"

namespace docsec::agent {
namespace {

using CommandFunction = int (*)(AgentRequest& request, const XmlElement& command);

struct CommandEntry {
  const char* service;
  CommandFunction run;
};

// The services the agent answers, each handled in its command group's file.
constexpr CommandEntry kCommands[] = {
    {"GetStatus", GetStatus},
    {"NotifyApproveStatus", NotifyApproveStatus},
    {"LocateFile", LocateFile},
    {"QueryFile", QueryFile},
    {"EncryptFile", EncryptFile},
    {"DecryptFile", DecryptFile},
    {"ChangeSecretLevel", ChangeSecretLevel},
};

int Dispatch(const XmlDocument& request, AgentRequest& context) {
  if (!request) return context.Fail(kRetMalformed, "no request document");
  XmlElement root = request.DocumentElement();
  if (!root) return context.Fail(kRetMalformed, "request has no root element");
  XmlElement service = root.SelectChild("service");
  const char* name = service ? service.GetAttribute("value") : nullptr;
  if (name == nullptr) return context.Fail(kRetMalformed, "request names no service");
  for (const CommandEntry& command : kCommands) {
    if (std::string(name) == command.service) return command.run(context, root);
  }
  return context.Fail(kRetUnknownService, std::string("unknown service: ") + name);
}

}  // namespace

std::vector<std::string> ServiceNames() {
  std::vector<std::string> names;
  for (const CommandEntry& command : kCommands) names.emplace_back(command.service);
  return names;
}

bool ParseDriveOption(const std::string& option_text, AgentDrive* drive, std::string* error) {
  size_t eq = option_text.find('=');
  if (eq == std::string::npos) {
    *error = "drive must be given as NAME=DIR: " + option_text;
    return false;
  }
  std::string name = option_text.substr(0, eq);
  std::string dir = option_text.substr(eq + 1);
  if (name.empty() || dir.empty()) {
    *error = "drive name and directory must not be empty: " + option_text;
    return false;
  }
  if (!IsPlainItemName(name) || !IsListableName(name)) {
    *error = "drive name must be a single plain name without \\ or /: " + name;
    return false;
  }
  drive->name = name;
  drive->directory = dir;
  return true;
}

// ---- AgentService ----

std::unique_ptr<AgentService> AgentService::Create(const AgentServiceOptions& options,
                                                   std::string* error) {
  std::unique_ptr<AgentService> service(new AgentService());
  service->options_ = options;
  for (const AgentDrive& given : options.drives) {
    std::string why;
    AgentDrive checked;
    if (!ParseDriveOption(given.name + "=" + given.directory, &checked, &why)) {
      *error = why;
      return nullptr;
    }
    for (const ServedDrive& existing : service->drives_) {
      if (EqualsIgnoreCase(existing.name.c_str(), given.name.c_str())) {
        *error = "two drives named " + given.name;
        return nullptr;
      }
    }
    ServedDrive drive;
    drive.name = given.name;
    drive.root = DirHandle::Open(given.directory, &why);
    if (!drive.root.IsOpen()) {
      *error = "drive " + given.name + ": " + why;
      return nullptr;
    }
    service->drives_.push_back(std::move(drive));
  }
  if (!LoadAgentState(options.state_dir, options.uuid, &service->state_, error)) return nullptr;
  service->temp_names_ = std::make_unique<TempNames>(service->state_.file_key);
  // A state directory inside a served drive would let a console encrypt the agent's own key,
  // which would make every file it ever encrypted unrecoverable.
  DirHandle state = DirHandle::Open(options.state_dir, error);
  if (!state.IsOpen()) return nullptr;
  const std::string& state_path = state.CanonicalPath();
  for (const ServedDrive& drive : service->drives_) {
    const std::string& root = drive.root.CanonicalPath();
    if (state_path.empty() || root.empty() || root == "/" || state_path == root ||
        state_path.compare(0, root.size() + 1, root + "/") == 0) {
      *error = "state directory " + options.state_dir + " must not lie inside drive " + drive.name;
      return nullptr;
    }
  }
  // A killed agent may have left one of its own temporaries (new content not yet in place):
  // nothing else removes what no listing shows.
  for (const ServedDrive& drive : service->drives_) {
    size_t removed = SweepOwnLeftovers(drive.root, *service->temp_names_);
    if (removed > 0)
      Trace("agent: removed %zu leftover temporaries from %s", removed, drive.name.c_str());
  }
  return service;
}

AgentService::~AgentService() {
  // Do not leave the key lying in freed memory longer than needed.
  volatile uint8_t* key = state_.file_key;
  for (size_t i = 0; i < kFileKeySize; ++i) key[i] = 0;
}

const ServedDrive* AgentService::FindDrive(const std::string& name) const {
  for (const ServedDrive& drive : drives_) {
    if (drive.name == name) return &drive;
  }
  for (const ServedDrive& drive : drives_) {
    if (EqualsIgnoreCase(drive.name.c_str(), name.c_str())) return &drive;
  }
  return nullptr;
}

XmlDocument AgentService::Handle(const XmlDocument& request) {
  try {
    XmlDocument reply = XmlDocument::Create();
    if (!reply) return reply;
    reply.AppendProcessingInstruction("xml", "version=\"1.0\"");
    XmlElement root = reply.CreateDocumentElement("document");
    XmlElement retcode = root.AppendElement("retcode");
    AgentRequest context(this, root);
    int code = kRetInternal;
    try {
      code = Dispatch(request, context);
    } catch (const std::exception& e) {
      Trace("agent: request failed: %s", e.what());
      code = context.Fail(kRetInternal, "internal error");
    }
    retcode.SetAttribute("value", static_cast<long long>(code));
    return reply;
  } catch (const std::exception& e) {
    Trace("agent: cannot build a reply: %s", e.what());
  }
  return XmlDocument();
}

}  // namespace docsec::agent
