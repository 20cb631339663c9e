#include "docsec/logs/log_outbox.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "docsec/channel/outcome.h"
#include "docsec/channel/request_channel.h"
#include "docsec/logs/drm_log.h"
#include "docsec/logs/internal/outbox_file.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/durable_file.h"
#include "docsec/platform/trace.h"
#include "docsec/platform/uuid.h"

namespace docsec {
namespace {

using outbox_internal::EntryIdOf;
using outbox_internal::kComputerTag;
using outbox_internal::kEntryId;
using outbox_internal::kLogTag;
using outbox_internal::StoredRecord;

constexpr char kDefaultSubdirectory[] = "/docsec/log-outbox";
constexpr char kRefusedFolder[] = "refused";
constexpr char kLockName[] = ".lock";
constexpr char kTempPrefix[] = ".tmp-";  // WriteFileDurably's temporaries
constexpr char kBatchSuffix[] = ".rec";
constexpr char kLegacySuffix[] = ".xml";  // batches of earlier versions
constexpr char kCorruptSuffix[] = ".corrupt";
constexpr size_t kSequenceDigits = 20;
constexpr char kBatchTag[] = "batch";
constexpr char kUploadOperation[] = "UploadLogs";
// A batch file larger than this is not one the library wrote.
constexpr size_t kMaxBatchFileSize = size_t{256} << 20;

std::mutex g_mutex;  // guards the two below
std::string g_directory;
uint64_t g_last_sequence = 0;

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::char_traits<char>::length(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// "<20 digits>.rec" or "<20 digits>.xml": a batch written by the outbox.
bool IsBatchName(const std::string& name) {
  if (name.size() != kSequenceDigits + 4) return false;
  if (!EndsWith(name, kBatchSuffix) && !EndsWith(name, kLegacySuffix)) return false;
  return std::all_of(name.begin(), name.begin() + kSequenceDigits,
                     [](char c) { return c >= '0' && c <= '9'; });
}

// A name later than every batch present and every one this process made: the wall clock in
// nanoseconds, pushed forward when the clock went back.
std::string NextBatchName(const std::vector<std::string>& names) {
  uint64_t next = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
  for (const std::string& name : names) {
    if (IsBatchName(name))
      next = std::max<uint64_t>(next, std::stoull(name.substr(0, kSequenceDigits)) + 1);
  }
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    next = std::max(next, g_last_sequence + 1);
    g_last_sequence = next;
  }
  char name[kSequenceDigits + 8];
  std::snprintf(name, sizeof name, "%020" PRIu64 "%s", next, kBatchSuffix);
  return name;
}

// The server's answer to one record.
struct Delivery {
  enum Kind { kAccepted, kTryAgain, kRefused } kind = kTryAgain;
  std::string code;     // the server's code, "" without one
  std::string message;  // the server's message
  std::string why;      // when not accepted: the cause, in a sentence
};

// Codes that say the server cannot take the record now but may later.
bool IsTemporaryCode(long code) { return code >= 501 && code <= 503; }

// One "UploadLogs" request carrying `record`, classified by the exchange's outcome: no answer, an
// answer the library cannot read, or a temporary refusal is tried again; any other refusal is
// final.
Delivery SendRecord(const XmlElement& record) {
  try {
    XmlDocument answer =
        ExchangeRequest(kUploadOperation, kLogUploadDataSource, [&record](XmlElement& root) {
          root.AppendChild(record);
          return true;
        });
    if (answer) return {Delivery::kAccepted, "0", "", ""};
    Outcome outcome = LastOutcome();
    switch (outcome.source) {
      case OutcomeSource::kServer: {
        Delivery delivery;
        delivery.kind = IsTemporaryCode(outcome.code) ? Delivery::kTryAgain : Delivery::kRefused;
        delivery.code = std::to_string(outcome.code);
        delivery.why = "the server refused it with code " + delivery.code;
        if (!outcome.message.empty()) delivery.why += ": " + outcome.message;
        delivery.message = std::move(outcome.message);
        return delivery;
      }
      case OutcomeSource::kTransport:
        return {Delivery::kTryAgain, "", "",
                outcome.message.empty() ? "the server did not answer"
                                        : "the server did not answer: " + outcome.message};
      default: return {Delivery::kTryAgain, "", "", outcome.message};
    }
  } catch (const ComError& error) {
    return {Delivery::kTryAgain, "", "",
            std::string("the request could not be made: ") + error.what()};
  }
}

std::mutex g_last_resort_mutex;
LogOutboxLastResort g_last_resort;

// Hands a record nobody took to the last resort.
void KeepAsLastResort(const XmlElement& record, const std::string& why) {
  std::string text;
  try {
    text = record.Xml();
  } catch (const ComError&) {
    text = "<computer><log entryId=\"" + EntryIdOf(record) + "\"/></computer>";
  }
  std::lock_guard<std::mutex> lock(g_last_resort_mutex);
  if (g_last_resort) return g_last_resort(text, why);
  std::fprintf(stderr,
               "docsec: an operation log entry was not recorded (%s); it follows whole:\n%s\n",
               why.c_str(), text.c_str());
  std::fflush(stderr);
}

// Opens the outbox for work: the directory exists and the lock is held. False with the reason.
bool OpenOutbox(const std::string& directory, DirectoryLock* lock, std::string* error) {
  if (directory.empty()) {
    *error = "no outbox directory is set and the user's state directory is unknown";
    return false;
  }
  return MakeDirectories(directory, error) && lock->Acquire(directory, kLockName, error);
}

// Reads the batch `name`. A damaged one keeps its readable records: its bytes are set aside as
// "<name>.corrupt" and the batch is rewritten without the damage, both said in `*damage`.
outbox_internal::ReadBatch ReadBatch(const std::string& directory, const std::string& name,
                                     std::vector<std::string>* damage) {
  std::string text;
  outbox_internal::ReadBatch batch;
  if (!ReadWholeFile(directory + "/" + name, kMaxBatchFileSize, &text)) {
    batch.damaged = 1;
  } else {
    batch = outbox_internal::ParseRecords(text);
  }
  if (batch.damaged == 0) return batch;
  const std::string aside = name + kCorruptSuffix;
  std::string error;
  std::string fate;
  if (batch.records.empty()) {
    fate = RenameFileDurably(directory, name, aside) ? "set aside as " + aside
                                                     : std::string("it could not be set aside");
  } else if (WriteFileDurably(directory, aside, text, &error) &&
             WriteFileDurably(directory, name, outbox_internal::RenderRecords(batch.records),
                              &error)) {
    fate = "its bytes are set aside as " + aside;
  } else {
    // Left as it is: read again next time, and reported again.
    fate = "it could not be set aside (" + error + ")";
  }
  const std::string sentence = directory + "/" + name + ": " + std::to_string(batch.damaged) +
                               " damaged record(s) lost, " + std::to_string(batch.records.size()) +
                               " recovered; " + fate;
  Trace("operation log: %s", sentence.c_str());
  damage->push_back(sentence);
  return batch;
}

// A batch this process has just written under the lock it still holds, with its records: visited
// as it is instead of read back and parsed again, which is most of the work of a submission.
struct WrittenBatch {
  std::string name;
  outbox_internal::ReadBatch batch;
};

// Visits the batches of an open outbox, oldest first, removing temporaries a crash left behind
// (the lock guarantees no write is under way) and reporting damaged batches, those found now and
// those set aside earlier. `visit` gets the batch's name and records.
template <class Visit>
bool ForEachBatch(const std::string& directory, std::vector<std::string>* damage, Visit visit,
                  const WrittenBatch* written = nullptr) {
  std::vector<std::string> names;
  if (!ListFiles(directory, &names)) return false;
  for (const std::string& name : names) {
    if (name.rfind(kTempPrefix, 0) == 0) {
      RemoveFile(directory, name);
    } else if (EndsWith(name, kCorruptSuffix)) {
      damage->push_back(directory + "/" + name +
                        ": damaged records set aside earlier; look at them, then remove the file");
    } else if (written != nullptr && name == written->name) {
      visit(name, written->batch);
    } else if (IsBatchName(name)) {
      outbox_internal::ReadBatch batch = ReadBatch(directory, name, damage);
      visit(name, batch);
    }
  }
  return true;
}

void CountWaiting(const StoredRecord& record, std::vector<LogOutboxReport::Group>* groups) {
  for (LogOutboxReport::Group& group : *groups) {
    if (group.server == record.server && group.account == record.account) {
      ++group.waiting;
      return;
    }
  }
  groups->push_back({record.server, record.account, 1});
}

std::string RefusedDirectory(const std::string& directory) {
  return directory + "/" + kRefusedFolder;
}

// Lists the refused records of an open outbox into `*refused`, with their files.
bool ListRefused(const std::string& directory, std::vector<LogOutboxReport::Refusal>* refused,
                 std::vector<StoredRecord>* records, std::vector<std::string>* damage) {
  const std::string folder = RefusedDirectory(directory);
  std::vector<std::string> names;
  std::string error;
  if (!MakeDirectories(folder, &error) || !ListFiles(folder, &names)) return false;
  for (const std::string& name : names) {
    if (name.rfind(kTempPrefix, 0) == 0 || !IsBatchName(name)) continue;
    for (const StoredRecord& record : ReadBatch(folder, name, damage).records) {
      refused->push_back({name, EntryIdOf(record.computer), record.server, record.account,
                          record.code, record.message});
      if (records != nullptr) records->push_back(record);
    }
  }
  return true;
}

// Moves `record` into the refused folder with the server's answer. False with the reason.
bool SetAside(const std::string& directory, StoredRecord record, const Delivery& delivery,
              std::string* error) {
  const std::string folder = RefusedDirectory(directory);
  std::vector<std::string> names;
  if (!MakeDirectories(folder, error)) return false;
  ListFiles(folder, &names);
  record.code = delivery.code;
  record.message = delivery.message;
  return WriteFileDurably(folder, NextBatchName(names), outbox_internal::RenderRecords({record}),
                          error);
}

// Sends what waits for `server` in an open outbox (with `unnamed_too`, records that name no
// server as well) and reports what it did and what waits afterwards.
bool FlushOpen(const std::string& directory, const std::string& server, bool unnamed_too,
               LogOutboxReport* report, const WrittenBatch* written = nullptr) {
  bool blocked = server.empty();  // nothing delivers: everything waits
  const bool listed = ForEachBatch(
      directory, &report->damage,
      [&](const std::string& name, const outbox_internal::ReadBatch& batch) {
        std::vector<StoredRecord> kept;
        for (const StoredRecord& record : batch.records) {
          const bool ours = record.server == server || (record.server.empty() && unnamed_too);
          if (blocked || !ours) {
            kept.push_back(record);
            continue;
          }
          const Delivery delivery = SendRecord(record.computer);
          if (delivery.kind == Delivery::kAccepted) {
            ++report->sent;
            continue;
          }
          std::string error;
          if (delivery.kind == Delivery::kRefused &&
              SetAside(directory, record, delivery, &error)) {
            Trace("operation log: entry %s was refused for good (%s); it is set aside in %s",
                  EntryIdOf(record.computer).c_str(), delivery.why.c_str(),
                  RefusedDirectory(directory).c_str());
            ++report->refused_now;
            continue;
          }
          // Try again later; behind it the others wait too, so that they arrive in order.
          blocked = true;
          report->stopped_code = delivery.code;
          report->stopped = "entry " + EntryIdOf(record.computer) + " was not accepted (" +
                            delivery.why + ")" +
                            (error.empty() ? "" : " and could not be set aside (" + error + ")");
          Trace("operation log: %s; it waits in %s", report->stopped.c_str(), directory.c_str());
          kept.push_back(record);
        }
        for (const StoredRecord& record : kept) CountWaiting(record, &report->waiting);
        if (kept.empty()) {
          // Not waited for: should the removal be lost in a crash, the records go again and
          // the server drops the repeats by their identity.
          RemoveFile(directory, name);
        } else if (kept.size() < batch.records.size()) {
          // Rewritten without what was sent; should this fail, the accepted records are sent
          // again later and the server drops them by their identity.
          std::string error;
          if (!WriteFileDurably(directory, name, outbox_internal::RenderRecords(kept), &error)) {
            Trace("operation log: %s", error.c_str());
          }
        }
      },
      written);
  return listed && ListRefused(directory, &report->refused, nullptr, &report->damage);
}

// Runs `work` on the open outbox of the process; false with the reason when it cannot be opened.
template <class Work>
bool WithOutbox(std::string* error, Work work) {
  const std::string directory = GetLogOutboxDirectory();
  DirectoryLock lock;
  if (!OpenOutbox(directory, &lock, error)) return false;
  return work(directory);
}

// RetryRefusedLogOutbox and DiscardRefusedLogOutbox: acts on the refused records matching
// `entry_id` (all when empty), `retry` moving them back as one new batch.
int ActOnRefused(const std::string& entry_id, bool retry, std::string* error) {
  int count = 0;
  const bool ok = WithOutbox(error, [&](const std::string& directory) {
    std::vector<LogOutboxReport::Refusal> refused;
    std::vector<StoredRecord> records;
    std::vector<std::string> damage;
    if (!ListRefused(directory, &refused, &records, &damage)) {
      *error = "the refused folder of " + directory + " cannot be read";
      return false;
    }
    std::vector<StoredRecord> chosen;
    std::vector<std::string> files;
    for (size_t i = 0; i < refused.size(); ++i) {
      if (!entry_id.empty() && refused[i].entry_id != entry_id) continue;
      records[i].code.clear();
      records[i].message.clear();
      chosen.push_back(records[i]);
      files.push_back(refused[i].file);
    }
    if (chosen.empty() && !entry_id.empty()) {
      *error = "no refused entry " + entry_id;
      return false;
    }
    if (retry && !chosen.empty()) {
      std::vector<std::string> names;
      ListFiles(directory, &names);
      if (!WriteFileDurably(directory, NextBatchName(names), outbox_internal::RenderRecords(chosen),
                            error)) {
        return false;
      }
    }
    for (const std::string& file : files) RemoveFile(RefusedDirectory(directory), file);
    count = static_cast<int>(chosen.size());
    return true;
  });
  return ok ? count : -1;
}

}  // namespace

int LogOutboxReport::WaitingFor(const std::string& server) const {
  int count = 0;
  for (const Group& group : waiting) count += group.server == server ? group.waiting : 0;
  return count;
}

void SetLogOutboxDirectory(const char* directory) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_directory = directory != nullptr ? directory : "";
}

