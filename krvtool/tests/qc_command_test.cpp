// krvtool qc as a job script runs it: the real executable on a results database made by
// the program's own reset and appends.

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <filesystem>

#include "qc/tests/check_source_db.h"
#include "tests/support/process_run.h"
#include "tests/support/test_folder.h"

namespace krv {
namespace {

using ToolRun = testing::ProcessRun;

// A job run from a scheduler: no display at all.
ToolRun krvtool(const QStringList& args) { return testing::runJobProcess(KRV_TOOL_EXE, args); }

// The daily check-source counts, among blanks.
class KrvtoolQc : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        base = new testing::TestFolder;
        auto engine = db::makeEngine();
        testing::appendCounts(*engine, base->file("results.db"), testing::dailyCounts(10, 3));
    }
    static void TearDownTestSuite() { delete base; }

    void SetUp() override { std::filesystem::copy_file(base->file("results.db"), db); }
    // One more check-source count on day 60, `deviation` away from the decayed value.
    void appendNewest(double deviation) {
        auto engine = db::makeEngine();
        testing::appendCounts(
            *engine, db,
            {{"CHECK CO-60", testing::reportDate(60),
              static_cast<float>(testing::checkSourceActivity(60) * (1 + deviation)), 50}});
    }
    QStringList qc(QStringList more = {}) {
        QStringList a{QStringLiteral("qc"),       QString::fromStdString(db),
                      QStringLiteral("--column"), QStringLiteral("CO-60@LINE1"),
                      QStringLiteral("--match"),  QStringLiteral("CHECK*")};
        return a + more;
    }

    static testing::TestFolder* base;
    testing::TestFolder folder;
    std::string db = folder.file("results.db");
};
testing::TestFolder* KrvtoolQc::base = nullptr;

TEST_F(KrvtoolQc, InControlAfterDecayCorrectionWithChartAndCsv) {
    appendNewest(0.001);
    const std::string png = folder.file("trend.png"), csv = folder.file("trend.csv");
    const ToolRun r =
        krvtool(qc({"--png", QString::fromStdString(png), "--csv", QString::fromStdString(csv)}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // nothing for a job's log when all is well
    EXPECT_NE(r.out.find("61 point(s) from 61 matching record(s); baseline 20 point(s)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("decay-corrected to 2002-05-01 09:00:05 with T1/2 5.2711 y (Co-60, DDEP"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("newest point: 2002-06-30 09:00:05, record 67 \"CHECK CO-60\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("rules: none broken\n"), std::string::npos) << r.out;
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(1200, 700));
    const std::string lines = testing::readFile(csv);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 62);

    // Without the correction the decay alone runs ten points below the mean.
    const ToolRun off = krvtool(qc({"--decay", "off"}));
    EXPECT_EQ(off.status, 3) << off.out;
    EXPECT_NE(off.out.find("10x"), std::string::npos) << off.out;
    EXPECT_NE(off.out.find("(rejected)"), std::string::npos);
}

TEST_F(KrvtoolQc, NewestBeyondLimitsRejectsWarningOnlyWarns) {
    appendNewest(0.03);
    const ToolRun rejected = krvtool(qc());
    EXPECT_EQ(rejected.status, 3) << rejected.out << rejected.err;
    EXPECT_NE(rejected.out.find("rules: 1-3s (rejected)"), std::string::npos) << rejected.out;

    std::filesystem::remove(db);
    SetUp();
    appendNewest(0.0075);
    const ToolRun warned = krvtool(qc());
    EXPECT_EQ(warned.status, 0) << warned.out << warned.err;
    EXPECT_NE(warned.out.find("rules: 1-2s (warning)"), std::string::npos) << warned.out;
}

// What cannot be charted is status 1, the reason named once; usage errors are in the
// tool's table.
TEST_F(KrvtoolQc, WhatCannotBeChartedIsStatus1) {
    ToolRun r =
        krvtool({"qc", QString::fromStdString(db), "--column", "CO-60@LINE7", "--match", "C*"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "krvtool: " + db + ": the table has no column \"CO-60@LINE7\"\n");
    r = krvtool(
        {"qc", QString::fromStdString(db), "--column", "CO-60@LINE1", "--match", "NOTHING*"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no record with a readable value and date matches \"NOTHING*\""),
              std::string::npos)
        << r.err;

    const std::string text = folder.file("notes.txt");
    testing::writeFile(text, "not a database\n");
    r = krvtool({"qc", QString::fromStdString(text), "--column", "X", "--match", "*"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(testing::readFile(text), "not a database\n");

    const std::string halfLives = folder.file("half-lives.txt");
    testing::writeFile(halfLives, "CO-60 five y\n");
    r = krvtool(qc({"--half-lives", QString::fromStdString(halfLives)}));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("half-lives.txt:1: expected NUCLIDE VALUE UNIT"), std::string::npos)
        << r.err;
}

TEST_F(KrvtoolQc, BaselineByDatesAndUserHalfLife) {
    const std::string halfLives = folder.file("half-lives.txt");
    testing::writeFile(halfLives, "CO-60 1925.3 d our certificate\n");
    const ToolRun r = krvtool(qc({"--from", "6/1/02", "--to", "6/10/02", "--half-lives",
                                  QString::fromStdString(halfLives)}));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("baseline 10 point(s)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("T1/2 1925.3 d (CO-60, our certificate ("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("rules: none broken"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace krv
