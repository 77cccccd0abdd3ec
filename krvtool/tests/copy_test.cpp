// krvtool copy between a file and a server, both ways, against a real server.

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "krvtool/tests/killed_run.h"
#include "krvtool/tool.h"
#include "report/parser.h"
#include "results_db/archive.h"
#include "tests/support/pg_server.h"
#include "tests/support/raw_db.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/report_archive.h"
#include "tests/support/results_table.h"
#include "tests/support/test_folder.h"
#include "tests/support/tool_run.h"

namespace krv::tool {
namespace {

using testing::ToolRun;
namespace fs = std::filesystem;

QString q(const std::string& s) { return QString::fromStdString(s); }

// The checksum of a copy's source; the whole output says the destination's is the same.
std::string checksum(const ToolRun& c) {
    const std::string out = c.out.str(), source = out.substr(13, out.find('\n') - 13);
    EXPECT_EQ(out, "source:      " + source + "\ndestination: " + source + "\n");
    return source;
}

struct Copy : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(server.running()) << server.error(); }
    testing::PgServer& server = testing::sharedPgServer();
    testing::TestFolder tmp;
};

TEST_F(Copy, FileToServerAndBackKeepsEverythingAskedAndRefusesTheRest) {
    const std::string file = tmp.file("lab.mdb"), uri = server.newDatabase();
    // An archive with two modes' columns, a record deleted in the middle (so the
    // identities have a gap) and a text beyond ASCII.
    WindowState state;
    state.apathText = file;
    testing::RecordingDialogs dialogs;
    auto engine = db::makeEngine();
    ASSERT_TRUE(parseReportText(
        testing::report("Soil \xB5 7",
                        testing::block("CO-60", {testing::row("1173.20", "1000", "900", "11.5"),
                                                 testing::row("1332.50", "850", "800", "12.5")})),
        state.report));
    for (int mode : {1, 2, 0, 3, 1}) {
        state.appendMode = static_cast<std::int16_t>(mode);
        ASSERT_TRUE(appendIt(state, dialogs, *engine, '.').ok);
    }
    testing::RawDb(file).query("DELETE FROM SamData WHERE rowid = 2");

    ToolRun up({"copy", q(file), q(uri)});
    ASSERT_EQ(up.status, kDone) << up.err.str();
    const std::string source = checksum(up);
    EXPECT_EQ(source.rfind("4 records, 15 columns, checksum ", 0), 0u) << source;
    // Columns in order with their sizes, values in record order, the hidden identity aside.
    std::string columns =
        "idxRec# smallint, File Name character varying(255), ID Text character varying(128), "
        "Date & time character varying(30), Sample Date character varying(24), Counting Time "
        "character varying(10), DT % character varying(10)";
    for (const char* c : {"NET1", "NET2", "GROSS1", "GROSS2", "LINE1", "LINE2", "BKG1", "BKG2"})
        columns += std::string(", CO-60@") + c + " character varying(10)";
    EXPECT_EQ(testing::PgServer::query(
                  uri,
                  "SELECT string_agg(attname || ' ' || format_type(atttypid, atttypmod), "
                  "', ' ORDER BY attnum) FROM pg_attribute WHERE attrelid = "
                  "'\"SamData\"'::regclass AND attnum > 1")[0][0],
              columns);

    const std::string back = tmp.file("back.mdb");
    ToolRun down({"copy", q(uri), q(back)});
    ASSERT_EQ(down.status, kDone) << down.err.str();
    EXPECT_EQ(checksum(down), source);
    // Back in a file, the records are those of the original, without its gap.
    const std::string all = "SELECT * FROM SamData ORDER BY rowid";
    const testing::Rows copied = testing::RawDb(back).query(all);
    EXPECT_EQ(copied.size(), 4u);
    EXPECT_EQ(copied, testing::RawDb(file).query(all));

    // A destination that holds records is replaced only when asked.
    ToolRun again({"copy", q(file), q(uri)});
    EXPECT_EQ(again.status, kFailed);
    EXPECT_EQ(again.err.str(),
              "krvtool: " + uri + ": holds 4 records; --replace replaces them with the copy\n");
    ToolRun replaced({"copy", "--replace", q(file), q(uri)});
    EXPECT_EQ(replaced.status, kDone) << replaced.err.str();
    EXPECT_EQ(testing::PgServer::query(uri, "SELECT count(*) FROM \"SamData\"")[0][0], "4");

    // A file that is not a results database is never overwritten, --replace or not.
    const std::string notes = tmp.file("notes.txt");
    testing::writeFile(notes, "lab notes\n");
    ToolRun refused({"copy", "--replace", q(uri), q(notes)});
    EXPECT_EQ(refused.status, kFailed);
    EXPECT_NE(refused.err.str().find("Unrecognized database format"), std::string::npos)
        << refused.err.str();
    EXPECT_EQ(testing::readFile(notes), "lab notes\n");

    // The import ledger and the trail go with the records: reports imported before the copy
    // are skipped after it, and the trail says the copy was made.
    testing::writeManyReports(tmp / "in", 2);
    const ingest::ReportImportOptions net = testing::optionsFor(1);
    ASSERT_EQ(ingest::importReports(*engine, file, {tmp.file("in")}, net).imported, 2);
    const std::string trail = server.newDatabase();
    const ToolRun withLedger({"copy", q(file), q(trail)});
    ASSERT_EQ(withLedger.status, kDone) << withLedger.err.str();
    const auto reimport = ingest::importReports(*engine, trail, {tmp.file("in")}, net);
    EXPECT_EQ(reimport.imported, 0);
    EXPECT_EQ(reimport.skipped, 2);
    EXPECT_EQ(testing::PgServer::query(trail,
                                       "SELECT \"Operation\", \"Note\" FROM \"KrvAudit\" "
                                       "ORDER BY \"KrvRecordId\""),
              (testing::Rows{{"import", "2 reports in net mode"},
                             {"copy", "copied 6 records from " + file}}));

    // A text with a NUL character cannot go to a server; the copy says where it is.
    testing::RawDb(file).query(
        "UPDATE SamData SET \"Sample Date\" = char(65, 0, 66) WHERE rowid = 4");
    ToolRun nul({"copy", "--replace", q(file), q(uri)});
    EXPECT_EQ(nul.status, kFailed);
    EXPECT_EQ(nul.err.str(),
              "krvtool: " + uri +
                  ": record 3, column 'Sample Date': holds a NUL character, which "
                  "a server cannot store; clear or correct it in the source first\n");
}

