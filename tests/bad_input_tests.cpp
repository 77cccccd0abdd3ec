// Unattended runs against a full disk, a read-only file system, a damaged database and a
// huge report: each ends with a status and a reason, never with a crash, a hang or a
// stored record lost.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>

#include "report/parser.h"
#include "report/tests/report_builder.h"
#include "results_db/tests/db_test_support.h"
#include "tests/support/test_folder.h"

namespace krv {
namespace {

namespace fs = std::filesystem;
using testing::RawDb;
using testing::readFile;
using testing::TestFolder;
using testing::writeFile;

int runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000)) return -1;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A small file system of its own, so a test can fill it or make it read-only.
class SmallMount {
  public:
    SmallMount(const fs::path& at, const char* size) : at_(at) {
        fs::create_directories(at_);
        mounted_ = runTool(QStringLiteral("mount"),
                           {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                            QStringLiteral("size=%1").arg(size), QStringLiteral("tmpfs"),
                            QString::fromStdString(at_.string())}) == 0;
    }
    ~SmallMount() {
        if (mounted_) runTool(QStringLiteral("umount"), {QString::fromStdString(at_.string())});
    }
    bool mounted() const { return mounted_; }
    bool remountReadOnly() {
        return runTool(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"),
                                                 QString::fromStdString(at_.string())}) == 0;
    }

  private:
    fs::path at_;
    bool mounted_ = false;
};

std::string sampleReport(int isotopes) {
    using namespace krv::testing;
    Lines lines{"ID: BAD INPUT SAMPLE", "LT: 100", ""};
    for (int i = 0; i < isotopes; ++i)
        append(lines, block("N" + std::to_string(i),
                            {row("  " + std::to_string(100 + i), "1200", "1100", "12.5")}));
    return join(lines);
}

class BadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        exe = folder / "krvarchiver";
        fs::copy_file(KRV_EXE, exe);
        report = (folder / "RESULTS.TXT").string();
        writeFile(report, sampleReport(3));
        useDatabase((folder / "Results.mdb").string());
    }
    void useDatabase(const std::string& path) {
        database = path;
        std::string rec = database, rep = report;
        rec.resize(72, ' ');
        rep.resize(72, ' ');
        writeFile(folder / "ARC&FILE.DAT", rec + rep);
    }
    // Exit code, or -1 when the program crashed or hung.
    int run(const char* word) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString(exe.string()), {QString::fromLatin1(word)});
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        lastError = p.readAllStandardError().toStdString();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    std::string count() {
        return RawDb(database).scalar("SELECT count(*) FROM SamData").value_or("?");
    }

    TestFolder folder;
    fs::path exe;
    std::string report, database, lastError;
};

TEST_F(BadInput, FullDiskLosesNoStoredRecord) {
    SmallMount disk(folder / "disk", "160k");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    useDatabase((folder / "disk" / "Results.mdb").string());
    ASSERT_EQ(run("NET"), 0) << lastError;
    // Fill what is left, then ask for new columns and a record that cannot fit.
    {
        std::ofstream filler(folder / "disk" / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()) && filler.flush()) {
        }
    }
    writeFile(report, sampleReport(60));
    int failures = 0;
    for (int i = 0; i < 3; ++i) failures += run("GROSS") != 0;
    EXPECT_GT(failures, 0);
    EXPECT_FALSE(lastError.empty());
    {
        RawDb db(database);
        EXPECT_EQ(db.scalar("PRAGMA integrity_check"), "ok");
        EXPECT_EQ(db.scalar("SELECT \"N2@NET1\" FROM SamData WHERE \"idxRec#\" = 1"), "1100");
    }
    const std::string before = count();
    fs::remove(folder / "disk" / "filler");
    EXPECT_EQ(run("GROSS"), 0) << lastError;
    EXPECT_EQ(std::stoi(count()), std::stoi(before) + 1);
}

TEST_F(BadInput, ReadOnlyFileSystemIsReportedAndLeftAsItWas) {
    SmallMount disk(folder / "ro", "1m");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    useDatabase((folder / "ro" / "Results.mdb").string());
    ASSERT_EQ(run("NET"), 0) << lastError;
    ASSERT_TRUE(disk.remountReadOnly());
    const std::string before = readFile(database);
    EXPECT_GT(run("NET"), 0);
    EXPECT_GT(run("RESET"), 0);
    EXPECT_EQ(readFile(database), before);
}

TEST_F(BadInput, FolderOrTruncatedDatabaseEndsWithAStatus) {
    fs::create_directory(folder / "db-folder");
    useDatabase((folder / "db-folder").string());
    EXPECT_EQ(run("NET"), 1);
    EXPECT_TRUE(fs::is_directory(folder / "db-folder"));

    useDatabase((folder / "Results.mdb").string());
    writeFile(report, sampleReport(40));
    for (int i = 0; i < 40; ++i) ASSERT_EQ(run(i % 2 ? "NET" : "GROSS"), 0) << lastError;
    const auto size = fs::file_size(database);
    fs::resize_file(database, size / 3);
    const int code = run("BKG");
    EXPECT_GE(code, 0) << "crashed or hung on a truncated database";
}

TEST_F(BadInput, HugeReportIsStreamed) {
    // 200 MB of repeated isotope blocks: the read ends, keeps its counts in range, and
    // memory does not follow the file (the reader's buffers are fixed).
    const fs::path big = folder / "BIG.TXT";
    {
        std::ofstream out(big, std::ios::binary);
        const std::string unit = sampleReport(25);
        for (std::size_t written = 0; written < (200u << 20); written += unit.size()) out << unit;
    }
    AnalysisReport r;
    r.beginRead();
    parseReportFile(big.string(), r);
    EXPECT_EQ(r.isotopeCount, kMaxIsotopes);
    for (int i = 1; i <= r.isotopeCount; ++i) EXPECT_EQ(r.lineCount[i], 1);
}

}  // namespace
}  // namespace krv
