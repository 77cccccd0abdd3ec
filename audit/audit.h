#pragma once

// The audit trail of a results database: one entry per change the program makes to a
// stored record, written through the store's own interface in the change's transaction,
// so every engine keeps it and a change never lands without its entry. The trail is a
// plain table (kAuditTable) that any tool reading the file can query; the program only
// ever adds to it.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"
#include "results_db/store.h"

namespace krv::audit {

inline constexpr const char* kAuditTable = "KrvAudit";

// What an entry records, as written in its Operation column.
inline constexpr const char* kEdit = "edit";
inline constexpr const char* kDelete = "delete";
inline constexpr const char* kReset = "reset";
inline constexpr const char* kImport = "import";
inline constexpr const char* kMissingValues = "missing values";

// One entry. Empty texts are stored as nulls; time, user and host are filled in when
// written, if left empty.
struct Entry {
    std::string time;  // UTC, ISO 8601: 2026-12-06T05:23:10Z
    std::string user;
    std::string host;
    std::string operation;
    std::string recordNumber;  // the record's own number (its "idxRec#")
    std::string recordId;      // the store's identity of the record
    std::string column;
    db::Value oldValue;  // a deletion keeps the whole record here, as a JSON object
    db::Value newValue;
    std::string note;
};

// The columns of the audit table, in order.
std::vector<db::FieldInfo> auditFields();

// The current time as an entry writes it.
std::string utcNow();

// Writes one entry inside the caller's write transaction, making the audit table first
// when the database has none yet.
Status write(db::Database& database, Entry entry);

// Changes that carry their own entry. Each runs as one write transaction: the old value
// is read, the change made, the entry written and all committed together; when any step
// fails everything is rolled back, so neither the change nor the entry is stored.
Status editValue(db::Database& database, const std::string& table, std::int64_t id,
                 const db::FieldInfo& field, const db::Value& value);
Status deleteRecord(db::Database& database, const std::string& table, std::int64_t id);

// The first entry of a database made by a reset: how many records the reset removed with
// the old file (negative when that file could not be read as a results database).
Status startTrailWithReset(db::Database& fresh, std::int64_t removedRecords);

// For a record saved with values missing: which values, and why. Written inside the
// append's own transaction, after the record.
Status noteMissingValues(db::Database& database, std::int64_t recordNumber,
                         const std::vector<MissingValue>& missing);

// The entries in the order they were written; with `since` (an ISO 8601 date or time,
// UTC) only those at or after it. A database without a trail has no entries.
Status readEntries(db::Database& database, const std::string& since, std::vector<Entry>& out);

}  // namespace krv::audit
