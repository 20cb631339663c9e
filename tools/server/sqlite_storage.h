// SqliteStorage: Storage on one SQLite database file, or on a private in-memory database.
//
// A file database runs in WAL mode with foreign keys on and keeps a small pool of connections, so
// reads proceed beside the one writer; an in-memory database has a single connection (a second one
// would see another, empty database). Opening creates the schema or migrates it to the current
// version, each step in a transaction of its own, and refuses a database written by a newer server.
//
// Thread safety: as Storage. The object must outlive every Run call.
#ifndef DOCSEC_TOOLS_SERVER_SQLITE_STORAGE_H_
#define DOCSEC_TOOLS_SERVER_SQLITE_STORAGE_H_

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/server/storage.h"

namespace docsec::server {

// The schema version this server writes; a database at a higher version is refused.
int CurrentSchemaVersion();

class SqliteStorage : public Storage {
 public:
  // The path that selects a private in-memory database.
  static constexpr const char* kInMemory = ":memory:";

  struct Options {
    int connections = 8;  // kept to a file database (readers run beside the one writer)
    // Each commit reaches the disk before it is acknowledged (synchronous=FULL); false only to
    // measure what that costs.
    bool durable_commits = true;
    // Holds "FILE.lock" with this process's id while open, so that a second server refuses the
    // database instead of splitting the clients' writes between two processes.
    bool exclusive = false;
  };

  // Opens (creating when absent) and migrates the database. A new file is made readable by its
  // owner only (SQLite gives its -wal and -shm files the same mode), in a folder made 0700 when
  // it is absent; an existing one is narrowed to that. Null with a reason in *error when the file
  // cannot be opened, is not a database, has a newer schema or is held by another server.
  static std::unique_ptr<SqliteStorage> Open(const std::string& path, const Options& options,
                                             std::string* error);
  ~SqliteStorage() override;

  void Run(Access access, Clock::time_point deadline,
           const std::function<void(Transaction&)>& work) override;

  // How long a writer waits for another writer before the request fails as busy.
  static constexpr int kBusyTimeoutMs = 5000;

 private:
  class Connection;
  SqliteStorage() = default;
  std::unique_ptr<Connection> Acquire();
  void Release(std::unique_ptr<Connection> connection);

  std::mutex mutex_;
  std::condition_variable available_;
  std::vector<std::unique_ptr<Connection>> idle_;
  int lock_fd_ = -1;  // the open "FILE.lock" of an exclusive database
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_SQLITE_STORAGE_H_
