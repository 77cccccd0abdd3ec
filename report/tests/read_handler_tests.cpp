#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "report/parser.h"
#include "report/text.h"
#include "tests/support/recording_dialogs.h"

namespace krv {
namespace {

namespace fs = std::filesystem;
using krv::testing::RecordingDialogs;

class ReadKrvFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("krv_read_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        state.numbIsoCaption = "7";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir / "locked.txt", fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }

    fs::path dir;
    WindowState state;
    RecordingDialogs dialogs;
};

TEST_F(ReadKrvFile, ReadsTheSampleAndShowsIdentifierAndCount) {
    state.rpathText = "  " KRV_SAMPLES_DIR "/RESULTS.TXT ";
    ASSERT_TRUE(readKrvFile(state, dialogs).ok);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(state.numbIsoCaption, "3");
    // Full padded width, converted from the report's code page.
    EXPECT_EQ(state.currentFileCaption,
              " SOIL CORE B-17 \u00D850 DEPTH 0-5 CM  BATCH 2002-118" + std::string(24, ' '));
    const AnalysisReport& r = state.report;
    EXPECT_EQ(r.sampleDate.value(), "5/14/02  09:31:05       ");
    EXPECT_EQ(r.isotopeName[2].value(), "CO-60 ");
    ASSERT_EQ(r.lineCount[2], 2);
    EXPECT_EQ(r.lines[2][2].energy, 1332.5f);
    EXPECT_EQ(r.lines[2][2].activity, 12.38f);

    // A report without an identifier leaves the label cleared and the model's value kept.
    std::ofstream(dir / "R.TXT", std::ios::binary) << "File: B.CNF\r\n";
    state.rpathText = (dir / "R.TXT").string();
    EXPECT_TRUE(readKrvFile(state, dialogs).ok);
    EXPECT_EQ(state.currentFileCaption, "");
    EXPECT_EQ(state.numbIsoCaption, "0");
    EXPECT_EQ(r.idText.value().substr(0, 15), " SOIL CORE B-17");
}

TEST_F(ReadKrvFile, MissingReportIsCreatedEmptyWithoutAMessage) {
    state.currentFileCaption = "OLD";
    state.rpathText = (dir / "NEW.TXT").string();
    EXPECT_FALSE(readKrvFile(state, dialogs).ok);  // a job must not append what it never read
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(fs::file_size(dir / "NEW.TXT"), 0u);
    EXPECT_EQ(state.currentFileCaption, "");
    EXPECT_EQ(state.numbIsoCaption, "7");
}

TEST_F(ReadKrvFile, OpenFailuresAreShownUnlessBlind) {
    std::ofstream(dir / "locked.txt") << "ID: X\r\n";
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
        if (c.number == err::kPermissionDenied && !permissionsEnforced) continue;  // root
        SCOPED_TRACE(c.path);
        std::int64_t length = -1;
        EXPECT_EQ(openTestReport(std::string(text::trim(c.path)), length).number, c.number);
        EXPECT_EQ(length, 0);
        for (const bool blind : {false, true}) {
            dialogs.shown.clear();
            state.blindFlag = blind;
            state.currentFileCaption = "OLD";
            state.rpathText = c.path;
            EXPECT_FALSE(readKrvFile(state, dialogs).ok);
            EXPECT_EQ(state.currentFileCaption, "");
            EXPECT_EQ(state.numbIsoCaption, "7");
            ASSERT_EQ(dialogs.shown.size(), blind ? 0u : 1u);
            if (blind) continue;
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
