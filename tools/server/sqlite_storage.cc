#include "tools/server/sqlite_storage.h"

#include <sqlite3.h>

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

  bool Open(const std::string& path, std::string* error) {
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
      Execute("PRAGMA synchronous=NORMAL");
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

std::unique_ptr<SqliteStorage> SqliteStorage::Open(const std::string& path, int connections,
                                                   std::string* error) {
  std::unique_ptr<SqliteStorage> storage(new SqliteStorage());
  if (path == kInMemory || connections < 1) connections = 1;
  for (int i = 0; i < connections; ++i) {
    auto connection = std::make_unique<Connection>();
    if (!connection->Open(path, error)) return nullptr;
    if (i == 0 && !MigrateSchema(*connection, error)) return nullptr;
    storage->idle_.push_back(std::move(connection));
  }
  return storage;
}

SqliteStorage::~SqliteStorage() = default;

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
