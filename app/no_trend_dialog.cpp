#include "app/trend_dialog.h"

// The Windows build has no Qt Charts (scripts/qt-windows.sh): the menu entry stays where a
// technician expects it and says where the chart is drawn.

namespace krv {

TrendDialog* openTrendChart(QWidget*, const std::string&, db::Engine&, Dialogs& dialogs) {
    dialogs.message(
        "The trend chart needs the Linux build of KrvArchiver. On this PC, krvtool qc judges "
        "the newest check-source count by the same rules and saves its points with --csv.",
        "Trend chart");
    return nullptr;
}

}  // namespace krv
