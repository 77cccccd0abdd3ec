#include "results_db/archive.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "platform/platform.h"
#include "report/text.h"

namespace krv {

namespace {

namespace fs = std::filesystem;

constexpr int kIsotopeFieldSize = 10;

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

// The values of the record being built, by column name, as assignments to a pending
// record behave: a later assignment replaces an earlier one, a refused one changes nothing.
class PendingRecord {
  public:
    PendingRecord(std::vector<db::FieldInfo> columns, ErrorTrap& trap)
        : columns_(std::move(columns)), trap_(trap) {}

    void set(const std::string& name, const db::Value& value) {
        if (!setIfPresent(name, value))
            trap_.record(Status::failure(err::kItemNotFound, "Item not found in this collection."));
    }

    // A line whose column could not be added has nowhere to go; the record is still whole.
    bool setIfPresent(const std::string& name, const db::Value& value) {
        auto field = std::find_if(columns_.begin(), columns_.end(),
                                  [&](const db::FieldInfo& f) { return f.name == name; });
        if (field == columns_.end()) return false;
        db::Value stored;
        if (!trap_.record(db::convertForField(*field, value, stored)).ok()) return true;
        auto cell = std::find_if(values_.begin(), values_.end(),
                                 [&](const auto& v) { return v.first == name; });
        if (cell != values_.end()) {
            cell->second = std::move(stored);
        } else {
            values_.emplace_back(name, std::move(stored));
        }
        return true;
    }

    const std::vector<std::pair<std::string, db::Value>>& values() const { return values_; }

  private:
    std::vector<db::FieldInfo> columns_;
    ErrorTrap& trap_;
    std::vector<std::pair<std::string, db::Value>> values_;
};

}  // namespace

std::vector<db::FieldInfo> fixedFields() {
    using db::FieldType;
    return {
        {kRecordNumberField, FieldType::Int16, 0},
        {"File Name", FieldType::Text, 255},
        {"ID Text", FieldType::Text, 128},
        {"Date & time", FieldType::Text, 30},
        {"Sample Date", FieldType::Text, 24},
        {"Counting Time", FieldType::Text, 10},
        {"DT %", FieldType::Text, 10},
    };
}

std::string formatGeneral(double value, char decimalSeparator) {
    if (value == 0) return "0";  // negative zero included
    // to_chars ignores the C locale, which the window toolkit may have switched to the
    // user's; the separator is put in explicitly below.
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 7);
    std::string s = ec == std::errc() ? std::string(buf, end) : std::string("0");
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

std::string isotopeColumnName(const WindowState& state, int i, int j, char decimalSeparator) {
    const AnalysisReport& r = state.report;
    const auto slot = static_cast<std::size_t>(i);
    std::string name = text::cp1252ToUtf8(text::trim(r.isotopeName[slot].value()));
    const int mode = state.appendMode;
    if (mode == 0 && r.corrCoeffPos != 0) {
        name += "@" +
                formatGeneral(r.lines[slot][static_cast<std::size_t>(j)].energy, decimalSeparator);
    } else if (r.lineCount[slot] < 2 && mode == 0) {
        // the bare name
    } else {
        if (mode >= 0 && mode < static_cast<int>(state.columnMarker.size()))
            name += state.columnMarker[static_cast<std::size_t>(mode)];
        name += std::to_string(j);
    }
    if (const auto dot = name.find('.'); dot != std::string::npos) name[dot] = ':';
    return name;
}

int ensureIsotopeColumns(db::Database& database, WindowState& state, ErrorTrap& trap,
                         char decimalSeparator) {
    std::vector<db::FieldInfo> columns;
    std::unordered_set<std::string> names;
    int running = 0;
    if (trap.record(database.fields(kTableName, columns)).ok()) {
        state.numFieldsCaption = std::to_string(columns.size());
        running = static_cast<int>(columns.size());
        for (const auto& c : columns) names.insert(c.name);
    }
    const AnalysisReport& r = state.report;
    if (r.isotopeCount <= 0) return running;

    for (int i = 1; i <= isotopeCountOf(r); ++i) {
        for (int j = 1; j <= lineCountOf(r, i); ++j) {
            const std::string name = isotopeColumnName(state, i, j, decimalSeparator);
            if (names.count(name)) continue;
            const db::FieldInfo field{name, db::FieldType::Text, kIsotopeFieldSize};
            if (trap.record(database.appendField(kTableName, field)).ok()) {
                names.insert(name);
                ++running;
            }
        }
    }
    if (trap.record(database.fields(kTableName, columns)).ok())
        state.numFieldsCaption = std::to_string(columns.size());
    return running;
}

Status createResultsTable(db::Database& database) {
    return database.createTable(kTableName, fixedFields(), kIndexName, kRecordNumberField);
}

namespace {

// The reset after its question. The append's silent reset runs with replace false: it
// only ever fills an empty place, so a database another run created a moment earlier is
// opened, never deleted.
JobOutcome resetDatabase(WindowState& state, Dialogs& dialogs, db::Engine& engine, bool replace) {
    ErrorTrap trap;
    const std::string path = trimmedPath(state.apathText);
    const fs::path p = platform::toPath(path);
    std::error_code ec;
    if (replace && !path.empty() && fs::exists(fs::symlink_status(p, ec))) {
        // Only a plain file is removed: a folder, or a file the system hides, stays, and
        // the creation below then fails over it.
        if (!platform::isNormalFile(p) || !fs::remove(p, ec)) {
            trap.record(Status::failure(ec ? err::kPermissionDenied : err::kFileNotFound,
                                        ec ? "Permission denied" : "File not found"));
        } else {
            // A journal left by an interrupted write belongs to the file just removed.
            fs::remove(platform::toPath(path + "-journal"), ec);
        }
    }
    // The table is built before the file appears at its path, so a job starting meanwhile
    // never finds a database without its table.
    Status built = Status::success();
    trap.record(engine.createDatabase(path, [&](db::Database& fresh) {
        built = createResultsTable(fresh);
        return built;
    }));
    if (trap.failed() && built.ok()) {
        if (!state.blindFlag) dialogs.message("Could not create database", kAppTitle);
        return JobOutcome::failed("Could not create database: " + trap.last().description);
    }

    Status opened;
    std::unique_ptr<db::Database> database = engine.openDatabase(path, opened);
    trap.record(opened);
    if (database) {
        std::vector<db::FieldInfo> columns;
        if (trap.record(database->fields(kTableName, columns)).ok())
            state.numFieldsCaption = std::to_string(columns.size());
    }
    state.numbRecCaption = "0";
    if (database) database->close();
    if (trap.failed())
        return JobOutcome::failed("results table not created: " + trap.last().description);
    return JobOutcome::done();
}

}  // namespace

JobOutcome createDb(WindowState& state, Dialogs& dialogs, db::Engine& engine) {
    if (!state.blindFlag &&
        !dialogs.askYesNo("Delete ALL data and create a new DataBase, are you SURE ?", "")) {
        return JobOutcome::failed("reset not confirmed");
    }
    return resetDatabase(state, dialogs, engine, true);
}

Status appendRecord(db::Database& database, WindowState& state, ErrorTrap& trap,
                    char decimalSeparator) {
    const int running = ensureIsotopeColumns(database, state, trap, decimalSeparator);

    std::vector<db::FieldInfo> columns;
    trap.record(database.fields(kTableName, columns));
    columns.resize(std::min(columns.size(), static_cast<std::size_t>(std::max(running, 0))));
    PendingRecord record(std::move(columns), trap);

    std::int64_t count = 0;
    if (trap.record(database.recordCount(kTableName, count)).ok())
        record.set(kRecordNumberField, static_cast<double>(count + 1));

    const AnalysisReport& r = state.report;
    record.set("ID Text", fixedValue(r.idText));
    record.set("File Name", fixedValue(r.fileName));
    record.set("Date & time", fixedValue(r.dateAndTime));
    record.set("Sample Date", fixedValue(r.sampleDate));
    record.set("Counting Time", formatGeneral(r.countingTime, decimalSeparator));
    record.set("DT %", formatGeneral(r.deadTimePct, decimalSeparator));

    for (int i = 1; i <= isotopeCountOf(r); ++i) {
        for (int j = 1; j <= lineCountOf(r, i); ++j) {
            const std::string name = isotopeColumnName(state, i, j, decimalSeparator);
            const float v =
                lineValue(r.lines[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)],
                          state.appendMode);
            record.setIfPresent(name, formatGeneral(v, decimalSeparator));
        }
    }
    return trap.record(database.insertRecord(kTableName, record.values()));
}

