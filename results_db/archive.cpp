#include "results_db/archive.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/platform.h"
#include "report/text.h"
#include "results_db/engine_shared.h"

namespace krv {

namespace {

namespace fs = std::filesystem;

std::string trimmedPath(const std::string& typed) { return std::string(text::trim(typed)); }

// Every header text is written at its full width, trailing blanks and all.
std::string fixedValue(const FixedText& t) { return text::cp1252ToUtf8(t.value()); }

// The line's value for the append mode; background counts are computed in single
// precision, as the report's own numbers are.
float lineValue(const IsotopeLine& line, int mode) {
    switch (mode) {
        case 0:
            return line.activity;
        case 1:
            return line.net;
        case 2:
            return line.gross;
        default: {
            const float background = line.gross - line.net;
            return background;
        }
    }
}

int isotopeCountOf(const AnalysisReport& r) {
    return std::clamp<int>(r.isotopeCount, 0, kMaxIsotopes);
}
int lineCountOf(const AnalysisReport& r, int i) {
    return std::clamp<int>(r.lineCount[static_cast<std::size_t>(i)], 0, kMaxLinesPerIsotope);
}

// Every value the saved record will lack, once per column, with the first reason.
class MissingList {
  public:
    void add(const std::string& column, const std::string& reason) {
        if (std::none_of(list_.begin(), list_.end(),
                         [&](const MissingValue& m) { return m.what == column; }))
            list_.push_back({column, reason});
    }
    // A later line that lands in the same column fills it after all.
    void filled(const std::string& column) {
        list_.erase(std::remove_if(list_.begin(), list_.end(),
                                   [&](const MissingValue& m) { return m.what == column; }),
                    list_.end());
    }
    std::vector<MissingValue>& list() { return list_; }

  private:
    std::vector<MissingValue> list_;
};

const std::string kNoSuchColumn = std::string(kTableName) + " has no column of that name";

// Finds a table's columns by name, looking first just past the last one found: a
// record's values and a report's lines come in the table's own column order, so a lookup
// is one comparison and a 250-column append stays linear.
// Names in a table are unique, so where the search starts never changes what it finds.
class ColumnFinder {
  public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    explicit ColumnFinder(const std::vector<db::FieldInfo>& columns) : columns_(columns) {}

    std::size_t find(const std::string& name) {
        const std::size_t n = columns_.size();
        for (std::size_t c = next_; c < n; ++c)
            if (columns_[c].name == name) return found(c);
        for (std::size_t c = 0; c < std::min(next_, n); ++c)
            if (columns_[c].name == name) return found(c);
        return npos;
    }

  private:
    std::size_t found(std::size_t c) {
        next_ = c + 1;
        return c;
    }

    const std::vector<db::FieldInfo>& columns_;
    std::size_t next_ = 0;
};

// The values of the record being built, by column name, as assignments to a pending
// record behave: a later assignment replaces an earlier one, a refused one changes nothing
// and is noted as missing.
class PendingRecord {
  public:
    PendingRecord(std::vector<db::FieldInfo> columns, ErrorTrap& trap, MissingList& missing)
        : columns_(std::move(columns)),
          finder_(columns_),
          trap_(trap),
          missing_(missing),
          valueAt_(columns_.size(), kNoValue) {}
    // The finder refers to columns_, which a copy or move would leave behind.
    PendingRecord(const PendingRecord&) = delete;
    PendingRecord& operator=(const PendingRecord&) = delete;

    void set(const std::string& name, const db::Value& value) {
        if (!setIfPresent(name, value)) {
            trap_.record(db::itemNotFound());
            missing_.add(name, kNoSuchColumn);
        }
    }

    // A line whose column could not be added has nowhere to go; the caller notes why.
    bool setIfPresent(const std::string& name, const db::Value& value) {
        const std::size_t column = finder_.find(name);
        if (column == ColumnFinder::npos) return false;
        db::Value stored;
        const Status converted = trap_.record(db::convertForField(columns_[column], value, stored));
        if (!converted.ok()) {
            if (valueAt_[column] == kNoValue) missing_.add(name, converted.description);
            return true;
        }
        if (valueAt_[column] != kNoValue) {
            values_[valueAt_[column]].second = std::move(stored);
        } else {
            valueAt_[column] = values_.size();
            values_.emplace_back(name, std::move(stored));
        }
        missing_.filled(name);
        return true;
    }

