// krvtool qc as a job script runs it: the real executable on a results database made by
// the program's own reset and appends.

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>

#include "krvtool/tests/run_cases.h"
#include "qc/tests/check_source_db.h"
#include "tests/support/process_run.h"
#include "tests/support/test_folder.h"

namespace krv::testing {
namespace {

// Daily check-source counts among blanks, then for each case one more count on day 60, its
// deviation from the decayed value given first in the row ("-": none).
TEST(KrvtoolQc, EachRunEndsAsItsCaseSays) {
    TestFolder base;
    auto engine = db::makeEngine();
    appendCounts(*engine, base.file("results.db"), dailyCounts(10, 3));
    std::filesystem::copy(KRV_TEST_DATA "/krvtool_qc", base.path());
    for (const auto& c : caseTable("krvtool_qc_runs.tsv", 5)) {
        TestFolder folder;
        const std::string db = folder.file("results.db");
        std::filesystem::copy_file(base.file("results.db"), db);
        if (c[0] != "-")
            appendCounts(
                *engine, db,
                {{"CHECK CO-60", reportDate(60),
                  static_cast<float>(checkSourceActivity(60) * (1 + std::stod(c[0]))), 50}});
        const Words files = {
            {"$BASE", base.path().string()}, {"$DIR", folder.path().string()}, {"$DB", db}};
        const ProcessRun r = runJobProcess(KRV_TOOL_EXE, caseArgs(c, 1, files));
        expectRunEnd(c, 1, files, r.status, r.out, r.err, c.where("krvtool_qc_runs.tsv"));
        if (c[1].find("--png") != std::string::npos) {
            EXPECT_EQ(QImage(QString::fromStdString(folder.file("trend.png"))).size(),
                      QSize(1200, 700));
            const std::string lines = readFile(folder / "trend.csv");
            EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 62);
        }
    }
    EXPECT_EQ(readFile(base / "notes.txt"), "not a database\n");
}

}  // namespace
}  // namespace krv::testing
