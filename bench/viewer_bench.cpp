// The results viewer on a table far beyond any lab's: 100,000 records of 250 columns.
// Opening, jumping to the last record and scrolling through everything page by page, each
// with the grid painted as a user would see it (offscreen).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QTableView>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/offscreen_main.h"
#include "bench/wide_table.h"
#include "results_db/archive.h"
#include "viewer/form_view_r.h"
#include "viewer/results_model.h"
#include "viewer/results_viewer.h"

namespace {

using krv::bench::SilentDialogs;

const std::string& tablePath() {
    static const std::string path = krv::bench::WideTable{}.build("krv_viewer_bench.db");
    return path;
}

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

struct OpenViewer {
    krv::WindowState state;
    SilentDialogs dialogs;
    QPointer<krv::FormViewR> viewer;

    OpenViewer() {
        state.apathText = tablePath();
        krv::openResultsViewer(viewer, state, dialogs, nullptr);
        viewer->resize(1000, 700);
        paint();
    }
    ~OpenViewer() { delete viewer.data(); }
    QTableView& grid() const { return *viewer->grid(); }
    // What the user sees: the rows of the scrolled-to place, read and drawn.
    void paint() const {
        QCoreApplication::processEvents();
        viewer->repaint();
    }
};

void BM_OpenViewer(benchmark::State& state) {
    tablePath();
    for (auto _ : state) {
        OpenViewer open;
        benchmark::DoNotOptimize(open.viewer->model()->rowCount());
        state.PauseTiming();
        open.viewer->close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenViewer)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_JumpToLastRecord(benchmark::State& state) {
    OpenViewer open;
    for (auto _ : state) {
        state.PauseTiming();
        open.grid().scrollToTop();
        open.viewer->model()->refresh();  // nothing cached: the jump reads from the file
        open.paint();
        state.ResumeTiming();
        open.grid().scrollToBottom();
        open.paint();
    }
}
BENCHMARK(BM_JumpToLastRecord)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_FullScrollInPageSteps(benchmark::State& state) {
    OpenViewer open;
    QScrollBar* bar = open.grid().verticalScrollBar();
    long steps = 0;
    for (auto _ : state) {
        open.grid().scrollToTop();
        while (bar->value() < bar->maximum()) {
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            open.paint();
            ++steps;
        }
    }
    state.counters["page_steps"] = static_cast<double>(steps);
    state.counters["ms_per_step"] = benchmark::Counter(
        static_cast<double>(steps), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["cached_pages"] = static_cast<double>(open.viewer->model()->cachedPages());
    state.counters["rss_MB"] = residentMegabytes();
}
BENCHMARK(BM_FullScrollInPageSteps)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) { return krv::bench::runOffscreen(argc, argv); }
