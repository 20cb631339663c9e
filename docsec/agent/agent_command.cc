#include "docsec/agent/agent_command.h"

#include <atomic>

#include "docsec/agent/agent_channel.h"
#include "docsec/core/library.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/trace.h"
#include "docsec/platform/variant.h"

namespace docsec {
namespace {

constexpr int kPingTtl = 255;
constexpr int kPingTimeoutMs = 1000;

// The record is written at start-up and shut-down (and by tests) while pings may read it on other
// threads, hence atomics rather than a plain struct.
std::atomic<bool> g_icmp_usable{false};
std::atomic<bool> g_icmp_forced_off{false};
std::atomic<IcmpMethod> g_icmp_method{kNoIcmp};

// Reads attribute `name` of `element` as a 32-bit integer by the variant rules (decimal text,
// optional sign, surrounding blanks). False when the attribute is missing or does not convert.
bool ReadIntAttribute(const XmlElement& element, const char* name, int32_t* out) {
  const char* text = element.GetAttribute(name);
  if (text == nullptr) return false;
  try {
    Variant value(text);
    value.ChangeType(kVtI4);
    *out = value.Int32();
    return true;
  } catch (const ComError&) {
    return false;
  }
}

void BindIcmpAtStartup() { InitializeIcmp(); }

// The library binds the ICMP service at start-up and releases it at shut-down.
struct IcmpRegistration {
  IcmpRegistration() { internal::RegisterIcmpService(&BindIcmpAtStartup, &ReleaseIcmp); }
} g_icmp_registration;

}  // namespace

IcmpService GetIcmpService() {
  IcmpService service;
  service.usable = g_icmp_usable.load() && !g_icmp_forced_off.load();
  return service;
}

bool InitializeIcmp() {
  IcmpDetection found = DetectIcmp();
  if (!found.usable()) {
    Trace("Error: %s",
          found.opened_but_unusable ? "Error loading ICMP.DLL" : "Could not load ICMP.DLL");
    if (!found.failure.empty()) Trace("ICMP: %s", found.failure.c_str());
  }
  g_icmp_method.store(found.method);
  g_icmp_usable.store(found.usable());
  return found.usable();
}

void ReleaseIcmp() {
  g_icmp_usable.store(false);
  g_icmp_method.store(kNoIcmp);
}

void SetIcmpUsableForTesting(bool usable) { g_icmp_forced_off.store(!usable); }

XmlDocument BuildAgentCommand(const char* service) {
  try {
    XmlDocument document = XmlDocument::Create();
    if (!document) return XmlDocument();
    document.AppendProcessingInstruction("xml", "version=\"1.0\"");
    XmlElement root = document.CreateDocumentElement("document");
    root.AppendElement("service").SetAttribute("value", service);
    return document;
  } catch (const ComError&) {
    return XmlDocument();
  }
}

XmlDocument SendAgentCommand(uint32_t address, const XmlDocument& command) {
  try {
    XmlDocument reply = XmlDocument::Create();
    if (!reply) return XmlDocument();
    AgentChannel channel(address);
    if (!channel.Exchange(kAgentCommandKind, command, reply)) return XmlDocument();
    return reply;
  } catch (...) {
    // A failing XML operation or memory allocation inside the exchange is a failed exchange.
    return XmlDocument();
  }
}

bool CheckAgentReply(const XmlDocument& reply) {
  if (!reply) return false;
  try {
    XmlElement root = reply.DocumentElement();
    if (!root) return false;
    XmlElement retcode = root.SelectChild("retcode");
    if (!retcode) return false;
    int32_t value = -1;
    return ReadIntAttribute(retcode, "value", &value) && value == 0;
  } catch (const ComError&) {
    return false;
  }
}

bool PingHost(uint32_t address) {
  IcmpService service = GetIcmpService();
  if (!service.usable) return false;
  return IcmpEcho(g_icmp_method.load(), address, kPingTtl, kPingTimeoutMs);
}

CEnumComputerConnectionStatus ProbeAgent(uint32_t address, const Uuid& expected) {
  if (!PingHost(address)) {
    Trace("Ping %X Failed", address);
    return ConnectionPingFailed;
  }
  Trace("Ping %X OK", address);
  XmlDocument command = BuildAgentCommand("GetStatus");
  if (!command) return ConnectionNotProbed;
  try {
    XmlDocument reply = SendAgentCommand(address, command);
    if (!reply || !CheckAgentReply(reply)) return ConnectionAgentNotRunning;
    XmlElement root = reply.DocumentElement();
    XmlElement status = root.SelectChild("status");
    int32_t state = -1;
    if (!status || !ReadIntAttribute(status, "value", &state) || state != 0) {
      return ConnectionAgentNotRunning;
    }
    XmlElement uuid = root.SelectChild("uuid");
    if (!uuid) return ConnectionAgentNotRunning;
    // A "uuid" without "value" has no text to read, like a value that does not convert.
    const char* text = uuid.GetAttribute("value");
    if (text == nullptr) return ConnectionAgentNotRunning;
    Uuid reported;
    if (!Uuid::Parse(text, &reported) || reported != expected) {
      Trace("IP:%X 's UUID Changed", address);
      return ConnectionAgentNotRunning;
    }
    return ConnectionRunning;
  } catch (...) {
    return ConnectionAgentNotRunning;
  }
}

}  // namespace docsec
