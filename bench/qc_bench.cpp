// The check-source trend on a table far beyond any lab's: 100,000 records of 250 columns,
// 10,000 of them counts of the check source. Read, corrected and judged; then also drawn
// as the "Trend chart…" window and krvtool qc --png draw it (offscreen).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "bench/offscreen_main.h"
#include "bench/wide_table.h"
#include "charts/trend_chart.h"
#include "qc/trend.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kCheckEvery = 10;  // every tenth record counts the check source
constexpr int kTrendColumn = 130;

// "m/d/yy  hh:mm:ss" six hours apart from 2002-01-01, as the report writer puts it.
std::string reportDate(int n) {
    const std::int64_t start = 1009843200;  // 2002-01-01 00:00:00
    const std::string iso = krv::qc::formatDateTime(start + std::int64_t(n) * 6 * 3600);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d/%d/%s  %s", std::stoi(iso.substr(5, 2)),
                  std::stoi(iso.substr(8, 2)), iso.substr(2, 2).c_str(), iso.substr(11).c_str());
    return buf;
}

// `filledPerRecord` isotope columns hold a value in each record (all when 0), as a lab's
// reports fill the lines of the isotopes they found.
std::string buildTable(int filledPerRecord, const std::string& fileName) {
    krv::bench::WideTable t;
    t.columnName = [](int c) {
        return c == kTrendColumn ? std::string("CO-60@LINE1") : "I" + std::to_string(c) + "@LINE1";
    };
    t.idText = [](int r) {
        return (r % kCheckEvery ? "SOIL CORE B-" + std::to_string(r) : std::string("CHECK CO-60")) +
               std::string(50, ' ');
    };
    t.dateText = [](int r) { return reportDate(r / kCheckEvery); };
    const auto plain = t.cell;
    t.cell = [plain, filledPerRecord](int r, int c) {
        if (c != kTrendColumn || r % kCheckEvery) {
            const bool filled = filledPerRecord == 0 || (r + c) % 243 < filledPerRecord;
            return filled && c != kTrendColumn ? plain(r, c) : std::string();
        }
        // The source decaying with its half-life, scattered under 1 %.
        const double scatter[] = {0.004, -0.003, 0.002, -0.005, 0.001, -0.002, 0.003, -0.001};
        const int n = r / kCheckEvery;
        return krv::formatGeneral(
            1000 * std::exp(-std::log(2.0) * n * 0.25 / 1925.27) * (1 + scatter[n % 8]), '.');
    };
    return t.build(fileName);
}

// Every cell filled: the worst case, as the viewer's benchmark uses.
const std::string& tablePath() {
    static const std::string path = buildTable(0, "krv_qc_bench.db");
    return path;
}

// Twenty lines a report.
const std::string& labTablePath() {
    static const std::string path = buildTable(20, "krv_qc_bench_lab.db");
    return path;
}

krv::qc::Trend computeTrend(const std::string& path = tablePath()) {
    krv::Status st;
    auto engine = krv::db::makeEngine();
    auto db = engine->openDatabase(path, st);
    krv::qc::TrendQuery query;
    query.column = "CO-60@LINE1";
    query.pattern = "CHECK*";
    krv::qc::Trend trend;
    st = krv::qc::buildTrend(*db, query, krv::qc::HalfLifeTable::recommended(), trend);
    if (!st.ok() || trend.points.size() != kRecords / kCheckEvery) {
        std::fprintf(stderr, "trend: %s, %zu points\n", st.description.c_str(),
                     trend.points.size());
        std::exit(1);
    }
    return trend;
}

void BM_TrendComputed(benchmark::State& state) {
    tablePath();
    for (auto _ : state) benchmark::DoNotOptimize(computeTrend().points.size());
}
BENCHMARK(BM_TrendComputed)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_TrendDrawn(benchmark::State& state) {
    const krv::qc::Trend trend = computeTrend();
    krv::TrendChartPanel panel;
    for (auto _ : state) {
        panel.showTrend(trend, QStringLiteral("CO-60@LINE1, CHECK*"));
        benchmark::DoNotOptimize(panel.renderImage(QSize(1200, 700)).width());
    }
}
BENCHMARK(BM_TrendDrawn)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_TrendComputedAndDrawn(benchmark::State& state) {
    tablePath();
    krv::TrendChartPanel panel;
    QImage image;
    for (auto _ : state) {
        const krv::qc::Trend trend = computeTrend();
        panel.showTrend(trend, QStringLiteral("CO-60@LINE1, CHECK*"));
        image = panel.renderImage(QSize(1200, 700));
    }
    if (const QByteArray out = qgetenv("KRV_QC_BENCH_PNG"); !out.isEmpty())
        image.save(QString::fromLocal8Bit(out));
}
BENCHMARK(BM_TrendComputedAndDrawn)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_TrendComputedAndDrawnLabTable(benchmark::State& state) {
    labTablePath();
    krv::TrendChartPanel panel;
    for (auto _ : state) {
        panel.showTrend(computeTrend(labTablePath()), QStringLiteral("CO-60@LINE1, CHECK*"));
        benchmark::DoNotOptimize(panel.renderImage(QSize(1200, 700)).width());
    }
}
BENCHMARK(BM_TrendComputedAndDrawnLabTable)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) { return krv::bench::runOffscreen(argc, argv); }
