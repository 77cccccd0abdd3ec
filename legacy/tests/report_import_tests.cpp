// Archived reports in bulk: the same records as the unattended append, a ledger that
// agrees with them after any interruption, refusals that never stop the batch, and the
// folder watch.

#include <QProcess>
#include <chrono>
#include <filesystem>
#include <thread>

#include "legacy/folder_watch.h"
#include "legacy/report_import.h"
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

TEST(ReportImport, AReportThatVanishesIsRefusedAndTheBatchGoesOn) {
    TestFolder tmp;
    writeArchive(tmp / "in");
    auto engine = db::makeEngine();
    ReportImporter importer(*engine, tmp.file("r.db"), optionsFor(1));
    ASSERT_TRUE(importer.open().ok());
    std::string reason;
    EXPECT_EQ(importer.add(tmp.file("in/a1.txt"), reason), ReportImporter::Result::Imported);
    fs::remove(tmp / "in" / "a2.txt");
    EXPECT_EQ(importer.add(tmp.file("in/a2.txt"), reason), ReportImporter::Result::Refused);
    EXPECT_NE(reason.find("cannot be read"), std::string::npos) << reason;
    EXPECT_EQ(importer.add(tmp.file("in/f.txt"), reason), ReportImporter::Result::Imported);
    ASSERT_TRUE(importer.finish().ok());
    EXPECT_EQ(importer.committed(), 2);
    EXPECT_FALSE(fs::exists(tmp / "in" / "a2.txt"));  // never created by the import
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
    const std::string dest = tmp.file("r.db");
    QProcess p;
    p.start(KRV_TOOL, {"import-reports", "--mode", "net", QString::fromStdString(dest),
                       QString::fromStdString(tmp.file("in"))});
    ASSERT_TRUE(p.waitForStarted());
    // Killed as soon as the first batch is committed, while the next one is under way.
    for (int waited = 0;
         waited < 6000 && (!fs::exists(dest) || rowsIn(dest, "ImportedReports") == 0); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    p.kill();
    p.waitForFinished();
    {
        RawDb raw(dest);
        const auto records = raw.scalar("SELECT count(*) FROM SamData");
        EXPECT_EQ(raw.scalar("SELECT count(*) FROM ImportedReports"), records);
        EXPECT_EQ(
            raw.scalar("SELECT count(*) FROM SamData s JOIN ImportedReports l ON "
                       "s.\"idxRec#\" = CAST(l.\"Record\" AS INTEGER) AND trim(s.\"ID Text\") "
                       "= 'R' || CAST(l.\"Record\" - 1 AS TEXT)"),
            records);
        EXPECT_NE(records, std::to_string(reports));  // the kill came in the middle
        RecordProperty("records when killed", records.value_or("?"));
    }
    QProcess rerun;
    rerun.start(KRV_TOOL, {"import-reports", "--mode", "net", QString::fromStdString(dest),
                           QString::fromStdString(tmp.file("in"))});
    ASSERT_TRUE(rerun.waitForFinished(120'000));
    EXPECT_EQ(rerun.exitCode(), 0) << rerun.readAllStandardError().toStdString();
    EXPECT_EQ(RawDb(dest).scalar("SELECT count(*) FROM SamData"), std::to_string(reports));
    EXPECT_EQ(RawDb(dest).scalar("SELECT count(DISTINCT \"idxRec#\") FROM SamData"),
              std::to_string(reports));
}

TEST(FolderWatch, ImportsAReportOnceItStopsGrowingAndWaitsForAVanishedFolder) {
    TestFolder tmp;
    const fs::path in = tmp / "in";
    fs::create_directories(in);
    auto engine = db::makeEngine();
    const std::string dest = tmp.file("r.db");
    std::vector<std::string> log;
    FolderWatch watch(*engine, tmp.file("in"), dest, optionsFor(1),
                      [&](const std::string& line) { log.push_back(line); });
    const std::string whole =
        report("W1", block("CS-137", {row("661.66", "12,874", "11,902", "4.567E+01")}));
    writeFile(in / "w1.txt", whole.substr(0, 100));
    EXPECT_TRUE(watch.poll());  // first seen
    writeFile(in / "w1.txt", whole);
    EXPECT_TRUE(watch.poll());  // still growing
    EXPECT_EQ(watch.imported(), 0);
    EXPECT_TRUE(watch.poll());  // unchanged since the last look
    EXPECT_EQ(watch.imported(), 1);
    EXPECT_TRUE(watch.poll());
    EXPECT_EQ(watch.imported(), 1);  // once only

    fs::rename(in, tmp / "away");
    EXPECT_FALSE(watch.poll());
    EXPECT_FALSE(watch.poll());
    fs::rename(tmp / "away", in);
    writeFile(in / "w2.txt", report("W2", {}));
    writeFile(in / "junk.bin", "\x01\x02");
    EXPECT_TRUE(watch.poll());
    EXPECT_TRUE(watch.poll());
    EXPECT_EQ(watch.imported(), 2);
    EXPECT_EQ(RawDb(dest).scalar("SELECT group_concat(trim(\"ID Text\")) FROM SamData"), "W1,W2");
    EXPECT_EQ(log,
              (std::vector<std::string>{
                  "imported " + tmp.file("in/w1.txt"),
                  "folder unavailable, waiting: " + tmp.file("in") + " (No such file or directory)",
                  "folder available again: " + tmp.file("in"),
                  "refused " + tmp.file("in/junk.bin") + ": not a results report (no \"ID:\" line)",
                  "imported " + tmp.file("in/w2.txt")}));
}

// The command runs until stopped and commits each report as it comes.
TEST(FolderWatch, TheCommandImportsWhatArrivesUntilItIsStopped) {
    TestFolder tmp;
    fs::create_directories(tmp / "in");
    const std::string dest = tmp.file("r.db");
    QProcess p;
    p.start(KRV_TOOL, {"watch", "--mode", "gross", "--interval", "0.1",
                       QString::fromStdString(tmp.file("in")), QString::fromStdString(dest)});
    ASSERT_TRUE(p.waitForStarted());
    writeFile(tmp / "in" / "x.txt",
              report("X", block("CS-137", {row("661.66", "12,874", "11,902", "4.567E+01")})));
    for (int waited = 0; waited < 500 && rowsIn(dest, "SamData") == 0; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(p.state(), QProcess::Running);
    p.kill();
    p.waitForFinished();
    EXPECT_EQ(RawDb(dest).scalar("SELECT \"CS-137@GROSS1\" FROM SamData"), "12874");
    EXPECT_NE(p.readAllStandardOutput().toStdString().find("imported " + tmp.file("in/x.txt")),
              std::string::npos);
}

}  // namespace
}  // namespace krv::legacy
