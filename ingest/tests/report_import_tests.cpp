// Archived reports in bulk: the same records as the unattended append, a ledger that
// agrees with them after any interruption, refusals that never stop the batch, and the
// folder watch.

#include <QProcess>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "ingest/folder_watch.h"
#include "ingest/report_import.h"
#include "platform/platform.h"
#include "report/tests/report_builder.h"
#include "tests/support/job_folder.h"
#include "tests/support/pg_server.h"
#include "tests/support/raw_db.h"

namespace krv::legacy {
namespace {

namespace fs = std::filesystem;
using namespace krv::testing;

std::string report(const std::string& id, const Lines& isotopes, const std::string& lt = "3600.0") {
    Lines lines{"ID: " + id, "File: " + id + ".CNF", "Date: 5/14/02  09:31:05"};
    if (!lt.empty()) lines.push_back(cols({{1, "LT:"}, {5, lt}, {30, "DT:   3.2%"}}));
    lines.push_back("Activities reported as of Measurement Date");
    lines.push_back("");
    append(lines, isotopes);
    lines.push_back("Analyst: R. Mendel");
    return join(lines);
}

// Reports that differ in isotopes, lines, layout and header lines, plus files that are not
// reports, in a folder with a subfolder.
void writeArchive(const fs::path& folder) {
    fs::create_directories(folder / "b-sub");
    writeFile(folder / "a1.txt",
              report("A1", block("CS-137", {row("661.66", "12,874", "11,902", "4.567E+01")})));
    writeFile(folder / "a2.txt", report("A2", [] {
                  Lines l = block("CO-60", {row("1173.20", "1,482", "1,036", "1.231E+01"),
                                            row("1332.50", "1,311", "944", "1.238E+01")});
                  append(l, block("K-40", {row("1460.82", "2,315", "1,877", "3.921E+02")}));
                  return l;
              }()));
    // No "LT:" line: a fresh run would store 0, not the previous report's time.
    writeFile(folder / "b-sub" / "c.txt",
              report("C", block("CO-60", {row2("1332.50", "500", "400", "2.0E+00")}, true), ""));
    writeFile(folder / "d-notes.txt", "shopping list\r\n");
    // Only an ID: every other header field empty, and isotopes in another order than their
    // columns.
    writeFile(folder / "g-bare.txt", [] {
        Lines l{"ID: G", ""};
        append(l, block("K-40", {row("1460.82", "2,000", "1,500", "3.0E+02")}));
        append(l, block("CS-137", {row("661.66", "9,000", "8,000", "4.0E+01")}));
        return join(l);
    }());
    writeFile(folder / "e-empty.txt", "");
    writeFile(folder / "f.txt", report("F", {}));
}

// Rows of a table while another process writes the store: waits out its commits, and
// counts a store or table not there yet as empty.
sqlite3_int64 rowsIn(const std::string& path, const std::string& table) {
    sqlite3* db = nullptr;
    sqlite3_int64 n = 0;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 1000);
        sqlite3_stmt* s = nullptr;
        const std::string sql = "SELECT count(*) FROM \"" + table + "\"";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            n = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return n;
}

const std::vector<std::string> kReportOrder = {"a1.txt", "a2.txt", "b-sub/c.txt", "f.txt",
                                               "g-bare.txt"};

ReportImportOptions optionsFor(int mode) {
    ReportImportOptions o;
    o.mode = mode;
    o.decimalSeparator = platform::systemDecimalSeparator();
    return o;
}

TEST(ReportImport, SameRecordsAsTheUnattendedAppendOnePerReport) {
    for (const auto& [mode, word] : {std::pair{1, "NET"}, std::pair{0, "APPEND"}}) {
        JobFolder job;
        writeArchive(job / "in");
        for (const auto& name : kReportOrder) {
            job.usePaths(job.file("unattended.db"), job.file("in/" + name));
            ASSERT_EQ(job.run({word}).exitCode, 0) << name;
        }
        auto engine = db::makeEngine();
        const std::string bulk = job.file("bulk.db");
        const auto s = importReports(*engine, bulk, {job.file("in")}, optionsFor(mode));
        ASSERT_TRUE(s.failure.ok()) << s.failure.description;
        EXPECT_EQ(s.imported, 5);
        ASSERT_EQ(s.refused.size(), 2u);
        EXPECT_EQ(s.refused[0].path, job.file("in/d-notes.txt"));
        EXPECT_EQ(s.refused[0].reason, "not a results report (no \"ID:\" line)");
        EXPECT_EQ(s.refused[1].reason, "empty file");

        RawDb a(job.file("unattended.db")), b(bulk);
        EXPECT_EQ(b.columns(), a.columns()) << word;
        const std::string all = "SELECT * FROM SamData ORDER BY rowid";
        EXPECT_EQ(b.query(all), a.query(all)) << word;
        EXPECT_EQ(
            b.query("SELECT \"Path\", \"Mode\", \"Record\" FROM ImportedReports"),
            (Rows{
                {job.file("in/a1.txt"), word == std::string("NET") ? "net" : "activity", "1"},
                {job.file("in/a2.txt"), word == std::string("NET") ? "net" : "activity", "2"},
                {job.file("in/b-sub/c.txt"), word == std::string("NET") ? "net" : "activity", "3"},
                {job.file("in/f.txt"), word == std::string("NET") ? "net" : "activity", "4"},
                {job.file("in/g-bare.txt"), word == std::string("NET") ? "net" : "activity",
                 "5"}}));
    }
}

TEST(ReportImport, LedgerSkipsWhatWasImportedInTheSameModeUnlessAgain) {
    TestFolder tmp;
    writeArchive(tmp / "in");
    auto engine = db::makeEngine();
    const std::string dest = tmp.file("r.db");
    const auto count = [&] { return RawDb(dest).scalar("SELECT count(*) FROM SamData"); };
    EXPECT_EQ(importReports(*engine, dest, {tmp.file("in")}, optionsFor(1)).imported, 5);
    auto second =
        importReports(*engine, dest, {tmp.file("in/a1.txt"), tmp.file("in")}, optionsFor(1));
    EXPECT_EQ(second.imported, 0);
    EXPECT_EQ(second.skipped, 6);  // a1 named twice counts twice
    EXPECT_EQ(count(), "5");
    // Another mode is another import; --again imports anyway; a copy under another name is
    // the same report.
    EXPECT_EQ(importReports(*engine, dest, {tmp.file("in/a1.txt")}, optionsFor(2)).imported, 1);
    auto again = optionsFor(1);
    again.again = true;
    EXPECT_EQ(importReports(*engine, dest, {tmp.file("in/a1.txt")}, again).imported, 1);
    fs::copy_file(tmp / "in" / "a2.txt", tmp / "copy.txt");
    EXPECT_EQ(importReports(*engine, dest, {tmp.file("copy.txt")}, optionsFor(1)).skipped, 1);
    EXPECT_EQ(count(), "7");
    EXPECT_EQ(RawDb(dest).scalar("SELECT group_concat(\"Record\") FROM ImportedReports"),
              "1,2,3,4,5,6,7");
    // Each batch leaves one entry in the trail, none for a run that imported nothing.
    EXPECT_EQ(RawDb(dest).scalar("SELECT group_concat(Note, '; ') FROM KrvAudit"
                                 " WHERE Operation = 'import'"),
              "5 reports in net mode; 1 reports in gross mode; 1 reports in net mode");

    // Missing paths are refused as such; a store that is not a results database is left alone.
    auto missing =
        importReports(*engine, dest, {tmp.file("gone"), tmp.file("in/a1.txt")}, optionsFor(3));
    ASSERT_EQ(missing.refused.size(), 1u);
    EXPECT_TRUE(missing.refused[0].walkFailed);
    EXPECT_EQ(missing.imported, 1);
    writeFile(tmp / "other.db", "some other file");
    auto refused = importReports(*engine, tmp.file("other.db"), {tmp.file("in")}, optionsFor(1));
    EXPECT_FALSE(refused.failure.ok());
    EXPECT_EQ(readFile(tmp / "other.db"), "some other file");
}

// Many stations share one server archive: a bulk import there stores what it stores in a
// file, and the ledger skips on the second run as it does there.
TEST(ReportImport, OnAServerTheSameRecordsAndLedgerAsInAFile) {
    PgServer& server = sharedPgServer();
    ASSERT_TRUE(server.running()) << server.error();
    TestFolder tmp;
    writeArchive(tmp / "in");
    auto engine = db::makeEngine();
    const std::string file = tmp.file("r.db"), uri = server.newDatabase();
    ASSERT_EQ(importReports(*engine, file, {tmp.file("in")}, optionsFor(1)).imported, 5);
    const auto s = importReports(*engine, uri, {tmp.file("in")}, optionsFor(1));
    ASSERT_TRUE(s.failure.ok()) << s.failure.description;
    EXPECT_EQ(s.imported, 5);
    EXPECT_EQ(s.refused.size(), 2u);
    EXPECT_TRUE(s.incomplete.empty());

    RawDb raw(file);
    // Every column the file has, by name: the server table also has a record identity of
    // its own that is no field.
    const auto all = [&] {
        std::string names;
        for (const auto& c :
             raw.query("SELECT name FROM pragma_table_info('SamData') ORDER BY cid"))
            names += (names.empty() ? "\"" : ", \"") + c[0].value_or("") + "\"";
        return "SELECT " + names + " FROM \"SamData\" ORDER BY \"idxRec#\"";
    };
    // A header field no line filled is all NUL characters, which server text cannot hold:
    // the server stores it empty.
    const auto fileRows = [&] {
        Rows rows = raw.query(all());
        for (auto& r : rows)
            for (auto& c : r)
                if (c && !c->empty() && c->find_first_not_of('\0') == std::string::npos) c.reset();
        return rows;
    };
    EXPECT_EQ(PgServer::query(uri, all()), fileRows());
    const std::string ledger =
        "SELECT \"Hash\", \"Record\" FROM \"ImportedReports\" ORDER BY \"Record\"";
    EXPECT_EQ(PgServer::query(uri, ledger), raw.query(ledger));
    EXPECT_EQ(importReports(*engine, uri, {tmp.file("in")}, optionsFor(1)).skipped, 5);

    // A report wanting more columns than the server's table may have: the rest are refused,
    // its record keeps the values that found a column, and the report after it still
    // arrives.
    fs::create_directories(tmp / "more");
    Lines wide;
    for (int i = 0; i < 11; ++i) {
        Lines rows;
        for (int j = 0; j < 25; ++j)
            rows.push_back(row(std::to_string(100 + 50 * j + i) + ".5", "10", "20", "3"));
        append(wide, block("W" + std::to_string(i), rows));
    }
    writeFile(tmp / "more" / "1.txt", report("M1", wide));
    writeFile(tmp / "more" / "2.txt",
              report("M2", block("CS-137", {row("661.66", "4", "5", "6")})));
    const auto more = importReports(*engine, uri, {tmp.file("more")}, optionsFor(1));
    ASSERT_TRUE(more.failure.ok()) << more.failure.description;
    EXPECT_EQ(more.imported, 2);
    ASSERT_EQ(more.incomplete.size(), 1u);
    EXPECT_NE(more.incomplete[0].reason.find("(Too many fields defined.) and 30 more values"),
              std::string::npos)
        << more.incomplete[0].reason;
    EXPECT_NE(summaryText(more, uri, optionsFor(1)).find("\nOf them, without some values: 1\n"),
              std::string::npos);
    EXPECT_EQ(PgServer::query(uri,
                              "SELECT \"ID Text\", \"W0@NET1\", \"CS-137@NET1\""
                              " FROM \"SamData\" WHERE \"idxRec#\" > 5 ORDER BY 1"),
              (Rows{{" M1" + std::string(69, ' '), "20", std::nullopt},
                    {" M2" + std::string(69, ' '), std::nullopt, "5"}}));
    EXPECT_EQ(PgServer::query(uri, "SELECT count(*) FROM \"ImportedReports\""), (Rows{{"7"}}));
    EXPECT_EQ(PgServer::query(uri,
                              "SELECT \"RecordNumber\", count(*) FROM \"KrvAudit\""
                              " WHERE \"Operation\" = 'missing values' GROUP BY 1"),
              (Rows{{"6", "31"}}));
}

// Killed in the middle, the store holds whole batches and a ledger row for each record;
// the rerun completes the job.
TEST(ReportImport, AKilledRunLeavesWholeRecordsAndARerunCompletesIt) {
    TestFolder tmp;
    fs::create_directories(tmp / "in");
    const int reports = 6000;
    for (int i = 0; i < reports; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "r%05d.txt", i);
        writeFile(tmp / "in" / name,
                  report("R" + std::to_string(i),
                         block("CS-137", {row("661.66", std::to_string(1000 + i), "900", "1.0")})));
    }
    // Killed while the store is being made, as soon as the first batch is committed (the
    // next one under way), and at a random moment.
    std::mt19937 rng(1207);
    for (const int moment : {0, 1, 2}) {
        SCOPED_TRACE(moment);
        const std::string dest = tmp.file("r" + std::to_string(moment) + ".db");
        QProcess p;
        p.start(KRV_TOOL, {"import-reports", "--mode", "net", QString::fromStdString(dest),
                           QString::fromStdString(tmp.file("in"))});
        ASSERT_TRUE(p.waitForStarted());
        if (moment == 1) {
            for (int waited = 0;
                 waited < 6000 && (!fs::exists(dest) || rowsIn(dest, "ImportedReports") == 0);
                 ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(
                std::uniform_int_distribution<int>(0, moment == 0 ? 40 : 1500)(rng)));
        }
        p.kill();
        p.waitForFinished();
        if (fs::exists(dest)) {
            RawDb raw(dest);
            const auto records = raw.scalar("SELECT count(*) FROM SamData");
            if (raw.scalar("SELECT count(*) FROM sqlite_schema WHERE name = 'ImportedReports'") ==
                "1") {
                EXPECT_EQ(raw.scalar("SELECT count(*) FROM ImportedReports"), records);
                EXPECT_EQ(
                    raw.scalar("SELECT count(*) FROM SamData s JOIN ImportedReports l ON "
                               "s.\"idxRec#\" = CAST(l.\"Record\" AS INTEGER) AND trim(s.\"ID "
                               "Text\") = 'R' || CAST(l.\"Record\" - 1 AS TEXT)"),
                    records);
            }
            if (moment == 1) {
                EXPECT_NE(records, std::to_string(reports));  // in the middle
            }
        }
        QProcess rerun;
        rerun.start(KRV_TOOL, {"import-reports", "--mode", "net", QString::fromStdString(dest),
                               QString::fromStdString(tmp.file("in"))});
        ASSERT_TRUE(rerun.waitForFinished(120'000));
        EXPECT_EQ(rerun.exitCode(), 0) << rerun.readAllStandardError().toStdString();
        EXPECT_EQ(RawDb(dest).scalar("SELECT count(*) || ' ' || count(DISTINCT \"idxRec#\") "
                                     "FROM SamData"),
                  std::to_string(reports) + " " + std::to_string(reports));
        for (const auto& entry : fs::directory_iterator(tmp.path()))
            EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos)
                << entry.path();
    }
}

// The watch under a clock the test moves: settle 3 s, settle-open 60 s.
class WatchBench {
  public:
    WatchBench()
        : watch_(
              *engine_, tmp.file("in"), tmp.file("r.db"), optionsFor(1),
              WatchOptions{std::chrono::seconds(3), std::chrono::seconds(60), {"*.lst"}},
              [this](const std::string& line) { log.push_back(line); }, [this] { return now_; }) {
        fs::create_directories(tmp / "in");
    }
    // Moves the clock on, then looks once.
    bool after(int ms) {
        now_ += std::chrono::milliseconds(ms);
        return watch_.poll();
    }
    std::int64_t imported() const { return watch_.imported(); }
    std::string ids() {
        return RawDb(tmp.file("r.db"))
            .scalar("SELECT group_concat(trim(\"ID Text\")) FROM SamData")
            .value_or("");
    }
    fs::path in(const std::string& name) const { return tmp / "in" / name; }

