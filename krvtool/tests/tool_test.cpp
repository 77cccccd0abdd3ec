// krvtool's command lines as a job script sees them: exit statuses, what each stream holds,
// and the files left behind.

#include "krvtool/tool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "krvtool/tests/run_cases.h"
#include "tests/support/case_table.h"
#include "tests/support/process_run.h"
#include "tests/support/results_table.h"
#include "tests/support/test_folder.h"
#include "tests/support/tool_run.h"

namespace krv::tool {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

TEST(ToolRuns, EveryCommandLineEndsAsItsCaseSays) {
    testing::TestFolder folder;
    const std::string db = folder.file("results.db");
    auto engine = db::makeEngine();
    using V = db::Value;
    ASSERT_TRUE(testing::buildResultsDb(*engine, db, {"CS-137", "CO-60@NET1"},
                                        {{V(1.0), V("A.CNF  "), V("S-1"), V(""), V(""), V("3600"),
                                          V("1,5"), V("12,5"), V("3")}})
                    .ok());
    ASSERT_TRUE(testing::buildResultsDb(
                    *engine, folder.file("sheet.db"), {"CS-137"},
                    {{V(1.0), V("A.CNF"), V(std::string(40001, 'x')), V("a\001b"), V(""), V("3600"),
                      V("1"), V("2")},
                     {V(2.0), V("B.CNF"), V("S-2"), V(""), V(""), V("3600"), V("1"), V("3")}})
                    .ok());
    fs::copy(KRV_TEST_DATA "/krvtool_runs", folder.path(), fs::copy_options::recursive);
    fs::permissions(folder / "ro.csv", fs::perms::owner_read);
    fs::copy_file(KRV_FIXTURES "/testV1997.mdb", folder / "old.mdb");
    const std::string dbBefore = readFile(db), oldBefore = readFile(folder / "old.mdb");

    const testing::Words files = {
        {"$DIR", folder.path().string()}, {"$FIX", KRV_FIXTURES}, {"$SPACE", " "}};
    for (const auto& c : testing::caseTable("krvtool_runs.tsv", 4)) {
        const std::string where = c.where("krvtool_runs.tsv") + " " + c[0];
        testing::ToolRun r(testing::caseArgs(c, 0, files));
        testing::expectRunEnd(c, 0, files, r.status, r.out.str(), r.err.str(), where);
        if (r.status == kUsage && c[2].empty()) {
            EXPECT_EQ(r.errLines(), 1) << where << ": " << r.err.str();
            EXPECT_EQ(r.err.str().rfind("krvtool: ", 0), 0u) << where << ": " << r.err.str();
        }
    }

    // The real executable where standard output or the spreadsheet library's working folder
    // fails: one line of ours on standard error, nothing of the library's.
    testing::ProcessSetup full, noTemp;
    full.standardOutputFile = QStringLiteral("/dev/full");
    noTemp.environment = {{QStringLiteral("TMPDIR"), QStringLiteral("/proc")}};
    const QString path = QString::fromStdString(db);
    const testing::ProcessRun toFull = testing::runJobProcess(KRV_TOOL, {"export", path}, full);
    EXPECT_EQ(toFull.status, kFailed);
    EXPECT_EQ(toFull.err, "krvtool: standard output: cannot write: no space left on the device\n");
    const testing::ProcessRun sheet =
        testing::runJobProcess(KRV_TOOL, {"export", path, "--format", "xlsx"}, noTemp);
    EXPECT_EQ(sheet.status, kFailed);
    EXPECT_EQ(std::count(sheet.err.begin(), sheet.err.end(), '\n'), 1) << sheet.err;
    EXPECT_EQ(sheet.err.rfind("krvtool: standard output: cannot write", 0), 0u) << sheet.err;
    EXPECT_EQ(sheet.out, "");

    EXPECT_EQ(readFile(db), dbBefore);
    EXPECT_EQ(readFile(folder / "old.mdb"), oldBefore);
    EXPECT_EQ(readFile(folder / "notes.txt"), "not a database");
    EXPECT_NE(readFile(folder / "ro.csv"), "kept");
    EXPECT_NE(
        readFile(folder / "long.csv").find("1,A.CNF,S-1,,,3600,\"1,5\",CS-137,,activity,12.5\r\n"),
        std::string::npos);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder.path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"in", "long.csv", "map.csv", "new.db", "notes.txt",
                                           "old.mdb", "other.sqlite", "out.xlsx", "reports.db",
                                           "results.db", "ro.csv", "sheet.db"}));
}

TEST(ToolFrame, ProgressStaysSilentWithoutATerminal) {
    std::ostringstream out, quiet, shown;
    Io pipe{out, quiet, false}, tty{out, shown, true};
    Progress silent(pipe, "records", 10), counted(tty, "records", 10);
    for (int i = 0; i <= 10; ++i) silent.step(i);
    silent.finish();
    counted.step(5);
    counted.finish();
    EXPECT_EQ(quiet.str(), "");
    EXPECT_NE(shown.str().find("5/10 records"), std::string::npos) << shown.str();
    EXPECT_EQ(shown.str().back(), '\n');
}

}  // namespace
}  // namespace krv::tool
