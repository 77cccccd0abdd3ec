// A hostile machine: every file-system call of a program writing its files, in turn, fails
// with an I/O error or a full disk (injected by strace). Each way of writing is swept by one
// engine: krvarchiver's unattended append and reset, krvtool's bulk import and its export.
// Whatever fails, nothing stored is lost or changed, what is new is whole or absent (never
// twice), the exit status and one line say which, and the next clean run completes the job
// and leaves nothing behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "tests/support/raw_db.h"
#include "tests/support/report_archive.h"
#include "tests/support/results_table.h"
#include "tests/support/strace_calls.h"

namespace krv::testing {
namespace {

namespace fs = std::filesystem;

// The append's files: the calls it makes on them, and its report and an earlier one.
const std::vector<const char*> kKinds = {"openat",   "read",  "newfstatat", "fcntl", "pread64",
                                         "pwrite64", "write", "fdatasync",  "fsync", "ftruncate",
                                         "unlink",   "link",  "rename"};

std::string sweepReport() {
    return cobaltReport("SWEEP", block("K-40", {row("  1460.8", "300", "250", "7.5")}));
}

// What a database file holds, read through SQLite.
struct Snapshot {
    bool exists = false;
    std::string integrity;
    bool hasTable = false;
    std::vector<std::string> columns;  // "name TYPE"
    Rows rows;                         // every column, in rowid order
};

Snapshot snapshot(const std::string& path) {
    Snapshot s;
    s.exists = fs::exists(path);
    if (!s.exists) return s;
    RawDb db(path);
    s.integrity = db.scalar("PRAGMA integrity_check").value_or("none");
    s.hasTable = db.scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'SamData'") == "1";
    if (!s.hasTable) return s;
    s.columns = db.columns();
    s.rows = db.query("SELECT * FROM SamData ORDER BY rowid");
    return s;
}

// The first of `before`'s records whose values `after` does not keep in its leading
// columns; before.rows.size() when every one is kept.
std::size_t firstChanged(const Snapshot& before, const Snapshot& after) {
    for (std::size_t r = 0; r < before.rows.size(); ++r)
        if (after.rows[r].size() < before.rows[r].size() ||
            !std::equal(before.rows[r].begin(), before.rows[r].end(), after.rows[r].begin()))
            return r;
    return before.rows.size();
}

// The value of each named column in one row.
std::map<std::string, Cell> byName(const Snapshot& s, std::size_t row) {
    std::map<std::string, Cell> cells;
    for (std::size_t c = 0; c < s.columns.size(); ++c)
        cells[s.columns[c].substr(0, s.columns[c].rfind(' '))] = s.rows[row][c];
    return cells;
}

// A staging file a run failed to clean up.
void leftBehind(const fs::path& folder, Problems& problems) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".new-") != std::string::npos)
            problems.push_back("left behind: " + entry.path().filename().string());
}

enum Situation { ColumnsPresent, NewColumns, NoDatabase, Reset };

// The starting database of a situation and the record a clean run adds to it.
struct Start {
    std::string database;  // empty: no database
    Snapshot before;
    std::map<std::string, Cell> expectedRecord;  // by column name, "idxRec#" left out
};

QStringList prepareAppend(Situation s, const std::string& database, const JobFolder& folder) {
    if (s != NoDatabase) fs::copy_file(database, folder.database);
    folder.writeReport(sweepReport());
    return {QString::fromStdString(folder.file("krvarchiver")), s == Reset ? "RESET" : "NET"};
}

