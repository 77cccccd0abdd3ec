#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "report/tests/report_builder.h"
#include "report/text.h"
#include "tests/support/recording_dialogs.h"

namespace krv {
namespace {

namespace fs = std::filesystem;
using namespace krv::testing;

class ReadKrvFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("krv_read_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        state.numbIsoCaption = "7";
        state.currentFileCaption = "OLD";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir / "locked.txt", fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    void write(const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }

    fs::path dir;
    WindowState state;
    RecordingDialogs dialogs;
};

TEST_F(ReadKrvFile, ReadsTheReportAndShowsIdentifierAndCount) {
    Lines l{"ID: \xB5g SAMPLE"};
    append(l, block("CO-60", {row(" 1173.2", "1", "1", "1"), row(" 1332.5", "2", "2", "2")}));
    append(l, block("CS-137", {row("  661.66", "3", "3", "3")}));
    write(dir / "RESULTS.TXT", join(l));
    state.rpathText = "  " + (dir / "RESULTS.TXT").string() + "  ";

    EXPECT_TRUE(readKrvFile(state, dialogs).ok);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(state.numbIsoCaption, "2");
    EXPECT_EQ(state.currentFileCaption, " \u00B5g SAMPLE" + std::string(62, ' '));
    EXPECT_EQ(state.report.lineCount[1], 2);

    // The next report has no identifier: the label stays cleared, the model keeps it.
    write(dir / "RESULTS.TXT", join({"File: B.CNF"}));
    EXPECT_TRUE(readKrvFile(state, dialogs).ok);
    EXPECT_EQ(state.currentFileCaption, "");
    EXPECT_EQ(state.numbIsoCaption, "0");
    EXPECT_EQ(state.report.idText.value().substr(0, 4), " \xB5g ");
}

TEST_F(ReadKrvFile, ShippedSampleReadsAsPrinted) {
    state.rpathText = KRV_SAMPLES_DIR "/RESULTS.TXT";
    ASSERT_TRUE(readKrvFile(state, dialogs).ok);
    const AnalysisReport& r = state.report;
    EXPECT_EQ(state.numbIsoCaption, "3");
    EXPECT_EQ(std::string(text::trim(state.currentFileCaption)),
              "SOIL CORE B-17 DEPTH 0-5 CM  BATCH 2002-118");
    EXPECT_EQ(r.sampleDate.value(), "5/14/02  09:31:05       ");
    EXPECT_FLOAT_EQ(r.countingTime, 3600);
    EXPECT_FLOAT_EQ(r.deadTimePct, 3.2f);
    ASSERT_EQ(r.lineCount[2], 2);
    EXPECT_EQ(r.isotopeName[2].value(), "CO-60 ");
    EXPECT_FLOAT_EQ(r.lines[2][2].energy, 1332.5f);
    EXPECT_FLOAT_EQ(r.lines[2][2].gross, 1311);
    EXPECT_FLOAT_EQ(r.lines[2][2].net, 944);
    EXPECT_FLOAT_EQ(r.lines[2][2].activity, 12.38f);
    EXPECT_EQ(r.isotopeName[3].value(), "CS-137");
    EXPECT_FLOAT_EQ(r.lines[3][1].energy, 661.66f);
}

TEST_F(ReadKrvFile, MissingReportIsCreatedEmptyWithoutAMessage) {
    state.report.isotopeCount = 3;
    state.rpathText = (dir / "NEW.TXT").string();
    const JobOutcome outcome = readKrvFile(state, dialogs);
    EXPECT_FALSE(outcome.ok);  // a job must not append a report that was never read
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(fs::exists(dir / "NEW.TXT"));
    EXPECT_EQ(fs::file_size(dir / "NEW.TXT"), 0u);
    EXPECT_EQ(state.currentFileCaption, "");
    EXPECT_EQ(state.numbIsoCaption, "7");
    EXPECT_EQ(state.report.isotopeCount, 0);
}

TEST_F(ReadKrvFile, OpenFailuresAreShownUnlessBlind) {
    write(dir / "locked.txt", "ID: X\r\n");
    fs::permissions(dir / "locked.txt", fs::perms::none);
    const bool permissionsEnforced = !std::ifstream(dir / "locked.txt");
    const struct {
        std::string path;
        int number;
        std::string description;
    } cases[] = {
        {dir.string(), err::kPathFileAccess, "Path/File access error"},
        {(dir / "no_such_folder" / "R.TXT").string(), err::kPathNotFound, "Path not found"},
        {"   ", err::kBadFileNameOrNumber, "Bad file name or number"},
        {(dir / "locked.txt").string(), err::kPermissionDenied, "Permission denied"},
    };
    for (const auto& c : cases) {
        if (c.number == err::kPermissionDenied && !permissionsEnforced) continue;
        SCOPED_TRACE(c.path);
        std::int64_t length = -1;
        const Status st = openTestReport(std::string(text::trim(c.path)), length);
        EXPECT_EQ(st.number, c.number);
        EXPECT_EQ(length, 0);

        for (const bool blind : {false, true}) {
            dialogs.shown.clear();
            state.blindFlag = blind;
            state.currentFileCaption = "OLD";
            state.rpathText = c.path;
            EXPECT_FALSE(readKrvFile(state, dialogs).ok);
            EXPECT_EQ(state.currentFileCaption, "");
            EXPECT_EQ(state.numbIsoCaption, "7");
            if (blind) {
                EXPECT_TRUE(dialogs.shown.empty());
                continue;
            }
            ASSERT_EQ(dialogs.shown.size(), 1u);
            EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::Message);
            EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " +
                                                 std::string(text::trim(c.path)) + " ] <" +
                                                 c.description + ">");
            EXPECT_EQ(dialogs.shown[0].title, kAppTitle);
        }
    }
    EXPECT_FALSE(fs::exists(dir / "no_such_folder"));
}

}  // namespace
}  // namespace krv
