// Storage: the one narrow interface between the server's operations and its database. An
// operation runs inside one transaction and speaks plain SQL with "?" placeholders through it;
// nothing else about the database leaks out. The SQL the operations write keeps to what SQLite and
// PostgreSQL both understand (RETURNING, recursive common table expressions, LIKE ... ESCAPE), so
// another backend means another implementation of this file's two classes and its own schema.
//
// Thread safety: Storage::Run may be called from many threads at once; each call gets a
// connection of its own. A Transaction belongs to the call that received it.
#ifndef DOCSEC_TOOLS_SERVER_STORAGE_H_
#define DOCSEC_TOOLS_SERVER_STORAGE_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace docsec::server {

// A parameter bound to a statement: SQL NULL, an integer or a text.
class SqlValue {
 public:
  SqlValue() = default;  // NULL
  SqlValue(std::nullptr_t) {}
  SqlValue(int value) : kind_(kInt), int_(value) {}
  SqlValue(int64_t value) : kind_(kInt), int_(value) {}
  SqlValue(bool value) : kind_(kInt), int_(value ? 1 : 0) {}
  SqlValue(std::string value) : kind_(kText), text_(std::move(value)) {}
  SqlValue(std::string_view value) : kind_(kText), text_(value) {}
  SqlValue(const char* value) : kind_(kText), text_(value) {}

  bool is_null() const { return kind_ == kNull; }
  bool is_int() const { return kind_ == kInt; }
  int64_t as_int() const { return int_; }
  const std::string& as_text() const { return text_; }

 private:
  enum Kind { kNull, kInt, kText };
  Kind kind_ = kNull;
  int64_t int_ = 0;
  std::string text_;
};
using SqlParams = std::vector<SqlValue>;

// One result row, valid only during the callback that receives it. Columns count from 0.
class SqlRow {
 public:
  virtual ~SqlRow() = default;
  virtual bool IsNull(int column) const = 0;
  // 0 for NULL.
  virtual int64_t Int(int column) const = 0;
  // "" for NULL; the view ends with the callback.
  virtual std::string_view Text(int column) const = 0;
  // The text, or nullopt for NULL, in one look at the column (answers read millions of them).
  // Text is read up to its first NUL, which no XML answer can carry anyway.
  virtual std::optional<std::string_view> TextIfSet(int column) const {
    if (IsNull(column)) return std::nullopt;
    std::string_view text = Text(column);
    return text.substr(0, text.find('\0'));
  }
  // The integer, or nullopt for NULL.
  virtual std::optional<int64_t> IntIfSet(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Int(column);
  }
};

// Why a database call failed. kConstraint covers unique and foreign-key violations.
class StorageError : public std::runtime_error {
 public:
  enum Kind { kBusy, kTimedOut, kConstraint, kOther };
  StorageError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

class Transaction {
 public:
  virtual ~Transaction() = default;
  // Runs one statement; gives the number of rows it changed. Throws StorageError.
  virtual int64_t Execute(std::string_view sql, const SqlParams& params = {}) = 0;
  // Runs one query and calls `each` for every row in order. Throws StorageError, and lets
  // whatever `each` throws pass through.
  virtual void Query(std::string_view sql, const SqlParams& params,
                     const std::function<void(const SqlRow&)>& each) = 0;

  // The first column of the first row, or `fallback` when there is no row or it is NULL.
  int64_t QueryInt(std::string_view sql, const SqlParams& params, int64_t fallback);
  // True when the query gives at least one row.
  bool Exists(std::string_view sql, const SqlParams& params);
};

class Storage {
 public:
  enum class Access { kRead, kWrite };
  using Clock = std::chrono::steady_clock;

  virtual ~Storage() = default;
  // Runs `work` in one transaction: commits when it returns, rolls back and rethrows when it
  // throws. Write transactions of different calls are serialised; reads may run beside them.
  // A statement still running at `deadline` is interrupted with StorageError(kTimedOut).
  virtual void Run(Access access, Clock::time_point deadline,
                   const std::function<void(Transaction&)>& work) = 0;
};

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_STORAGE_H_
