#include "outbox/outbox_schema.h"

#include <sqlite3.h>

#include <string>

namespace zv::outbox_schema {
namespace {

constexpr const char* kOpening = "open the outbox";

// Texts are the sender's bytes; times are milliseconds since the Unix epoch.
// AUTOINCREMENT: an id is never handed out twice, not even after the newest
// page was forgotten, so an id in a listing or a log names one page for good.
constexpr const char* kCreate = R"(
CREATE TABLE pages (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  key TEXT NOT NULL,
  address TEXT NOT NULL,
  text TEXT NOT NULL,
  carrier TEXT NOT NULL,
  priority TEXT NOT NULL,
  subject TEXT NOT NULL,
  age TEXT NOT NULL,
  age_limit INTEGER NOT NULL,
  source TEXT NOT NULL,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  number INTEGER NOT NULL DEFAULT 0,
  result TEXT NOT NULL DEFAULT '',
  code INTEGER NOT NULL DEFAULT 0,
  reason TEXT NOT NULL DEFAULT '',
  created INTEGER NOT NULL,
  framed INTEGER NOT NULL DEFAULT 0,
  finished INTEGER NOT NULL DEFAULT 0,
  expires_at INTEGER NOT NULL
);
CREATE UNIQUE INDEX pages_number ON pages(number) WHERE number <> 0;
CREATE INDEX pages_key ON pages(key, expires_at) WHERE key <> '';
CREATE INDEX pages_state ON pages(state, id);
CREATE INDEX pages_finished ON pages(finished);
)";

struct THeader {
  int64_t ApplicationId = 0;
  int64_t Version = 0;
  int64_t Objects = 0;  // tables and indexes
  bool Empty() const { return ApplicationId == 0 && Version == 0 && Objects == 0; }
};

int64_t ReadInt(const TSqliteDb& db, const char* sql) {
  TSqliteStatement statement = db.Prepare(sql, kOpening);
  return statement.Step(kOpening) ? statement.Int(0) : 0;
}

// What the file says it is. A file SQLite cannot read as a database at all
// is refused here, before anything is written to it.
THeader ReadHeader(const TSqliteDb& db) {
  try {
    return {ReadInt(db, "PRAGMA application_id"), ReadInt(db, "PRAGMA user_version"),
            ReadInt(db, "SELECT count(*) FROM sqlite_schema")};
  } catch (const EZVStoreError& e) {
    const int code = db.LastErrorCode() & 0xFF;
    if (code != SQLITE_NOTADB && code != SQLITE_CORRUPT) throw;
    throw EZVFileFormat(db.ErrorText(kOpening, "It is not an outbox of zvcc, or it is damaged (" +
                                                   std::string(sqlite3_errstr(code)) + ")."));
  }
}

void CheckHeader(const TSqliteDb& db, const THeader& header) {
  if (header.Empty()) throw EZVFileFormat(db.ErrorText(kOpening, "It holds no outbox yet."));
  if (header.ApplicationId != kApplicationId) {
    throw EZVFileFormat(
        db.ErrorText(kOpening, "It is a database of another program, not an outbox of zvcc."));
  }
  if (header.Version != kVersion) {
    throw EZVFileFormat(
        db.ErrorText(kOpening, "It is an outbox of version " + std::to_string(header.Version) +
                                   "; this zvcc reads version " + std::to_string(kVersion) + "."));
  }
}

void CheckWhole(const TSqliteDb& db) {
  TSqliteStatement check = db.Prepare("PRAGMA quick_check", kOpening);
  const std::string first = check.Step(kOpening) ? check.Text(0) : std::string("no answer");
  if (first != "ok") throw EZVFileFormat(db.ErrorText(kOpening, "It is damaged: " + first));
}

void Create(TSqliteDb& db) {
  TSqliteTransaction transaction(db);
  // Another owner may have made it while this one waited for the lock.
  if (!ReadHeader(db).Empty()) return;
  db.Exec(kCreate, "create the outbox");
  db.Exec(("PRAGMA application_id = " + std::to_string(kApplicationId) +
           "; PRAGMA user_version = " + std::to_string(kVersion))
              .c_str(),
          "create the outbox");
  transaction.Commit();
}

}  // namespace

void MakeReady(TSqliteDb& db, bool owner) {
  THeader header = ReadHeader(db);
  if (!(owner && header.Empty())) CheckHeader(db, header);
  if (owner) {
    if (!header.Empty()) CheckWhole(db);
    // WAL: readers (`zvcc outbox`) never wait for the owner, nor it for them.
    // The mode is kept in the file, so readers need not (and cannot) set it.
    TSqliteStatement mode = db.Prepare("PRAGMA journal_mode = WAL", kOpening);
    if (!mode.Step(kOpening) || mode.Text(0) != "wal") {
      throw EZVStoreError(db.ErrorText(kOpening, "Its folder does not allow the WAL journal."));
    }
  }
  db.Exec("PRAGMA synchronous = FULL", kOpening);
  if (owner && header.Empty()) {
    Create(db);
    CheckHeader(db, ReadHeader(db));
  }
}

TOutboxPage ReadPage(const TSqliteDb& db, const TSqliteStatement& statement) {
  TOutboxPage page;
  page.Id = statement.Int(0);
  page.Key = statement.Text(1);
  page.Address = statement.Text(2);
  page.Text = statement.Text(3);
  page.Carrier = statement.Text(4);
  page.Priority = statement.Text(5);
  page.Subject = statement.Text(6);
  page.Age = statement.Text(7);
  page.AgeLimit = static_cast<int32_t>(statement.Int(8));
  page.Source = statement.Text(9);
  const std::string state = statement.Text(10);
  const auto known = OutboxStateFromText(state);
  if (!known) {
    throw EZVFileFormat(db.ErrorText(
        "read the outbox",
        "Page " + std::to_string(page.Id) + " has the unknown state \"" + state + "\"."));
  }
  page.State = *known;
  page.Attempts = static_cast<int32_t>(statement.Int(11));
  page.Number = static_cast<int32_t>(statement.Int(12));
  page.Result = statement.Text(13);
  page.Code = static_cast<int32_t>(statement.Int(14));
  page.Reason = statement.Text(15);
  page.Created = statement.Int(16);
  page.Framed = statement.Int(17);
  page.Finished = statement.Int(18);
  page.ExpiresAt = statement.Int(19);
  return page;
}

}  // namespace zv::outbox_schema
