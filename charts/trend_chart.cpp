#include "charts/trend_chart.h"

#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "charts/trend_image.h"

namespace krv {

namespace {

constexpr double kDay = 86400.0;
constexpr qsizetype kMarkersUpTo = 400;

// X positions in days since 1970 UTC, straight from the stored wall-clock times: no time
// zone, so no daylight-saving jump moves a point.
double dayOf(std::int64_t seconds) { return static_cast<double>(seconds) / kDay; }

// Date labels at whole days, months or years (hours on a short trend), computed from UTC
// on a category axis so the toolkit never converts them to local time.
QCategoryAxis* dateAxis(double first, double last) {
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    if (!(last > first)) {
        first -= 0.5;
        last += 0.5;
    }
    const double pad = (last - first) * 0.03;
    const double from = first - pad, to = last + pad, span = to - from;
    axis->setRange(from, to);
    axis->setStartValue(from);
    auto label = [&](double day, bool hours) {
        const std::string text =
            qc::formatDateTime(static_cast<std::int64_t>(std::llround(day * kDay)));
        axis->append(QString::fromStdString(hours ? text.substr(5, 11) : text.substr(0, 10)), day);
    };
    constexpr int kMaxLabels = 7;
    if (span > 60) {
        // Month starts, every 1, 2, 3, 6, 12 ... months.
        int months = 1;
        for (int m : {1, 2, 3, 6, 12, 24, 60, 120, 240}) {
            months = m;
            if (span / (m * 30.44) <= kMaxLabels) break;
        }
        const std::string start = qc::formatDateTime(static_cast<std::int64_t>(from * kDay));
        int year = std::stoi(start.substr(0, 4)), month = std::stoi(start.substr(5, 2)) - 1;
        month = month / std::min(months, 12) * std::min(months, 12);
        year = months > 12 ? year / (months / 12) * (months / 12) : year;
        for (int n = 0; n < 400; ++n, month += months) {
            year += month / 12;
            month %= 12;
            const double day = double(qc::secondsOfDate(year, month + 1, 1)) / kDay;
            if (day > to) break;
            if (day >= from) label(day, false);
        }
        return axis;
    }
    double step = 30;
    for (double s : {1.0 / 24, 2.0 / 24, 3.0 / 24, 6.0 / 24, 12.0 / 24, 1.0, 2.0, 7.0, 14.0}) {
        step = s;
        if (span / s <= kMaxLabels) break;
    }
    for (double t = std::ceil(from / step) * step; t <= to; t += step) label(t, step < 1);
    return axis;
}

QLineSeries* horizontal(QChart* chart, double x0, double x1, double y, const QString& name,
                        const QPen& pen, bool inLegend) {
    auto* s = new QLineSeries;
    s->setName(name);
    s->append(x0, y);
    s->append(x1, y);
    s->setPen(pen);
    chart->addSeries(s);
    if (!inLegend) {
        for (QLegendMarker* m : chart->legend()->markers(s)) m->setVisible(false);
    }
    return s;
}

}  // namespace

QColor rejectColour() { return QColor(220, 0, 0); }
QColor warningColour() { return QColor(255, 150, 0); }

TrendChartPanel::TrendChartPanel(QWidget* parent) : QWidget(parent) {
    view_ = new QChartView(new QChart);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumSize(480, 320);
    flags_ = new QTreeWidget;
    flags_->setObjectName(QStringLiteral("TrendFlags"));
    flags_->setRootIsDecorated(false);
    flags_->setMinimumWidth(380);
    flags_->setHeaderLabels({QStringLiteral("Date & time"), QStringLiteral("Value"),
                             QStringLiteral("z"), QStringLiteral("Rules")});
    remarks_ = new QLabel;
    remarks_->setWordWrap(true);
    remarks_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel(QStringLiteral("Points that break a rule, records left out:")));
    side->addWidget(flags_, 1);
    side->addWidget(remarks_);
    auto* row = new QHBoxLayout(this);
    row->addWidget(view_, 3);
    row->addLayout(side, 1);
}

// The span the value axis must show, grown by each thing drawn.
struct ValueSpan {
    double low = HUGE_VAL, high = -HUGE_VAL;
    void take(double v) {
        low = std::min(low, v);
        high = std::max(high, v);
    }
};

