#include "viewer/results_viewer.h"

#include <QGuiApplication>
#include <QScreen>

#include "platform/platform.h"
#include "report/text.h"
#include "results_db/store.h"
#include "viewer/results_window.h"

namespace krv {

namespace {

constexpr int kWidthSlots = 100;
// A stored width this small or smaller (0 included) leaves the column at its automatic
// width, so a column narrowed to nearly nothing comes back readable.
constexpr int kSmallestGivenWidth = 100;

// To the right of the main window when it fits on that screen; the window manager's
// choice otherwise.
void placeBeside(ResultsWindow& viewer, const QWidget* mainWindow) {
    if (!mainWindow || !mainWindow->isVisible()) return;
    const QRect main = mainWindow->frameGeometry();
    const QPoint topLeft(main.right() + 1, main.top());
    const QScreen* screen = mainWindow->screen();
    if (screen &&
        screen->availableGeometry().contains(QRect(topLeft, viewer.frameGeometry().size())))
        viewer.move(topLeft);
}

}  // namespace

void openResultsViewer(QPointer<ResultsWindow>& viewer, WindowState& state, Dialogs& dialogs,
                       QWidget* mainWindow) {
    const std::string path(text::trim(state.apathText));
    if (db::makeEngine()->locate(path) != platform::Lookup::Found) {
        if (!state.blindFlag)
            dialogs.message("Invalid path or file name [ " + path + " ] ", kAppTitle);
        return;
    }

    bool created = false;
    const auto ensureViewer = [&]() -> ResultsWindow& {
        if (!viewer) {
            viewer = new ResultsWindow(state, dialogs, mainWindow);
            created = true;
        }
        return *viewer;
    };
    // Also while the viewer is open: the stored widths undo the user's changes since.
    for (int i = 0; i < kWidthSlots; ++i) {
        const int width = state.columnWidth[static_cast<std::size_t>(i)];
        if (width > kSmallestGivenWidth && !ensureViewer().setColumnWidthTwips(i, width)) break;
    }

    ResultsWindow& shown = ensureViewer();
    if (created) placeBeside(shown, mainWindow);
    shown.show();
    shown.raise();
    shown.activateWindow();
}

}  // namespace krv
