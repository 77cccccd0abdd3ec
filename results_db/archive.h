#pragma once

// The results table, its reset, the per-isotope columns and the append of one record.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/dialogs.h"
#include "platform/status.h"
#include "report/analysis_report.h"
#include "results_db/store.h"

namespace krv {

inline constexpr const char* kTableName = "SamData";
inline constexpr const char* kIndexName = "idxSeq";
inline constexpr const char* kRecordNumberField = "idxRec#";

// The seven fixed columns, in their order.
std::vector<db::FieldInfo> fixedFields();

// The general number format: at most 7 significant digits, trailing zeros dropped, no
// point when nothing follows it, exponent form (1E-05, 1.5E+07) for very small or large
// values; `decimalSeparator` replaces the point.
std::string formatGeneral(double value, char decimalSeparator);

// The column that line j of isotope i goes to under the current append mode.
std::string isotopeColumnName(const WindowState& state, int i, int j, char decimalSeparator);

// Whether a failed step is the store refusing one name or value (the record can still be
// saved without it) rather than the store itself failing (nothing may be saved).
bool isRefusal(const Status& s);

// Adds the columns the report needs at the end of the table; shows the column count on
// the window; returns the running column count. Columns the store refuses are listed in
// `refused` with the reason; the pass stops at the first failure that is not a refusal.
// `listing`, when given, receives the table's columns as the pass leaves them (empty when
// the store could not list them), so the append need not ask for them again.
int ensureIsotopeColumns(db::Database& database, WindowState& state, ErrorTrap& trap,
                         char decimalSeparator, std::vector<MissingValue>* refused = nullptr,
                         std::vector<db::FieldInfo>* listing = nullptr);

// Writes the first entries of a database made by a reset, given how many records the
// replaced file held (negative when it could not be read as a results database). A
// failure leaves the reset reported as failed.
using StartTrail = std::function<Status(db::Database& fresh, std::int64_t removedRecords)>;

// The empty results table with its fixed columns and index, in a new database.
Status createResultsTable(db::Database& database);

// What appending one record came to.
struct RecordAppend {
    Status fault;  // the store itself failed (I/O, full disk, lost lock): keep nothing
    Status saved;  // the insert; a refusal here still keeps the columns added
    std::vector<MissingValue> missing;                      // values left out, with why
    std::vector<std::pair<std::string, db::Value>> values;  // what the record was given
    std::int64_t recordNumber = 0;                          // records before it, plus one
};

// One record for the report in memory, on a database that is open and inside the
// caller's write transaction: the missing isotope columns, the record number, the values.
// The caller commits, or rolls back after a fault.
RecordAppend appendRecord(db::Database& database, WindowState& state, ErrorTrap& trap,
                          char decimalSeparator);

// "Reset Results DataBase": asks (unless BlindFlag), replaces the file with an empty table.
JobOutcome createDb(WindowState& state, Dialogs& dialogs, db::Engine& engine,
                    const StartTrail& startTrail = {});

// "Append Results Database": one record for the report in memory.
// Notes, inside the append's transaction, which values a saved record lacks; when it
// fails the append stores nothing.
using NoteMissing = std::function<Status(db::Database& database, std::int64_t recordNumber,
                                         const std::vector<MissingValue>& missing)>;

JobOutcome appendIt(WindowState& state, Dialogs& dialogs, db::Engine& engine, char decimalSeparator,
                    const NoteMissing& noteMissing = {});

}  // namespace krv
