// Years of results live in one file and the unattended runs happen while nobody watches:
// killed runs and several runs at once must never cost or damage a stored record.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "results_db/tests/db_test_support.h"
#include "tests/support/test_folder.h"

namespace krv {
namespace {

namespace fs = std::filesystem;
using testing::RawDb;
using testing::TestFolder;
using testing::writeFile;

std::string at(std::string line, std::size_t pos, const std::string& value) {
    if (line.size() < pos - 1 + value.size()) line.resize(pos - 1 + value.size(), ' ');
    line.replace(pos - 1, value.size(), value);
    return line;
}

// A report whose identifier names the run, with a few isotopes; runs differ in which
// isotopes they carry, so some of them add columns while being killed.
std::string reportFor(int run, int isotopes) {
    std::string r = "ID: RUN-" + std::to_string(run) + "\r\nLT: 100\r\n\r\n";
    for (int i = 0; i < isotopes; ++i) {
        r += "ISO" + std::to_string(i) + "  Activity = 1\r\n";
        r += at(at(at(at("", 1, "Energy"), 29, "Gross"), 47, "Net"), 57, "Activity") + "\r\n";
        r += "------\r\n";
        for (int j = 1; j <= 3; ++j) {
            r += at(at(at(at("", 1, "  " + std::to_string(100 * j + i)), 29,
                          std::to_string(1000 + run)),
                       47, std::to_string(run + 1)),
                    57, "1.5") +
                 "\r\n";
        }
        r += "\r\n";
    }
    return r;
}

class Robustness : public ::testing::Test {
  protected:
    void SetUp() override {
        exe = folder / "krvarchiver";
        fs::copy_file(KRV_EXE, exe);
        report = (folder / "RESULTS.TXT").string();
        database = (folder / "Results.mdb").string();
        std::string rec = database;
        rec.resize(72, ' ');
        std::string rep = report;
        rep.resize(72, ' ');
        writeFile(folder / "ARC&FILE.DAT", rec + rep);
    }

    void start(QProcess& p, const char* word) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString(exe.string()), {QString::fromLatin1(word)});
        ASSERT_TRUE(p.waitForStarted(10000));
    }

    TestFolder folder;
    fs::path exe;
    std::string report, database;
};

TEST_F(Robustness, KilledAppendsLeaveWholeRecordsOrNone) {
    writeFile(report, reportFor(0, 2));
    {
        QProcess first;
        start(first, "NET");
        ASSERT_TRUE(first.waitForFinished(60000));
        ASSERT_EQ(first.exitCode(), 0);
    }
    std::mt19937 rng(20261205);
    std::map<int, bool> finished;  // run -> exited normally with success
    int kills = 0;
    const auto runStart = std::chrono::steady_clock::now();
    QProcess probe;
    start(probe, "NET");
    probe.waitForFinished(60000);
    const auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - runStart);
    finished[0] = true;  // the probe appended RUN-0 a second time; counted below
    for (int run = 1; kills < 200; ++run) {
        writeFile(report, reportFor(run, 1 + run % 6));
        QProcess p;
        start(p, "NET");
        std::uniform_int_distribution<long> delay(0, 2 * runTime.count());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            ++kills;
        }
        p.waitForFinished(60000);
        finished[run] = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    RawDb db(database);
    EXPECT_EQ(db.scalar("PRAGMA integrity_check"), "ok");
    std::map<int, int> seen;
    for (const auto& row : db.query("SELECT \"ID Text\" FROM SamData")) {
        ASSERT_TRUE(row[0]);
        ++seen[std::stoi(row[0]->substr(5))];
    }
    EXPECT_EQ(seen[0], 2);
    for (const auto& [run, ok] : finished) {
        if (run == 0) continue;
        if (ok) {
            EXPECT_EQ(seen[run], 1) << "run " << run;
        } else {
            EXPECT_LE(seen[run], 1) << "run " << run;
        }
    }
    // Every stored record is whole: each of its isotopes' lines has its value.
    for (const auto& [run, count] : seen) {
        if (run == 0 || count == 0) continue;
        const int isotopes = 1 + run % 6;
        for (int i = 0; i < isotopes; ++i) {
            const std::string col = "ISO" + std::to_string(i) + "@NET3";
            EXPECT_EQ(
                db.scalar("SELECT \"" + col + "\" FROM SamData WHERE \"ID Text\" LIKE ' RUN-" +
                          std::to_string(run) + " %'"),
                std::to_string(run + 1))
                << col << " of run " << run;
        }
    }
}

TEST_F(Robustness, SimultaneousAppendsEachGetTheirOwnRecordNumber) {
    writeFile(report, reportFor(1, 4));
    constexpr int kWriters = 8;
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<QProcess>> ps;
        for (int k = 0; k < kWriters; ++k) {
            ps.push_back(std::make_unique<QProcess>());
            start(*ps.back(), k % 2 ? "NET" : "GROSS");
        }
        for (auto& p : ps) {
            ASSERT_TRUE(p->waitForFinished(120000));
            EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
        }
    }
    RawDb db(database);
    EXPECT_EQ(db.scalar("SELECT count(*) FROM SamData"), std::to_string(3 * kWriters));
    EXPECT_EQ(db.scalar("SELECT count(DISTINCT \"idxRec#\") FROM SamData"),
              std::to_string(3 * kWriters));
    EXPECT_EQ(db.scalar("SELECT max(\"idxRec#\") FROM SamData"), std::to_string(3 * kWriters));
    EXPECT_EQ(db.scalar("PRAGMA integrity_check"), "ok");
}

}  // namespace
}  // namespace krv
