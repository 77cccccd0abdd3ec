#include "app/view_report.h"

#include "platform/platform.h"
#include "report/text.h"

namespace krv {

std::string EditorCommand::commandLine() const {
    std::string line = program;
    for (const auto& a : args) line += " " + a;
    return line;
}

EditorCommand editorCommandFor(const std::string& reportPathAsTyped) {
#ifdef _WIN32
    return {"C:\\WINDOWS\\NOTEPAD.EXE", {reportPathAsTyped}};
#else
    // The desktop's handler for text files plays the part of the system text editor.
    return {"xdg-open", {reportPathAsTyped}};
#endif
}

void viewReport(const WindowState& state, Dialogs& dialogs, ProgramLauncher& launcher) {
    const std::string path(text::trim(state.rpathText));
    if (platform::findNormalFile(path) == platform::Lookup::Found) {
        const EditorCommand cmd = editorCommandFor(state.rpathText);
        // Nothing waits on the editor; if it cannot start there is nothing more to do.
        launcher.startDetached(cmd.program, cmd.args);
        return;
    }
    if (!state.blindFlag)
        dialogs.message("Invalid path or file name [ " + state.rpathText + " ]", kAppTitle);
}

}  // namespace krv
