#pragma once

// The trend chart as an image file, for `krvtool qc --png`. Kept apart from the widget so
// a build without Qt Charts can still say why it draws no chart.

#include <QSize>
#include <QString>

#include "qc/trend.h"

namespace krv {

// Why this build draws no chart image; empty where it draws one (with the widget toolkit
// running).
QString trendImageUnavailable();

// PNG, SVG or PDF, chosen by the file's suffix. False with a reason.
bool saveTrendImage(const qc::Trend& trend, const QString& title, const QString& path, QSize size,
                    QString& error);

}  // namespace krv
