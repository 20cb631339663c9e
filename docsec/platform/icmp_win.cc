// Windows twin of icmp.cc: echoes through the system's echo service in ICMP.DLL (the IP helper
// library exports the same calls on newer systems; the older DLL name works everywhere). The
// library is loaded when first detected and kept for the process.
#include "docsec/platform/icmp.h"

#include <winsock2.h>
// After winsock2.h, which must come before windows.h.
#include <windows.h>
// After windows.h, whose types they use.
#include <iphlpapi.h>
#include <icmpapi.h>

#include <mutex>
#include <string>

namespace docsec {
namespace {

// The one method this side hands out.
constexpr IcmpMethod kEchoService = 1;

// The calls of ICMP.DLL; the declarations come from the system's headers, the addresses from the
// DLL at run time.
using CreateFn = decltype(&IcmpCreateFile);
using CloseFn = decltype(&IcmpCloseHandle);
using SendEchoFn = decltype(&IcmpSendEcho);

struct EchoService {
  CreateFn create = nullptr;
  CloseFn close = nullptr;
  SendEchoFn send = nullptr;
  std::string failure;
};

std::string SystemMessage(DWORD code) {
  char text[256] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  return "error " + std::to_string(code) + (n > 0 ? ": " + std::string(text, n) : "");
}

template <class Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const EchoService& Service() {
  static const EchoService service = [] {
    EchoService s;
    HMODULE module = LoadLibraryW(L"icmp.dll");
    if (module == nullptr) {
      s.failure = "cannot load ICMP.DLL, " + SystemMessage(GetLastError());
      return s;
    }
    s.create = Lookup<CreateFn>(module, "IcmpCreateFile");
    s.close = Lookup<CloseFn>(module, "IcmpCloseHandle");
    s.send = Lookup<SendEchoFn>(module, "IcmpSendEcho");
    if (s.create == nullptr || s.close == nullptr || s.send == nullptr) {
      s.failure = "ICMP.DLL lacks the echo calls";
      s.create = nullptr;
    }
    return s;
  }();
  return service;
}

}  // namespace

IcmpDetection DetectIcmp() {
  IcmpDetection result;
  const EchoService& service = Service();
  if (service.create == nullptr) {
    result.failure = service.failure;
    return result;
  }
  HANDLE handle = service.create();
  if (handle == INVALID_HANDLE_VALUE) {
    result.opened_but_unusable = true;
    result.failure = "IcmpCreateFile failed, " + SystemMessage(GetLastError());
    return result;
  }
  service.close(handle);
  result.method = kEchoService;
  return result;
}

bool IcmpEcho(IcmpMethod method, uint32_t address, int ttl, int timeout_ms) {
  if (method != kEchoService) return false;
  const EchoService& service = Service();
  if (service.create == nullptr) return false;
  HANDLE handle = service.create();
  if (handle == INVALID_HANDLE_VALUE) return false;
  IP_OPTION_INFORMATION options = {};
  options.Ttl = static_cast<UCHAR>(ttl < 1 ? 1 : ttl > 255 ? 255 : ttl);
  // Room for one reply, the 8 bytes of an ICMP error record and the (empty) payload.
  alignas(ICMP_ECHO_REPLY) char replies[sizeof(ICMP_ECHO_REPLY) + 8 + 8];
  char payload[1] = {0};
  DWORD count = service.send(handle, address, payload, 0, &options, replies, sizeof replies,
                             static_cast<DWORD>(timeout_ms < 0 ? 0 : timeout_ms));
  bool answered = false;
  if (count > 0) {
    const auto* reply = reinterpret_cast<const ICMP_ECHO_REPLY*>(replies);
    answered = reply->Status == IP_SUCCESS && reply->Address == address;
  }
  service.close(handle);
  return answered;
}

// The echo service waits for one reply a call; one address after another is the simple form.
void IcmpEchoMany(IcmpMethod method, const std::vector<uint32_t>& addresses, int ttl,
                  int timeout_ms, size_t /*window*/, std::vector<char>* answered) {
  answered->assign(addresses.size(), 0);
  for (size_t i = 0; i < addresses.size(); ++i) {
    (*answered)[i] = IcmpEcho(method, addresses[i], ttl, timeout_ms) ? 1 : 0;
  }
}

}  // namespace docsec
