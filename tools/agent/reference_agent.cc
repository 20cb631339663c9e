#include "tools/agent/reference_agent.h"

#include <cstdlib>
#include <string>
#include <utility>

namespace docsec::agent {

ReferenceAgent::ReferenceAgent(ReferenceAgentOptions options) : options_(std::move(options)) {}

ReferenceAgent::~ReferenceAgent() { Stop(); }

bool ReferenceAgent::Start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (server_) {
    *error = "the agent runs already";
    return false;
  }
  if (!service_) {
    AgentServiceOptions service_options;
    service_options.drives = options_.drives;
    service_options.uuid = options_.uuid;
    service_options.state_dir = options_.state_dir;
    service_options.work_budget_ms = options_.work_budget_ms;
    service_options.lock_wait_ms = options_.lock_wait_ms;
    service_options.replacement_limits = options_.replacement_limits;
    service_options.before_item = options_.before_item;
    service_ = AgentService::Create(service_options, error);
    if (!service_) return false;
  }
  AgentServerOptions server_options;
  server_options.listen_address = options_.listen_address;
  server_options.port = options_.port;
  server_options.max_connections = options_.max_connections;
  server_options.head_timeout_ms = options_.head_timeout_ms;
  AgentService* service = service_.get();
  auto server = std::make_unique<AgentServer>(
      server_options, [service](const XmlDocument& request) { return service->Handle(request); });
  if (!server->Start(error)) return false;
  server_ = std::move(server);
  return true;
}

void ReferenceAgent::Stop() {
  if (!server_) return;
  server_->Stop();
  server_.reset();
}

AgentServer::Stats ReferenceAgent::stats() const {
  return server_ ? server_->stats() : AgentServer::Stats();
}

namespace {

// Each file waiting in a group holds a descriptor.
constexpr unsigned long kMaxGroupFiles = 65536;

}  // namespace

std::string AgentUsage() {
  return "usage: docsec-agent --listen ADDR --drive NAME=DIR [--drive NAME=DIR ...]\n"
         "                    [--uuid UUID] [--state-dir DIR] [--group-files N] [--verbose]\n"
         "\n"
         "Serves directories of this machine as drives to docsec consoles over the agent\n"
         "protocol (TCP port 24567), and encrypts, decrypts and re-labels files in them.\n"
         "Runs in the foreground until SIGINT or SIGTERM.\n"
         "\n"
         "  --listen ADDR        IPv4 address to listen on, e.g. 0.0.0.0 or 192.0.2.10\n"
         "  --drive NAME=DIR     serve directory DIR as drive NAME (e.g. C:=/srv/share);\n"
         "                       repeat for more drives. Paths never leave DIR: \"..\",\n"
         "                       absolute paths and links pointing outside are refused\n"
         "  --uuid UUID          the agent's identity (8-4-4-4-12 hexadecimal form);\n"
         "                       default: generated on first start and kept in --state-dir\n"
         "  --state-dir DIR      where the identity and the file-encryption key are kept\n"
         "                       (created with mode 0700; the key file is 0600). Losing the\n"
         "                       key makes the files encrypted by this agent unreadable.\n"
         "                       Default: $STATE_DIRECTORY, else $XDG_STATE_HOME/docsec-agent,\n"
         "                       else $HOME/.local/state/docsec-agent, else\n"
         "                       /var/lib/docsec-agent\n"
         "  --group-files N      how many changed files a file operation makes durable\n"
         "                       together, 1 to 65536 (default 256); 1 flushes each file\n"
         "                       and its folder on its own\n"
         "  --verbose            write diagnostics to standard error\n"
         "  --help               show this text and exit\n"
         "  --version            print the version and exit\n";
}

bool ParseAgentCommandLine(const std::vector<std::string>& args,
                           const std::string& default_state_dir, AgentCommandLine* command_line,
                           std::string* error) {
  *command_line = AgentCommandLine();
  ReferenceAgentOptions& options = command_line->options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool inline_value = false;
    // Accept both "--name value" and "--name=value".
    if (arg.rfind("--", 0) == 0) {
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        inline_value = true;
      }
    }
    if (arg == "--help" || arg == "-h") {
      command_line->help = true;
      continue;
    }
    if (arg == "--verbose") {
      if (inline_value) {
        *error = "--verbose takes no value";
        return false;
      }
      command_line->verbose = true;
      continue;
    }
    if (arg != "--listen" && arg != "--drive" && arg != "--uuid" && arg != "--state-dir" &&
        arg != "--group-files") {
      *error = "unknown option: " + args[i];
      return false;
    }
    if (!inline_value) {
      if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (value.empty()) {
      *error = arg + " needs a non-empty value";
      return false;
    }
    if (arg == "--listen") {
      if (!options.listen_address.empty()) {
        *error = "--listen given twice";
        return false;
      }
      options.listen_address = value;
    } else if (arg == "--drive") {
      AgentDrive drive;
      if (!ParseDriveOption(value, &drive, error)) return false;
      options.drives.push_back(drive);
    } else if (arg == "--uuid") {
      Uuid parsed;
      if (!Uuid::Parse(value, &parsed)) {
        *error = "--uuid needs the form xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx: " + value;
        return false;
      }
      options.uuid = value;
    } else if (arg == "--group-files") {
      char* end = nullptr;
      const unsigned long files = std::strtoul(value.c_str(), &end, 10);
      if (*end != '\0' || value[0] == '-' || files < 1 || files > kMaxGroupFiles) {
        *error = "--group-files needs a whole number from 1 to " + std::to_string(kMaxGroupFiles) +
                 ": " + value;
        return false;
      }
      options.replacement_limits.files = files;
    } else {
      options.state_dir = value;
    }
  }
  if (command_line->help) return true;
  if (options.listen_address.empty()) {
    *error = "--listen ADDR is required";
    return false;
  }
  if (options.drives.empty()) {
    *error = "at least one --drive NAME=DIR is required";
    return false;
  }
  if (options.state_dir.empty()) options.state_dir = default_state_dir;
  return true;
}

}  // namespace docsec::agent
