#include "krvtool/export_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/process_run.h"
#include "tests/support/raw_db.h"
#include "tests/support/results_table.h"
#include "tests/support/test_folder.h"
#include "tests/support/tool_run.h"

namespace krv::tool {
namespace {

using testing::readFile;
using testing::ToolRun;

struct ExportCommand : ::testing::Test {
    testing::TestFolder folder;
    QString db = QString::fromStdString(folder.file("results.db"));
    void SetUp() override {
        auto engine = db::makeEngine();
        using V = db::Value;
        ASSERT_TRUE(testing::buildResultsDb(*engine, db.toStdString(), {"CS-137", "CO-60@NET1"},
                                            {{V(1.0), V("A.CNF  "), V("S-1"), V(""), V(""),
                                              V("3600"), V("1,5"), V("12,5"), V("3")}})
                        .ok());
    }
};

TEST_F(ExportCommand, WritesFormsToStandardOutputOrAFile) {
    ToolRun csv({"export", db, "--columns", "ID Text,CS-*"});
    EXPECT_EQ(csv.status, kDone) << csv.err.str();
    EXPECT_EQ(csv.out.str(), "ID Text,CS-137\r\nS-1,\"12,5\"\r\n");

    const QString out = QString::fromStdString(folder.file("long.csv"));
    ToolRun lng({"export", db, "--format", "long", "--records", "1..", "--output", out});
    EXPECT_EQ(lng.status, kDone) << lng.err.str();
    EXPECT_TRUE(lng.out.str().empty());
    EXPECT_NE(
        readFile(out.toStdString()).find("1,A.CNF,S-1,,,3600,\"1,5\",CS-137,,activity,12.5\r\n"),
        std::string::npos);

    testing::writeFile(folder / "map.csv", "CO-60@NET1,Co60\n");
    ToolRun lims({"export", db, "--format", "lims2d", "--keywords",
                  QString::fromStdString(folder.file("map.csv"))});
    EXPECT_EQ(lims.out.str(), ",Co60,end\r\nS-1,3,\r\nend,,\r\n");

    ToolRun help({"export", "--help"});
    EXPECT_EQ(help.status, kDone);
    EXPECT_NE(help.out.str().find("--keep-padding"), std::string::npos);
}

TEST_F(ExportCommand, FailuresNameTheFileAndLeaveNothingBehind) {
    const std::string before = readFile(db.toStdString());
    testing::writeFile(folder / "notes.txt", "not a database");
    ToolRun notDb({"export", QString::fromStdString(folder.file("notes.txt"))});
    EXPECT_EQ(notDb.status, kFailed);
    EXPECT_EQ(notDb.err.str().rfind("krvtool: " + folder.file("notes.txt") + ": ", 0), 0u)
        << notDb.err.str();
    EXPECT_EQ(notDb.err.str().find("SQLite"), std::string::npos) << notDb.err.str();

    // Another program's SQLite file is named as one, with what it holds.
    const std::string other = folder.file("other.sqlite");
    for (const char* sql : {"CREATE TABLE Samples (x)", "CREATE TABLE Results (y)"})
        testing::RawDb(other).query(sql);
    ToolRun otherDb({"export", QString::fromStdString(other)});
    EXPECT_EQ(otherDb.status, kFailed);
    EXPECT_EQ(otherDb.err.str(), "krvtool: " + other +
                                     ": an SQLite database without a SamData table (its "
                                     "tables: Results, Samples)\n");
    std::filesystem::remove(other);

    ToolRun toFolder({"export", db, "--output", QString::fromStdString(folder.path().string())});
    EXPECT_EQ(toFolder.status, kFailed);
    EXPECT_EQ(toFolder.err.str(), "krvtool: " + folder.path().string() + ": is a folder\n");

    ToolRun toItself({"export", db, "--output", db});
    EXPECT_EQ(toItself.status, kFailed);
    ToolRun noColumn({"export", db, "--columns", "PU-239"});
    EXPECT_EQ(noColumn.status, kFailed);
    EXPECT_EQ(noColumn.err.str(),
              "krvtool: " + db.toStdString() + ": no column matches 'PU-239'\n");
    EXPECT_EQ(readFile(db.toStdString()), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 2);
}

// The real executable, as a job script runs it: no display, standard output full.
TEST_F(ExportCommand, FullStandardOutputFailsWithoutADisplay) {
    testing::ProcessSetup full;
    full.standardOutputFile = QStringLiteral("/dev/full");
    const testing::ProcessRun r = testing::runJobProcess(KRV_TOOL, {"export", db}, full);
    EXPECT_EQ(r.status, kFailed);
    EXPECT_EQ(r.err, "krvtool: standard output: cannot write: no space left on the device\n");
}

// The exit status and standard error a job script reads, for each way an export can end.
TEST_F(ExportCommand, StatusAndLinesTellWhatWentOut) {
    auto engine = db::makeEngine();
    using V = db::Value;
    const std::string sheetDb = folder.file("sheet.db");
    ASSERT_TRUE(testing::buildResultsDb(
                    *engine, sheetDb, {"CS-137"},
                    {{V(1.0), V("A.CNF"), V(std::string(40001, 'x')),
                      V("a\x01"
                        "b"),
                      V(""), V("3600"), V("1"), V("2")},
                     {V(2.0), V("B.CNF"), V("S-2"), V(""), V(""), V("3600"), V("1"), V("3")}})
                    .ok());
    const QString sheet = QString::fromStdString(sheetDb);
    const QString xlsx = QString::fromStdString(folder.file("out.xlsx"));
    const QString ro = QString::fromStdString(folder.file("ro.csv"));
    testing::writeFile(folder / "ro.csv", "kept");
    std::filesystem::permissions(ro.toStdString(), std::filesystem::perms::owner_read);
    const struct {
        QStringList args;
        int status;
        std::string err;
    } cases[] = {
        {{"export", sheet, "--format", "xlsx", "--output", xlsx},
         kRejected,
         "krvtool: not exported as stored: record 1, ID Text: cut to 32767 of 40001 "
         "characters, a cell's limit\n"
         "krvtool: not exported as stored: record 1, Date & time: control character U+0001 left "
         "out, a sheet cannot hold it\n"
         "krvtool: 2 cells not exported as stored\n"},
        {{"export", sheet, "--output", ro},
         kFailed,
         "krvtool: " + ro.toStdString() + ": is read-only (--force replaces it)\n"},
        {{"export", sheet, "--records", "2..9"},
         kDone,
         "krvtool: records 2..9 asked, the table has 2 records: exported 2..2\n"},
        {{"export", sheet, "--records", "3..9", "--output", xlsx},
         kFailed,
         "krvtool: " + sheetDb + ": records 3..9 select nothing: the table has 2 records\n"},
        {{"export", sheet, "--records", "3.."},
         kFailed,
         "krvtool: " + sheetDb + ": records 3.. select nothing: the table has 2 records\n"},
        {{"export", db, "--format", "lims2d", "--lims-version", "2.4"}, kDone, ""},
        {{"export", sheet, "--output", ro, "--force"}, kDone, ""},
    };
    for (const auto& c : cases) {
        ToolRun r(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.err.str(), c.err) << c.args.join(' ').toStdString();
    }
    EXPECT_NE(readFile(ro.toStdString()), "kept");
}

// The spreadsheet library prints its own failures on standard error; only our line may
// reach it. Its working files go where the output goes: a temporary folder that cannot
// take them fails the export to standard output, in one line.
TEST_F(ExportCommand, SpreadsheetLibraryFailuresAreOneLineOfOurs) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), QStringLiteral("/proc"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KRV_TOOL), {"export", db, "--format", "xlsx"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), kFailed);
    const std::string err = p.readAllStandardError().toStdString();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("krvtool: standard output: cannot write", 0), 0u) << err;
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
}

TEST(RecordRange, Forms) {
    std::int64_t a = -1, b = -1;
    const struct {
        const char* text;
        std::int64_t first, last;
    } good[] = {{"2..5", 2, 5}, {"3..", 3, 0}, {"..4", 0, 4}, {"7", 7, 7}};
    for (const auto& g : good) {
        EXPECT_TRUE(parseRecordRange(g.text, a, b)) << g.text;
        EXPECT_EQ(a, g.first) << g.text;
        EXPECT_EQ(b, g.last) << g.text;
    }
    for (const char* bad : {"", "..", "0", "-1..2", "+1..2", "1...3", "a..b", "3..2", "1..2..3"})
        EXPECT_FALSE(parseRecordRange(bad, a, b)) << bad;
}

}  // namespace
}  // namespace krv::tool
