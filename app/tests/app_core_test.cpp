#include <gtest/gtest.h>

#include <map>

#include "app/command_words.h"
#include "app/view_report.h"
#include "tests/support/case_table.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/test_folder.h"

namespace krv::testing {
namespace {

TEST(CommandWords, PrecedenceCaseAndSubstrings) {
    const std::map<std::string, CommandJob::Kind> kinds = {
        {"None", CommandJob::None}, {"Append", CommandJob::Append}, {"Reset", CommandJob::Reset}};
    for (const auto& c : caseTable("command_words.tsv", 3)) {
        const CommandJob job = parseCommandWords(c[0]);
        EXPECT_EQ(job.kind, kinds.at(c[1])) << c.where("command_words.tsv");
        EXPECT_EQ(job.appendMode, std::stoi(c[2])) << c.where("command_words.tsv");
    }
}

struct RecordingLauncher : ProgramLauncher {
    bool startDetached(const std::string& program, const std::vector<std::string>& args) override {
        started.push_back({program, args});
        return true;
    }
    std::vector<EditorCommand> started;
};

TEST(ViewReport, OpensNormalFilesInTheEditorAndNamesAnythingElse) {
    TestFolder folder;
    WindowState state;
    RecordingDialogs dialogs;
    RecordingLauncher launcher;
    const auto view = [&](const std::string& typed) {
        state.rpathText = typed;
        viewReport(state, dialogs, launcher);
    };
    writeFile(folder / "my results.txt", "ID: x\r\n");
    writeFile(folder / ".hidden.txt", "x");

    // Blanks pass the existence test and reach the editor as typed, as one argument.
    const std::string typed = "  " + folder.file("my results.txt") + " ";
    view(typed);
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].program, editorCommandFor(typed).program);
    EXPECT_EQ(launcher.started[0].args, std::vector<std::string>{typed});
    EXPECT_EQ(editorCommandFor(typed).commandLine(), editorCommandFor(typed).program + " " + typed);
    view(folder.file("my res*.t?t"));
    EXPECT_EQ(launcher.started.size(), 2u);

    for (const std::string& path : {folder.file("none.txt"), folder.path().string(),
                                    folder.file(".hidden.txt"), folder.file("no*.txt")}) {
        dialogs.shown.clear();
        view(path + " ");
        ASSERT_EQ(dialogs.shown.size(), 1u) << path;
        EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " + path + "  ]");
        EXPECT_EQ(dialogs.shown[0].title, "KrvArchiver");
    }
    state.blindFlag = true;
    dialogs.shown.clear();
    view(folder.file("none.txt"));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(launcher.started.size(), 2u);
}

}  // namespace
}  // namespace krv::testing
