#include "jet/legacy_import.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "audit/audit.h"
#include "platform/platform.h"
#include "report/text.h"
#include "results_db/archive.h"
#include "results_db/table_copy.h"

namespace krv::jet {

namespace {

constexpr int kCancelled = 3059;  // "Operation canceled by user."
// Memo texts have no length limit worth enforcing; the store needs one for a text column.
constexpr int kMemoSize = 65535;

std::uint64_t littleEndian(const std::string& bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) v = v << 8 | static_cast<unsigned char>(bytes[i]);
    return v;
}

template <typename T>
T fromBits(const std::string& bytes) {
    T v;
    const std::uint64_t bits = littleEndian(bytes);
    if constexpr (sizeof(T) == 8) {
        std::memcpy(&v, &bits, 8);
    } else {
        const auto narrow = static_cast<std::uint32_t>(bits);
        std::memcpy(&v, &narrow, 4);
    }
    return v;
}

std::string currencyText(std::int64_t tenThousandths) {
    // The magnitude as unsigned, so the most negative amount does not overflow.
    const bool negative = tenThousandths < 0;
    const std::uint64_t m = negative ? 0 - static_cast<std::uint64_t>(tenThousandths)
                                     : static_cast<std::uint64_t>(tenThousandths);
    char frac[8];
    std::snprintf(frac, sizeof frac, "%04u", static_cast<unsigned>(m % 10000));
    return (negative ? "-" : "") + std::to_string(m / 10000) + "." + frac;
}

struct KindInfo {
    const char* name;
    db::FieldType type;
    int size;  // 0: the old column's own size
    bool same;
    bool carried;
};

KindInfo kindInfo(int kind, int size) {
    using db::FieldType;
    switch (kind) {
        case kJetInteger:
            return {"Integer", FieldType::Int16, 0, true, true};
        case kJetText:
            return {"Text", FieldType::Text, size, true, true};
        case kJetBoolean:
            return {"Boolean", FieldType::Int16, 0, false, true};
        case kJetByte:
            return {"Byte", FieldType::Int16, 0, false, true};
        case kJetLong:
            return {"Long Integer", FieldType::Text, 11, false, true};
        case kJetCurrency:
            return {"Currency", FieldType::Text, 21, false, true};
        case kJetSingle:
            return {"Single", FieldType::Text, 16, false, true};
        case kJetDouble:
            return {"Double", FieldType::Text, 24, false, true};
        case kJetDateTime:
            return {"Date/Time", FieldType::Text, 23, false, true};
        case kJetBinary:
            return {"Binary", FieldType::Text, 2 * std::max(size, 1), false, true};
        case kJetMemo:
            return {"Memo", FieldType::Text, kMemoSize, false, true};
        case kJetNumeric:
            return {"Decimal", FieldType::Text, 40, false, true};
        case kJetGuid:
            return {"Replication ID", FieldType::Text, 38, false, true};
        case kJetOle:
            return {"OLE Object", FieldType::Text, 255, false, false};
        default:
            return {"unknown kind", FieldType::Text, 255, false, false};
    }
}

const char* storeKindName(const db::FieldInfo& f) {
    return f.type == db::FieldType::Int16 ? "16-bit number" : "text";
}

Status cancelled() { return Status::failure(kCancelled, "Operation canceled by user."); }

Status copyRows(JetTable& source, const std::vector<ColumnPlan>& plans, db::Database& database,
                LegacySummary& summary, const LegacyProgress& progress) {
    const auto& columns = source.columns();
    std::vector<std::int64_t> lost(columns.size(), 0);
    std::vector<JetCell> row;
    std::vector<std::pair<std::string, db::Value>> values;
    Status st;
    while (source.next(row, st)) {
        values.clear();
        const std::int64_t record = summary.records + 1;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (!plans[i].carried) {
                lost[i] += row[i].has_value();
                continue;
            }
            db::Value decoded, stored;
            Status cell = decodeCell(columns[i], row[i], decoded);
            if (cell.ok()) cell = db::convertForField(plans[i].field, decoded, stored);
            if (!cell.ok()) {
                return Status::failure(cell.number, "record " + std::to_string(record) +
                                                        ", column \"" + columns[i].name +
                                                        "\": " + cell.description);
            }
            if (!std::holds_alternative<std::monostate>(stored))
                values.emplace_back(plans[i].field.name, std::move(stored));
        }
        st = database.insertRecord(kTableName, values);
        if (!st.ok()) return st;
        summary.records = record;
        if (progress && !progress(record)) return cancelled();
    }
    if (!st.ok()) return st;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!plans[i].carried) {
            summary.notCarried.push_back("column \"" + columns[i].name + "\" (" +
                                         plans[i].kindName + "): " + std::to_string(lost[i]) +
                                         " values left empty");
        }
    }
    return Status::success();
}