std::string GetLogOutboxDirectory() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_directory.empty()) return g_directory;
  }
  const std::string state = UserStateDirectory();
  return state.empty() ? state : state + kDefaultSubdirectory;
}

void SetLogOutboxLastResort(LogOutboxLastResort sink) {
  std::lock_guard<std::mutex> lock(g_last_resort_mutex);
  g_last_resort = std::move(sink);
}

bool FlushLogOutboxNow(bool unnamed_too, LogOutboxReport* report, std::string* error) {
  *report = LogOutboxReport();
  const std::string server = RequestDestination();
  if (server.empty()) {
    *error = "no server is configured";
    return false;
  }
  return WithOutbox(error, [&](const std::string& directory) {
    if (FlushOpen(directory, server, unnamed_too, report)) return true;
    *error = "the outbox " + directory + " cannot be read";
    return false;
  });
}

bool InspectLogOutbox(LogOutboxReport* report, std::string* error) {
  *report = LogOutboxReport();
  return WithOutbox(error, [&](const std::string& directory) {
    const bool read =
        ForEachBatch(directory, &report->damage,
                     [&](const std::string&, const outbox_internal::ReadBatch& batch) {
                       for (const StoredRecord& record : batch.records) {
                         CountWaiting(record, &report->waiting);
                       }
                     }) &&
        ListRefused(directory, &report->refused, nullptr, &report->damage);
    if (!read) *error = "the outbox " + directory + " cannot be read";
    return read;
  });
}

