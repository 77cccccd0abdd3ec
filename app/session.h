#pragma once

#include <string>

#include "app/command_words.h"
#include "platform/dialogs.h"
#include "platform/status.h"
#include "report/analysis_report.h"
#include "results_db/store.h"
#include "settings/settings_files.h"

namespace krv {

// The unattended job of a command word (the window is never shown). Its outcome says
// whether the record was saved (or the database reset), and which values it lacks.
JobOutcome runCommandJob(const CommandJob& job, WindowState& state, Dialogs& dialogs,
                         db::Engine& engine);

}  // namespace krv
