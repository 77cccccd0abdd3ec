#include "krvtool/export_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/process_run.h"
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
