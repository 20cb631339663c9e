// Agent exchange benchmark, beside its baseline so the ratio can be read off one run: a full
// Exchange of a 1 MiB request and a 1 MiB reply with the reference agent's server on loopback vs.
// what such an exchange cannot avoid: a raw loopback echo of the same bytes on a fresh connection,
// with pugixml rendering and parsing the document on each side. Built only with the
// tools, since the reference agent is one of them.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
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

// Minor page faults of the whole process so far: memory touched for the first time, which is what
// an exchange that allocates afresh pays for.
long PageFaults() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

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
  const long faults = PageFaults();
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
  state.counters["faults"] = benchmark::Counter(static_cast<double>(PageFaults() - faults),
                                                benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * size));
}
BENCHMARK(BM_AgentExchange)->Arg(0)->Arg(1)->MeasureProcessCPUTime()->UseRealTime();

// Baseline: what an exchange cannot avoid. The same document rendered by pugixml, its bytes
// (with the packet's framing) sent over a fresh loopback connection, parsed and rendered again by
// a thread on the other side, sent back and parsed: a raw echo plus XML work on each side.
struct StringSink : pugi::xml_writer {
  std::string* out;
  explicit StringSink(std::string* text) : out(text) {}
  void write(const void* data, size_t size) override {
    out->append(static_cast<const char*>(data), size);
  }
};

// Renders `doc` into `*wire` between a head of 16 bytes, whose first four carry the text's length,
// and a trailer of 4.
void Frame(const pugi::xml_document& doc, std::string* wire) {
  wire->assign(kAgentHeadSize, '\0');
  StringSink sink(wire);
  doc.save(sink, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  uint32_t length = static_cast<uint32_t>(wire->size() - kAgentHeadSize);
  std::memcpy(&(*wire)[0], &length, sizeof length);
  wire->append(kAgentTrailerSize, '\0');
}

// Receives one framed text into `*wire` and parses it in place into `doc`.
bool ReceiveFramed(TcpSocket& s, std::string* wire, pugi::xml_document* doc) {
  wire->resize(kAgentHeadSize);
  if (s.ReceiveAll(&(*wire)[0], kAgentHeadSize) != kAgentHeadSize) return false;
  uint32_t length = 0;
  std::memcpy(&length, wire->data(), sizeof length);
  wire->resize(kAgentHeadSize + length + kAgentTrailerSize);
  size_t rest = length + kAgentTrailerSize;
  if (s.ReceiveAll(&(*wire)[kAgentHeadSize], rest) != rest) return false;
  return static_cast<bool>(doc->load_buffer_inplace(&(*wire)[kAgentHeadSize], length,
                                                    pugi::parse_default, pugi::encoding_utf8));
}

void BM_ExchangeBaseline(benchmark::State& state) {
  const std::string text = ExchangePayload(static_cast<int>(state.range(0))).Xml();
  const uint32_t address = MakeIpv4(127, 0, 0, 1);
  TcpListener listener;
  std::string error;
  if (!listener.Listen(address, 0, 16, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    std::string in;
    std::string out;
    while (!stop.load()) {
      TcpSocket s = listener.Accept(20);
      if (!s.IsOpen()) continue;
      pugi::xml_document doc;
      if (!ReceiveFramed(s, &in, &doc)) continue;
      Frame(doc, &out);
      s.SendAll(out.data(), out.size());
    }
  });
  pugi::xml_document request;
  request.load_string(text.c_str());
  std::string out;
  size_t bytes = 0;
  const long faults = PageFaults();
  for (auto _ : state) {
    // The reply's buffer is new each time: a returned document owns the text it was parsed from.
    std::string in;
    Frame(request, &out);
    TcpSocket s;
    pugi::xml_document reply;
    if (!s.Connect(address, listener.Port(), 2000) || !s.SendAll(out.data(), out.size()) ||
        !ReceiveFramed(s, &in, &reply)) {
      state.SkipWithError("echo failed");
      break;
    }
    bytes += out.size() + in.size();
    benchmark::DoNotOptimize(reply.first_child());
  }
  stop.store(true);
  echo.join();
  state.counters["body_bytes"] = static_cast<double>(text.size());
  state.counters["faults"] = benchmark::Counter(static_cast<double>(PageFaults() - faults),
                                                benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ExchangeBaseline)->Arg(0)->Arg(1)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace
}  // namespace docsec
