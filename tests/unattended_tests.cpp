// Command words as a job script uses them, after each count, with no display.

#include <gtest/gtest.h>

#include "report/tests/report_builder.h"
#include "tests/support/job_folder.h"
#include "tests/support/raw_db.h"

namespace krv::testing {
namespace {

std::string cobaltReport() {
    Lines lines{"ID: SAMPLE-7 soil core", "File: S7.CNF", "Date: 12-Mar-2026 10:15:00",
                "LT:     300.0 s           DT:  3.2 %", ""};
    append(lines, block("CO-60", {row("  1173.2", "1200", "1100", "12.5"),
                                  row("  1332.5", "1000", "900", "11.5")}));
    return join(lines);
}

class Unattended : public ::testing::Test {
  protected:
    void SetUp() override { job.writeReport(cobaltReport()); }
    std::string value(const std::string& sql) {
        return RawDb(job.database).scalar(sql).value_or("null");
    }
    JobFolder job;
};

TEST_F(Unattended, NetAppendsIntoANewDatabaseAndWritesNoSettings) {
    const std::string settings = readFile(job / "ARC&FILE.DAT");
    const JobRun r = job.run({"net"});
    EXPECT_EQ(r.exitCode, 0) << r.stdErr;
    EXPECT_EQ(value("SELECT \"idxRec#\" || ' ' || \"CO-60@NET2\" || ' ' || \"Counting Time\" "
                    "|| ' ' || \"DT %\" FROM SamData"),
              "1 900 300 3.2");
    EXPECT_EQ(readFile(job / "ARC&FILE.DAT"), settings);
    // Start-up creates the missing widths file empty; the job writes nothing into it.
    EXPECT_EQ(std::filesystem::file_size(job / "ArcSiz&FILE.DAT"), 0u);
}

TEST_F(Unattended, CombinedWordsFollowTheirPrecedence) {
    EXPECT_EQ(job.run({"Append", "gross", "net"}).exitCode, 0);  // GROSS is tested after NET
    EXPECT_EQ(job.run({"APPEND", "RESET"}).exitCode, 0);         // APPEND before RESET
    EXPECT_EQ(job.run({"INTERNET"}).exitCode, 0);                // NET inside a longer word
    EXPECT_EQ(value("SELECT group_concat(coalesce(\"CO-60@GROSS1\", \"CO-60@LINE2\", "
                    "\"CO-60@NET1\"), ' ') FROM SamData"),
              "1200 11.5 1100");
    const JobRun reset = job.run({"reset", "net"});  // RESET before NET: nothing appended
    EXPECT_EQ(reset.exitCode, 0) << reset.stdErr;
    EXPECT_EQ(reset.stdErr, "");
    EXPECT_EQ(value("SELECT count(*) FROM SamData"), "0");
    EXPECT_EQ(value("SELECT count(*) FROM pragma_table_info('SamData')"), "7");
    // The new file's trail begins with what the reset took away.
    EXPECT_EQ(value("SELECT group_concat(Operation || ' ' || OldValue) FROM KrvAudit"), "reset 3");
}

TEST_F(Unattended, FailuresGiveOneReasonAndANonZeroStatus) {
    // A report that cannot be opened is reported, yet the record is appended as before:
    // saved, with its values missing.
    job.usePaths(job.database, job.file("no such folder/RESULTS.TXT"));
    JobRun r = job.run({"BKG"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.stdErr.find("\nkrvarchiver: not stored: report: Invalid path or file name [ "),
              std::string::npos)
        << r.stdErr;
    EXPECT_EQ(value("SELECT count(*) FROM SamData"), "1");

    // A file that is not a results database is never touched.
    writeFile(job / "notes.mdb", "lab notes\n");
    job.usePaths(job.file("notes.mdb"), job.file("RESULTS.TXT"));
    r = job.run({"NET"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.stdErr.find("<Unrecognized database format"), std::string::npos) << r.stdErr;
    EXPECT_EQ(readFile(job / "notes.mdb"), "lab notes\n");

    // RESET shows nothing, but a job script still learns that it failed, in one line.
    job.usePaths(job.file("gone/Results.mdb"), job.file("RESULTS.TXT"));
    r = job.run({"RESET"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(std::count(r.stdErr.begin(), r.stdErr.end(), '\n'), 1) << r.stdErr;

    r = job.run({});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.stdErr.find("command word"), std::string::npos);
}

TEST_F(Unattended, ValuesTheRecordLacksAreListedOneLineEachWithStatus3) {
    ASSERT_EQ(job.run({"NET"}).exitCode, 0);
    RawDb(job.database).query("ALTER TABLE SamData RENAME COLUMN \"ID Text\" TO \"Sample\"");
    RawDb(job.database).query("ALTER TABLE SamData RENAME COLUMN \"DT %\" TO \"Dead time\"");
    const JobRun r = job.run({"NET"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.stdErr,
              "krvarchiver: not stored: ID Text: SamData has no column of that name\n"
              "krvarchiver: not stored: DT %: SamData has no column of that name\n");
    EXPECT_EQ(value("SELECT count(*) || ' ' || max(\"CO-60@NET1\") FROM SamData"), "2 1100");
    // The trail says which values record 2 lacks; a trail that cannot be written keeps
    // the whole append out.
    EXPECT_EQ(value("SELECT group_concat(RecordNumber || ' ' || ColumnName || ': ' || Note, '; ')"
                    " FROM KrvAudit WHERE Operation = 'missing values'"),
              "2 ID Text: SamData has no column of that name; "
              "2 DT %: SamData has no column of that name");
    RawDb(job.database)
        .query(
            "CREATE TRIGGER refuse BEFORE INSERT ON KrvAudit BEGIN SELECT RAISE(ABORT, 'no'); END");
    EXPECT_EQ(job.run({"NET"}).exitCode, 1);
    EXPECT_EQ(value("SELECT count(*) FROM SamData"), "2");

    // A reset that cannot happen names what is in the way.
    std::filesystem::create_directory(job / "folder.mdb");
    job.usePaths(job.file("folder.mdb"), job.reportPath);
    const JobRun reset = job.run({"RESET"});
    EXPECT_EQ(reset.exitCode, 1);
    EXPECT_NE(reset.stdErr.find("is a folder, not a database file"), std::string::npos)
        << reset.stdErr;
}

}  // namespace
}  // namespace krv::testing
