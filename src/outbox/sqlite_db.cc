#include "outbox/sqlite_db.h"

#include <sqlite3.h>

#include <filesystem>
#include <utility>

namespace zv {

void TSqliteDb::TCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

void TSqliteStatement::TFinalizer::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

TSqliteDb::TSqliteDb(std::string path, TAccess access, int busyTimeoutMs) : FPath(std::move(path)) {
  std::error_code ec;
  if (access == TAccess::kReadOnly && !std::filesystem::exists(FPath, ec)) {
    throw EZVNoFile(ErrorText("open", "There is no such file."));
  }
  const int flags = SQLITE_OPEN_EXRESCODE |
                    (access == TAccess::kReadOnly ? SQLITE_OPEN_READONLY
                                                  : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(FPath.c_str(), &raw, flags, nullptr);
  FDb.reset(raw);
  if (rc != SQLITE_OK) {
    throw EZVStoreError(
        ErrorText("open", raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(FDb.get(), busyTimeoutMs);
  sqlite3_commit_hook(FDb.get(), &TSqliteDb::CountCommit, this);
}

TSqliteDb::~TSqliteDb() = default;

int TSqliteDb::CountCommit(void* self) {
  ++static_cast<TSqliteDb*>(self)->FCommits;
  return 0;  // let the commit go on
}

void TSqliteDb::Exec(const char* sql, std::string_view doing) {
  if (sqlite3_exec(FDb.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(doing);
}

TSqliteStatement TSqliteDb::Prepare(std::string_view sql, std::string_view doing) const {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(FDb.get(), sql.data(), static_cast<int>(sql.size()), &statement,
                         nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    Fail(doing);
  }
  return TSqliteStatement(*this, statement);
}

int64_t TSqliteDb::LastInsertId() const { return sqlite3_last_insert_rowid(FDb.get()); }

int TSqliteDb::Changes() const { return sqlite3_changes(FDb.get()); }

bool TSqliteDb::InTransaction() const { return sqlite3_get_autocommit(FDb.get()) == 0; }

void TSqliteDb::Fail(std::string_view doing) const {
  throw EZVStoreError(ErrorText(doing, sqlite3_errmsg(FDb.get())));
}

std::string TSqliteDb::ErrorText(std::string_view doing, std::string_view why) const {
  std::string text = "Cannot ";
  text += doing;
  text += " \"" + FPath + "\". ";
  text += why;
  return text;
}

int TSqliteDb::LastErrorCode() const { return sqlite3_extended_errcode(FDb.get()); }

TSqliteStatement::TSqliteStatement(const TSqliteDb& db, sqlite3_stmt* statement)
    : FDb(&db), FStatement(statement) {}

TSqliteStatement& TSqliteStatement::BindInt(int index, int64_t value) {
  if (sqlite3_bind_int64(FStatement.get(), index, value) != SQLITE_OK)
    FDb->Fail("bind a value for");
  return *this;
}

TSqliteStatement& TSqliteStatement::BindText(int index, std::string_view value) {
  // SQLITE_TRANSIENT: SQLite copies the bytes, the view need not outlive the step.
  if (sqlite3_bind_text64(FStatement.get(), index, value.data(), value.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8) != SQLITE_OK) {
    FDb->Fail("bind a text for");
  }
  return *this;
}

bool TSqliteStatement::Step(std::string_view doing) {
  const int rc = sqlite3_step(FStatement.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  // The statement keeps the error until it is reset; read it before.
  const std::string text =
      FDb->ErrorText(doing, sqlite3_errmsg(sqlite3_db_handle(FStatement.get())));
  sqlite3_reset(FStatement.get());
  throw EZVStoreError(text);
}

void TSqliteStatement::Run(std::string_view doing) {
  while (Step(doing)) {
  }
}

void TSqliteStatement::Reset() {
  sqlite3_reset(FStatement.get());
  sqlite3_clear_bindings(FStatement.get());
}

int64_t TSqliteStatement::Int(int column) const {
  return sqlite3_column_int64(FStatement.get(), column);
}

std::string TSqliteStatement::Text(int column) const {
  const auto* bytes = sqlite3_column_text(FStatement.get(), column);
  const int size = sqlite3_column_bytes(FStatement.get(), column);
  if (bytes == nullptr) return {};
  return {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size)};
}

TSqliteTransaction::TSqliteTransaction(TSqliteDb& db) : FDb(db) {
  FDb.Exec("BEGIN IMMEDIATE", "start a transaction in");
}

TSqliteTransaction::~TSqliteTransaction() {
  // After some failures (a full disk, an I/O error) SQLite has already rolled
  // the transaction back; a second ROLLBACK would only fail.
  if (!FDone && FDb.InTransaction()) {
    try {
      FDb.Exec("ROLLBACK", "roll back a transaction in");
    } catch (const EZVStoreError&) {
      // Nothing was committed; SQLite discards the rest when the connection closes.
    }
  }
}

void TSqliteTransaction::Commit() {
  FDb.Exec("COMMIT", "commit to");
  FDone = true;
}

}  // namespace zv
