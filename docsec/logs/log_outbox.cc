#include "docsec/logs/log_outbox.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <mutex>
#include <vector>

#include "docsec/channel/request_channel.h"
#include "docsec/logs/drm_log.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/durable_file.h"
#include "docsec/platform/trace.h"
#include "docsec/platform/uuid.h"

namespace docsec {
namespace {

constexpr char kDefaultSubdirectory[] = "/docsec/log-outbox";
constexpr char kLockName[] = ".lock";
constexpr char kTempPrefix[] = ".tmp-";  // WriteFileDurably's temporaries
constexpr char kBatchSuffix[] = ".xml";
constexpr char kCorruptSuffix[] = ".corrupt";
constexpr size_t kSequenceDigits = 20;
constexpr char kRootTag[] = "logOutbox";
constexpr char kRecordTag[] = "computer";
constexpr char kLogTag[] = "log";
constexpr char kEntryId[] = "entryId";
constexpr char kUploadOperation[] = "UploadLogs";
// Records are uploaded through the ordinary entry point, as a new log record is.
constexpr int kUploadDataSource = 1;
// A batch file larger than this is not one the library wrote.
constexpr size_t kMaxBatchFileSize = size_t{256} << 20;

std::mutex g_mutex;  // guards the two below
std::string g_directory;
uint64_t g_last_sequence = 0;

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = std::char_traits<char>::length(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// "<20 digits>.xml": a batch written by the outbox.
bool IsBatchName(const std::string& name) {
  if (name.size() != kSequenceDigits + 4 || !EndsWith(name, kBatchSuffix)) return false;
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

// The records of a batch file, in order; false when the file is not a batch the outbox wrote (it
// does not parse, or holds anything but records that each carry a "log" with an identity).
bool ReadBatch(const std::string& directory, const std::string& name, XmlDocument* document,
               std::vector<XmlElement>* records) {
  records->clear();
  std::string text;
  if (!ReadWholeFile(directory + "/" + name, kMaxBatchFileSize, &text)) return false;
  try {
    *document = XmlDocument::Create();
    if (!*document || !document->LoadXml(std::move(text))) return false;
    XmlElement root = document->DocumentElement();
    if (!root || std::string(root.Name()) != kRootTag) return false;
    XmlNodeList children = root.SelectChildren(nullptr);
    for (size_t i = 0; i < children.Length(); ++i) {
      XmlElement record = children.Item(i);
      XmlElement log = record.SelectChild(kLogTag);
      const char* id = log ? log.GetAttribute(kEntryId) : nullptr;
      if (std::string(record.Name()) != kRecordTag || id == nullptr || *id == '\0') return false;
      records->push_back(record);
    }
    return true;
  } catch (const ComError&) {
    return false;
  }
}

const char* EntryIdOf(const XmlElement& record) {
  XmlElement log = record.SelectChild(kLogTag);
  const char* id = log ? log.GetAttribute(kEntryId) : nullptr;
  return id != nullptr ? id : "";
}

// The server's answer to one record.
struct Delivery {
  bool accepted = false;
  std::string why;  // when not accepted: the cause, in a sentence
};

// One "UploadLogs" request carrying `record`.
Delivery SendRecord(const XmlElement& record) {
  Delivery delivery;
  try {
    XmlDocument request = BuildRequestDocument(kUploadOperation);
    if (!request) return {false, "the request could not be made"};
    request.DocumentElement().AppendChild(record);
    XmlDocument answer = SendRequestDocument(request, kUploadDataSource);
    if (!answer) return {false, "the server did not answer"};
    XmlElement root = answer.DocumentElement();
    XmlElement ret = root ? root.SelectChild("return") : XmlElement();
    const char* code = ret ? ret.GetAttribute("code") : nullptr;
    const char* message = ret ? ret.GetAttribute("message") : nullptr;
    if (CheckAnswerDocument(answer) != 0) return {true, ""};
    delivery.why = code == nullptr ? std::string("the server's answer has no result code")
                                   : std::string("the server refused it with code ") + code;
    if (message != nullptr && *message != '\0') delivery.why += std::string(": ") + message;
  } catch (const ComError& error) {
    delivery.why = std::string("the request could not be made: ") + error.what();
  }
  return delivery;
}

std::mutex g_last_resort_mutex;
LogOutboxLastResort g_last_resort;

// Hands a record nobody took to the last resort.
void KeepAsLastResort(const XmlElement& record, const std::string& why) {
  std::string text;
  try {
    text = record.Xml();
  } catch (const ComError&) {
    text = std::string("<computer><log entryId=\"") + EntryIdOf(record) + "\"/></computer>";
  }
  std::lock_guard<std::mutex> lock(g_last_resort_mutex);
  if (g_last_resort) return g_last_resort(text, why);
  std::fprintf(stderr,
               "docsec: an operation log entry was not recorded (%s); it follows whole:\n%s\n",
               why.c_str(), text.c_str());
  std::fflush(stderr);
}

// The text of a batch holding `records` from `first` on.
std::string RenderBatch(const std::vector<XmlElement>& records, size_t first) {
  XmlDocument document = XmlDocument::Create();
  document.AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\"");
  XmlElement root = document.CreateDocumentElement(kRootTag);
  for (size_t i = first; i < records.size(); ++i) root.AppendChild(records[i]);
  return document.Xml();
}

// Opens the outbox for work: the directory exists and the lock is held. False with the reason.
bool OpenOutbox(const std::string& directory, DirectoryLock* lock, std::string* error) {
  if (directory.empty()) {
    *error = "no outbox directory is set and the user's state directory is unknown";
    return false;
  }
  return MakeDirectories(directory, error) && lock->Acquire(directory, kLockName, error);
}

// Visits the batches of an open outbox, oldest first, setting aside the ones that cannot be read
// and removing temporaries a crash left behind (the lock guarantees no write is under way).
// `visit` gets the batch's name and records, and returns false to stop.
template <class Visit>
bool ForEachBatch(const std::string& directory, Visit visit) {
  std::vector<std::string> names;
  if (!ListFiles(directory, &names)) return false;
  for (const std::string& name : names) {
    if (name.rfind(kTempPrefix, 0) == 0) {
      RemoveFile(directory, name);
      continue;
    }
    if (!IsBatchName(name)) continue;
    XmlDocument document;
    std::vector<XmlElement> records;
    if (!ReadBatch(directory, name, &document, &records)) {
      const std::string aside = name + kCorruptSuffix;
      const std::string fate = RenameFileDurably(directory, name, aside)
                                   ? "set aside as " + aside
                                   : std::string("it could not be set aside");
      Trace("operation log: %s/%s cannot be read as log entries; %s", directory.c_str(),
            name.c_str(), fate.c_str());
      continue;
    }
    if (!visit(name, records)) break;
  }
  return true;
}

// Sends what waits in an open outbox; the number of records still waiting.
int FlushOpen(const std::string& directory) {
  int waiting = 0;
  bool blocked = false;
  const bool listed =
      ForEachBatch(directory, [&](const std::string& name, const std::vector<XmlElement>& records) {
        size_t sent = 0;
        while (!blocked && sent < records.size()) {
          const Delivery delivery = SendRecord(records[sent]);
          if (delivery.accepted) {
            ++sent;
          } else {
            blocked = true;
            Trace("operation log: entry %s was not accepted (%s); it waits in %s",
                  EntryIdOf(records[sent]), delivery.why.c_str(), directory.c_str());
          }
        }
        if (sent == records.size()) {
          // Not waited for: should the removal be lost in a crash, the records go again and
          // the server drops the repeats by their identity.
          RemoveFile(directory, name);
        } else if (sent > 0) {
          // Rewritten without what was accepted; should this fail, the accepted records are
          // sent again later and the server drops them by their identity.
          std::string error;
          if (!WriteFileDurably(directory, name, RenderBatch(records, sent), &error)) {
            Trace("operation log: %s", error.c_str());
          }
        }
        waiting += static_cast<int>(records.size() - sent);
        return true;
      });
  return listed ? waiting : -1;
}

}  // namespace

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

int FlushLogOutbox() {
  const std::string directory = GetLogOutboxDirectory();
  DirectoryLock lock;
  std::string error;
  if (!OpenOutbox(directory, &lock, &error)) {
    Trace("operation log: the outbox cannot be used: %s", error.c_str());
    return -1;
  }
  return FlushOpen(directory);
}

int CountLogOutbox() {
  const std::string directory = GetLogOutboxDirectory();
  DirectoryLock lock;
  std::string error;
  if (!OpenOutbox(directory, &lock, &error)) return -1;
  int waiting = 0;
  const bool listed =
      ForEachBatch(directory, [&](const std::string&, const std::vector<XmlElement>& records) {
        waiting += static_cast<int>(records.size());
        return true;
      });
  return listed ? waiting : -1;
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
      document_.CreateDocumentElement(kRootTag);
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

void SetLogOutboxLastResort(LogOutboxLastResort sink) {
  std::lock_guard<std::mutex> lock(g_last_resort_mutex);
  g_last_resort = std::move(sink);
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
  std::vector<XmlElement> records;
  XmlNodeList children = batch.DocumentElement().SelectChildren(kRecordTag);
  for (size_t i = 0; i < children.Length(); ++i) records.push_back(children.Item(i));

  const std::string directory = GetLogOutboxDirectory();
  DirectoryLock lock;
  std::string error;
  if (OpenOutbox(directory, &lock, &error)) {
    std::vector<std::string> names;
    ListFiles(directory, &names);
    if (WriteFileDurably(directory, NextBatchName(names), RenderBatch(records, 0), &error)) {
      return FlushOpen(directory);
    }
  }
  Trace("operation log: the outbox cannot be used (%s); %zu entries are sent without a kept copy",
        error.c_str(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const Delivery delivery = SendRecord(records[i]);
    if (delivery.accepted) continue;
    const std::string why = "the outbox cannot keep it (" + error + ") and " + delivery.why;
    Trace("operation log: entry %s is not recorded: %s", EntryIdOf(records[i]), why.c_str());
    KeepAsLastResort(records[i], why);
    receipt->recorded[i] = false;
    receipt->reason = why;
  }
  return -1;
}

}  // namespace docsec
