// Years of results live in one file and the jobs run while nobody watches: killed runs,
// a full or read-only disk and damaged input must never cost or
// damage a stored record, nor crash or hang the program.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "platform/platform.h"
#include "report/parser.h"
#include "report/tests/report_builder.h"
#include "tests/support/job_folder.h"
#include "tests/support/raw_db.h"

namespace krv::testing {
namespace {

namespace fs = std::filesystem;

// A report whose identifier names its run; runs carry different isotopes, so some add
// columns while they are being killed.
std::string reportFor(int run, int isotopes) {
    Lines lines{"ID: RUN-" + std::to_string(run), "LT: 100", ""};
    for (int i = 0; i < isotopes; ++i)
        append(lines, block("ISO" + std::to_string(i),
                            {row("  " + std::to_string(100 + i), std::to_string(1000 + run),
                                 std::to_string(run + 1), "1.5")}));
    return join(lines);
}

// A small file system of its own at `at`, to fill up or to make read-only; null when it
// cannot be mounted, unmounted when the last copy goes.
std::shared_ptr<const std::string> smallMount(const fs::path& at, const std::string& size) {
    fs::create_directories(at);
    if (platform::runProgram(
            {"mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", at.string()}) != 0)
        return nullptr;
    return {new std::string(at.string()), [](const std::string* mounted) {
                platform::runProgram({"umount", *mounted});
                delete mounted;
            }};
}

TEST(Robustness, KilledAppendsLeaveWholeRecordsOrNoneAndDamageEndsWithAStatus) {
    JobFolder job;
    job.writeReport(reportFor(0, 2));
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(job.run({"NET"}).exitCode, 0);
    const auto runTime = std::chrono::steady_clock::now() - began;

    std::mt19937 rng(20261205);
    std::uniform_int_distribution<long> delay(
        0, 2 * std::chrono::duration_cast<std::chrono::microseconds>(runTime).count());
    std::map<int, bool> finished;
    int kills = 0;
    for (int run = 1; kills < 200; ++run) {
        job.writeReport(reportFor(run, 1 + run % 6));
        QProcess p;
        job.start(p, {"NET"});
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            ++kills;
        }
        p.waitForFinished(60000);
        finished[run] = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    RawDb db(job.database);
    EXPECT_EQ(db.scalar("PRAGMA integrity_check"), "ok");
    std::map<int, int> seen;
    for (const auto& row : db.query("SELECT \"ID Text\" FROM SamData"))
        ++seen[std::stoi(row[0]->substr(5))];
    for (const auto& [run, ok] : finished)  // a killed run may have committed just before
        EXPECT_TRUE(ok ? seen[run] == 1 : seen[run] <= 1) << "run " << run << ": " << seen[run];
    // A stored record is whole: every isotope of its report has its value.
    for (const auto& [run, count] : seen) {
        if (run == 0 || count == 0) continue;
        const std::string where =
            " FROM SamData WHERE \"ID Text\" LIKE ' RUN-" + std::to_string(run) + " %'";
        for (int i = 0; i < 1 + run % 6; ++i)
            EXPECT_EQ(db.scalar("SELECT \"ISO" + std::to_string(i) + "@NET1\"" + where),
                      std::to_string(run + 1))
                << run;
    }

    // A damaged database ends with a status, never a crash or a hang.
    job.writeReport(reportFor(1, 40));
    for (const char* word : {"NET", "GROSS", "BKG"}) ASSERT_EQ(job.run({word}).exitCode, 0);
    fs::resize_file(job.database, fs::file_size(job.database) / 3);
    EXPECT_GE(job.run({"NET"}).exitCode, 0) << "crashed or hung on a truncated database";
}

TEST(Robustness, FullDiskLosesNothingAndReadOnlyDiskChangesNothing) {
    JobFolder job;
    const auto disk = smallMount(job / "disk", "160k"), readOnly = smallMount(job / "ro", "1m");
    if (!disk || !readOnly) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    job.writeReport(reportFor(1, 3));
    job.usePaths(job.file("disk/Results.mdb"), job.reportPath);
    ASSERT_EQ(job.run({"NET"}).exitCode, 0);
    platform::runProgram({"dd", "if=/dev/zero", "of=" + job.file("disk/filler"), "bs=4096"},
                         job.file("dd.log"));  // until the disk is full
    job.writeReport(reportFor(2, 60));         // new columns and a record that cannot fit
    EXPECT_EQ(job.run({"GROSS"}).exitCode, 1);
    EXPECT_EQ(RawDb(job.database).scalar("SELECT \"ISO2@NET1\" FROM SamData WHERE \"idxRec#\" = 1"),
              "2");
    EXPECT_EQ(RawDb(job.database).scalar("PRAGMA integrity_check"), "ok");
    fs::remove(job / "disk" / "filler");
    EXPECT_EQ(job.run({"GROSS"}).exitCode, 0);
    EXPECT_EQ(RawDb(job.database).scalar("SELECT count(*) FROM SamData"), "2");

    job.usePaths(job.file("ro/Results.mdb"), job.reportPath);
    ASSERT_EQ(job.run({"NET"}).exitCode, 0);
    ASSERT_EQ(platform::runProgram({"mount", "-o", "remount,ro", *readOnly}), 0);
    const std::string before = readFile(job.database);
    EXPECT_EQ(job.run({"NET"}).exitCode, 1);
    EXPECT_EQ(job.run({"RESET"}).exitCode, 1);
    EXPECT_EQ(readFile(job.database), before);
}

TEST(Robustness, HugeReportIsReadThroughFixedBuffers) {
    TestFolder folder;
    {
        std::ofstream out(folder / "BIG.TXT", std::ios::binary);
        const std::string unit = reportFor(1, 25);
        for (std::size_t written = 0; written < (200u << 20); written += unit.size()) out << unit;
    }
    AnalysisReport r;
    r.beginRead();
    parseReportFile(folder.file("BIG.TXT"), r);
    EXPECT_EQ(r.isotopeCount, kMaxIsotopes);
    for (int i = 1; i <= r.isotopeCount; ++i) EXPECT_EQ(r.lineCount[i], 1);
}

}  // namespace
}  // namespace krv::testing
