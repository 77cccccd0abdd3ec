#include "audit/audit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/platform.h"
#include "report/text.h"
#include "results_db/archive.h"

namespace krv::audit {

namespace {

// Wide enough for a deleted record of the widest table as JSON, and still within what
// every engine we support accepts as a declared text length.
constexpr int kLongText = 10000000;
// Trail entries are read this many identities at a time, so a long trail costs bounded
// memory while it is printed.
constexpr std::int64_t kReadChunk = 4096;

// Closes what it began: rolled back unless committed.
class WriteTransaction {
  public:
    explicit WriteTransaction(db::Database& database) : database_(database) {}
    ~WriteTransaction() {
        if (began_ && !committed_) database_.rollback();
    }
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    Status begin() {
        const Status st = database_.beginWrite();
        began_ = st.ok();
        return st;
    }
    Status commit() {
        const Status st = database_.commit();
        committed_ = st.ok();
        return st;
    }

  private:
    db::Database& database_;
    bool began_ = false;
    bool committed_ = false;
};

// Numbers as their exact digits: identities and counts go far beyond the seven digits of
// the general number format.
db::Value asText(const db::Value& v) {
    if (const auto* d = std::get_if<double>(&v)) return text::exactNumberText(*d);
    return v;
}

std::string textOf(const db::Value& v) {
    const db::Value t = asText(v);
    if (const auto* s = std::get_if<std::string>(&t)) return *s;
    return {};
}

void appendJsonString(std::string& out, const std::string& s) {
    out += '"';
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    out += '"';
}

// The whole record as one JSON object, column by column in table order, so another tool
// can take a deleted value back out of the trail (json_extract in SQLite).
std::string recordAsJson(const std::vector<db::FieldInfo>& fields,
                         const std::vector<db::Value>& row) {
    std::string json = "{";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) json += ',';
        appendJsonString(json, fields[i].name);
        json += ':';
        const db::Value& v = i + 1 < row.size() ? row[i + 1] : db::Value{};
        if (const auto* d = std::get_if<double>(&v); d && std::isfinite(*d)) {
            json += text::exactNumberText(*d);
        } else if (const auto* s = std::get_if<std::string>(&v)) {
            appendJsonString(json, *s);
        } else {
            json += "null";
        }
    }
    return json + "}";
}

// One record, every column; each row starts with its identity.
Status readRecord(db::Database& database, const std::string& table, std::int64_t id,
                  std::vector<db::FieldInfo>& fields, std::vector<db::Value>& row) {
    Status st = database.fields(table, fields);
    if (!st.ok()) return st;
    std::vector<std::string> names;
    for (const auto& f : fields) names.push_back(f.name);
    std::vector<std::vector<db::Value>> rows;
    st = database.readRecords(table, names, id, id, rows);
    if (!st.ok()) return st;
    if (rows.empty()) return Status::failure(err::kNoCurrentRecord, "No current record.");
    row = std::move(rows.front());
    return st;
}

// The cell of `column` in a row read by readRecord; null when the table has no such column.
db::Value cellOf(const std::vector<db::FieldInfo>& fields, const std::vector<db::Value>& row,
                 const std::string& column) {
    const auto it = std::find_if(fields.begin(), fields.end(),
                                 [&](const db::FieldInfo& f) { return f.name == column; });
    const auto at = static_cast<std::size_t>(it - fields.begin()) + 1;
    return it != fields.end() && at < row.size() ? row[at] : db::Value{};
}

Entry entryFor(const char* operation, const std::vector<db::FieldInfo>& fields,
               const std::vector<db::Value>& row, std::int64_t id) {
    Entry e;
    e.operation = operation;
    e.recordNumber = textOf(cellOf(fields, row, kRecordNumberField));
    e.recordId = std::to_string(id);
    return e;
}

db::Value orNull(const std::string& s) { return s.empty() ? db::Value{} : db::Value{s}; }

}  // namespace

std::vector<db::FieldInfo> auditFields() {
    using db::FieldType;
    return {
        {"ChangedAt", FieldType::Text, 20},       {"UserName", FieldType::Text, 255},
        {"HostName", FieldType::Text, 255},       {"Operation", FieldType::Text, 32},
        {"RecordNumber", FieldType::Text, 20},    {"RecordId", FieldType::Text, 20},
        {"ColumnName", FieldType::Text, 255},     {"OldValue", FieldType::Text, kLongText},
        {"NewValue", FieldType::Text, kLongText}, {"Note", FieldType::Text, kLongText},
    };
}

std::string utcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day ymd{day};
    const hh_mm_ss<seconds> time{now - day};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return buf;
}