// What is wrong with what a faulted run says and leaves.
Problems problemsOf(Situation situation, const Start& start, const JobRun& run,
                    const Snapshot& after) {
    Problems problems;
    const auto say = [&](const std::string& what) { problems.push_back(what); };
    const auto reasons = reasonLines(run.stdErr);
    const auto anyReason = [&](const char* prefix, bool starts) {
        return std::any_of(reasons.begin(), reasons.end(), [&](const std::string& l) {
            return (l.rfind(prefix, 0) == 0) == starts;
        });
    };
    const int e = run.exitCode;
    if (e == 1 && reasons.size() != 1)
        say("exit 1 with " + std::to_string(reasons.size()) + " reason lines");
    if (e == 0 && !reasons.empty()) say("exit 0 with a reason line: " + reasons[0]);
    if (e == 3 && (reasons.empty() || anyReason("krvarchiver: not stored: ", false)))
        say("exit 3 without its list of missing values");
    // One failing call leaves the file readable again: the run can always look whether
    // its record got in, so "outcome unknown" (4) would be a look that failed needlessly.
    if (e != 0 && e != 1 && e != 3) say("exit status " + std::to_string(e));
    const Snapshot& before = start.before;
    if (!after.exists) {
        if (e != 1) say("no database, yet exit " + std::to_string(e));
        if (before.exists && situation != Reset) say("the database vanished");
        return problems;
    }
    if (after.integrity != "ok") say("integrity check: " + after.integrity);
    if (!after.hasTable) {
        say("a database without SamData");
    } else if (situation == Reset) {
        const bool unchanged = after.columns == before.columns && after.rows == before.rows;
        if (e == 0 && (after.columns.size() != 7 || !after.rows.empty()))
            say("reset reported, but the table is not empty and new");
        if (e == 1 && !unchanged) say("reset reported as failed, yet the database changed");
    } else if (after.rows.size() < before.rows.size()) {
        say("earlier records lost");
    } else {
        if (const std::size_t r = firstChanged(before, after); r < before.rows.size())
            say("earlier record " + std::to_string(r + 1) + " changed");
        const std::size_t added = after.rows.size() - before.rows.size();
        if (added > 1) say(std::to_string(added) + " records added");
        if (added == 0 && e != 1) say("no record saved, yet exit " + std::to_string(e));
        if (added == 0 && before.exists && after.columns != before.columns)
            say("columns of a failed append were kept");
        if (added != 1) return problems;
        if (e == 1) say("the record was saved, yet the run says it was not");
        const auto record = byName(after, after.rows.size() - 1);
        bool whole = true;
        for (const auto& [name, value] : start.expectedRecord) {
            auto it = record.find(name);
            if (it == record.end() || it->second != value) whole = false;
        }
        if (e == 0 && !whole) say("exit 0 with a record that is not whole");
        if (e == 3 && !whole && !anyReason("krvarchiver: not stored: report: ", true))
            say("a partial record without the report's reason");
    }
    return problems;
}

// The next clean append must work on whatever the fault left and add exactly its record.
Problems checkFollowUp(const JobFolder& bench, const Start& start, const Snapshot& left) {
    Problems problems;
    const JobRun next = bench.run({"NET"});
    if (next.exitCode != 0)
        return {"the next clean run failed (" + std::to_string(next.exitCode) +
                "): " + next.stdErr};
    const Snapshot after = snapshot(bench.database);
    if (after.integrity != "ok") problems.push_back("after the clean run: " + after.integrity);
    if (after.rows.size() != left.rows.size() + 1)
        return {"the clean run left " + std::to_string(after.rows.size()) + " records after " +
                std::to_string(left.rows.size())};
    if (firstChanged(left, after) < left.rows.size())
        problems.push_back("the clean run changed an earlier record");
    auto record = byName(after, after.rows.size() - 1);
    if (record["idxRec#"] != std::to_string(after.rows.size()))
        problems.push_back("the clean run's record number is " +
                           record["idxRec#"].value_or("null"));
    for (const auto& [name, value] : start.expectedRecord)
        if (record[name] != value) problems.push_back("the clean run's record differs in " + name);
    return problems;
}

Problems judgeAppend(Situation s, const Start& start, const JobFolder& f, const QStringList&,
                     const ProcessRun& run) {
    const Snapshot left = snapshot(f.database);
    Problems problems = problemsOf(s, start, run, left);
    leftBehind(f.path(), problems);
    if (problems.empty()) problems = checkFollowUp(f, start, left.hasTable ? left : Snapshot{});
    return problems;
}

// The append and reset from each starting state, built by clean runs of the program itself.
void addAppendPaths(std::vector<WritePath>& paths, std::map<Situation, Start>& starts,
                    const TestFolder& store) {
    JobFolder setup;
    const auto build = [&](const std::string& earlierReport, const std::string& name) {
        emptyFolder(setup);
        setup.writeReport(earlierReport);
        for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(setup.run({"GROSS"}).exitCode, 0);
        fs::copy_file(setup.database, store / name);
        return store.file(name);
    };
    starts[ColumnsPresent].database = starts[Reset].database = build(sweepReport(), "present.db");
    starts[NewColumns].database =
        build(report("EARLIER", block("CS-137", {row("661.66", "500", "400", "3.5")})), "other.db");
    const std::pair<Situation, const char*> situations[] = {
        {ColumnsPresent, "krvarchiver NET, columns present"},
        {NewColumns, "krvarchiver NET, new columns"},
        {NoDatabase, "krvarchiver NET, no database"},
        {Reset, "krvarchiver RESET over records"}};
    for (const auto& [s, name] : situations) {
        Start& start = starts[s];
        emptyFolder(setup);
        prepareAppend(s, start.database, setup);
        start.before = snapshot(setup.database);
        // The record a whole run adds, from a clean run on the same start.
        if (s == Reset) setup.run({"RESET"});
        EXPECT_EQ(setup.run({"NET"}).exitCode, 0);
        const Snapshot ref = snapshot(setup.database);
        ASSERT_FALSE(ref.rows.empty());
        start.expectedRecord = byName(ref, ref.rows.size() - 1);
        start.expectedRecord.erase("idxRec#");
        ASSERT_EQ(start.expectedRecord["ID Text"].value_or("").substr(0, 7), " SWEEP ");
        const auto judge = std::bind_front(judgeAppend, s, std::cref(start));
        paths.push_back(
            {name, kKinds, 200, {}, std::bind_front(prepareAppend, s, start.database), judge});
    }
}

