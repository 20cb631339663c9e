// The operation-log outbox: where the records of changes made to files wait until the management
// server has accepted them. A record describes something that already happened on a computer, so
// it must not be lost because the server was unreachable or turned it down for a while.
//
// Every record gets an identity ("entryId" on its "log" element, a random UUID) when it is made.
// A batch of records is written to the outbox directory and flushed to the device before any of it
// is sent; then everything waiting is sent oldest first, one "UploadLogs" request per record, and
// each record leaves the outbox only after the server accepted it. Sending stops at the first
// record not accepted, so records reach the server in the order they were made. A record may reach
// the server twice (the process died after the server stored it but before the outbox forgot it);
// the server recognises the repeat by its "entryId".
//
// Files: one per batch, named by a 20-digit sequence that grows with time ("<sequence>.xml"); a
// file that cannot be read as records is renamed "<name>.corrupt" and left for a person to look
// at. A lock file serialises threads and processes that work on one directory.
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

// Sends the waiting records, oldest first, as described above. Returns how many records still
// wait afterwards (0: the outbox is empty), or -1 when the outbox directory cannot be used.
DOCSEC_EXPORT int FlushLogOutbox();
// How many records wait; -1 when the outbox directory cannot be read.
DOCSEC_EXPORT int CountLogOutbox();

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
  // with a new identity. False, adding nothing, for a null argument or when no identity or element
  // can be made.
  bool Add(CDODrmLog* log, CDOComputer* computer);
  size_t size() const { return count_; }

  // Keeps the batch in the outbox, then flushes the outbox (FlushLogOutbox). When the outbox
  // cannot be used, says so through the trace sink and sends the records directly; each one the
  // server does not accept either goes to the last resort and is marked not recorded in
  // `*receipt` (when given). Returns the number of records that still wait (-1 when the outbox
  // cannot be used). The batch is empty afterwards.
  int Submit(LogOutboxReceipt* receipt = nullptr);

 private:
  XmlDocument document_;  // <logOutbox><computer ...><log .../></computer>...</logOutbox>
  size_t count_ = 0;
};

}  // namespace docsec

#endif  // DOCSEC_LOGS_LOG_OUTBOX_H_
