#include <gtest/gtest.h>

#include "app/session.h"
#include "settings/settings_files.h"
#include "settings/settings_folder.h"
#include "tests/support/case_table.h"
#include "tests/support/test_folder.h"

namespace krv::testing {
namespace {

class Settings : public ::testing::Test {
  protected:
    WindowState started() {
        WindowState s;
        startUp(s, files);
        return s;
    }
    TestFolder folder;
    SettingsFiles files = SettingsFiles::in(folder.path());
};

// Missing files are created; a paths file of any other length, or one that cannot be used,
// keeps the defaults.
TEST_F(Settings, RoundTripKeepsExactBytesWidthsAreReadItemByItemAndAnythingElseKeepsDefaults) {
    WindowState s = started();
    EXPECT_EQ(std::filesystem::file_size(files.settingsFile) + file_size(files.widthsFile), 0u);
    s.apathText = "  /data/" + std::string(80, 'a');                 // cut to 72 characters
    s.rpathText = "/r\xC3\xA9sultat/\xE2\x82\xAC/\xE4\xB8\xAD.txt";  // é and € fit, 中 does not
    s.columnWidth[0] = 1440;
    s.columnWidth[1] = -5;
    s.columnWidth[100] = 999;  // never stored
    saveSettings(files, s);

    // Two fields of 72 bytes, the report path in the Windows code page.
    EXPECT_EQ(readFile(files.settingsFile),
              "/data/" + std::string(66, 'a') + "/r\xE9sultat/\x80/?.txt" + std::string(55, ' '));
    std::string widths = " 1440\r\n-5\r\n";
    for (int k = 2; k < 100; ++k) widths += " 0\r\n";
    EXPECT_EQ(readFile(files.widthsFile), widths);

    const WindowState back = started();
    EXPECT_EQ(back.apathText + "|" + back.rpathText,
              "/data/" + std::string(66, 'a') + "|/r\xC3\xA9sultat/\xE2\x82\xAC/?.txt");
    EXPECT_EQ(std::to_string(back.columnWidth[1]) + " " + std::to_string(back.columnWidth[100]),
              "-5 0");
    for (std::size_t size : {143u, 145u, 288u, 40000u}) {
        writeFile(files.settingsFile, std::string(size, 'x'));
        s = started();
        EXPECT_EQ(s.apathText + "|" + s.rpathText,
                  defaultDatabasePath() + "|" + defaultReportPath());
    }
    // Widths are read item by item.
    for (const auto& c : caseTable("settings_widths.tsv", 2)) {
        writeFile(files.widthsFile, c[0]);
        const auto w = started().columnWidth;
        std::string read;
        for (std::size_t k = 0; read.size() < c[1].size(); ++k)
            read += (k ? "," : "") + std::to_string(w[k]);
        EXPECT_EQ(read, c[1]) << c.where("settings_widths.tsv");
    }
    // Files that cannot be used never stop start-up or saving.
    for (const auto& f : {files.settingsFile, files.widthsFile}) {
        std::filesystem::remove(f);
        std::filesystem::create_directory(f);
    }
    s = started();
    EXPECT_EQ(s.apathText, defaultDatabasePath());
    s.apathText = "/x";
    saveSettings(files, s);
    EXPECT_TRUE(std::filesystem::is_directory(files.settingsFile));
}

TEST(SettingsFolderChoice, AsTheCaseTableSays) {
    for (const auto& c : caseTable("settings_folder.tsv", 10)) {
#ifdef _WIN32
        if (c[8] == "posix") continue;
#endif
        const auto got =
            chooseSettingsFolder({c[0], c[1] == "yes", c[2] == "yes", c[3], c[4], c[9]});
        const std::string where = c.where("settings_folder.tsv");
        EXPECT_EQ(got.folder, c[5]) << where;
        EXPECT_TRUE(c[6] == "-" || got.perUser == (c[6] == "yes")) << where;
        EXPECT_TRUE(c[7] == "-" || got.problem.empty() == c[7].empty()) << where << got.problem;
    }
}

}  // namespace
}  // namespace krv::testing
