// Command words as a job script uses them, after each count, with no display; and the
// program as `cmake --install` or the package lays it out: bin/ beside share/, each
// user's settings in their own configuration folder, nothing written beside the program.

#include <gtest/gtest.h>

#include <QProcess>

#include "platform/platform.h"
#include "tests/support/job_folder.h"
#include "tests/support/raw_db.h"

namespace krv::testing {
namespace {

namespace fs = std::filesystem;

class Unattended : public ::testing::Test {
  protected:
    void SetUp() override { job.writeReport(cobaltReport("SAMPLE-7 soil core")); }
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
    EXPECT_EQ(fs::file_size(job / "ArcSiz&FILE.DAT"), 0u);
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
    fs::create_directory(job / "folder.mdb");
    job.usePaths(job.file("folder.mdb"), job.reportPath);
    const JobRun reset = job.run({"RESET"});
    EXPECT_EQ(reset.exitCode, 1);
    EXPECT_NE(reset.stdErr.find("is a folder, not a database file"), std::string::npos)
        << reset.stdErr;
}

class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(prefix / "bin");
        fs::create_directories(prefix / "share/krvarchiver");
        fs::copy_file(KRV_EXE, prefix / "bin/krvarchiver");
        writeFile(prefix / "share/krvarchiver/installed", "");
        writeFile(prefix / "RESULTS.TXT", cobaltReport("SAMPLE-7 soil core"));
    }
    JobRun run(const fs::path& home, const QStringList& args) {
        ProcessSetup setup;
        setup.unset = {QStringLiteral("XDG_CONFIG_HOME")};
        setup.environment = {{QStringLiteral("HOME"), QString::fromStdString(home.string())}};
        return runJobProcess(QString::fromStdString((prefix / "bin/krvarchiver").string()), args,
                             setup);
    }
    std::vector<std::string> binFolder() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(prefix / "bin"))
            names.push_back(e.path().filename().string());
        return names;
    }
    TestFolder prefix;
};

TEST_F(Installed, EachUserKeepsSettingsInTheirConfigurationFolder) {
    const fs::path ann = prefix / "ann";
    const fs::path config = ann / ".config/krvarchiver";
    fs::create_directories(config);
    const std::string db = (ann / "results.mdb").string();
    writeFile(config / "ARC&FILE.DAT", settingsRecord(db, (prefix / "RESULTS.TXT").string()));
    JobRun r = run(ann, {"NET"});
    EXPECT_EQ(r.exitCode, 0) << r.stdErr;
    EXPECT_EQ(RawDb(db).scalar("SELECT trim(\"ID Text\") FROM SamData").value_or(""),
              "SAMPLE-7 soil core");

    // A first start creates the folder and the empty files, as a copied program does
    // beside itself.
    const fs::path bob = prefix / "bob";
    fs::create_directory(bob);
    r = run(bob, {"RESET"});
    EXPECT_EQ(fs::file_size(bob / ".config/krvarchiver/ARC&FILE.DAT"), 0u);
    EXPECT_EQ(fs::file_size(bob / ".config/krvarchiver/ArcSiz&FILE.DAT"), 0u);
    EXPECT_EQ(binFolder(), std::vector<std::string>{"krvarchiver"});

    // Settings already beside the program stay in use.
    const std::string beside = prefix.file("beside.mdb");
    writeFile(prefix / "bin/ARC&FILE.DAT",
              settingsRecord(beside, (prefix / "RESULTS.TXT").string()));
    r = run(prefix / "carl", {"GROSS"});
    EXPECT_EQ(r.exitCode, 0) << r.stdErr;
    EXPECT_TRUE(fs::exists(beside));
    EXPECT_FALSE(fs::exists(prefix / "carl"));
}

// Gives p to another user when the test runs as root (root later running with a user's
// HOME); otherwise takes the write permission away, which an ordinary user then lacks.
void giveAway(const fs::path& p) {
    if (platform::runningAsAdministrator()) {
        EXPECT_EQ(QProcess::execute(QStringLiteral("chown"),
                                    {QStringLiteral("65534"), QString::fromStdString(p.string())}),
                  0);
    } else {
        fs::permissions(p,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
}

std::string listing(const fs::path& folder) {
    std::string list;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != decltype(it)();
         it.increment(ec))
        list += it->path().string() + " " +
                (it->is_regular_file() ? std::to_string(it->file_size()) : "") + "\n";
    return list;
}

TEST_F(Installed, UnusableSettingsFolderIsSaidAndNothingIsWrittenElsewhere) {
    writeFile(prefix / "afile", "");  // a home where no folder can be made
    const fs::path other = prefix / "other";
    fs::create_directory(other);
    giveAway(other);
    const fs::path mine = prefix / "mine";
    fs::create_directories(mine / ".config/krvarchiver");
    writeFile(mine / ".config/krvarchiver/ArcSiz&FILE.DAT", " 900\r\n");
    giveAway(mine / ".config/krvarchiver/ArcSiz&FILE.DAT");

    for (const fs::path& home : {prefix / "afile", other, mine}) {
        const std::string before = listing(home);
        const JobRun r = run(home, {"RESET"});
        EXPECT_NE(r.stdErr.find("cannot be used"), std::string::npos) << home << r.stdErr;
        EXPECT_NE(r.stdErr.find("The default paths are used and no settings are saved."),
                  std::string::npos);
        EXPECT_EQ(listing(home), before);
    }
    EXPECT_EQ(binFolder(), std::vector<std::string>{"krvarchiver"});
}

}  // namespace
}  // namespace krv::testing
