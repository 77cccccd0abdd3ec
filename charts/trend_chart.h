#pragma once

// The Levey-Jennings chart of a check-source trend with its flagged points listed beside
// it. One widget for the "Trend chart…" window and for `krvtool qc --png`, so both draw
// the same picture.

#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

#include "qc/trend.h"

class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QTreeWidget;

namespace krv {

// Marker colours: a point that breaks a rejection rule, one that only warns (1-2s).
QColor rejectColour();
QColor warningColour();

struct ValueSpan;

class TrendChartPanel : public QWidget {
    Q_OBJECT
  public:
    explicit TrendChartPanel(QWidget* parent = nullptr);

    // Draws the trend; without limits (too small or flat a baseline) only the points and,
    // when there is one, the mean.
    void showTrend(const qc::Trend& trend, const QString& title);

    QChartView* chartView() const { return view_; }
    QTreeWidget* flagList() const { return flags_; }
    // Where point `index` (in count-date order) is drawn, in this widget's pixels.
    QPoint pointPosition(std::size_t index) const;

    // The widget at `size` as a person would see it, drawn even without a display.
    QImage renderImage(QSize size);
    // PNG, SVG or PDF, chosen by the file's suffix. False with a reason.
    bool saveImage(const QString& path, QSize size, QString& error);

  private:
    void plotValues(QChart* chart, const qc::Trend& trend, ValueSpan& span);
    void listFlags(const qc::Trend& trend);
    void layOutAt(QSize size);

    QChartView* view_ = nullptr;
    QTreeWidget* flags_ = nullptr;
    QLabel* remarks_ = nullptr;
    QLineSeries* values_ = nullptr;
    std::vector<QPointF> drawn_;
};

}  // namespace krv
