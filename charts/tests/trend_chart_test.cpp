#include "charts/trend_chart.h"

#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QLegendMarker>
#include <QTreeWidget>

#include "tests/support/test_folder.h"
#include "tests/support/widgets_app.h"

namespace krv {
namespace {

// `n` points `step` seconds apart, with the values `value(i)`, judged as the chart's
// callers judge them; true when the judging drew limits.
template <typename Value>
bool judged(qc::Trend& t, int n, std::int64_t step, Value value) {
    for (int i = 0; i < n; ++i) {
        qc::TrendPoint p;
        p.recordId = i + 1;
        p.time = 1020000000 + i * step;
        p.stored = p.value = value(i);
        t.points.push_back(p);
    }
    qc::TrendQuery query;
    query.column = "CO-60@NET1";
    return qc::computeTrend(query, qc::HalfLifeTable::recommended(), t).ok();
}

class TrendChart : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { testing::ensureWidgetsApp(); }
    // 20 baseline counts around 100 (s 1.14), then five judged ones: the second beyond
    // +3s (rejected), the fourth beyond +2s (a warning). None sits on a limit line.
    void SetUp() override {
        const double base[] = {98.6, 100.7, 99.3, 101.4};
        const double later[] = {100.5, 103.9, 100.4, 102.7, 99.8};
        trend.unreadableDates.push_back({26, "CHECK", "Measurement Date"});
        ASSERT_TRUE(
            judged(trend, 25, 86400, [&](int d) { return d < 20 ? base[d % 4] : later[d - 20]; }));
        ASSERT_EQ(trend.points[21].rules, std::vector<qc::Rule>{qc::Rule::R13s});
        ASSERT_EQ(trend.points[23].rules, std::vector<qc::Rule>{qc::Rule::W12s});
        panel.showTrend(trend, QStringLiteral("CO-60@NET1, CHECK*"));
    }

    // Whether the pixel at `at` is close to `want`, naming the colour found when not.
    static ::testing::AssertionResult near(const QImage& image, QPoint at, QColor want) {
        const QColor got = image.pixelColor(at);
        if (std::abs(got.red() - want.red()) < 12 && std::abs(got.green() - want.green()) < 12 &&
            std::abs(got.blue() - want.blue()) < 12)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << got.name().toStdString();
    }

    testing::TestFolder folder;
    qc::Trend trend;
    TrendChartPanel panel;
};

TEST_F(TrendChart, MarkedPointsFlagsLegendInEachSavedFormatAndDenseFlatOrEmptyTrendsDraw) {
    QString error;
    const auto at = [&](const char* name) { return QString::fromStdString(folder.file(name)); };
    ASSERT_TRUE(panel.saveImage(at("trend.png"), QSize(1000, 560), error)) << error.toStdString();
    const QImage image(at("trend.png"));
    ASSERT_EQ(image.size(), QSize(1000, 560));

    const QPoint rejected = panel.pointPosition(21), warned = panel.pointPosition(23);
    const QPoint plain = panel.pointPosition(22), baseline = panel.pointPosition(0);
    EXPECT_TRUE(near(image, rejected, rejectColour()));
    EXPECT_TRUE(near(image, warned, warningColour()));
    EXPECT_TRUE(near(image, plain, QColor(32, 74, 135)));
    EXPECT_TRUE(near(image, baseline, QColor(32, 74, 135)));
    // Time runs left to right, larger values up; the rejected point is the highest.
    EXPECT_LT(baseline.x(), rejected.x());
    EXPECT_LT(rejected.x(), warned.x());
    EXPECT_LT(rejected.y(), warned.y());
    EXPECT_LT(warned.y(), plain.y());
    // Nothing red anywhere near an unflagged point.
    for (int i = 0; i < 13 * 13; ++i)
        EXPECT_FALSE(near(image, plain + QPoint(i % 13 - 6, i / 13 - 6), rejectColour()));

    QStringList flags, legend;
    for (int i = 0; i < panel.flagList()->topLevelItemCount(); ++i)
        flags << panel.flagList()->topLevelItem(i)->text(0) + " | " +
                     panel.flagList()->topLevelItem(i)->text(3);
    EXPECT_EQ(flags, (QStringList{"2002-05-19 13:20:00 | 1-3s", "2002-05-21 13:20:00 | 1-2s",
                                  "Measurement Date | date unreadable"}));
    for (QLegendMarker* m : panel.chartView()->chart()->legend()->markers()) {
        if (m->isVisible()) legend << m->label();
    }
    EXPECT_EQ(legend, (QStringList{"value", "mean", "±1s", "±2s", "±3s"}));

    ASSERT_TRUE(panel.saveImage(at("trend.svg"), QSize(900, 500), error));
    ASSERT_TRUE(panel.saveImage(at("trend.pdf"), QSize(900, 500), error));
    EXPECT_NE(testing::readFile(folder / "trend.svg").find("<svg"), std::string::npos);
    EXPECT_EQ(testing::readFile(folder / "trend.pdf").rfind("%PDF-", 0), 0u);
    EXPECT_FALSE(panel.saveImage(at("trend.bmp"), QSize(9, 9), error));
    EXPECT_TRUE(error.endsWith(QStringLiteral("the suffix must be .png, .svg or .pdf")));

    // A dense trend keeps its flagged markers: two thousand counts two hours apart, one far out
    // near the middle.
    qc::Trend dense;
    ASSERT_TRUE(
        judged(dense, 2000, 7200, [](int i) { return i == 1000 ? 130 : 100 + (i % 5) - 2; }));
    ASSERT_EQ(dense.points[1000].rules, std::vector<qc::Rule>{qc::Rule::R13s});
    panel.showTrend(dense, QStringLiteral("dense"));
    const QImage drawn = panel.renderImage(QSize(1000, 560));
    EXPECT_TRUE(near(drawn, panel.pointPosition(1000), rejectColour()));
    EXPECT_FALSE(near(drawn, panel.pointPosition(500), rejectColour()));

    qc::Trend flat;
    EXPECT_FALSE(judged(flat, 3, 86400, [](int) { return 5; }));
    panel.showTrend(flat, QStringLiteral("flat"));
    EXPECT_FALSE(panel.renderImage(QSize(600, 400)).isNull());
    EXPECT_EQ(panel.flagList()->topLevelItemCount(), 0);
    flat.points[1].value = HUGE_VAL;
    flat.points[2].value = -HUGE_VAL;
    flat.baseline.mean = HUGE_VAL;
    panel.showTrend(flat, QStringLiteral("overflowed"));
    EXPECT_FALSE(panel.renderImage(QSize(600, 400)).isNull());
    panel.showTrend(qc::Trend{}, QStringLiteral("empty"));
    EXPECT_FALSE(panel.renderImage(QSize(600, 400)).isNull());
}

}  // namespace
}  // namespace krv
