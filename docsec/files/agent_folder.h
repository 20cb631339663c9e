// CDOAgentFolder: a drive or folder on a managed computer, listed and searched through the
// computer's agent; the root folder of a computer (empty path) lists its drives. Files and folders
// are encrypted, decrypted and re-labelled through the folder that holds them, with one operation
// log entry per item done.
//
// Its type is a drive (5) while its parent path is empty and a folder (6) otherwise.
//
// The operation log entries wait in the durable outbox (docsec/logs/log_outbox.h) until the server
// has accepted them. An item the agent changed whose entry could not be made durable (no user is
// logged in, the outbox cannot keep it and the server does not take it) is reported as "changed,
// not recorded", never as done.
//
// Ownership: the folder owns its cached children (sub-folders first, then files) with theirs;
// lists returned by SearchFiles belong to the caller with their members; an observer stays the
// caller's. Thread safety: one thread at a time.
#ifndef DOCSEC_FILES_AGENT_FOLDER_H_
#define DOCSEC_FILES_AGENT_FOLDER_H_

#include <functional>

#include "docsec/files/agent_file.h"

namespace docsec {

class LogOutboxBatch;

// How the last file operation of a folder ended.
enum class FileOperationResult {
  kAllDone,      // the agent did every item
  kSomeFailed,   // it did some items and failed (or left out) the others
  kNothingDone,  // it did none: no reply, a failure reply, or no item reported done
  kNotRecorded,  // it changed items whose log entries could not be recorded (see the observer)
};

// Receives each item's outcome of a file operation as the library learns it, for a progress
// display. Called on the thread running the operation, before the operation returns.
class DOCSEC_EXPORT FileOperationObserver {
 public:
  virtual ~FileOperationObserver();
  // `item` is the request item; `done` tells whether the agent did it; `reason` is the agent's
  // reason when it did not, or what went wrong ("" when done; never null).
  virtual void OnItem(CDOAgentFile* item, bool done, const char* reason) = 0;
  // Instead of OnItem for an item the agent changed whose log entry no outbox or server took;
  // `reason` says why. The default reports it to OnItem as not done, "changed, not recorded: "
  // and the reason, so that an observer unaware of the case never counts it a success.
  virtual void OnItemNotRecorded(CDOAgentFile* item, const char* reason);
};

class DOCSEC_EXPORT CDOAgentFolder : public CDOAgentFile {
  DOCSEC_DATA_OBJECT(CDOAgentFolder)  // GetObjectType: 5 with an empty parent path, else 6

  // A folder is identified by its path alone.
  static constexpr Attr kPathKey{"path", kVtBstr, kAttrKeyOnly | kAttrReplacesKeys};
  static constexpr Attr kSubfolder{"subfolder", kVtBool};  // an operation includes sub-folders
  static constexpr auto kAttributes = Attrs(&kPathKey, &kSubfolder);

  // A folder of `computer` in the folder whose path is `parentPath`; "path" stays empty (a
  // computer's root folder is made with an empty parent path).
  CDOAgentFolder(CDOComputer* computer, const char* parentPath);
  // A folder in `parent`, served by the parent's computer; its name comes from the agent's answer,
  // so `name` is not used.
  CDOAgentFolder(CDOAgentFolder* parent, const char* name);

  int SetSubFolder(long on) { return SetBool(kSubfolder, on != 0); }
  int SetFolderSerectLevelId(long id) { return SetSecretLevelId(id); }

  // Own virtual operations, in slot order.
  // ProcessFiles with "EncryptFile" (kind 1) / "DecryptFile" (kind 2) and no source level.
  virtual int EncryptFiles(DataObjectList* items, int folderMode);
  virtual int DecryptFiles(DataObjectList* items, int folderMode);
  // Sets the folder's "subfolder" and encrypts / decrypts it alone in folder mode.
  virtual int EncryptFolder(CDOAgentFolder* folder, int includeSubfolders);
  virtual int DecryptFolder(CDOAgentFolder* folder, int includeSubfolders);
  // Sends `service` for the items of this folder, reloads the items the agent reports done and logs
  // each (one entry per folder in folder mode); non-zero when the agent accepted the command.
  virtual int ProcessFiles(const char* service, DataObjectList* items, int kind, int sourceLevel,
                           int folderMode);
  // The files below this folder matching the conditions ("QueryFile"); a new list owned by the
  // caller with its members, empty when the answer holds none, null when the agent fails. Bounds
  // of 0 or below are not sent.
  virtual DataObjectList* SearchFiles(const char* namePattern, int encryptedOnly,
                                      int includeSubfolders, int caseSensitive, double modifiedFrom,
                                      double modifiedTo, long sizeFrom, long sizeTo);
  // The cached children, listed from the agent ("LocateFile") on first use; owned by the folder.
  // A failed listing leaves an empty list cached.
  virtual DataObjectList* GetSubFolderAndFiles();
  // Deletes the cached children and lists them again; the new list, owned by the folder.
  virtual DataObjectList* RefreshSubFolderAndFiles();

  // Deletes the cached children without listing.
  void ClearSubFolderAndFilesObject() { children_.Reset(); }
  // The child folder named `name` ignoring letter case, or null; lists the children if needed.
  CDOAgentFolder* GetChildFolder(const char* name);
  // The folder at `path` ("\"-separated, relative to this folder; empty: this folder), or null.
  CDOAgentFolder* FindFolderByPath(const char* path);
  // Gives each file of `files` the id of `level` and sends "ChangeSecretLevel"; each log entry
  // records the file's own previous level.
  int ChangeSerLevelFiles(DataObjectList* files, CDOSecretLevel* level);
  // Gives `folder` the level (and "subfolder") and sends "ChangeSecretLevel" for it.
  int ChangeSerLevelFolder(CDOAgentFolder* folder, CDOSecretLevel* level, int includeSubfolders);

  // Progress and partial failure of the file operations run through this folder. The observer
  // (null: none, the default) is not owned.
  void SetOperationObserver(FileOperationObserver* observer) { observer_ = observer; }
  // How the last operation ended; kNothingDone before the first.
  FileOperationResult GetLastOperationResult() const { return last_result_; }

 private:
  // ProcessFiles with each item's source level (kind 3) given by `source_level`.
  int RunFileOperation(const char* service, DataObjectList* items, int kind,
                       const std::function<long(CDOAgentFile*)>& source_level, int folderMode);
  // One log entry for `item` into the operation's batch (alone through the outbox outside an
  // operation); a folder entry when `folder_entry`. False, with the reason in `*why`, when no
  // entry could be made or, alone, recorded.
  bool WriteLogEntry(CDOAgentFile* item, const char* sourceLevel, int kind, bool folder_entry,
                     std::string* why);

  // One operation log entry for `file` (0 when no user is logged in) / for `folder`.
  int UpdateLogs(CDOAgentFile* file, const char* service, const char* sourceLevel, int kind);
  int UpdateFolderLogs(CDOAgentFolder* folder, int kind);
  // UpdateFolderLogs for every folder of `folders`; 1.
  int SetFolderLog(DataObjectList* folders, int kind);

  OwnedList<CDOAgentFile> children_;  // sub-folders, then files, in the agent's order
  FileOperationObserver* observer_ = nullptr;
  FileOperationResult last_result_ = FileOperationResult::kNothingDone;
  LogOutboxBatch* pending_logs_ = nullptr;  // the running operation's entries
};

}  // namespace docsec

#endif  // DOCSEC_FILES_AGENT_FOLDER_H_
