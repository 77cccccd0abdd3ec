// The program as a job script runs it: a separate process, copied into a folder of its
// own (where its settings files live), with no display.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>

#include "results_db/tests/db_test_support.h"
#include "tests/support/test_folder.h"

namespace krv {
namespace {

namespace fs = std::filesystem;
using testing::RawDb;
using testing::readFile;
using testing::TestFolder;
using testing::writeFile;

// Puts a value at its 1-based character position, as the analysis program writes it.
std::string at(std::string line, std::size_t pos, const std::string& value) {
    if (line.size() < pos - 1 + value.size()) line.resize(pos - 1 + value.size(), ' ');
    line.replace(pos - 1, value.size(), value);
    return line;
}

std::string row(const char* energy, const char* gross, const char* net, const char* act) {
    return at(at(at(at("", 1, energy), 29, gross), 47, net), 57, act) + "\r\n";
}

const std::string kReport =
    "ID: SAMPLE-7 soil core\r\n"
    "File: C:\\SPEC\\S7.CNF\r\n"
    "Date: 12-Mar-2026 10:15:00\r\n"
    "LT:     300.0 s           DT:  3.2 %\r\n"
    "Activities reported as of 12-Mar-2026\r\n"
    "\r\n"
    "CO-60       Activity =  1.50E+01\r\n" +
    at(at(at(at("", 1, "Energy"), 29, "Gross"), 47, "Net"), 57, "Activity") + "\r\n" +
    "------\r\n" + row("  1173.2", "     1200", "     1100", "      12.5") +
    row("  1332.5", "     1000", "      900", "      11.5") + "\r\n";

struct RunResult {
    int exitCode = -1;
    std::string stdErr;
};

class Unattended : public ::testing::Test {
  protected:
    void SetUp() override {
        exe = folder / "krvarchiver";
        fs::copy_file(KRV_EXE, exe);
        report = (folder / "RESULTS.TXT").string();
        database = (folder / "Results.mdb").string();
        writeFile(report, kReport);
        savePaths(database, report);
    }

    void savePaths(const std::string& db, const std::string& rep) {
        std::string record = db;
        record.resize(72, ' ');
        std::string r = rep;
        r.resize(72, ' ');
        writeFile(folder / "ARC&FILE.DAT", record + r);
    }

    RunResult run(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(QString::fromStdString(exe.string()), args);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                p.readAllStandardError().toStdString()};
    }

    TestFolder folder;
    fs::path exe;
    std::string report, database;
};

TEST_F(Unattended, NetAppendsIntoNewDatabaseAndWritesNoSettings) {
    const std::string settingsBefore = readFile(folder / "ARC&FILE.DAT");
    const RunResult r = run({"net"});
    EXPECT_EQ(r.exitCode, 0) << r.stdErr;
    RawDb db(database);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM SamData"), "1");
    EXPECT_EQ(db.scalar("SELECT \"CO-60@NET2\" FROM SamData"), "900");
    EXPECT_EQ(db.scalar("SELECT \"idxRec#\" FROM SamData"), "1");
    EXPECT_EQ(db.scalar("SELECT \"Counting Time\" FROM SamData"), "300");
    EXPECT_EQ(readFile(folder / "ARC&FILE.DAT"), settingsBefore);
    // Start-up creates the missing widths file empty; the run writes nothing into it.
    EXPECT_EQ(fs::file_size(folder / "ArcSiz&FILE.DAT"), 0u);
}

TEST_F(Unattended, CombinedWordsFollowTheirPrecedence) {
    EXPECT_EQ(run({"Append", "gross", "net"}).exitCode, 0);  // gross wins over net
    EXPECT_EQ(run({"APPEND", "RESET"}).exitCode, 0);         // append, not reset
    {
        RawDb db(database);
        EXPECT_EQ(db.scalar("SELECT count(*) FROM SamData"), "2");
        EXPECT_EQ(db.scalar("SELECT \"CO-60@GROSS1\" FROM SamData WHERE \"idxRec#\" = 1"), "1200");
        EXPECT_EQ(db.scalar("SELECT \"CO-60@LINE2\" FROM SamData WHERE \"idxRec#\" = 2"), "11.5");
    }
    const RunResult reset = run({"reset", "net"});  // reset, nothing appended
    EXPECT_EQ(reset.exitCode, 0) << reset.stdErr;
    EXPECT_TRUE(reset.stdErr.empty()) << reset.stdErr;
    RawDb db(database);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM SamData"), "0");
    EXPECT_EQ(db.query("PRAGMA table_info(SamData)").size(), 7u);
}

TEST_F(Unattended, MissingReportFolderIsReportedYetTheRecordIsAppended) {
    savePaths(database, (folder / "no such folder" / "RESULTS.TXT").string());
    const RunResult r = run({"BKG"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.stdErr.find("Invalid path or file name [ "), std::string::npos) << r.stdErr;
    RawDb db(database);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM SamData"), "1");
}

TEST_F(Unattended, FileThatIsNotADatabaseIsLeftAlone) {
    writeFile(database, "lab notes, not a database\n");
    const RunResult r = run({"NET"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.stdErr.find("Invalid path or file name [ " + database + " ] <"), std::string::npos)
        << r.stdErr;
    EXPECT_EQ(readFile(database), "lab notes, not a database\n");
}

TEST_F(Unattended, ResetIntoMissingFolderFailsQuietlyWithStatus) {
    savePaths((folder / "gone" / "Results.mdb").string(), report);
    const RunResult r = run({"RESET"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(std::count(r.stdErr.begin(), r.stdErr.end(), '\n'), 1) << r.stdErr;
}

TEST_F(Unattended, NoCommandWordWithoutDisplaySaysSo) {
    const RunResult r = run({});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.stdErr.find("command word"), std::string::npos);
}

}  // namespace
}  // namespace krv
