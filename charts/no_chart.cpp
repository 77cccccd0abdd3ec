#include "charts/trend_image.h"

// Qt Charts is not among the Qt the Windows build is made from, so the image is refused
// with the way to the same figures.

namespace krv {

QString trendImageUnavailable() {
    return QStringLiteral(
        "this build draws no charts; the Linux build of krvtool qc saves the chart, and "
        "--csv saves its points here");
}

bool saveTrendImage(const qc::Trend&, const QString&, const QString&, QSize, QString& error) {
    error = trendImageUnavailable();
    return false;
}

}  // namespace krv
