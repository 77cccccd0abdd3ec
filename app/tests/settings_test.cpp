#include "app/settings.h"

#include <gtest/gtest.h>

#include "app/session.h"
#include "tests/support/test_folder.h"

namespace krv {
namespace {

using testing::readFile;
using testing::TestFolder;
using testing::writeFile;

class Settings : public ::testing::Test {
  protected:
    TestFolder folder;
    SettingsFiles files = SettingsFiles::in(folder.path());

    WindowState started() {
        WindowState s;
        startUp(s, files);
        return s;
    }
};

TEST_F(Settings, RoundTripWritesExactBytes) {
    WindowState s = started();
    s.apathText = "  /data/lab results/Results.mdb ";
    s.rpathText = "/data/Temp/RESULTS.TXT";
    s.columnWidth[0] = 1440;
    s.columnWidth[1] = -5;
    s.columnWidth[99] = 32767;
    s.columnWidth[100] = 999;  // never stored
    saveSettings(files, s);

    const std::string record = readFile(files.settingsFile);
    ASSERT_EQ(record.size(), 144u);
    EXPECT_EQ(record.substr(0, 72),
              std::string("/data/lab results/Results.mdb") + std::string(43, ' '));
    EXPECT_EQ(record.substr(72), std::string("/data/Temp/RESULTS.TXT") + std::string(50, ' '));

    const std::string widths = readFile(files.widthsFile);
    std::string expected = " 1440\r\n-5\r\n";
    for (int k = 2; k < 99; ++k) expected += " 0\r\n";
    expected += " 32767\r\n";
    EXPECT_EQ(widths, expected);

    const WindowState back = started();
    EXPECT_EQ(back.apathText, "/data/lab results/Results.mdb");
    EXPECT_EQ(back.rpathText, "/data/Temp/RESULTS.TXT");
    EXPECT_EQ(back.columnWidth[0], 1440);
    EXPECT_EQ(back.columnWidth[1], -5);
    EXPECT_EQ(back.columnWidth[99], 32767);
    EXPECT_EQ(back.columnWidth[100], 0);
}

TEST_F(Settings, LongPathIsCutAndNonLatinCharactersBecomeQuestionMarks) {
    WindowState s = started();
    s.apathText = "/" + std::string(79, 'a');                        // 80 characters
    s.rpathText = "/r\xC3\xA9sultat/\xE2\x82\xAC/\xE4\xB8\xAD.txt";  // é, €, 中
    saveSettings(files, s);
    const std::string record = readFile(files.settingsFile);
    ASSERT_EQ(record.size(), 144u);
    EXPECT_EQ(record.substr(0, 72), "/" + std::string(71, 'a'));
    EXPECT_EQ(record.substr(72, 17), "/r\xE9sultat/\x80/?.txt");

    const WindowState back = started();
    EXPECT_EQ(back.apathText, "/" + std::string(71, 'a'));
    EXPECT_EQ(back.rpathText, "/r\xC3\xA9sultat/\xE2\x82\xAC/?.txt");
}

TEST_F(Settings, PathsFileOfAnyOtherLengthKeepsDefaults) {
    for (std::size_t size : {0u, 143u, 145u, 288u, 40000u}) {
        writeFile(files.settingsFile, std::string(size, 'x'));
        const WindowState s = started();
        EXPECT_EQ(s.apathText, defaultDatabasePath()) << size;
        EXPECT_EQ(s.rpathText, defaultReportPath()) << size;
    }
}

TEST_F(Settings, FirstStartCreatesBothFilesEmpty) {
    const WindowState s = started();
    ASSERT_TRUE(std::filesystem::exists(files.settingsFile));
    ASSERT_TRUE(std::filesystem::exists(files.widthsFile));
    EXPECT_EQ(std::filesystem::file_size(files.settingsFile), 0u);
    EXPECT_EQ(std::filesystem::file_size(files.widthsFile), 0u);
    EXPECT_EQ(s.apathText, defaultDatabasePath());
    EXPECT_EQ(started().rpathText, defaultReportPath());
}

TEST_F(Settings, WidthsFileShapes) {
    // A short file fills only its slots.
    writeFile(files.widthsFile, " 100\r\n 2000\r\n-3\r\n");
    WindowState s = started();
    EXPECT_EQ(s.columnWidth[0], 100);
    EXPECT_EQ(s.columnWidth[1], 2000);
    EXPECT_EQ(s.columnWidth[2], -3);
    EXPECT_EQ(s.columnWidth[3], 0);

    // Commas and blanks separate items just like line ends; LF-only files read the same.
    writeFile(files.widthsFile, "10,20, 30 40\n50");
    s = started();
    EXPECT_EQ((std::vector<int>{s.columnWidth[0], s.columnWidth[1], s.columnWidth[2],
                                s.columnWidth[3], s.columnWidth[4]}),
              (std::vector<int>{10, 20, 30, 40, 50}));

    // Items beyond the hundredth are not read; slot 100 is never filled.
    std::string many;
    for (int k = 0; k < 150; ++k) many += std::to_string(k + 1) + "\r\n";
    writeFile(files.widthsFile, many);
    s = started();
    EXPECT_EQ(s.columnWidth[99], 100);
    EXPECT_EQ(s.columnWidth[100], 0);
}

TEST_F(Settings, BadWidthItemsLeaveTheirSlotZero) {
    writeFile(files.widthsFile,
              "abc\r\n 40000\r\n-32769\r\n 12x\r\n\r\n 7\r\n1.5\r\n2.5\r\n,\r\n 9");
    const WindowState s = started();
    EXPECT_EQ(s.columnWidth[0], 0);  // not a number
    EXPECT_EQ(s.columnWidth[1], 0);  // above 16 bits
    EXPECT_EQ(s.columnWidth[2], 0);  // below 16 bits
    EXPECT_EQ(s.columnWidth[3], 0);  // trailing garbage
    EXPECT_EQ(s.columnWidth[4], 7);  // empty lines are skipped, not items
    EXPECT_EQ(s.columnWidth[5], 2);  // rounds half to even
    EXPECT_EQ(s.columnWidth[6], 2);
    EXPECT_EQ(s.columnWidth[7], 0);  // an empty item between separators
    EXPECT_EQ(s.columnWidth[8], 9);
}

TEST_F(Settings, UnusableFilesNeverStopStartUp) {
    std::filesystem::create_directory(files.settingsFile);
    std::filesystem::create_directory(files.widthsFile);
    WindowState s = started();
    EXPECT_EQ(s.apathText, defaultDatabasePath());
    EXPECT_EQ(s.columnWidth[0], 0);
    // Saving over folders fails quietly.
    s.apathText = "/x";
    saveSettings(files, s);
    EXPECT_TRUE(std::filesystem::is_directory(files.settingsFile));
}

TEST_F(Settings, HugeWidthsFileReadsOnlyItsStart) {
    std::string big(5u << 20, ' ');
    big.replace(0, 6, " 1234\n");
    writeFile(files.widthsFile, big);
    EXPECT_EQ(started().columnWidth[0], 1234);
}

TEST_F(Settings, SaveIntoReadOnlyFolderIsIgnored) {
    WindowState s = started();
    s.apathText = "/first";
    saveSettings(files, s);
    std::filesystem::permissions(
        folder.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    s.apathText = "/second";
    saveSettings(files, s);  // must not throw
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all);
    // Root may write anyway; either way the file holds one whole record.
    EXPECT_EQ(std::filesystem::file_size(files.settingsFile), 144u);
}

}  // namespace
}  // namespace krv
