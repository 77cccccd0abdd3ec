#pragma once

#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "report/analysis_report.h"

namespace krv {

// Starts another program without a shell, its arguments passed as a list, and does not
// wait for it. Returns false when it could not be started.
class ProgramLauncher {
  public:
    virtual ~ProgramLauncher() = default;
    virtual bool startDetached(const std::string& program,
                               const std::vector<std::string>& args) = 0;
};

struct EditorCommand {
    std::string program;
    std::vector<std::string> args;
    // The command as one line: editor, one blank, the path as typed.
    std::string commandLine() const;
};

// The text editor command for a report path as typed in the box.
EditorCommand editorCommandFor(const std::string& reportPathAsTyped);

// "View Results.TXT": opens the report in the text editor, or says the file is missing.
void viewReport(const WindowState& state, Dialogs& dialogs, ProgramLauncher& launcher);

}  // namespace krv