    TestFolder tmp;
    std::vector<std::string> log;

  private:
    std::unique_ptr<db::Engine> engine_ = db::makeEngine();
    std::chrono::steady_clock::time_point now_{};
    FolderWatch watch_;
};

const std::string kWatched =
    report("W1", block("CS-137", {row("661.66", "12,874", "11,902", "4.567E+01")}));

// Each step changes the folder, moves the clock and looks; the count is what the watch has
// imported by then.
struct WatchStep {
    std::function<void(WatchBench&)> change;
    int afterMs;
    int imported;
};

TEST(FolderWatch, AReportIsImportedOnceWholeHoweverItIsWritten) {
    const auto write = [](std::string name, std::string text) {
        return [=](WatchBench& b) { writeFile(b.in(name), text); };
    };
    const auto nothing = [](WatchBench&) {};
    const std::string header = kWatched.substr(0, kWatched.find("CS-137"));
    const std::string inTable = kWatched.substr(0, kWatched.find("Analyst") - 4);
    const struct {
        const char* name;
        std::vector<WatchStep> steps;
        const char* logged;  // a line the log must hold
    } cases[] = {
        {"written slowly under its final name",
         {{write("w1.txt", header), 0, 0},
          {nothing, 2900, 0},
          {write("w1.txt", kWatched), 100, 0},
          {nothing, 2900, 0},
          {nothing, 200, 1},
          {nothing, 5000, 1}},
         "imported "},
        {"written under a temporary name, then renamed",
         {{write("w1.tmp", kWatched), 0, 0},
          {write("~w1.txt", kWatched), 10000, 0},
          {write(".w1.txt", kWatched), 10000, 0},
          {[](WatchBench& b) { fs::rename(b.in("w1.tmp"), b.in("w1.txt")); }, 10000, 0},
          {nothing, 3000, 1}},
         "imported "},
        {"its table cut off: waits for the longer settle time",
         {{write("w1.txt", inTable), 0, 0},
          {nothing, 3000, 0},
          {nothing, 56000, 0},
          {nothing, 1000, 1}},
         "ends inside its isotope table and did not change for 60 s; imported as it stands"},
        {"rewritten with the same content: skipped",
         {{write("w1.txt", kWatched), 0, 0},
          {nothing, 3000, 1},
          {write("w1.txt", kWatched + " "), 1000, 1},
          {write("w1.txt", kWatched), 1000, 1},
          {nothing, 3000, 1}},
         "skipped "},
        {"a name the user ignores", {{write("w1.lst", kWatched), 0, 0}, {nothing, 9000, 0}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchBench b;
        int step = 0;
        for (const auto& s : c.steps) {
            s.change(b);
            EXPECT_TRUE(b.after(s.afterMs));
            EXPECT_EQ(b.imported(), s.imported) << "step " << step++;
        }
        if (b.imported()) {
            EXPECT_EQ(b.ids(), "W1");
        }
        const bool found = std::any_of(b.log.begin(), b.log.end(), [&](const std::string& l) {
            return l.find(c.logged) != std::string::npos;
        });
        EXPECT_TRUE(found || !*c.logged) << ::testing::PrintToString(b.log);
    }
}

TEST(FolderWatch, AFolderThatVanishesIsWaitedFor) {
    WatchBench b;
    writeFile(b.in("w1.txt"), kWatched);
    EXPECT_TRUE(b.after(0));
    fs::rename(b.tmp / "in", b.tmp / "away");
    EXPECT_FALSE(b.after(3000));
    EXPECT_FALSE(b.after(3000));
    fs::rename(b.tmp / "away", b.tmp / "in");
    writeFile(b.in("junk.bin"), "\x01\x02");
    EXPECT_TRUE(b.after(0));
    EXPECT_TRUE(b.after(3000));
    EXPECT_EQ(b.imported(), 1);
    EXPECT_EQ(b.ids(), "W1");
    EXPECT_EQ(
        b.log,
        (std::vector<std::string>{
            "folder unavailable, waiting: " + b.tmp.file("in") + " (No such file or directory)",
            "folder available again: " + b.tmp.file("in"), "imported " + b.tmp.file("in/w1.txt"),
            "refused " + b.tmp.file("in/junk.bin") + ": not a results report (no \"ID:\" line)"}));
}

TEST(ReportImport, AReportThatCannotBeReadIsAFailureOfThatFileAlone) {
    TestFolder tmp;
    writeArchive(tmp / "in");
    fs::create_directories(tmp / "in" / "a15.txt");  // read as a file, it fails as I/O does
    auto engine = db::makeEngine();
    ReportImporter importer(*engine, tmp.file("r.db"), optionsFor(1));
    ASSERT_TRUE(importer.open().ok());
    std::string reason;
    for (const auto& [name, result] : {std::pair{"a1.txt", ReportImporter::Result::Imported},
                                       std::pair{"a15.txt", ReportImporter::Result::Failed},
                                       std::pair{"gone.txt", ReportImporter::Result::Failed},
                                       std::pair{"d-notes.txt", ReportImporter::Result::Refused},
                                       std::pair{"f.txt", ReportImporter::Result::Imported}})
        EXPECT_EQ(importer.add(tmp.file("in/") + name, reason), result) << name << ": " << reason;
    ASSERT_TRUE(importer.finish().ok());
    EXPECT_EQ(importer.committed(), 2);
}

// Two stations, or a watch and a manual import, at the same folder at once: every report
// once, into a file or a server, and neither run fails because the other made the store.
TEST(ReportImport, TwoImportsOfOneFolderAtOnceStoreEachReportOnce) {
    PgServer& server = sharedPgServer();
    ASSERT_TRUE(server.running()) << server.error();
    TestFolder tmp;
    constexpr int kReports = 300;
    fs::create_directories(tmp / "in");
    for (int i = 0; i < kReports; ++i)
        writeFile(tmp / "in" / ("r" + std::to_string(1000 + i) + ".txt"),
                  report("R" + std::to_string(i),
                         block("CS-137", {row("661.66", std::to_string(i), "900", "1.0")})));
    for (int trial = 0; trial < 3; ++trial) {
        for (const bool onServer : {false, true}) {
            SCOPED_TRACE(std::string(onServer ? "server" : "file") + " trial " +
                         std::to_string(trial));
            const std::string dest =
                onServer ? server.newDatabase() : tmp.file("r" + std::to_string(trial) + ".db");
            QProcess runs[2];
            for (auto& p : runs)
                p.start(KRV_TOOL, {"import-reports", "--mode", "net", QString::fromStdString(dest),
                                   QString::fromStdString(tmp.file("in"))});
            for (auto& p : runs) {
                ASSERT_TRUE(p.waitForFinished(120'000));
                EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
            }
            const std::string counts =
                "SELECT count(*) || ' ' || count(DISTINCT \"ID Text\") || ' ' || "
                "(SELECT count(*) FROM \"ImportedReports\") FROM \"SamData\"";
            const std::string want = std::to_string(kReports) + " " + std::to_string(kReports) +
                                     " " + std::to_string(kReports);
            if (onServer)
                EXPECT_EQ(PgServer::query(dest, counts), (Rows{{want}}));
            else
                EXPECT_EQ(RawDb(dest).scalar(counts), want);
        }
    }
}

// The command runs until stopped and commits each report as it comes.
TEST(FolderWatch, TheCommandImportsWhatArrivesUntilItIsStopped) {
    TestFolder tmp;
    fs::create_directories(tmp / "in");
    const std::string dest = tmp.file("r.db");
    QProcess p;
    p.start(KRV_TOOL, {"watch", "--mode", "gross", "--interval", "0.1", "--settle", "1",
                       QString::fromStdString(tmp.file("in")), QString::fromStdString(dest)});
    ASSERT_TRUE(p.waitForStarted());
    // Written slowly by a writer that keeps the file open, pausing longer than the settle
    // time between the header and the table.
    const std::string whole =
        report("X", block("CS-137", {row("661.66", "12,874", "11,902", "4.567E+01")}));
    const auto began = std::chrono::steady_clock::now();
    {
        std::ofstream out(tmp / "in" / "x.txt", std::ios::binary);
        out << whole.substr(0, 40) << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        out << whole.substr(40) << std::flush;
    }
    const auto written = std::chrono::steady_clock::now();
    for (int waited = 0; waited < 500 && rowsIn(dest, "SamData") == 0; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // Within its settle time plus a second of being whole.
    EXPECT_LT(std::chrono::steady_clock::now() - written, std::chrono::seconds(2));
    EXPECT_GT(written - began, std::chrono::seconds(2));
    EXPECT_EQ(p.state(), QProcess::Running);
    p.terminate();  // SIGTERM: a clean stop
    ASSERT_TRUE(p.waitForFinished(10'000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(RawDb(dest).scalar("SELECT count(*) || ' ' || \"CS-137@GROSS1\" FROM SamData"),
              "1 12874");
    const std::string out = p.readAllStandardOutput().toStdString();
    EXPECT_NE(out.find("imported " + tmp.file("in/x.txt")), std::string::npos) << out;
    EXPECT_NE(out.find("stopped watching " + tmp.file("in") + " (1 reports imported)"),
              std::string::npos)
        << out;
    EXPECT_FALSE(fs::exists(dest + "-journal"));
}

}  // namespace
}  // namespace krv::legacy
