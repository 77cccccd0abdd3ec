#include "app/view_report.h"

#include <gtest/gtest.h>

#include "tests/support/recording_dialogs.h"
#include "tests/support/test_folder.h"

namespace krv {
namespace {

using testing::RecordingDialogs;
using testing::TestFolder;

struct RecordingLauncher : ProgramLauncher {
    bool startDetached(const std::string& program, const std::vector<std::string>& args) override {
        started.push_back({program, args});
        return true;
    }
    std::vector<EditorCommand> started;
};

class ViewReport : public ::testing::Test {
  protected:
    TestFolder folder;
    WindowState state;
    RecordingDialogs dialogs;
    RecordingLauncher launcher;

    void view(const std::string& rpath) {
        state.rpathText = rpath;
        viewReport(state, dialogs, launcher);
    }
};

TEST_F(ViewReport, ExistingFileOpensInEditorWithPathAsTyped) {
    const auto report = folder / "my results.txt";
    testing::writeFile(report, "ID: x\r\n");
    const std::string typed = "  " + report.string() + " ";
    view(typed);
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_TRUE(dialogs.shown.empty());
    const EditorCommand expected = editorCommandFor(typed);
    EXPECT_EQ(launcher.started[0].program, expected.program);
    // One argument, blanks and all: no shell ever splits or interprets it.
    ASSERT_EQ(launcher.started[0].args, std::vector<std::string>{typed});
    EXPECT_EQ(expected.commandLine(), expected.program + " " + typed);
}

TEST_F(ViewReport, MissingFolderOrHiddenFileGivesMessage) {
    testing::writeFile(folder / ".hidden.txt", "x");
    const std::string cases[] = {(folder / "none.txt").string(), folder.path().string(),
                                 (folder / ".hidden.txt").string(), ""};
    for (const auto& path : cases) {
        dialogs.shown.clear();
        view(path + " ");
        ASSERT_EQ(dialogs.shown.size(), 1u) << path;
        EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " + path + "  ]");
        EXPECT_EQ(dialogs.shown[0].title, "KrvArchiver");
    }
    EXPECT_TRUE(launcher.started.empty());
}

TEST_F(ViewReport, WildcardPassesWhenANormalFileMatches) {
    testing::writeFile(folder / "RESULTS.TXT", "x");
    view((folder / "RES*.T?T").string());
    EXPECT_EQ(launcher.started.size(), 1u);
    view((folder / "NOPE*.TXT").string());
    EXPECT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(ViewReport, BlindFlagSuppressesMessage) {
    state.blindFlag = true;
    view((folder / "none.txt").string());
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(launcher.started.empty());
}

}  // namespace
}  // namespace krv
