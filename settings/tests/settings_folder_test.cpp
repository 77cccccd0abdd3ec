#include "settings/settings_folder.h"

#include <gtest/gtest.h>

namespace krv::testing {
namespace {

SettingsFolderChoice choose(const std::string& programFolder, bool marker, bool holdsSettings,
                            const std::string& xdg = "", const std::string& home = "/home/ann",
                            const std::string& appData = "") {
    return chooseSettingsFolder({programFolder, marker, holdsSettings, xdg, home, appData});
}

TEST(SettingsFolderChoice, CopiedProgramKeepsItsOwnFolder) {
    for (const bool holds : {false, true}) {
        const auto c = choose("/home/ann/krv", false, holds, "/home/ann/cfg");
        EXPECT_EQ(c.folder, "/home/ann/krv");
        EXPECT_FALSE(c.perUser);
    }
    // Installed under a prefix of its own, yet its folder already holds the settings.
    const auto upgraded = choose("/opt/krv/bin", true, true);
    EXPECT_EQ(upgraded.folder, "/opt/krv/bin");
    EXPECT_FALSE(upgraded.perUser);
    // Near misses of the system folders are ordinary folders.
    for (const char* f : {"/usr/binaries", "/home/ann/usr/bin", "/usr", "/usr/lib/krv"})
        EXPECT_EQ(choose(f, false, false).folder, f);
}

#ifndef _WIN32  // only the Linux package installs the program into a system folder
TEST(SettingsFolderChoice, InstalledProgramUsesTheUsersConfigurationFolder) {
    EXPECT_EQ(choose("/opt/krv/bin", true, false, "/srv/cfg").folder, "/srv/cfg/krvarchiver");
    // A relative or empty XDG_CONFIG_HOME is not a configuration folder.
    for (const char* xdg : {"", "cfg", "./cfg"}) {
        const auto c = choose("/opt/krv/bin", true, false, xdg);
        EXPECT_EQ(c.folder, "/home/ann/.config/krvarchiver") << xdg;
        EXPECT_TRUE(c.perUser);
        EXPECT_EQ(c.problem, "");
    }
    for (const char* home : {"", "ann"}) {
        const auto c = choose("/opt/krv/bin", true, false, "", home);
        EXPECT_TRUE(c.folder.empty());
        EXPECT_NE(c.problem, "");
    }
    EXPECT_EQ(choose("/opt/krv/bin", true, false, "/srv/cfg", "").folder, "/srv/cfg/krvarchiver");
    // Windows names the folder for program settings itself.
    const auto windows = choose("/opt/krv/bin", true, false, "/srv/cfg", "", "/users/ann/roaming");
    EXPECT_EQ(windows.folder, "/users/ann/roaming/KrvArchiver");
    EXPECT_TRUE(windows.perUser);
    EXPECT_EQ(choose("/opt/krv", false, false, "", "", "/users/ann/roaming").folder, "/opt/krv");
}

TEST(SettingsFolderChoice, SystemProgramFoldersAreNeverTheSettingsFolder) {
    // Even without the marker (copied there by hand) and even holding settings files.
    for (const char* f : {"/usr/bin", "/usr/bin/", "/usr/local/bin", "/bin", "/usr/sbin/../bin",
                          "/usr/local/games//"}) {
        for (const bool holds : {false, true}) {
            const auto c = choose(f, false, holds);
            EXPECT_EQ(c.folder, "/home/ann/.config/krvarchiver") << f;
            EXPECT_TRUE(c.perUser);
        }
    }
}

#endif

}  // namespace
}  // namespace krv::testing