    const std::vector<std::pair<std::string, db::Value>>& values() const { return values_; }

  private:
    static constexpr std::size_t kNoValue = static_cast<std::size_t>(-1);

    std::vector<db::FieldInfo> columns_;
    ColumnFinder finder_;
    ErrorTrap& trap_;
    MissingList& missing_;
    std::vector<std::size_t> valueAt_;  // for each column, its place in values_
    std::vector<std::pair<std::string, db::Value>> values_;
};

}  // namespace

bool isRefusal(const Status& s) {
    switch (s.number) {
        case err::kOverflow:
        case err::kTypeMismatch:
        case err::kFieldTooSmall:
        case err::kInvalidName:
        case err::kDuplicateName:
        case err::kTooManyFields:
        case err::kItemNotFound:
            return true;
        default:
            return false;
    }
}

std::string formatGeneral(double value, char decimalSeparator) {
    if (value == 0) return "0";  // negative zero included
    // The text ignores the C locale, which the window toolkit may have switched to the
    // user's; the separator is put in explicitly below.
    std::string s = text::roundedNumberText(value, 7);
    for (char& c : s) {
        if (c == 'e') {
            c = 'E';
        } else if (c == '.') {
            c = decimalSeparator;
        } else if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');  // "inf", "nan"
        }
    }
    return s;
}

std::string isotopeColumnName(const AppendInput& input, int i, int j) {
    const AnalysisReport& r = input.report;
    const auto slot = static_cast<std::size_t>(i);
    IsotopeColumn column;
    column.nuclide = text::cp1252ToUtf8(text::trim(r.isotopeName[slot].value()));
    column.mode = input.mode;
    if (input.mode == kActivity && r.corrCoeffPos != 0) {
        column.byEnergy = true;
        column.line = formatGeneral(r.lines[slot][static_cast<std::size_t>(j)].energy,
                                    input.decimalSeparator);
    } else if (input.mode != kActivity || r.lineCount[slot] >= 2) {
        column.line = std::to_string(j);
    }
    return isotopeColumnName(column);
}

int ensureIsotopeColumns(db::Database& database, const AppendInput& input, ErrorTrap& trap,
                         std::vector<MissingValue>& refused, std::vector<db::FieldInfo>& columns,
                         ArchiveCounts& counts) {
    bool listed = trap.record(database.fields(kTableName, columns)).ok();
    int running = 0;
    if (listed) {
        counts.fields = static_cast<int>(columns.size());
        running = static_cast<int>(columns.size());
    } else {
        columns.clear();
    }
    const AnalysisReport& r = input.report;
    if (r.isotopeCount <= 0) return running;

    ColumnFinder finder(columns);
    bool addedAny = false;
    for (int i = 1; i <= isotopeCountOf(r); ++i) {
        for (int j = 1; j <= lineCountOf(r, i); ++j) {
            const std::string name = isotopeColumnName(input, i, j);
            if (finder.find(name) != ColumnFinder::npos) continue;
            const db::FieldInfo field{name, db::FieldType::Text, kIsotopeFieldSize};
            const Status added = trap.record(database.appendField(kTableName, field));
            if (added.ok()) {
                columns.push_back(field);
                addedAny = true;
                ++running;
            } else if (!isRefusal(added)) {
                columns.clear();
                return running;  // the store itself failed; nothing later can be trusted
            } else {
                refused.push_back({name, added.description});
            }
        }
    }
    // The store's own listing after additions: it is what the caption and the record go by.
    if (addedAny || !listed) {
        listed = trap.record(database.fields(kTableName, columns)).ok();
        if (listed) {
            counts.fields = static_cast<int>(columns.size());
        } else {
            columns.clear();
        }
    }
    return running;
}

Status createResultsTable(db::Database& database) {
    return database.createTable(kTableName, fixedFields(), kIndexName, kRecordNumberField);
}

