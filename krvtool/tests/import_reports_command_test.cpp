// krvtool import-reports and watch as job scripts run them: the same records as the
// unattended append, whole batches after a kill, two runs at one folder, a clean stop.

#include <QProcess>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "krvtool/tests/killed_run.h"
#include "tests/support/job_folder.h"
#include "tests/support/pg_server.h"
#include "tests/support/raw_db.h"
#include "tests/support/report_archive.h"

namespace krv::ingest {
namespace {

namespace fs = std::filesystem;
using namespace krv::testing;

// Rows of a table while another process writes the store, as the sqlite3 shell counts them
// read-only: it waits out the writer's commits, and a store or table not there yet has none.
long long rowsIn(const std::string& path, const std::string& table) {
    return std::atoll(
        runJobProcess("sqlite3",
                      {"-readonly", "-cmd", ".timeout 1000", QString::fromStdString(path),
                       QString::fromStdString("SELECT count(*) FROM \"" + table + "\"")})
            .out.c_str());
}

QStringList importArgs(const std::string& dest, const std::string& folder,
                       const char* mode = "net") {
    return {"import-reports", "--mode", mode, QString::fromStdString(dest),
            QString::fromStdString(folder)};
}

TEST(ImportReportsCommand, SameRecordsAsTheUnattendedAppendOnePerReport) {
    for (const auto& [mode, word] : {std::pair{"net", "NET"}, std::pair{"activity", "APPEND"}}) {
        JobFolder job;
        writeArchive(job / "in");
        for (const auto& name : kReportOrder) {
            job.usePaths(job.file("unattended.db"), job.file("in/" + name));
            ASSERT_EQ(job.run({word}).exitCode, 0) << name;
        }
        const std::string bulk = job.file("bulk.db");
        const ProcessRun run = runJobProcess(KRV_TOOL, importArgs(bulk, job.file("in"), mode));
        EXPECT_EQ(run.out, "Imported 5 reports into " + bulk +
                               "\nSkipped 0 already imported in mode " + mode + "\nRefused 2:\n  " +
                               job.file("in/d-notes.txt") +
                               ": not a results report (no \"ID:\" line)\n  " +
                               job.file("in/e-empty.txt") + ": empty file\n");
        EXPECT_EQ(run.status, 0) << run.err;

        RawDb a(job.file("unattended.db")), b(bulk);
        EXPECT_EQ(b.columns(), a.columns()) << word;
        const std::string all = "SELECT * FROM SamData ORDER BY rowid";
        EXPECT_EQ(b.query(all), a.query(all)) << word;
        Rows ledger;
        for (const auto& name : kReportOrder)
            ledger.push_back({job.file("in/" + name), mode, std::to_string(ledger.size() + 1)});
        EXPECT_EQ(b.query("SELECT \"Path\", \"Mode\", \"Record\" FROM ImportedReports"), ledger);
    }
}

// Killed in the middle, the store holds whole batches and a ledger row for each record;
// the rerun completes the job.
TEST(ImportReportsCommand, AKilledRunLeavesWholeRecordsAndARerunCompletesIt) {
    TestFolder tmp;
    const int reports = 6000;
    writeManyReports(tmp / "in", reports);
    // Killed while the store is being made, as soon as the first batch is committed (the
    // next one under way), and at a random moment.
    std::mt19937 rng(1207);
    for (const int moment : {0, 1, 2}) {
        SCOPED_TRACE(moment);
        const std::string dest = tmp.file("r" + std::to_string(moment) + ".db");
        killDuring(
            importArgs(dest, tmp.file("in")),
            std::chrono::milliseconds(
                std::uniform_int_distribution<int>(0, moment == 0 ? 40 : 1500)(rng)),
            moment != 1 ? std::function<bool()>()
                        : [&] { return fs::exists(dest) && rowsIn(dest, "ImportedReports") > 0; });
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
            EXPECT_TRUE(moment != 1 || records != std::to_string(reports)) << "not in the middle";
        }
        expectRerunCompletes(importArgs(dest, tmp.file("in")), tmp.path());
        EXPECT_EQ(RawDb(dest).scalar("SELECT count(*) || ' ' || count(DISTINCT \"idxRec#\") "
                                     "FROM SamData"),
                  std::to_string(reports) + " " + std::to_string(reports));
    }
}

// Two stations, or a watch and a manual import, at the same folder at once: every report
// once, into a file or a server, and neither run fails because the other made the store.
TEST(ImportReportsCommand, TwoImportsOfOneFolderAtOnceStoreEachReportOnce) {
    PgServer& server = sharedPgServer();
    ASSERT_TRUE(server.running()) << server.error();
    TestFolder tmp;
    constexpr int kReports = 300;
    writeManyReports(tmp / "in", kReports);
    for (int trial = 0; trial < 3; ++trial) {
        for (const bool onServer : {false, true}) {
            SCOPED_TRACE(std::string(onServer ? "server" : "file") + " trial " +
                         std::to_string(trial));
            const std::string dest =
                onServer ? server.newDatabase() : tmp.file("r" + std::to_string(trial) + ".db");
            QProcess runs[2];
            for (auto& p : runs) startJobProcess(p, KRV_TOOL, importArgs(dest, tmp.file("in")));
            for (auto& p : runs) {
                ASSERT_TRUE(p.waitForFinished(120'000));
                EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
            }
            const std::string counts =
                "SELECT count(*) || ' ' || count(DISTINCT \"ID Text\") || ' ' || "
                "(SELECT count(*) FROM \"ImportedReports\") FROM \"SamData\"";
            const std::string n = std::to_string(kReports);
            EXPECT_EQ(
                onServer ? PgServer::query(dest, counts).at(0).at(0) : RawDb(dest).scalar(counts),
                n + " " + n + " " + n);
        }
    }
}

// The command runs until stopped and commits each report as it comes.
TEST(WatchCommand, ImportsWhatArrivesUntilItIsStopped) {
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
}  // namespace krv::ingest