JobOutcome appendIt(WindowState& state, Dialogs& dialogs, db::Engine& engine,
                    char decimalSeparator) {
    const std::string path = trimmedPath(state.apathText);
    if (platform::findNormalFile(path) != platform::Lookup::Found) {
        const bool savedBlind = state.blindFlag;
        state.blindFlag = true;
        resetDatabase(state, dialogs, engine, false);
        state.blindFlag = savedBlind;
    }

    ErrorTrap trap;
    Status opened;
    std::unique_ptr<db::Database> database =
        engine.openDatabase(trimmedPath(state.apathText), opened);
    trap.record(opened);
    if (trap.failed() || !database) {
        const std::string message = "Invalid path or file name [ " + state.apathText + " ] <" +
                                    trap.last().description + ">";
        if (!state.blindFlag) dialogs.message(message, kAppTitle);
        return JobOutcome::failed(message);
    }

    // Columns, record count and insert in one write transaction: two appends running at
    // once then neither add the same column twice nor take the same record number.
    const bool inTransaction = trap.record(database->beginWrite()).ok();
    Status saved = appendRecord(*database, state, trap, decimalSeparator);
    // The commit runs even when the insert failed: columns added on the way are kept.
    if (inTransaction) {
        const Status committed = trap.record(database->commit());
        if (!committed.ok()) {
            database->rollback();
            if (saved.ok()) saved = committed;
        }
    }
    std::int64_t count = 0;
    if (trap.record(database->recordCount(kTableName, count)).ok())
        state.numbRecCaption = std::to_string(count);
    database->close();
    state.appendItRed = true;
    if (!saved.ok()) return JobOutcome::failed("record not saved: " + saved.description);
    return JobOutcome::done();
}

}  // namespace krv