std::unique_ptr<db::Database> openOrCreateResults(db::Engine& engine, const std::string& path,
                                                  StoreOpening& opening,
                                                  const db::Initialise& initialise) {
    opening = StoreOpening{};
    const bool server = db::isServerPath(path);
    const platform::Lookup there = engine.locate(path);
    // A server that does not answer has nothing to create; the open says why.
    if (there == platform::Lookup::NotFound || (there == platform::Lookup::Failed && !server)) {
        // A symbolic link at the path stays and the file it names is made.
        fs::path target = platform::toPath(path);
        const std::error_code ec =
            server ? std::error_code() : platform::resolveLinks(platform::toPath(path), target);
        if (ec == std::errc::too_many_symbolic_link_levels) {
            opening.made = Status::failure(err::kPathFileAccess,
                                           "The symbolic links at '" + path + "' form a loop");
        } else {
            opening.made =
                engine.createDatabase(server ? path : platform::fromPath(target), initialise);
            opening.created = opening.made.ok();
            if (opening.made.number == err::kDatabaseExists)
                opening.made.description = "another run created a new database at '" + path +
                                           "' meanwhile; that one was kept";
        }
    }
    return engine.openDatabase(path, opening.opened);
}

namespace {

// How many records the database about to be replaced holds; -1 when it is none of ours.
std::int64_t recordsIn(db::Engine& engine, const std::string& where) {
    if (engine.locate(where) != platform::Lookup::Found) return 0;
    Status opened;
    std::unique_ptr<db::Database> old = engine.openDatabase(where, opened);
    std::int64_t count = -1;
    if (old && !old->recordCount(kTableName, count).ok()) count = -1;
    if (old) old->close();
    return count;
}

// The reset after its question. The engine replaces the database in one step as far as
// its store allows; a job starting meanwhile never finds a database without its table.
JobOutcome resetDatabase(const std::string& pathAsTyped, bool blind, Dialogs& dialogs,
                         db::Engine& engine, const StartTrail& startTrail, ArchiveCounts& counts) {
    const std::string path = trimmedPath(pathAsTyped);
    const std::int64_t removedRecords = startTrail ? recordsIn(engine, path) : -1;
    const auto build = [&](db::Database& fresh) {
        Status built = createResultsTable(fresh);
        if (built.ok() && startTrail) built = startTrail(fresh, removedRecords);
        return built;
    };
    const Status replaced = engine.replaceDatabase(path, build);
    if (!replaced.ok()) {
        if (!blind) dialogs.message("Could not create database", kAppTitle);
        return JobOutcome::failed("Could not create database: " + replaced.description);
    }

    // The reset has happened; what follows only fills in the window's captions.
    Status opened;
    std::unique_ptr<db::Database> database = engine.openDatabase(path, opened);
    if (database) {
        std::vector<db::FieldInfo> columns;
        if (database->fields(kTableName, columns).ok())
            counts.fields = static_cast<int>(columns.size());
        database->close();
    }
    counts.records = 0;
    return JobOutcome::done();
}

// Whether the record built for this append is in the table, looked for on a fresh
// connection after a commit whose outcome the engine could not tell (the data may be on
// disk while an unlock or a journal removal failed). Appends that came after it sit at the
// end too, so the last few records are compared.
Status findSavedRecord(db::Engine& engine, const std::string& path,
                       const std::vector<std::pair<std::string, db::Value>>& values, bool& found) {
    found = false;
    Status st;
    std::unique_ptr<db::Database> database = engine.openDatabase(path, st);
    if (!database) return st;
    // A column the record needed that the table lacks was added in the same transaction:
    // then the record is not there either.
    std::vector<db::FieldInfo> columns;
    st = database->fields(kTableName, columns);
    const bool allThere = std::all_of(values.begin(), values.end(), [&](const auto& v) {
        return std::any_of(columns.begin(), columns.end(), [&](const db::FieldInfo& f) {
            return db::sameFieldName(f.name, v.first);
        });
    });
    std::vector<std::int64_t> ids;
    if (st.ok() && allThere) st = database->recordIds(kTableName, ids);
    std::vector<std::string> names;
    for (const auto& v : values) names.push_back(v.first);
    constexpr std::size_t kLookBack = 16;
    for (std::size_t k = 0; st.ok() && k < std::min(ids.size(), kLookBack) && !found; ++k) {
        const std::int64_t id = ids[ids.size() - 1 - k];
        std::vector<std::vector<db::Value>> rows;
        st = database->readRecords(kTableName, names, id, id, rows);
        if (!st.ok() || rows.size() != 1) continue;
        found = true;
        for (std::size_t c = 0; c < values.size() && found; ++c)
            found = rows[0][c + 1] == values[c].second;
    }
    database->close();
    return st;
}

}  // namespace

