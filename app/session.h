#pragma once

#include <string>

#include "app/command_words.h"
#include "app/settings.h"
#include "platform/dialogs.h"
#include "platform/status.h"
#include "report/analysis_report.h"
#include "results_db/store.h"

namespace krv {

// The path boxes' texts before any settings file was written.
std::string defaultReportPath();
std::string defaultDatabasePath();

// The start-up steps that come before the command line: a fresh window state with the
// default paths, then the paths and column widths restored from the settings files.
void startUp(WindowState& state, const SettingsFiles& files);

// The unattended job of a command word (the window is never shown). Its outcome says
// whether the record was saved (or the database reset), and which values it lacks.
JobOutcome runCommandJob(const CommandJob& job, WindowState& state, Dialogs& dialogs,
                         db::Engine& engine);

}  // namespace krv
