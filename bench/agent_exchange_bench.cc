// Agent exchange benchmark, beside its baseline so the ratio can be read off one run: a full
// Exchange of a 1 MiB request and a 1 MiB reply with the reference agent's server on loopback vs.
// a raw loopback echo of the same number of bytes on a fresh connection. Built only with the
// tools, since the reference agent is one of them.
#include <benchmark/benchmark.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "docsec/agent/agent_channel.h"
#include "docsec/agent/agent_packet.h"
#include "docsec/platform/host.h"
#include "docsec/platform/socket.h"
#include "docsec/testing/free_loopback.h"
#include "tools/agent/agent_server.h"

namespace docsec {
namespace {

constexpr size_t kMiB = 1 << 20;

// ---- exchange ----

// A "LocateFile"-style reply of about `size` bytes: a folder with file elements.
XmlDocument ListingOfSize(size_t size) {
  XmlDocument doc = XmlDocument::Create();
  doc.AppendProcessingInstruction("xml", "version=\"1.0\"");
  XmlElement root = doc.CreateDocumentElement("document");
  root.AppendElement("service").SetAttribute("value", "LocateFile");
  XmlElement dir = root.AppendElement("dir");
  dir.SetAttribute("path", "C:\\share\\projects");
  // Whole batches of files while they fit, with room left for the batch that follows.
  size_t n = 0;
  size_t batch_bytes = 0;
  for (size_t now = doc.Xml().size(); now + 2 * batch_bytes < size;) {
    for (int k = 0; k < 32; ++k, ++n) {
      XmlElement file = dir.AppendElement("file");
      file.AppendAttribute("name", ("report-" + std::to_string(n) + ".docx").c_str());
      file.AppendAttribute("size", static_cast<long long>(10000 + n * 37));
      file.AppendAttribute("type", "Microsoft Word Document");
      file.AppendAttribute("modifytime", "2024-03-15 10:22:31");
      file.AppendAttribute("createTime", "2023-11-02 08:01:12");
      file.AppendAttribute("readonly", "false");
      file.AppendAttribute("hidden", "false");
      file.AppendAttribute("encrypted", n % 3 == 0 ? "true" : "false");
      file.AppendAttribute("secretLevelId", static_cast<long long>(n % 5) - 1);
      file.AppendAttribute("departmentId", 12);
      file.AppendAttribute("GUID", "6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    }
    size_t after = doc.Xml().size();
    batch_bytes = after - now;
    now = after;
  }
  return doc;
}

// About `size` bytes of document whose payload is one long text: the least XML work per byte.
XmlDocument BulkOfSize(size_t size) {
  XmlDocument doc = XmlDocument::Create();
  doc.AppendProcessingInstruction("xml", "version=\"1.0\"");
  XmlElement root = doc.CreateDocumentElement("document");
  root.AppendElement("service").SetAttribute("value", "Bulk");
  XmlElement data = root.AppendElement("data");
  data.SetAttribute("value", "");
  size_t overhead = doc.Xml().size();
  std::string text;
  std::mt19937 rng(5);
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i + overhead < size; ++i) text += kAlphabet[rng() % 64];
  data.SetAttribute("value", text);
  return doc;
}

// Argument 0: a folder listing (many small elements); 1: one long attribute value.
XmlDocument ExchangePayload(int kind) { return kind == 0 ? ListingOfSize(kMiB) : BulkOfSize(kMiB); }

void BM_AgentExchange(benchmark::State& state) {
  std::unique_ptr<agent::AgentServer> server;
  const uint32_t address = testing::StartOnFreeLoopback([&](uint32_t candidate) {
    agent::AgentServerOptions options;
    options.listen_address = FormatIpv4(candidate);
    server = std::make_unique<agent::AgentServer>(
        options, [](const XmlDocument& request) { return request; });
    return server->Start(nullptr);
  });
  if (address == 0) {
    state.SkipWithError("no free loopback address");
    return;
  }
  XmlDocument request = ExchangePayload(static_cast<int>(state.range(0)));
  const size_t size = request.Xml().size();
  for (auto _ : state) {
    AgentChannel channel(address);
    XmlDocument reply = XmlDocument::Create();
    if (!channel.Exchange(kAgentCommandKind, request, reply)) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(reply);
  }
  state.counters["body_bytes"] = static_cast<double>(size);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * size));
}
BENCHMARK(BM_AgentExchange)->Arg(0)->Arg(1)->UseRealTime();

// Baseline: the same number of bytes each way over a fresh loopback connection, echoed by a
// thread that does nothing else.
void BM_RawLoopbackEcho(benchmark::State& state) {
  const uint32_t address = MakeIpv4(127, 0, 0, 1);
  const size_t size = ExchangePayload(static_cast<int>(state.range(0))).Xml().size() +
                      kAgentHeadSize + kAgentTrailerSize;
  TcpListener listener;
  std::string error;
  if (!listener.Listen(address, 0, 16, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    std::vector<char> buffer(size);
    while (!stop.load()) {
      TcpSocket s = listener.Accept(20);
      if (!s.IsOpen()) continue;
      if (s.ReceiveAll(buffer.data(), size) == size) s.SendAll(buffer.data(), size);
    }
  });
  std::vector<char> out(size, 'x');
  std::vector<char> in(size);
  for (auto _ : state) {
    TcpSocket s;
    if (!s.Connect(address, listener.Port(), 2000) || !s.SendAll(out.data(), size) ||
        s.ReceiveAll(in.data(), size) != size) {
      state.SkipWithError("echo failed");
      break;
    }
  }
  stop.store(true);
  echo.join();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * size));
}
BENCHMARK(BM_RawLoopbackEcho)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace
}  // namespace docsec