JobOutcome resetResults(const std::string& pathAsTyped, bool blind, Dialogs& dialogs,
                        db::Engine& engine, const StartTrail& startTrail, ArchiveCounts* counts) {
    if (!blind &&
        !dialogs.askYesNo("Delete ALL data and create a new DataBase, are you SURE ?", "")) {
        return JobOutcome::failed("reset not confirmed");
    }
    ArchiveCounts own;
    return resetDatabase(pathAsTyped, blind, dialogs, engine, startTrail, counts ? *counts : own);
}

RecordAppend appendRecord(db::Database& database, const AppendInput& input, ErrorTrap& trap) {
    RecordAppend out;
    MissingList missing;
    std::vector<db::FieldInfo> columns;
    ArchiveCounts counts;
    const int running =
        ensureIsotopeColumns(database, input, trap, missing.list(), columns, counts);
    out.listedFields = counts.fields;
    if (trap.failed() && !isRefusal(trap.last())) out.fault = trap.last();

    if (out.fault.ok() && columns.empty())
        out.fault = trap.record(database.fields(kTableName, columns));
    columns.resize(std::min(columns.size(), static_cast<std::size_t>(std::max(running, 0))));
    PendingRecord record(std::move(columns), trap, missing);

    std::int64_t count = 0;
    if (out.fault.ok()) out.fault = trap.record(database.recordCount(kTableName, count));
    if (out.fault.ok()) {
        out.recordNumber = count + 1;
        record.set(kRecordNumberField, static_cast<double>(count + 1));
        const AnalysisReport& r = input.report;
        const char separator = input.decimalSeparator;
        record.set(kIdTextField, fixedValue(r.idText));
        record.set(kFileNameField, fixedValue(r.fileName));
        record.set(kDateAndTimeField, fixedValue(r.dateAndTime));
        record.set(kSampleDateField, fixedValue(r.sampleDate));
        record.set(kCountingTimeField, formatGeneral(r.countingTime, separator));
        record.set(kDeadTimeField, formatGeneral(r.deadTimePct, separator));

        for (int i = 1; i <= isotopeCountOf(r); ++i) {
            for (int j = 1; j <= lineCountOf(r, i); ++j) {
                const std::string name = isotopeColumnName(input, i, j);
                const float v = lineValue(
                    r.lines[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)], input.mode);
                if (!record.setIfPresent(name, formatGeneral(v, separator)))
                    missing.add(name,
                                std::string("the column could not be added to ") + kTableName);
            }
        }
    }

    out.saved = out.fault;
    if (out.saved.ok()) {
        out.saved = trap.record(database.insertRecord(kTableName, record.values()));
        // A refused insert still keeps the columns added on the way; a failing store
        // keeps nothing.
        if (!out.saved.ok() && !isRefusal(out.saved)) out.fault = out.saved;
    }
    out.values = record.values();
    out.missing = std::move(missing.list());
    return out;
}

