#pragma once

// The archive's rules: the reset, the per-isotope columns and the append of one record.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dialogs.h"
#include "platform/status.h"
#include "report/analysis_report.h"
#include "results_db/schema.h"
#include "results_db/store.h"

namespace krv {

// The general number format: at most 7 significant digits, trailing zeros dropped, no
// point when nothing follows it, exponent form (1E-05, 1.5E+07) for very small or large
// values; `decimalSeparator` replaces the point.
std::string formatGeneral(double value, char decimalSeparator);

// What one record is made from: the report, what it carries for each line (AppendMode)
// and the decimal separator of its numbers.
struct AppendInput {
    const AnalysisReport& report;
    int mode = kActivity;
    char decimalSeparator = '.';
};

// The column that line j of isotope i goes to.
std::string isotopeColumnName(const AppendInput& input, int i, int j);

// The counts the window shows after an append or a reset, where they could be read.
struct ArchiveCounts {
    int fields = -1;            // columns of the table
    std::int64_t records = -1;  // records in it
    bool opened = false;        // an append opened the database
};

// Whether a failed step is the store refusing one name or value (the record can still be
// saved without it) rather than the store itself failing (nothing may be saved).
bool isRefusal(const Status& s);

// Adds the columns the report needs at the end of the table; returns the running column
// count. Columns the store refuses are listed in `refused` with the reason; the pass stops
// at the first failure that is not a refusal. `listing` receives the table's columns as the
// pass leaves them (empty when the store could not list them), so the append need not ask
// for them again; `counts.fields` the column count the store last listed.
int ensureIsotopeColumns(db::Database& database, const AppendInput& input, ErrorTrap& trap,
                         std::vector<MissingValue>& refused, std::vector<db::FieldInfo>& listing,
                         ArchiveCounts& counts);

// Writes the first entries of a database made by a reset, given how many records the
// replaced file held (negative when it could not be read as a results database). A
// failure leaves the reset reported as failed.
using StartTrail = std::function<Status(db::Database& fresh, std::int64_t removedRecords)>;

// The empty results table with its fixed columns and index, in a new database.
Status createResultsTable(db::Database& database);

// How openOrCreateResults came by its store.
struct StoreOpening {
    Status opened;         // the open: why there is no store, where there is none
    Status made;           // the make, where one was tried
    bool created = false;  // this call made the store
};

// Opens the results store at `path`, making it first where nothing is there, as the append
// does: `initialise` builds the new store whole before it appears at its path, and a store
// another run made a moment earlier is opened, never replaced.
std::unique_ptr<db::Database> openOrCreateResults(
    db::Engine& engine, const std::string& path, StoreOpening& opening,
    const db::Initialise& initialise = createResultsTable);

// What appending one record came to.
struct RecordAppend {
    Status fault;  // the store itself failed (I/O, full disk, lost lock): keep nothing
    Status saved;  // the insert; a refusal here still keeps the columns added
    std::vector<MissingValue> missing;                      // values left out, with why
    std::vector<std::pair<std::string, db::Value>> values;  // what the record was given
    std::int64_t recordNumber = 0;                          // records before it, plus one
    int listedFields = -1;  // the table's column count as the store last listed it
};

// One record for the report, on a database that is open and inside the caller's write
// transaction: the missing isotope columns, the record number, the values. The caller
// commits, or rolls back after a fault.
RecordAppend appendRecord(db::Database& database, const AppendInput& input, ErrorTrap& trap);
// The same for the window's report and mode; the column count goes to its caption.
RecordAppend appendRecord(db::Database& database, WindowState& state, ErrorTrap& trap,
                          char decimalSeparator);

// Replaces the results store at `pathAsTyped` with an empty table, asking first unless
// `blind` (nothing is then asked or shown).
JobOutcome resetResults(const std::string& pathAsTyped, bool blind, Dialogs& dialogs,
                        db::Engine& engine, const StartTrail& startTrail = {},
                        ArchiveCounts* counts = nullptr);

// Notes, inside the append's transaction, which values a saved record lacks; when it
// fails the append stores nothing.
using NoteMissing = std::function<Status(db::Database& database, std::int64_t recordNumber,
                                         const std::vector<MissingValue>& missing)>;

// One record for the report in the results store at `pathAsTyped`, made first when no
// store is there. Unless `blind`, a failure is shown.
JobOutcome appendReport(const AppendInput& input, const std::string& pathAsTyped, bool blind,
                        Dialogs& dialogs, db::Engine& engine, const NoteMissing& noteMissing = {},
                        ArchiveCounts* counts = nullptr);

// The window's buttons: the same on the window's state, whose captions they fill in.
// "Reset Results DataBase":
JobOutcome createDb(WindowState& state, Dialogs& dialogs, db::Engine& engine,
                    const StartTrail& startTrail = {});
// "Append Results Database":
JobOutcome appendIt(WindowState& state, Dialogs& dialogs, db::Engine& engine, char decimalSeparator,
                    const NoteMissing& noteMissing = {});

}  // namespace krv
