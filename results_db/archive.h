#pragma once

// The results table, its reset, the per-isotope columns and the append of one record.

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

// Adds the columns the report needs at the end of the table; shows the column count on
// the window; returns the running column count.
int ensureIsotopeColumns(db::Database& database, WindowState& state, ErrorTrap& trap,
                         char decimalSeparator);

// The empty results table with its fixed columns and index, in a new database.
Status createResultsTable(db::Database& database);

// One record for the report in memory, on a database that is open and (for speed and
// whole records) inside the caller's write transaction: the missing isotope columns, the
// record number, the values. Failures are recorded in `trap`; the result says whether the
// record was stored.
Status appendRecord(db::Database& database, WindowState& state, ErrorTrap& trap,
                    char decimalSeparator);

// "Reset Results DataBase": asks (unless BlindFlag), replaces the file with an empty table.
JobOutcome createDb(WindowState& state, Dialogs& dialogs, db::Engine& engine);

// "Append Results Database": one record for the report in memory.
JobOutcome appendIt(WindowState& state, Dialogs& dialogs, db::Engine& engine,
                    char decimalSeparator);

}  // namespace krv