Status write(db::Database& database, Entry entry) {
    if (entry.time.empty()) entry.time = utcNow();
    if (entry.user.empty()) entry.user = platform::userName();
    if (entry.host.empty()) entry.host = platform::hostName();

    const std::vector<db::FieldInfo> fields = auditFields();
    std::vector<db::FieldInfo> existing;
    if (!database.fields(kAuditTable, existing).ok()) {
        const Status made = database.createTable(kAuditTable, fields, "", "");
        if (!made.ok()) return made;
    }
    const db::Value values[] = {
        entry.time,
        entry.user,
        entry.host,
        entry.operation,
        orNull(entry.recordNumber),
        orNull(entry.recordId),
        orNull(entry.column),
        asText(entry.oldValue),
        asText(entry.newValue),
        orNull(entry.note),
    };
    std::vector<std::pair<std::string, db::Value>> record;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        db::Value stored;
        const Status st = db::convertForField(fields[i], values[i], stored);
        if (!st.ok()) return st;
        record.emplace_back(fields[i].name, std::move(stored));
    }
    return database.insertRecord(kAuditTable, record);
}

Status editValue(db::Database& database, const std::string& table, std::int64_t id,
                 const db::FieldInfo& field, const db::Value& value) {
    WriteTransaction transaction(database);
    Status st = transaction.begin();
    std::vector<db::FieldInfo> fields;
    std::vector<db::Value> before;
    if (st.ok()) st = readRecord(database, table, id, fields, before);
    if (st.ok()) st = database.updateValue(table, id, field, value);
    // The entry holds what the column made of the value, not what was typed.
    std::vector<std::vector<db::Value>> after;
    if (st.ok()) st = database.readRecords(table, {field.name}, id, id, after);
    if (st.ok()) {
        Entry e = entryFor(kEdit, fields, before, id);
        e.column = field.name;
        e.oldValue = cellOf(fields, before, field.name);
        if (!after.empty() && after.front().size() > 1) e.newValue = after.front()[1];
        st = write(database, std::move(e));
    }
    if (st.ok()) st = transaction.commit();
    return st;
}

Status deleteRecord(db::Database& database, const std::string& table, std::int64_t id) {
    WriteTransaction transaction(database);
    Status st = transaction.begin();
    std::vector<db::FieldInfo> fields;
    std::vector<db::Value> record;
    if (st.ok()) st = readRecord(database, table, id, fields, record);
    if (st.ok()) st = database.deleteRecord(table, id);
    if (st.ok()) {
        Entry e = entryFor(kDelete, fields, record, id);
        e.oldValue = recordAsJson(fields, record);
        st = write(database, std::move(e));
    }
    if (st.ok()) st = transaction.commit();
    return st;
}

Status startTrailWithReset(db::Database& fresh, std::int64_t removedRecords) {
    Entry e;
    e.operation = kReset;
    if (removedRecords >= 0) {
        e.oldValue = std::to_string(removedRecords);
        e.newValue = std::string("0");
        e.note = std::to_string(removedRecords) + " records removed";
    } else {
        e.note = "the file replaced could not be read as a results database";
    }
    return write(fresh, std::move(e));
}

Status noteMissingValues(db::Database& database, std::int64_t recordNumber,
                         const std::vector<MissingValue>& missing) {
    const std::string time = utcNow();
    for (const MissingValue& m : missing) {
        Entry e;
        e.time = time;
        e.operation = kMissingValues;
        e.recordNumber = std::to_string(recordNumber);
        e.column = m.what;
        e.note = m.reason;
        const Status st = write(database, std::move(e));
        if (!st.ok()) return st;
    }
    return Status::success();
}

Status readEntries(db::Database& database, const std::string& since, std::vector<Entry>& out) {
    out.clear();
    std::vector<db::FieldInfo> existing;
    Status st = database.fields(kAuditTable, existing);
    if (st.number == err::kTableNotFound) return Status::success();
    if (!st.ok()) return st;
    std::vector<std::string> names;
    for (const auto& f : auditFields()) names.push_back(f.name);
    std::int64_t lowest = 0, highest = 0;
    st = database.identityRange(kAuditTable, lowest, highest);
    if (!st.ok()) return st;
    return db::forEachRowBetween(
        database, kAuditTable, names, lowest, highest, kReadChunk,
        [&](const std::vector<db::Value>& r) {
            const auto at = [&](std::size_t i) { return i + 1 < r.size() ? textOf(r[i + 1]) : ""; };
            Entry e{at(0), at(1), at(2), at(3), at(4), at(5), at(6), {}, {}, at(9)};
            if (r.size() > 8 && !std::holds_alternative<std::monostate>(r[8])) e.oldValue = at(7);
            if (r.size() > 9 && !std::holds_alternative<std::monostate>(r[9])) e.newValue = at(8);
            if (since.empty() || e.time >= since) out.push_back(std::move(e));
            return Status::success();
        });
}

}  // namespace krv::audit
