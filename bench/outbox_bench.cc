// The operation-log outbox's durable path: batches of entries written to the outbox (flushed to
// the device), sent one request each to an in-process server, and forgotten once accepted. The
// figure is entries a second; the baseline beside it writes the same number of bytes durably
// in one file and hands the same request texts to the transport, which is the floor any outbox
// format has to pay. The outbox lives under $TMPDIR (default /tmp).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "docsec/channel/request_channel.h"
#include "docsec/computers/computer.h"
#include "docsec/logs/drm_log.h"
#include "docsec/logs/log_outbox.h"
#include "docsec/platform/durable_file.h"
#include "docsec/testing/fake_server.h"
#include "svctransport/svctransport.h"

namespace docsec {
namespace {

namespace fs = std::filesystem;

constexpr int kEntriesPerBatch = 100;

std::string ScratchDirectory() {
  const char* temp = getenv("TMPDIR");
  std::string pattern =
      std::string(temp != nullptr && *temp ? temp : "/tmp") + "/docsec-outbox-bench-XXXXXX";
  return mkdtemp(&pattern[0]) != nullptr ? pattern : std::string();
}

void FillEntry(CDODrmLog* log, int i) {
  log->SetUid("admin");
  log->SetUserName("Admin");
  log->SetOperationType("1536");
  log->SetOperation("1552");
  log->SetOperationTime();
  log->SetSrcFile(("C:\\share\\reports\\quarter-" + std::to_string(i) + ".docx").c_str());
  log->SetDestFile(("C:\\share\\reports\\quarter-" + std::to_string(i) + ".docx").c_str());
  log->SetDestCompName("pc-1");
  log->SetDestCompIP("10.0.0.7");
}

void BM_OutboxSubmitBatches(benchmark::State& state) {
  const std::string root = ScratchDirectory();
  SetLogOutboxDirectory((root + "/outbox").c_str());
  testing::FakeServer server;
  CDOComputer computer;
  computer.SetName("pc-1");
  computer.SetUuid("0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3");
  for (auto _ : state) {
    LogOutboxBatch batch;
    for (int i = 0; i < kEntriesPerBatch; ++i) {
      CDODrmLog log;
      FillEntry(&log, i);
      batch.Add(&log, &computer);
    }
    if (batch.Submit() != 0) {
      state.SkipWithError("entries stayed in the outbox");
      break;
    }
  }
  state.counters["entries_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kEntriesPerBatch), benchmark::Counter::kIsRate);
  SetLogOutboxDirectory(nullptr);
  fs::remove_all(root);
}
BENCHMARK(BM_OutboxSubmitBatches)->UseRealTime()->Unit(benchmark::kMillisecond);

// Baseline: one durable write of a file as large as a batch, and the same upload requests.
void BM_DurableWriteAndSendSameRequests(benchmark::State& state) {
  const std::string root = ScratchDirectory();
  testing::FakeServer server;
  CDOComputer computer;
  computer.SetName("pc-1");
  computer.SetUuid("0a1b2c3d-4e5f-4a6b-9c7d-8e9fa0b1c2d3");
  std::vector<std::string> requests;
  std::string file;
  for (int i = 0; i < kEntriesPerBatch; ++i) {
    XmlDocument request = BuildRequestDocument("UploadLogs");
    CDODrmLog log;
    FillEntry(&log, i);
    XmlElement record = log.AssemblyXmlPreNode(request.DocumentElement(), &computer);
    log.AssemblyXmlNode(record).AppendAttribute("entryId", "0b6c1f5e-0d3c-4c1e-9a57-1f2e3d4c5b6a");
    requests.push_back(request.Xml());
    file += record.Xml();
  }
  std::string error;
  for (auto _ : state) {
    if (!WriteFileDurably(root, "batch", file, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    for (const std::string& request : requests) {
      XmlDocument answer = XmlDocument::Create();
      answer.LoadXml(*SvcTransportSend(request));
      benchmark::DoNotOptimize(CheckAnswerDocument(answer));
    }
    RemoveFile(root, "batch");
  }
  state.counters["entries_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kEntriesPerBatch), benchmark::Counter::kIsRate);
  fs::remove_all(root);
}
BENCHMARK(BM_DurableWriteAndSendSameRequests)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace docsec