std::vector<db::FieldInfo> fieldsOf(const std::vector<ColumnPlan>& plans) {
    std::vector<db::FieldInfo> fields;
    for (const auto& p : plans) fields.push_back(p.field);
    return fields;
}

// The trail's entry for the import, written in the import's own transaction.
Status noteImport(db::Database& database, const LegacySummary& summary) {
    audit::Entry e;
    e.operation = audit::kImport;
    e.note =
        std::to_string(summary.records) + " records from the old results table " + summary.table;
    return audit::write(database, std::move(e));
}

Status createTable(db::Database& database, const std::vector<ColumnPlan>& plans,
                   LegacySummary& summary) {
    const auto fields = fieldsOf(plans);
    for (const auto& f : fields) {
        if (f.name == kRecordNumberField && f.type == db::FieldType::Int16)
            return database.createTable(kTableName, fields, kIndexName, kRecordNumberField);
    }
    summary.notCarried.push_back(std::string("index \"") + kIndexName +
                                 "\": the old table has no 16-bit \"" + kRecordNumberField +
                                 "\" column to make it on");
    return database.createTable(kTableName, fields, "", "");
}

// An existing store: its empty results table must hold the first of the old columns,
// and gets the rest.
Status fillExisting(db::Database& database, JetTable& source, const std::vector<ColumnPlan>& plans,
                    LegacySummary& summary, const LegacyProgress& progress) {
    Status st = database.beginWrite();
    if (!st.ok()) return st;
    std::vector<db::FieldInfo> present;
    if (database.fields(kTableName, present).ok()) {
        std::int64_t count = 0;
        st = database.recordCount(kTableName, count);
        if (st.ok() && count > 0) {
            st = Status::failure(err::kEngine, "the destination already holds " +
                                                   std::to_string(count) +
                                                   " records; the old table goes only into a "
                                                   "new or empty store");
        }
        std::size_t mismatch = 0;
        if (st.ok()) st = db::extendColumns(database, kTableName, fieldsOf(plans), mismatch);
        if (st.number == err::kItemNotFound && mismatch < present.size())
            st = Status::failure(err::kEngine,
                                 "the destination's column \"" + present[mismatch].name +
                                     "\" is not the old table's column at that place");
    } else {
        st = createTable(database, plans, summary);
    }
    if (st.ok()) st = copyRows(source, plans, database, summary, progress);
    if (st.ok()) st = noteImport(database, summary);
    if (st.ok()) st = database.commit();
    if (!st.ok()) database.rollback();
    return st;
}

}  // namespace

std::string summaryText(const LegacySummary& summary, const std::string& old,
                        const std::string& destination) {
    std::string text = "Imported table " + summary.table + " of " + old + " into " + destination +
                       ": " + std::to_string(summary.columns) + " columns, " +
                       std::to_string(summary.records) + " records\n";
    if (!summary.otherKind.empty()) {
        text += "Columns carried in the nearest kind the store has:\n";
        for (const auto& line : summary.otherKind) text += "  " + line + "\n";
    }
    if (!summary.notCarried.empty()) {
        text += "Not carried over:\n";
        for (const auto& line : summary.notCarried) text += "  " + line + "\n";
    }
    return text;
}

ColumnPlan planColumn(const JetColumn& column) {
    const KindInfo k = kindInfo(column.kind, column.size);
    ColumnPlan plan;
    plan.field = {column.name, k.type, k.type == db::FieldType::Text ? k.size : 0};
    plan.kindName = k.name;
    plan.sameKind = k.same;
    plan.carried = k.carried;
    return plan;
}