int FlushLogOutbox() {
  LogOutboxReport report;
  std::string error;
  const std::string server = RequestDestination();
  const bool ok = WithOutbox(&error, [&](const std::string& directory) {
    return FlushOpen(directory, server, false, &report);
  });
  if (!ok) {
    Trace("operation log: the outbox cannot be used: %s", error.c_str());
    return -1;
  }
  return report.WaitingFor(server);
}

int CountLogOutbox() {
  LogOutboxReport report;
  std::string error;
  if (!InspectLogOutbox(&report, &error)) return -1;
  int waiting = 0;
  for (const LogOutboxReport::Group& group : report.waiting) waiting += group.waiting;
  return waiting;
}

int RetryRefusedLogOutbox(const std::string& entry_id, std::string* error) {
  return ActOnRefused(entry_id, true, error);
}

int DiscardRefusedLogOutbox(const std::string& entry_id, std::string* error) {
  return ActOnRefused(entry_id, false, error);
}

LogOutboxBatch::LogOutboxBatch() = default;
LogOutboxBatch::~LogOutboxBatch() = default;

bool LogOutboxBatch::Add(CDODrmLog* log, CDOComputer* computer) {
  if (log == nullptr || computer == nullptr) return false;
  Uuid id;
  if (!Uuid::Generate(&id)) return false;
  try {
    if (!document_) {
      document_ = XmlDocument::Create();
      if (!document_) return false;
      document_.CreateDocumentElement(kBatchTag);
      server_ = RequestDestination();
    }
    XmlElement record = log->AssemblyXmlPreNode(document_.DocumentElement(), computer);
    XmlElement element = log->AssemblyXmlNode(record);
    if (!element) return false;
    element.AppendAttribute(kEntryId, id.ToString().c_str());
  } catch (const ComError&) {
    return false;
  }
  ++count_;
  return true;
}

