// The outbox file's layout: its table of pages, how a file is recognised as
// an outbox of this program (application id and schema version), and how a
// row becomes a TOutboxPage.
#pragma once

#include <cstdint>

#include "outbox/outbox_page.h"
#include "outbox/sqlite_db.h"

namespace zv::outbox_schema {

// 'ZVOB': marks the file as a zvcc outbox for any SQLite tool that looks.
inline constexpr int32_t kApplicationId = 0x5A564F42;
// Raised with every change of the table that an older program could not read.
inline constexpr int32_t kVersion = 1;

// The columns a page is read with, in the order ReadPage expects them.
inline constexpr const char* kColumns =
    "id, key, address, text, carrier, priority, subject, age, age_limit, source, state, "
    "attempts, number, result, code, reason, created, framed, finished, expires_at";

// Makes the connection's file an outbox it may use. A file with no tables
// (new, or just created by the open) gets the schema when `owner`; a reader
// refuses it. A file that is not an SQLite database, another program's
// database, one of another schema version or a damaged one is refused
// (EZVFileFormat) and left as it is. The owner then puts the file in WAL
// mode; both set synchronous=FULL, so a commit is on disk when it returns.
void MakeReady(TSqliteDb& db, bool owner);

// The page in the current row of `statement`, selected with kColumns.
// A state text the program does not know is EZVFileFormat.
TOutboxPage ReadPage(const TSqliteDb& db, const TSqliteStatement& statement);

}  // namespace zv::outbox_schema