namespace {

// The baseline's mean (when there are points to draw it across) and its ±1s, ±2s and ±3s
// lines.
void drawLimits(QChart* chart, const qc::Trend& trend, bool anyPoints, double x0, double x1,
                ValueSpan& span) {
    const qc::Baseline& b = trend.baseline;
    if (b.count > 0 && anyPoints && std::isfinite(b.mean)) {
        horizontal(chart, x0, x1, b.mean, QStringLiteral("mean"), QPen(QColor(0, 140, 0), 1.5),
                   true);
        span.take(b.mean);
    }
    if (!trend.limitsSet()) return;
    struct Limit {
        int k;
        QColor colour;
        Qt::PenStyle style;
    };
    for (const Limit& l :
         {Limit{1, QColor(120, 120, 120), Qt::DotLine}, Limit{2, warningColour(), Qt::DashLine},
          Limit{3, rejectColour(), Qt::SolidLine}}) {
        QPen pen(l.colour, 1.2, l.style);
        const QString name = QStringLiteral("±%1s").arg(l.k);
        horizontal(chart, x0, x1, b.mean + l.k * b.sd, name, pen, true);
        // One legend entry per pair.
        horizontal(chart, x0, x1, b.mean - l.k * b.sd, name, pen, false);
    }
    span.take(b.mean - 3.5 * b.sd);
    span.take(b.mean + 3.5 * b.sd);
}

// Date axis below, value axis left, both attached to every series.
void attachAxes(QChart* chart, double x0, double x1, ValueSpan span) {
    if (!std::isfinite(span.low) || !std::isfinite(span.high) ||
        !std::isfinite(span.high - span.low)) {
        span.low = 0;
        span.high = 1;
    } else if (!(span.high > span.low)) {
        const double pad = std::max(1.0, std::fabs(span.high) * 0.05);
        span.low -= pad;
        span.high += pad;
    }
    const double margin = (span.high - span.low) * 0.04;
    auto* x = dateAxis(x0, x1);
    x->setTitleText(QStringLiteral("count date (UTC as written)"));
    auto* y = new QValueAxis;
    y->setRange(span.low - margin, span.high + margin);
    y->setLabelFormat(QStringLiteral("%.5g"));
    y->applyNiceNumbers();
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(x);
        s->attachAxis(y);
    }
}

}  // namespace

void TrendChartPanel::showTrend(const qc::Trend& trend, const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setAlignment(Qt::AlignBottom);
    ValueSpan span;
    plotValues(chart, trend, span);
    listFlags(trend);

    const double x0 = drawn_.empty() ? 0 : drawn_.front().x();
    const double x1 = drawn_.empty() ? 1 : drawn_.back().x();
    drawLimits(chart, trend, !drawn_.empty(), x0, x1, span);
    attachAxes(chart, x0, x1, span);

    QStringList remarks;
    for (const std::string& line : qc::describeTrend(trend))
        remarks << QString::fromStdString(line);
    remarks_->setText(remarks.join(QLatin1Char('\n')));

    QChart* old = view_->chart();
    view_->setChart(chart);
    delete old;
}

void TrendChartPanel::plotValues(QChart* chart, const qc::Trend& trend, ValueSpan& span) {
    values_ = new QLineSeries;
    values_->setName(trend.corrected ? QStringLiteral("value, decay-corrected")
                                     : QStringLiteral("value"));
    values_->setColor(QColor(32, 74, 135));
    values_->setMarkerSize(6);

    QList<QPointF> points;
    points.reserve(qsizetype(trend.points.size()));
    drawn_.clear();
    QHash<int, QHash<QXYSeries::PointConfiguration, QVariant>> marks;
    for (std::size_t i = 0; i < trend.points.size(); ++i) {
        const qc::TrendPoint& p = trend.points[i];
        const QPointF at(dayOf(p.time), p.value);
        points.append(at);
        drawn_.push_back(at);
        if (std::isfinite(p.value)) span.take(p.value);
        if (p.rules.empty()) continue;
        const bool rejected = std::any_of(p.rules.begin(), p.rules.end(), qc::rejects);
        // Marks on the line's own points: separate scatter markers land a few pixels off.
        marks.insert(int(i), {{QXYSeries::PointConfiguration::Color,
                               rejected ? rejectColour() : warningColour()},
                              {QXYSeries::PointConfiguration::Size, 11.0},
                              {QXYSeries::PointConfiguration::Visibility, true}});
    }
    // Thousands of markers would hide the line; then only the flagged points keep theirs.
    values_->setPointsVisible(points.size() <= kMarkersUpTo);
    values_->replace(points);
    values_->setPointsConfiguration(marks);
    chart->addSeries(values_);
}

