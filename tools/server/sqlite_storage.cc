#include "tools/server/sqlite_storage.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <unordered_map>
#include <utility>

#include "tools/server/sqlite_schema.h"

namespace docsec::server {

int64_t Transaction::QueryInt(std::string_view sql, const SqlParams& params, int64_t fallback) {
  int64_t result = fallback;
  bool first = true;
  Query(sql, params, [&](const SqlRow& row) {
    if (first && !row.IsNull(0)) result = row.Int(0);
    first = false;
  });
  return result;
}

bool Transaction::Exists(std::string_view sql, const SqlParams& params) {
  bool found = false;
  Query(sql, params, [&](const SqlRow&) { found = true; });
  return found;
}

namespace {

StorageError::Kind KindOf(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return StorageError::kBusy;
    case SQLITE_INTERRUPT: return StorageError::kTimedOut;
    case SQLITE_CONSTRAINT: return StorageError::kConstraint;
    default: return StorageError::kOther;
  }
}

class StatementRow : public SqlRow {
 public:
  explicit StatementRow(sqlite3_stmt* statement) : statement_(statement) {}
  bool IsNull(int column) const override {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
  }
  int64_t Int(int column) const override { return sqlite3_column_int64(statement_, column); }
  std::string_view Text(int column) const override {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    if (text == nullptr) return {};
    return {reinterpret_cast<const char*>(text),
            static_cast<size_t>(sqlite3_column_bytes(statement_, column))};
  }
  // SQLite gives no text for NULL (and none when it runs out of memory: nothing to write then).
  // Its text always ends with a NUL, so measuring it costs no second call into SQLite.
  std::optional<std::string_view> TextIfSet(int column) const override {
    const unsigned char* text = sqlite3_column_text(statement_, column);
    if (text == nullptr) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(text));
  }
  // Only a zero can be a NULL, so most integers take one call.
  std::optional<int64_t> IntIfSet(int column) const override {
    int64_t value = sqlite3_column_int64(statement_, column);
    if (value == 0 && sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
    return value;
  }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace

class SqliteStorage::Connection : public Transaction {
 public:
  ~Connection() override {
    for (auto& entry : cache_) sqlite3_finalize(entry.second.statement);
    if (db_ != nullptr) sqlite3_close(db_);
  }

  bool Open(const std::string& path, bool durable, std::string* error) {
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      *error = "cannot open database " + path + ": " +
               (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
      return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_progress_handler(db_, 1000, &Connection::OnProgress, this);
    try {
      if (path != kInMemory) Query("PRAGMA journal_mode=WAL", {}, [](const SqlRow&) {});
      Execute("PRAGMA foreign_keys=ON");
      // NORMAL would let a power loss take commits already acknowledged (audit entries too).
      Execute(durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
    } catch (const StorageError& e) {
      *error = std::string("cannot prepare database ") + path + ": " + e.what();
      return false;
    }
    return true;
  }

  void set_deadline(Clock::time_point deadline) { deadline_ = deadline; }

  int64_t Execute(std::string_view sql, const SqlParams& params = {}) override {
    Step(sql, params, nullptr);
    return sqlite3_changes(db_);
  }

  void Query(std::string_view sql, const SqlParams& params,
             const std::function<void(const SqlRow&)>& each) override {
    Step(sql, params, &each);
  }

 private:
  struct Cached {
    sqlite3_stmt* statement = nullptr;
    bool in_use = false;
  };

  // Hands out the cached statement for `sql`, or a fresh one when the cached one is busy (a query
  // issued from inside the callback of the same query).
  sqlite3_stmt* Prepare(std::string_view sql, bool* cached) {
    auto it = cache_.find(std::string(sql));
    if (it != cache_.end() && !it->second.in_use) {
      it->second.in_use = true;
      *cached = true;
      return it->second.statement;
    }
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
    if (rc != SQLITE_OK) Fail(rc);
    *cached = it == cache_.end();
    if (*cached) cache_.emplace(std::string(sql), Cached{statement, true});
    return statement;
  }

  void Done(std::string_view sql, sqlite3_stmt* statement, bool cached) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (cached) {
      cache_[std::string(sql)].in_use = false;
    } else {
      sqlite3_finalize(statement);
    }
  }

  void Step(std::string_view sql, const SqlParams& params,
            const std::function<void(const SqlRow&)>* each) {
    bool cached = false;
    sqlite3_stmt* statement = Prepare(sql, &cached);
    struct Finish {
      Connection* self;
      std::string_view sql;
      sqlite3_stmt* statement;
      bool cached;
      ~Finish() { self->Done(sql, statement, cached); }
    } finish{this, sql, statement, cached};
    for (size_t i = 0; i < params.size(); ++i) {
      int index = static_cast<int>(i) + 1;
      const SqlValue& value = params[i];
      int rc;
      if (value.is_null()) {
        rc = sqlite3_bind_null(statement, index);
      } else if (value.is_int()) {
        rc = sqlite3_bind_int64(statement, index, value.as_int());
      } else {
        rc = sqlite3_bind_text(statement, index, value.as_text().data(),
                               static_cast<int>(value.as_text().size()), SQLITE_STATIC);
      }
      if (rc != SQLITE_OK) Fail(rc);
    }
    StatementRow row(statement);
    for (;;) {
      int rc = sqlite3_step(statement);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) Fail(rc);
      if (each != nullptr) (*each)(row);
    }
  }

  [[noreturn]] void Fail(int rc) {
    throw StorageError(KindOf(rc), std::string(sqlite3_errstr(rc)) + ": " + sqlite3_errmsg(db_));
  }

  static int OnProgress(void* self) {
    auto* connection = static_cast<Connection*>(self);
    return Clock::now() > connection->deadline_ ? 1 : 0;
  }

  sqlite3* db_ = nullptr;
  Clock::time_point deadline_ = Clock::time_point::max();
  std::unordered_map<std::string, Cached> cache_;
};

namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Makes the database file private before SQLite opens it: SQLite creates the -wal and -shm files
// with the database file's mode, so they follow. A missing folder is made for the owner alone.
bool MakePrivateFile(const std::string& path, std::string* error) {
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = SystemError("cannot make the folder " + folder);
      return false;
    }
  }
  for (const char* suffix : {"", "-wal", "-shm"}) {
    std::string name = path + suffix;
    int flags = O_RDWR | O_CLOEXEC | (*suffix == '\0' ? O_CREAT : 0);
    int fd = open(name.c_str(), flags, 0600);
    if (fd < 0) {
      if (*suffix != '\0' && errno == ENOENT) continue;
      *error = SystemError("cannot open database " + name);
      return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && ((info.st_mode & 077) == 0 || fchmod(fd, 0600) == 0);
    if (!ok) *error = SystemError("cannot make " + name + " private to its owner");
    close(fd);
    if (!ok) return false;
  }
  return true;
}

// Takes "FILE.lock" for this process and writes its id there; when another process holds it,
// names that process in *error. Gives the open descriptor, or -1.
int HoldDatabase(const std::string& path, std::string* error) {
  std::string name = path + ".lock";
  int fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = SystemError("cannot open " + name);
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int cause = errno;
    char holder[32] = {};
    ssize_t size = pread(fd, holder, sizeof holder - 1, 0);
    close(fd);
    errno = cause;
    if (cause != EWOULDBLOCK) {
      *error = SystemError("cannot lock " + name);
    } else {
      std::string pid = size > 0 ? std::string(holder, static_cast<size_t>(size)) : "unknown";
      while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
      *error = "the database " + path + " is held by another server (process " + pid + ")";
    }
    return -1;
  }
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    *error = SystemError("cannot write " + name);
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<SqliteStorage> SqliteStorage::Open(const std::string& path, const Options& options,
                                                   std::string* error) {
  std::unique_ptr<SqliteStorage> storage(new SqliteStorage());
  int connections = options.connections;
  if (path == kInMemory || connections < 1) connections = 1;
  if (path != kInMemory) {
    if (!MakePrivateFile(path, error)) return nullptr;
    if (options.exclusive && (storage->lock_fd_ = HoldDatabase(path, error)) < 0) return nullptr;
  }
  for (int i = 0; i < connections; ++i) {
    auto connection = std::make_unique<Connection>();
    if (!connection->Open(path, options.durable_commits, error)) return nullptr;
    if (i == 0 && !MigrateSchema(*connection, error)) return nullptr;
    storage->idle_.push_back(std::move(connection));
  }
  return storage;
}

SqliteStorage::~SqliteStorage() {
  idle_.clear();  // the connections close before the lock is given up
  if (lock_fd_ >= 0) close(lock_fd_);
}

std::unique_ptr<SqliteStorage::Connection> SqliteStorage::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  available_.wait(lock, [this] { return !idle_.empty(); });
  std::unique_ptr<Connection> connection = std::move(idle_.back());
  idle_.pop_back();
  return connection;
}

void SqliteStorage::Release(std::unique_ptr<Connection> connection) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(connection));
  }
  available_.notify_one();
}

void SqliteStorage::Run(Access access, Clock::time_point deadline,
                        const std::function<void(Transaction&)>& work) {
  std::unique_ptr<Connection> connection = Acquire();
  struct Return {
    SqliteStorage* self;
    std::unique_ptr<Connection>& connection;
    ~Return() {
      connection->set_deadline(Clock::time_point::max());
      self->Release(std::move(connection));
    }
  } give_back{this, connection};
  connection->set_deadline(deadline);
  connection->Execute(access == Access::kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
  try {
    work(*connection);
    connection->Execute("COMMIT");
  } catch (...) {
    // The rollback must run even past the deadline that may have caused the failure.
    connection->set_deadline(Clock::time_point::max());
    try {
      connection->Execute("ROLLBACK");
    } catch (const StorageError&) {
      // SQLite may already have rolled back (after an interrupt or a full disk).
    }
    throw;
  }
}

}  // namespace docsec::server