// The bulk import of a small folder into a new store. No report is stored twice or without
// its ledger row, the exit status says what happened (0 all in, 3 some could not be read and
// are listed, 1 the store failed and what is stored says so), and a rerun completes the job.
constexpr int kReports = 3;

// Every report at most once, each with its ledger row; how many there are.
int storedReports(const JobFolder& folder, Problems& problems) {
    if (!fs::exists(folder / "r.db")) return 0;
    RawDb db(folder.file("r.db"));
    if (db.scalar("PRAGMA integrity_check") != "ok") problems.push_back("integrity check");
    if (db.scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'SamData'") != "1") return 0;
    const auto n = db.scalar("SELECT count(*) FROM SamData").value_or("0");
    // The ledger comes right after the store is made; a run that failed in between
    // imported nothing.
    if (db.scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'ImportedReports'") != "1") {
        if (n != "0") problems.push_back("records without a ledger");
        return 0;
    }
    if (db.scalar("SELECT count(DISTINCT \"ID Text\") FROM SamData") != n)
        problems.push_back("a report stored twice");
    if (db.scalar("SELECT count(*) FROM SamData s JOIN ImportedReports l ON s.\"idxRec#\" ="
                  " CAST(l.\"Record\" AS INTEGER)") != n)
        problems.push_back("records and ledger rows differ");
    return std::stoi(n);
}

Problems judgeImport(const JobFolder& folder, const QStringList& command, const ProcessRun& run) {
    Problems problems;
    const int n = storedReports(folder, problems), e = run.status;
    const auto lines = std::count(run.err.begin(), run.err.end(), '\n');
    if (e == 0 && n != kReports) problems.push_back("exit 0 with reports missing");
    if (e == 1 && n == kReports) problems.push_back("all imported, yet exit 1");
    if (e == 3 && (n == kReports || run.out.find("could not be read") == std::string::npos))
        problems.push_back("exit 3 without a report listed as unread");
    if (e != 0 && lines != 1)
        problems.push_back("exit " + std::to_string(e) + " with " + std::to_string(lines) +
                           " lines");
    // As for the append, a second look is always possible here: no 4.
    if (e != 0 && e != 1 && e != 3) problems.push_back("exit status " + std::to_string(e));
    const ProcessRun rerun = runTraced({"-o", "/dev/null", "-e", "trace=none"}, command);
    if (rerun.status != 0) problems.push_back("the rerun failed: " + rerun.err);
    if (storedReports(folder, problems) != kReports)
        problems.push_back("the rerun left reports out");
    leftBehind(folder.path(), problems);
    return problems;
}

WritePath importPath() {
    const auto prepare = [](const JobFolder& f) {
        writeManyReports(f / "in", kReports);
        const auto in = [&](const char* name) { return QString::fromStdString(f.file(name)); };
        return QStringList{KRV_TOOL, "import-reports", "--mode", "net", in("r.db"), in("in")};
    };
    return {"krvtool import-reports", kKinds, 60, {}, prepare, judgeImport};
}

// `krvtool export` over an earlier file: the earlier file stays as it was or the whole new
// export replaces it, the exit status and one line say which, the spreadsheet library prints
// nothing of its own, and the next clean run leaves nothing else behind.
constexpr const char* kEarlier = "an earlier export\n";

struct Exports {
    std::map<std::string, std::string> reference;  // a clean run's file, by format
    TestFolder written;  // the spreadsheets runs left, judged later by their sheet
    std::atomic<std::size_t> sheets{0};
    std::atomic<int> failed{0};
};

std::string exportTarget(const JobFolder& folder, const std::string& format) {
    return folder.file("out/out." + format);
}

void addExportPaths(std::vector<WritePath>& paths, Exports& x, const TestFolder& store) {
    // 400 records of 20 lines: a sheet of several of the library's buffers.
    const std::string db = store.file("results.db");
    std::vector<std::string> isotopes;
    for (int i = 1; i <= 20; ++i) isotopes.push_back("CO-" + std::to_string(i) + "@NET1");
    std::vector<db::Value> record = {db::Value(1.0), db::Value("S.CNF"), db::Value("S-1"),
                                     db::Value("5/14/02  09:31:05")};
    record.resize(7 + isotopes.size(), db::Value("1234,5"));
    ASSERT_TRUE(buildResultsDb(*db::makeEngine(), db, isotopes, {record}).ok());
    repeatFirstRecord(db, 400, "S-");

    for (const std::string format : {"csv", "xlsx"}) {
        const auto prepare = [db = QString::fromStdString(db), format](const JobFolder& f) {
            fs::create_directory(f / "out");
            writeFile(exportTarget(f, format), kEarlier);
            const QString target = QString::fromStdString(exportTarget(f, format));
            return QStringList{KRV_TOOL,       "export",   db,    "--format",
                               format.c_str(), "--output", target};
        };
        JobFolder bench;
        const QStringList command = prepare(bench);
        const ProcessRun clean = runTraced({}, command);
        ASSERT_EQ(clean.status, 0) << clean.err;
        x.reference[format] = readFile(exportTarget(bench, format));
        const auto judge = [&x, format](const JobFolder& f, const QStringList& command,
                                        const ProcessRun& run) {
            Problems problems;
            const std::string now = readFile(exportTarget(f, format));
            const auto lines = std::count(run.err.begin(), run.err.end(), '\n');
            if (run.status == 0 && !run.err.empty()) problems.push_back("exit 0 with: " + run.err);
            if (run.status == 1 && (lines != 1 || run.err.rfind("krvtool: ", 0) != 0))
                problems.push_back("exit 1 without exactly one line of ours");
            if (run.status != 0 && run.status != 1)
                problems.push_back("exit status " + std::to_string(run.status));
            if (run.status == 1) ++x.failed;
            // Only a failure after the rename (syncing the folder) leaves the new file.
            const bool replaced = run.status == 0 || (run.status == 1 && now != kEarlier);
            if (replaced && format == "csv" && now != x.reference.at("csv"))
                problems.push_back(run.status == 0 ? "exit 0, yet the file is not the whole export"
                                                   : "exit 1, and the earlier file was changed");
            // A spreadsheet is judged by its sheet: the workbook's other parts carry the time
            // it was made.
            if (replaced && format == "xlsx")
                fs::copy_file(exportTarget(f, format),
                              x.written.file(std::to_string(x.sheets++) + ".xlsx"));
            const ProcessRun again = runTraced({}, command);
            if (again.status != 0) problems.push_back("the next clean run failed: " + again.err);
            const auto files = std::distance(fs::directory_iterator(f / "out"), {});
            if (files != 1 || !fs::exists(exportTarget(f, format)))
                problems.push_back("left behind after the next run: " + std::to_string(files - 1) +
                                   " files");
            return problems;
        };
        const std::vector<const char*> kinds = {"openat", "read",   "write", "lseek",     "fsync",
                                                "rename", "unlink", "close", "newfstatat"};
        paths.push_back({"krvtool export " + format, kinds, 24, {"-f"}, prepare, judge});
    }
}

TEST(FaultSweep, EveryFailingFileCallLosesNothingAndSaysSo) {
    ASSERT_FALSE(straceProgram().isEmpty());
    TestFolder store;
    std::map<Situation, Start> starts;
    Exports exports;
    std::vector<WritePath> paths;
    ASSERT_NO_FATAL_FAILURE(addAppendPaths(paths, starts, store));
    paths.push_back(importPath());
    ASSERT_NO_FATAL_FAILURE(addExportPaths(paths, exports, store));

    const std::vector<Fault> faults = planFaults(paths);
    expectEveryKind(faults, "krvarchiver",
                    {"openat", "read", "newfstatat", "fcntl", "pread64", "pwrite64", "fdatasync",
                     "fsync", "unlink", "link"});
    expectEveryKind(faults, "krvtool import",
                    {"openat", "read", "fcntl", "pwrite64", "fdatasync", "link"});
    expectEveryKind(faults, "krvtool export xlsx",
                    {"openat", "write", "read", "fsync", "rename", "unlink"});
    sweepFaults(faults);
    EXPECT_GT(exports.failed, 0);

    // Every spreadsheet a run left holds the same sheet as the clean run's.
    const std::string cleanSheet = exports.written.file("clean.xlsx");
    writeFile(cleanSheet, exports.reference["xlsx"]);
    QStringList args{KRV_READ_BACK, "sheets", "401", QString::fromStdString(cleanSheet)};
    for (std::size_t i = 0; i < exports.sheets; ++i)
        args << QString::fromStdString(exports.written.file(std::to_string(i) + ".xlsx"));
    const ProcessRun py = runJobProcess(QStringLiteral("/usr/bin/python3"), args);
    EXPECT_EQ(py.status, 0) << py.err;
    EXPECT_EQ(py.out, "");
}

}  // namespace
}  // namespace krv::testing
