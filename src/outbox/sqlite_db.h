// A small RAII wrapper over SQLite's C API: one connection, its prepared
// statements and its transactions. Every failure SQLite reports becomes an
// EZVStoreError that carries the file's path, what was being done and
// SQLite's own text, so an error that reaches the operator says which file
// and why.
//
// Thread use: a connection and its statements belong to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/exceptions.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zv {

// A store file that SQLite could not read or write (a damaged file, a full
// disk, a constraint the program broke).
class EZVStoreError : public EZVFileError {
 public:
  using EZVFileError::EZVFileError;
  const char* ClassName() const override { return "EZVStoreError"; }
};

class TSqliteStatement;

class TSqliteDb {
 public:
  enum class TAccess { kReadWrite, kReadOnly };

  // Opens `path`; kReadWrite creates a missing file (empty: no schema yet),
  // kReadOnly never creates one (EZVNoFile). Waits up to `busyTimeoutMs` for
  // a lock another connection holds before a statement fails as busy.
  TSqliteDb(std::string path, TAccess access, int busyTimeoutMs);
  ~TSqliteDb();
  // The commit hook points at this object: it stays where it was made.
  TSqliteDb(const TSqliteDb&) = delete;
  TSqliteDb& operator=(const TSqliteDb&) = delete;

  // Runs statements that return no rows (schema, pragmas, BEGIN/COMMIT).
  void Exec(const char* sql, std::string_view doing);
  TSqliteStatement Prepare(std::string_view sql, std::string_view doing) const;

  int64_t LastInsertId() const;
  // Rows the last INSERT, UPDATE or DELETE changed.
  int Changes() const;
  // Transactions this connection has committed since it opened, counted as
  // each commit starts (each one sync of the file in synchronous=FULL).
  int64_t Commits() const { return FCommits; }
  bool InTransaction() const;
  const std::string& Path() const { return FPath; }

  // Throws the EZVStoreError for SQLite's last error on this connection:
  // "Cannot <doing> \"<path>\". <SQLite's text>", `doing` such as "add pages
  // to the outbox".
  [[noreturn]] void Fail(std::string_view doing) const;
  // The text of such an error, for a failure the caller words itself.
  std::string ErrorText(std::string_view doing, std::string_view why) const;
  // The extended result code of the last failure.
  int LastErrorCode() const;

 private:
  struct TCloser {
    void operator()(sqlite3* db) const;
  };
  static int CountCommit(void* self);

  std::string FPath;
  std::unique_ptr<sqlite3, TCloser> FDb;
  int64_t FCommits = 0;
};

// One prepared statement. Parameters are numbered from 1, columns from 0.
// Text is bound and read as UTF-8 bytes, unchanged.
class TSqliteStatement {
 public:
  TSqliteStatement(TSqliteStatement&&) noexcept = default;
  TSqliteStatement& operator=(TSqliteStatement&&) noexcept = default;

  TSqliteStatement& BindInt(int index, int64_t value);
  TSqliteStatement& BindText(int index, std::string_view value);
  // Steps once: true when a row is ready to read, false when done. A failure
  // throws with `doing` as what was being done.
  bool Step(std::string_view doing);
  // Steps until done (a statement that returns no rows).
  void Run(std::string_view doing);
  // Clears the last run's state and bindings for the next one.
  void Reset();

  int64_t Int(int column) const;
  std::string Text(int column) const;

 private:
  friend class TSqliteDb;
  struct TFinalizer {
    void operator()(sqlite3_stmt* statement) const;
  };
  TSqliteStatement(const TSqliteDb& db, sqlite3_stmt* statement);

  const TSqliteDb* FDb;
  std::unique_ptr<sqlite3_stmt, TFinalizer> FStatement;
};

// BEGIN IMMEDIATE on construction (the write lock is taken at once, so a
// busy file fails here, not halfway); ROLLBACK on destruction unless
// Commit ran. A failed statement inside leaves nothing of the transaction.
class TSqliteTransaction {
 public:
  explicit TSqliteTransaction(TSqliteDb& db);
  ~TSqliteTransaction();
  TSqliteTransaction(const TSqliteTransaction&) = delete;
  TSqliteTransaction& operator=(const TSqliteTransaction&) = delete;

  void Commit();

 private:
  TSqliteDb& FDb;
  bool FDone = false;
};

}  // namespace zv