void TrendChartPanel::listFlags(const qc::Trend& trend) {
    flags_->clear();
    QList<QTreeWidgetItem*> items;
    for (const qc::TrendPoint& p : trend.points) {
        if (p.rules.empty()) continue;
        const bool rejected = std::any_of(p.rules.begin(), p.rules.end(), qc::rejects);
        auto* item = new QTreeWidgetItem(
            {QString::fromStdString(qc::formatDateTime(p.time)), QString::number(p.value, 'g', 6),
             QString::number(p.z, 'f', 2), QString::fromStdString(qc::rulesText(p.rules))});
        item->setForeground(3, rejected ? rejectColour() : warningColour());
        item->setToolTip(
            0, QString::fromStdString(p.idText + " (record " + std::to_string(p.recordId) + ")"));
        items.append(item);
    }
    // Records that gave no point, each with the text that could not be read.
    auto leftOut = [&](const std::vector<qc::SkippedRecord>& records, const QString& why) {
        for (const qc::SkippedRecord& r : records) {
            auto* item =
                new QTreeWidgetItem({QString::fromStdString(r.text), QString(), QString(), why});
            item->setForeground(3, QColor(110, 110, 110));
            item->setToolTip(0, QString::fromStdString(r.idText + " (record " +
                                                       std::to_string(r.recordId) + ")"));
            items.append(item);
        }
    };
    leftOut(trend.unreadableDates, QStringLiteral("date unreadable"));
    leftOut(trend.notNumbers, QStringLiteral("value no number"));
    flags_->addTopLevelItems(items);
    for (int c = 0; c < 4; ++c) flags_->resizeColumnToContents(c);
}

QPoint TrendChartPanel::pointPosition(std::size_t index) const {
    if (!values_ || index >= drawn_.size()) return {};
    QChart* chart = view_->chart();
    const QPointF inChart = chart->mapToPosition(drawn_[index], values_);
    const QPoint inView = view_->mapFromScene(chart->mapToScene(inChart));
    return view_->mapTo(this, inView);
}

void TrendChartPanel::layOutAt(QSize size) {
    if (!isVisible()) {
        setAttribute(Qt::WA_DontShowOnScreen, true);
        show();
    }
    resize(size);
    // The chart lays itself out in posted events.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

QImage TrendChartPanel::renderImage(QSize size) {
    layOutAt(size);
    // grab(), not render() into an image: with a device pixel ratio above 1 render()
    // draws a zoomed quarter of the chart.
    return grab().toImage();
}

bool TrendChartPanel::saveImage(const QString& path, QSize size, QString& error) {
    const QString suffix = path.section(QLatin1Char('.'), -1).toLower();
    if (suffix == QLatin1String("png")) {
        if (renderImage(size).save(path, "PNG")) return true;
        error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    layOutAt(size);
    if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(view_->chart()->title());
        QPainter painter;
        if (!painter.begin(&svg)) {
            error = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        render(&painter);
        return painter.end();
    }
    if (suffix == QLatin1String("pdf")) {
        QPdfWriter pdf(path);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageOrientation(QPageLayout::Landscape);
        pdf.setTitle(view_->chart()->title());
        QPainter painter;
        if (!painter.begin(&pdf)) {
            error = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        const double scale =
            std::min(double(pdf.width()) / size.width(), double(pdf.height()) / size.height());
        painter.scale(scale, scale);
        render(&painter);
        return painter.end();
    }
    error = QStringLiteral("%1: the suffix must be .png, .svg or .pdf").arg(path);
    return false;
}

QString trendImageUnavailable() { return {}; }

bool saveTrendImage(const qc::Trend& trend, const QString& title, const QString& path, QSize size,
                    QString& error) {
    TrendChartPanel panel;
    panel.showTrend(trend, title);
    return panel.saveImage(path, size, error);
}

}  // namespace krv
