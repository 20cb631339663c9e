#include "docsec/agent/agent_command.h"

#include <atomic>
#include <exception>
#include <string>

#include "docsec/agent/agent_channel.h"
#include "docsec/channel/outcome.h"
#include "docsec/channel/request_channel.h"
#include "docsec/core/library.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/host.h"
#include "docsec/platform/icmp.h"
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

// A failing XML operation or memory allocation inside an exchange is a failed exchange, and the
// outcome says so rather than keeping whatever an earlier call left there.
XmlDocument FailedInside(const XmlDocument& command, const char* why) noexcept {
  try {
    SetLibraryFailure(RequestOperationName(command),
                      std::string("the exchange failed inside the library: ") + why);
  } catch (...) {
    SetLibraryFailureNoThrow("", why);
  }
  return XmlDocument();
}

// The exchange of SendAgentCommand over `channel`, which connects unless it is open already.
XmlDocument SendOver(AgentChannel& channel, const XmlDocument& command) {
  try {
    XmlDocument reply = XmlDocument::Create();
    if (!reply) return XmlDocument();
    if (!channel.Exchange(kAgentCommandKind, command, reply)) return XmlDocument();
    return reply;
  } catch (const std::exception& error) {
    return FailedInside(command, error.what());
  } catch (...) {
    return FailedInside(command, "an unknown exception");
  }
}

// The part of a probe after the ping: "GetStatus" over `channel` and the reading of its reply.
CEnumComputerConnectionStatus AskStatus(AgentChannel& channel, uint32_t address,
                                        const Uuid& expected, int answer_ms) {
  // The status values stay as they are; the outcome tells the cases of "not running" apart.
  auto not_running = [&](const std::string& why) {
    SetOutcome(OutcomeSource::kAgent, -1, "the agent at " + FormatIpv4(address) + " " + why,
               "GetStatus");
    return ConnectionAgentNotRunning;
  };
  XmlDocument command = BuildAgentCommand("GetStatus");
  if (!command) return ConnectionNotProbed;
  channel.BoundExchange(answer_ms);
  try {
    XmlDocument reply = SendOver(channel, command);
    // Both leave their own cause: no connection, no reply, or the agent's refusal.
    if (!reply || !CheckAgentReply(reply)) return ConnectionAgentNotRunning;
    XmlElement root = reply.DocumentElement();
    XmlElement status = root.SelectChild("status");
    int32_t state = -1;
    if (!status || !ReadIntAttribute(status, "value", &state)) {
      return not_running("did not report its status");
    }
    if (state != 0) return not_running("reports status " + std::to_string(state) + ", not running");
    XmlElement uuid = root.SelectChild("uuid");
    // A "uuid" without "value" has no text to read, like a value that does not convert.
    const char* text = uuid ? uuid.GetAttribute("value") : nullptr;
    if (text == nullptr) return not_running("did not say which computer it is");
    Uuid reported;
    const bool readable = Uuid::Parse(text, &reported);
    if (!readable || reported != expected) {
      Trace("IP:%X 's UUID Changed", address);
      return not_running((readable ? "answers as another computer (" : "answers as \"") +
                         std::string(text) + (readable ? ")" : "\", which is no computer's UUID"));
    }
    SetOutcomeOk("GetStatus");
    return ConnectionRunning;
  } catch (...) {
    return not_running("sent a reply that cannot be read");
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
  AgentChannel channel(address);
  return SendOver(channel, command);
}

bool CheckAgentReply(const XmlDocument& reply) {
  // A null reply: the exchange has recorded why there was none.
  if (!reply) return false;
  const std::string operation = LastOutcome().operation;
  auto unusable = [&](const char* why) {
    SetOutcome(OutcomeSource::kLibrary, 0, why, operation);
    return false;
  };
  try {
    XmlElement root = reply.DocumentElement();
    if (!root) return unusable("the agent's reply is not XML");
    XmlElement retcode = root.SelectChild("retcode");
    if (!retcode) return unusable("the agent's reply has no retcode");
    int32_t value = -1;
    if (!ReadIntAttribute(retcode, "value", &value)) {
      return unusable("the agent's retcode is not a number");
    }
    if (value == 0) return true;
    // A refusing agent says why in "error".
    XmlElement error = root.SelectChild("error");
    const char* why = error ? error.GetAttribute("value") : nullptr;
    SetOutcome(OutcomeSource::kAgent, value, why != nullptr ? why : "", operation);
    return false;
  } catch (const ComError&) {
    return unusable("the agent's reply cannot be read");
  }
}

bool PingHost(uint32_t address) {
  IcmpService service = GetIcmpService();
  if (!service.usable) return false;
  return IcmpEcho(g_icmp_method.load(), address, kPingTtl, kPingTimeoutMs);
}

void PingHosts(const std::vector<uint32_t>& addresses, size_t window, std::vector<char>* answered) {
  if (!GetIcmpService().usable) {
    answered->assign(addresses.size(), 0);
    return;
  }
  IcmpEchoMany(g_icmp_method.load(), addresses, kPingTtl, kPingTimeoutMs, window, answered);
}

CEnumComputerConnectionStatus ProbeAgent(uint32_t address, const Uuid& expected) {
  if (!PingHost(address)) {
    Trace("Ping %X Failed", address);
    SetOutcome(OutcomeSource::kAgent, -1, FormatIpv4(address) + " does not answer ping",
               "GetStatus");
    return ConnectionPingFailed;
  }
  Trace("Ping %X OK", address);
  AgentChannel channel(address);
  // The connection's own bound comes first; the status question's follows.
  return AskStatus(channel, address, expected, kAgentConnectTimeoutMs + kAgentStatusAnswerMs);
}

CEnumComputerConnectionStatus AskConnectedAgentStatus(TcpSocket connected, const Uuid& expected,
                                                      int answer_ms) {
  const uint32_t address = connected.PeerAddress();
  AgentChannel channel(std::move(connected));
  return AskStatus(channel, address, expected, answer_ms);
}

}  // namespace docsec
