#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/dialogs.h"
#include "report/analysis_report.h"

namespace krv {

class ResultsWindow;

// "Edit Results DataBase": checks the database path, gives the stored column widths to
// the grid (creating and loading the viewer on first use) and shows it beside `mainWindow`.
// At most one viewer exists: `viewer` holds it while it is open, and a click while it is
// open does not rebind it. The viewer writes its column widths back into
// state.columnWidth when the user closes it; `state` must outlive it.
void openResultsViewer(QPointer<ResultsWindow>& viewer, WindowState& state, Dialogs& dialogs,
                       QWidget* mainWindow);

}  // namespace krv
