// The operation-log outbox: where the records of changes made to files wait until the management
// server has accepted them. A record describes something that already happened on a computer, so
// it must not be lost because the server was unreachable or turned it down for a while.
//
// Every record gets an identity ("entryId" on its "log" element, a random UUID) when it is made,
// and names the server it was written against (SvcTransportDestination) and the acting account.
// A batch of records is written to the outbox directory and flushed to the device before any of it
// is sent; then the records waiting for the server in use are sent oldest first, one "UploadLogs"
// request per record, and each leaves the outbox only after the server accepted it. A record is
// never sent to another server than its own, so records of other servers wait for theirs.
//
// Only a missing answer (or an answer without a result code) and codes 501-503 (the server is
// busy or unable for now) mean "try again": sending then stops, so records reach the server in
// the order they were made. Any other refusal is for good: the record moves to the "refused"
// folder with the server's code and message, stops blocking the records behind it, and stays
// there until RetryRefusedLogOutbox or DiscardRefusedLogOutbox acts on it. A record may reach the
// server twice (the process died after the server stored it but before the outbox forgot it); the
// server recognises the repeat by its "entryId".
//
// Files: one per batch, named by a 20-digit sequence that grows with time ("<sequence>.rec"; the
// XML batches "<sequence>.xml" of earlier versions, whose records name no server, are still read
// and are sent only when asked to explicitly). Each record is checksummed on its own
// (docsec/logs/internal/outbox_file.h): a damaged batch keeps its readable records, and its
// original bytes are set aside as "<name>.corrupt" for a person to look at; the damage is reported
// until that file is removed. A lock file serialises threads and processes that work on one
// directory.
//
// Thread safety: every function may be called from any thread.
#ifndef DOCSEC_LOGS_LOG_OUTBOX_H_
#define DOCSEC_LOGS_LOG_OUTBOX_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "docsec/platform/export.h"
#include "docsec/platform/xml.h"

namespace docsec {

class CDOComputer;
class CDODrmLog;

// Sets the directory of the outbox for the process (created on first use). Null or empty restores
// the default, "docsec/log-outbox" under the user's state directory ($XDG_STATE_HOME, else
// ~/.local/state).
DOCSEC_EXPORT void SetLogOutboxDirectory(const char* directory);
// The directory in use; empty when none is set and the user's state directory is unknown.
DOCSEC_EXPORT std::string GetLogOutboxDirectory();

// Sends the records waiting for the server in use, oldest first, as described above. Returns how
// many of them still wait afterwards (0: none), or -1 when the outbox directory cannot be used.
DOCSEC_EXPORT int FlushLogOutbox();
// How many records wait, for every server; -1 when the outbox directory cannot be read.
DOCSEC_EXPORT int CountLogOutbox();

// What the outbox holds, and what a flush did.
struct LogOutboxReport {
  struct Group {
    std::string server;  // "" for records kept before records named their server
    std::string account;
    int waiting = 0;
  };
  struct Refusal {
    std::string file;  // in the "refused" folder
    std::string entry_id, server, account, code, message;
  };
  std::vector<Group> waiting;       // by server and account, in the order first met
  std::vector<Refusal> refused;     // set aside, oldest first
  std::vector<std::string> damage;  // one sentence per damaged batch, now or set aside earlier
  int sent = 0;                     // accepted by the server in this flush
  int refused_now = 0;              // moved aside in this flush
  std::string stopped;              // why this flush stopped early; "" when it did not
  std::string stopped_code;         // the server's code when it answered so; "" for no answer
  // The records waiting for `server`.
  int WaitingFor(const std::string& server) const;
};

// Fills `*report` with what the outbox holds. False with the reason when it cannot be used.
DOCSEC_EXPORT bool InspectLogOutbox(LogOutboxReport* report, std::string* error);
// Sends the records waiting for the server in use (and, with `unnamed_too`, those that name no
// server, which then go to it), and fills `*report` with what it did and what the outbox holds
// afterwards. False with the reason when the outbox cannot be used or no server is in use.
DOCSEC_EXPORT bool FlushLogOutboxNow(bool unnamed_too, LogOutboxReport* report, std::string* error);
// Moves the refused record `entry_id` (every refused record when empty) back to the waiting ones,
// as the newest. The number moved, or -1 with the reason.
DOCSEC_EXPORT int RetryRefusedLogOutbox(const std::string& entry_id, std::string* error);
// Deletes the refused record `entry_id` (every refused record when empty). The number deleted, or
// -1 with the reason.
DOCSEC_EXPORT int DiscardRefusedLogOutbox(const std::string& entry_id, std::string* error);

// Receives, whole, a record that neither the outbox nor the server took, with the reason: the last
// place the evidence of a change can go. The default writes both to the standard error stream,
// since a record nobody keeps is lost for good; a host with a better place installs its own (an
// empty function restores the default). Called on the submitting thread.
using LogOutboxLastResort = std::function<void(const std::string& record, const std::string& why)>;
DOCSEC_EXPORT void SetLogOutboxLastResort(LogOutboxLastResort sink);

// What became of each record of a submitted batch.
struct LogOutboxReceipt {
  // One per record, in the order they were added: true when the record is kept in the outbox or
  // the server accepted it, false when it went to the last resort only.
  std::vector<bool> recorded;
  std::string reason;  // why records were not recorded; "" when all were
};

// The records one operation makes, handed to the outbox together.
class DOCSEC_EXPORT LogOutboxBatch {
 public:
  LogOutboxBatch();
  ~LogOutboxBatch();
  LogOutboxBatch(const LogOutboxBatch&) = delete;
  LogOutboxBatch& operator=(const LogOutboxBatch&) = delete;

  // Adds the upload of `log` for `computer` (its "computer" element holding the "log" element),
  // with a new identity, bound to the server in use and the log's "userId". False, adding
  // nothing, for a null argument or when no identity or element can be made.
  bool Add(CDODrmLog* log, CDOComputer* computer);
  size_t size() const { return count_; }

  // Keeps the batch in the outbox, then flushes the outbox (FlushLogOutbox). When the outbox
  // cannot be used, says so through the trace sink and sends the records directly; each one the
  // server does not accept either goes to the last resort and is marked not recorded in
  // `*receipt` (when given). Returns the number of records that still wait for the server in use
  // (-1 when the outbox cannot be used). The batch is empty afterwards.
  int Submit(LogOutboxReceipt* receipt = nullptr);

 private:
  XmlDocument document_;  // <batch><computer ...><log .../></computer>...</batch>
  std::string server_;    // the server in use when the first record was added
  size_t count_ = 0;
};

}  // namespace docsec

#endif  // DOCSEC_LOGS_LOG_OUTBOX_H_