std::string formatJetDateTime(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3e6) return text::numberText(days);
    // The whole part counts days; the fraction is the time of day, also before 1899-12-30.
    double whole = std::trunc(days);
    auto ms = static_cast<std::int64_t>(std::llround(std::fabs(days - whole) * 86'400'000.0));
    if (ms >= 86'400'000) {
        ms -= 86'400'000;
        whole += 1;
    }
    namespace chrono = std::chrono;
    constexpr chrono::sys_days kJetEpoch = chrono::year{1899} / chrono::December / 30;
    const chrono::year_month_day date{kJetEpoch + chrono::days{static_cast<std::int64_t>(whole)}};
    char buf[128];
    const auto secs = ms / 1000;
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02lld:%02lld:%02lld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long long>(secs / 3600),
                  static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    std::string s = buf;
    if (ms % 1000) {
        std::snprintf(buf, sizeof buf, ".%03lld", static_cast<long long>(ms % 1000));
        s += buf;
    }
    return s;
}

Status decodeCell(const JetColumn& column, const JetCell& cell, db::Value& value) {
    value = std::monostate{};
    if (!cell) return Status::success();
    const std::string& b = *cell;
    const auto need = [&](std::size_t n) { return b.size() == n; };
    const Status bad = Status::failure(
        err::kNotADatabase, "a stored value does not fit its kind (the file may be damaged)");
    switch (column.kind) {
        case kJetBoolean:
            if (!need(1)) return bad;
            value = b[0] ? -1.0 : 0.0;  // Access's True is -1
            return Status::success();
        case kJetByte:
            if (!need(1)) return bad;
            value = static_cast<double>(static_cast<unsigned char>(b[0]));
            return Status::success();
        case kJetInteger:
            if (!need(2)) return bad;
            value = static_cast<double>(static_cast<std::int16_t>(littleEndian(b)));
            return Status::success();
        case kJetLong:
            if (!need(4)) return bad;
            value = std::to_string(static_cast<std::int32_t>(littleEndian(b)));
            return Status::success();
        case kJetCurrency:
            if (!need(8)) return bad;
            value = currencyText(static_cast<std::int64_t>(littleEndian(b)));
            return Status::success();
        case kJetSingle:
            if (!need(4)) return bad;
            value = text::numberText(fromBits<float>(b));
            return Status::success();
        case kJetDouble:
            if (!need(8)) return bad;
            value = text::numberText(fromBits<double>(b));
            return Status::success();
        case kJetDateTime:
            if (!need(8)) return bad;
            value = formatJetDateTime(fromBits<double>(b));
            return Status::success();
        case kJetBinary: {
            std::string hex;
            text::appendHex(hex, b, true);
            value = std::move(hex);
            return Status::success();
        }
        default:
            value = b;
            return Status::success();
    }
}

Status importLegacyTable(JetTable& source, db::Engine& engine, const std::string& destination,
                         LegacySummary& summary, const LegacyProgress& progress) {
    summary = LegacySummary{};
    summary.table = source.name();
    std::vector<ColumnPlan> plans;
    std::vector<db::FieldInfo> accepted;
    for (const JetColumn& c : source.columns()) {
        plans.push_back(planColumn(c));
        const ColumnPlan& p = plans.back();
        Status named = db::checkNewFieldName(p.field.name, accepted);
        if (!named.ok()) return named;
        accepted.push_back(p.field);
        if (!p.sameKind && p.carried) {
            summary.otherKind.push_back(
                "\"" + c.name + "\" (" + p.kindName + ") as " + storeKindName(p.field) +
                (p.field.type == db::FieldType::Text ? " of " + std::to_string(p.field.size)
                                                     : std::string()));
        }
    }
    summary.columns = static_cast<int>(plans.size());
    if (plans.empty()) return Status::failure(err::kNotADatabase, "the old table has no columns");

    // A new store appears at its path only once every record is in, and a failed fill
    // leaves nothing there, so a store found there afterwards belongs to someone else.
    StoreOpening opening;
    std::unique_ptr<db::Database> store =
        openOrCreateResults(engine, destination, opening, [&](db::Database& fresh) {
            Status st = createTable(fresh, plans, summary);
            if (st.ok()) st = fresh.beginWrite();
            if (st.ok()) st = copyRows(source, plans, fresh, summary, progress);
            if (st.ok()) st = noteImport(fresh, summary);
            if (st.ok()) st = fresh.commit();
            if (!st.ok()) fresh.rollback();
            return st;
        });
    Status st = !opening.made.ok() ? opening.made
                : opening.created  ? Status::success()
                                   : opening.opened;
    if (store && st.ok() && !opening.created)
        st = fillExisting(*store, source, plans, summary, progress);
    if (store) store->close();
    return st;
}

}  // namespace krv::jet
