#include "settings/settings_folder.h"

#include <gtest/gtest.h>

#include "tests/support/case_table.h"

namespace krv::testing {
namespace {

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
