#pragma once

// Copies the results table of an old Jet file into a new or empty results store: the
// same columns in the same order, every value exact, the records in the file's order.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/jet_table.h"
#include "platform/status.h"
#include "results_db/store.h"

namespace krv::jet {

// How one old column lands in the store.
struct ColumnPlan {
    db::FieldInfo field;
    std::string kindName;  // the old kind, as Access names it
    bool sameKind = true;  // false: carried in the nearest kind the store has
    bool carried = true;   // false: the column is made but its values stay empty
};

ColumnPlan planColumn(const JetColumn& column);

// The store's value for one old cell of that column, exact: numbers from their stored
// bytes, Date/Time from its days since 1899-12-30, Currency in its exact decimal text.
// Fails for bytes that do not fit the kind (a damaged file).
Status decodeCell(const JetColumn& column, const JetCell& cell, db::Value& value);

// Date/Time as "YYYY-MM-DD hh:mm:ss", with ".mmm" when the time has a fraction of a second.
std::string formatJetDateTime(double days);

struct LegacySummary {
    std::string table;
    int columns = 0;
    std::int64_t records = 0;
    std::vector<std::string> otherKind;   // columns carried in another kind
    std::vector<std::string> notCarried;  // what could not be carried over
};

// What a person reads after the import: counts, then kinds changed and anything lost.
std::string summaryText(const LegacySummary& summary, const std::string& old,
                        const std::string& destination);

// False from the progress callback cancels; nothing is then left in the store.
using LegacyProgress = std::function<bool(std::int64_t recordsDone)>;

// Fills `destination` (a store path or address) from `source`. The store must be new or
// hold an empty results table whose columns begin the old table's. On failure nothing
// is imported.
Status importLegacyTable(JetTable& source, db::Engine& engine, const std::string& destination,
                         LegacySummary& summary, const LegacyProgress& progress = {});

}  // namespace krv::jet