int LogOutboxBatch::Submit(LogOutboxReceipt* receipt) {
  LogOutboxReceipt ignored;
  if (receipt == nullptr) receipt = &ignored;
  *receipt = LogOutboxReceipt();
  receipt->recorded.assign(count_, true);
  if (count_ == 0) return 0;
  XmlDocument batch = document_;
  document_ = XmlDocument();
  count_ = 0;
  std::vector<StoredRecord> records;
  XmlNodeList children = batch.DocumentElement().SelectChildren(kComputerTag);
  for (size_t i = 0; i < children.Length(); ++i) {
    StoredRecord record;
    record.server = server_;
    record.computer = children.Item(i);
    XmlElement log = record.computer.SelectChild(kLogTag);
    const char* account = log ? log.GetAttribute("userId") : nullptr;
    record.account = account != nullptr ? account : "";
    records.push_back(std::move(record));
  }

  const std::string directory = GetLogOutboxDirectory();
  DirectoryLock lock;
  std::string error;
  if (OpenOutbox(directory, &lock, &error)) {
    std::vector<std::string> names;
    ListFiles(directory, &names);
    WrittenBatch written{NextBatchName(names), {}};
    if (WriteFileDurably(directory, written.name, outbox_internal::RenderRecords(records),
                         &error)) {
      written.batch.records = std::move(records);
      LogOutboxReport report;
      if (!FlushOpen(directory, server_, false, &report, &written)) return -1;
      return report.WaitingFor(server_);
    }
  }
  Trace("operation log: the outbox cannot be used (%s); %zu entries are sent without a kept copy",
        error.c_str(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const Delivery delivery = SendRecord(records[i].computer);
    if (delivery.kind == Delivery::kAccepted) continue;
    const std::string why = "the outbox cannot keep it (" + error + ") and " + delivery.why;
    Trace("operation log: entry %s is not recorded: %s", EntryIdOf(records[i].computer).c_str(),
          why.c_str());
    KeepAsLastResort(records[i].computer, why);
    receipt->recorded[i] = false;
    receipt->reason = why;
  }
  return -1;
}

}  // namespace docsec