// Killed at any moment, a copy leaves the destination as it was or the whole copy, never a
// part; --replace keeps the old records until the new ones are complete; the next copy
// leaves nothing private behind.
TEST_F(Copy, AKilledCopyLeavesTheOldDestinationOrTheWholeCopy) {
    const std::string big = tmp.file("big.mdb");
    constexpr int kRecords = 1500, kBackup = 50;
    std::vector<std::vector<db::Value>> records;
    for (int i = 0; i < kRecords; ++i)
        records.push_back({static_cast<double>(i % 30000), "F" + std::to_string(i), "ID", "d", "s",
                           "1", "2", std::to_string(i), "x"});
    auto engine = db::makeEngine();
    ASSERT_TRUE(testing::buildResultsDb(*engine, big, {"A@NET1", "B@NET1"}, records).ok());
    records.resize(kBackup);
    std::mt19937 rng(2126);
    // Records in a destination; -1: no store there.
    const auto count = [&](const std::string& where) {
        const std::string sql = "SELECT count(*) FROM \"SamData\"";
        const testing::Rows rows = db::isServerPath(where) ? testing::PgServer::query(where, sql)
                                   : fs::exists(where)     ? testing::RawDb(where).query(sql)
                                                           : testing::Rows{};
        return rows.empty() ? -1 : std::stoi(rows[0][0].value_or("0"));
    };
    for (const bool toServer : {false, true}) {
        for (const bool replace : {false, true}) {
            SCOPED_TRACE(std::string(toServer ? "server" : "file") + (replace ? " --replace" : ""));
            for (int kill = 0; kill < 3; ++kill) {
                const std::string dst = toServer ? server.newDatabase() : tmp.file("dst.mdb");
                fs::remove(dst);
                if (replace) {
                    ASSERT_TRUE(testing::buildResultsDb(*engine, dst, {}, records).ok());
                }
                const int before = replace ? kBackup : -1;
                const QStringList args{"copy", "--replace", q(big), q(dst)};
                testing::killDuring(replace ? args : args.mid(0, 1) + args.mid(2),
                                    std::chrono::milliseconds(std::uniform_int_distribution<int>(
                                        0, toServer ? 600 : 150)(rng)));
                const int left = count(dst);
                EXPECT_TRUE(left == before || left == kRecords) << left << " records left";
                // The next copy finishes the job and tidies what the killed one left.
                testing::expectRerunCompletes(args, tmp.path());
                EXPECT_EQ(count(dst), kRecords);
            }
        }
    }
}

}  // namespace
}  // namespace krv::tool