JobOutcome appendReport(const AppendInput& input, const std::string& pathAsTyped, bool blind,
                        Dialogs& dialogs, db::Engine& engine, const NoteMissing& noteMissing,
                        ArchiveCounts* countsOut) {
    ArchiveCounts own;
    ArchiveCounts& counts = countsOut ? *countsOut : own;
    const std::string path = trimmedPath(pathAsTyped);
    const bool server = db::isServerPath(path);
    StoreOpening opening;
    std::unique_ptr<db::Database> database = openOrCreateResults(engine, path, opening);
    if (opening.created) {
        counts.fields = static_cast<int>(fixedFields().size());
        counts.records = 0;
    }

    ErrorTrap trap;
    Status opened = opening.opened;
    trap.record(opened);
    if (trap.failed() || !database) {
        // A server that cannot be reached is no wrong path.
        const bool unreached = server && trap.last().number == err::kCantOpenDatabase;
        const std::string message =
            unreached ? "Could not open the archive [ " + path + " ]: " + trap.last().description
                      : "Invalid path or file name [ " + pathAsTyped + " ] <" +
                            trap.last().description + ">";
        if (!blind) dialogs.message(message, kAppTitle);
        // The window shows the open's own words; a job learns why the file is not there.
        return JobOutcome::failed(opening.made.ok() ? message
                                                    : message + " (Could not create database: " +
                                                          opening.made.description + ")");
    }

    // Columns, record count and insert in one write transaction: two appends running at
    // once then neither add the same column twice nor take the same record number. A step
    // the store itself fails (I/O, a full disk, a lost lock) ends the append with nothing
    // of it stored; a name or value the store refuses only leaves that value out.
    Status fault = trap.record(database->beginWrite());
    RecordAppend appended;
    if (fault.ok()) {
        appended = appendRecord(*database, input, trap);
        if (appended.listedFields >= 0) counts.fields = appended.listedFields;
        fault = appended.fault;
        if (fault.ok() && appended.saved.ok() && !appended.missing.empty() && noteMissing)
            fault = trap.record(noteMissing(*database, appended.recordNumber, appended.missing));
    }
    Status saved = fault.ok() ? appended.saved : fault;
    bool stored = false, unknown = false;
    if (!fault.ok()) {
        database->rollback();
    } else {
        const Status committed = trap.record(database->commit());
        stored = saved.ok() && committed.ok();
        if (!committed.ok()) {
            database->rollback();
            database.reset();
            // The commit may have reached the store before it failed (the disk, or a server
            // that went down before it answered); a job that retried after a wrong "not
            // saved" would store the record twice. A fresh connection looks.
            bool found = false;
            const Status looked = findSavedRecord(engine, path, appended.values, found);
            stored = saved.ok() && found;
            if (!found) {
                saved = committed;
                unknown = !looked.ok();
                if (unknown)
                    saved.description += " (whether it reached the store could not be checked: " +
                                         looked.description + ")";
            }
        }
    }
    std::int64_t count = 0;
    if (!database) database = engine.openDatabase(path, opened);
    if (database && database->recordCount(kTableName, count).ok()) counts.records = count;
    if (database) database->close();
    counts.opened = true;
    if (unknown)
        return JobOutcome::outcomeUnknown(
            "outcome unknown: the record may or may not have been saved: " + saved.description);
    if (!stored) return JobOutcome::failed("record not saved: " + saved.description);
    return appended.missing.empty() ? JobOutcome::done()
                                    : JobOutcome::savedWithout(std::move(appended.missing));
}

namespace {

void showCounts(const ArchiveCounts& counts, WindowState& state) {
    if (counts.fields >= 0) state.numFieldsCaption = std::to_string(counts.fields);
    if (counts.records >= 0) state.numbRecCaption = std::to_string(counts.records);
    if (counts.opened) state.appendItRed = true;
}

}  // namespace

RecordAppend appendRecord(db::Database& database, WindowState& state, ErrorTrap& trap,
                          char decimalSeparator) {
    RecordAppend out =
        appendRecord(database, AppendInput{state.report, state.appendMode, decimalSeparator}, trap);
    showCounts({out.listedFields, -1, false}, state);
    return out;
}

JobOutcome createDb(WindowState& state, Dialogs& dialogs, db::Engine& engine,
                    const StartTrail& startTrail) {
    ArchiveCounts counts;
    JobOutcome outcome =
        resetResults(state.apathText, state.blindFlag, dialogs, engine, startTrail, &counts);
    showCounts(counts, state);
    return outcome;
}

JobOutcome appendIt(WindowState& state, Dialogs& dialogs, db::Engine& engine, char decimalSeparator,
                    const NoteMissing& noteMissing) {
    ArchiveCounts counts;
    JobOutcome outcome =
        appendReport(AppendInput{state.report, state.appendMode, decimalSeparator}, state.apathText,
                     state.blindFlag, dialogs, engine, noteMissing, &counts);
    showCounts(counts, state);
    return outcome;
}

}  // namespace krv
