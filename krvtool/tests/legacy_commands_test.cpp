// The import subcommands as a job script sees them: exit statuses, summaries, refusals.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "krvtool/tool.h"
#include "report/tests/report_builder.h"
#include "tests/support/test_folder.h"
#include "tests/support/tool_run.h"

namespace krv::tool {
namespace {

using testing::ToolRun;

QString q(const std::string& s) { return QString::fromStdString(s); }

TEST(ImportReportsCommand, SummaryAndExitStatus) {
    testing::TestFolder tmp;
    using namespace krv::testing;
    std::filesystem::create_directories(tmp / "in");
    writeFile(tmp / "in" / "1.txt",
              join({"ID: S1", "", "CS-137     Activity =  4.5E+01", kHeading, kUnits,
                    row("661.66", "100", "90", "4.5E+01"), "", "end"}));
    writeFile(tmp / "in" / "2.txt", "no report here");
    const std::string dest = tmp.file("r.db");

    ToolRun first({"import-reports", "--mode", "net", q(dest), q(tmp.file("in"))});
    EXPECT_EQ(first.status, kDone) << first.err.str();
    EXPECT_EQ(first.out.str(), "Imported 1 reports into " + dest +
                                   "\nSkipped 0 already imported in mode net\nRefused 1:\n  " +
                                   tmp.file("in/2.txt") +
                                   ": not a results report (no \"ID:\" line)\n");
    ToolRun second({"import-reports", "--mode", "net", q(dest), q(tmp.file("in"))});
    EXPECT_NE(second.out.str().find("Skipped 1 already imported in mode net (--again imports "
                                    "them anyway)"),
              std::string::npos);

    ToolRun missing({"import-reports", "--mode", "net", q(dest), q(tmp.file("nowhere"))});
    EXPECT_EQ(missing.status, kFailed);
    EXPECT_NE(missing.out.str().find("nowhere: not found"), std::string::npos);
    writeFile(tmp / "other.db", "not a store");
    ToolRun notAStore(
        {"import-reports", "--mode", "net", q(tmp.file("other.db")), q(tmp.file("in"))});
    EXPECT_EQ(notAStore.status, kFailed);
    EXPECT_EQ(readFile(tmp / "other.db"), "not a store");
}

TEST(ImportLegacyCommand, RefusalsNameTheFileAndLeaveNothing) {
    testing::TestFolder tmp;
    const std::string dest = tmp.file("new.db");
    testing::writeFile(tmp / "old.mdb", "plain text");
    ToolRun notJet({"import-legacy", q(tmp.file("old.mdb")), q(dest)});
    EXPECT_EQ(notJet.status, kFailed);
    EXPECT_EQ(notJet.err.str(), "krvtool: " + tmp.file("old.mdb") +
                                    ": not a Jet (Access) database, or it cannot be read\n");
    ToolRun noTable({"import-legacy", KRV_FIXTURES "/testV1997.mdb", q(dest)});
    EXPECT_EQ(noTable.status, kFailed);
    EXPECT_NE(noTable.err.str().find("the old database has no table SamData"), std::string::npos)
        << noTable.err.str();
    EXPECT_FALSE(std::filesystem::exists(dest));

    // A table under another name, end to end; the old file stays as it was.
    const std::string old = tmp.file("copy.mdb");
    std::filesystem::copy_file(KRV_FIXTURES "/testV1997.mdb", old);
    const std::string before = testing::readFile(old);
    ToolRun copied({"import-legacy", "--table", "Table1", q(old), q(dest)});
    EXPECT_EQ(copied.status, kDone) << copied.err.str();
    EXPECT_EQ(copied.out.str(),
              "Imported table Table1 of " + old + " into " + dest +
                  ": 9 columns, 2 records\n"
                  "Columns carried in the nearest kind the store has:\n"
                  "  \"C\" (Byte) as 16-bit number\n"
                  "  \"E\" (Long Integer) as text of 11\n"
                  "  \"F\" (Double) as text of 24\n"
                  "  \"G\" (Date/Time) as text of 23\n"
                  "  \"H\" (Currency) as text of 21\n"
                  "  \"I\" (Boolean) as 16-bit number\n"
                  "Not carried over:\n"
                  "  index \"idxSeq\": the old table has no 16-bit \"idxRec#\" column to make "
                  "it on\n");
    EXPECT_EQ(testing::readFile(old), before);
    ToolRun again({"import-legacy", "--table", "Table1", q(old), q(dest)});
    EXPECT_EQ(again.status, kFailed);
    EXPECT_NE(again.err.str().find("already holds 2 records; the old table goes only into a new "
                                   "or empty store; nothing was imported"),
              std::string::npos)
        << again.err.str();
}

}  // namespace
}  // namespace krv::tool
