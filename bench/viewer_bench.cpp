// The results viewer on tables far beyond any lab's: 100,000 and 1,000,000 records of 250
// columns. Opening (with the file in the system's cache and without), jumping to the last
// record and scrolling through everything page by page, each with the grid painted as a
// user would see it (offscreen). The tables are kept in the temporary folder between runs.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QTableView>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "bench/offscreen_main.h"
#include "bench/wide_table.h"
#include "platform/platform.h"
#include "results_db/archive.h"
#include "viewer/results_model.h"
#include "viewer/results_viewer.h"
#include "viewer/results_window.h"

namespace {

using krv::bench::SilentDialogs;

const std::string& tablePath(int records) {
    static std::map<int, std::string> paths;
    auto it = paths.find(records);
    if (it == paths.end()) {
        krv::bench::WideTable table;
        table.records = records;
        const std::string name = "krv_viewer_bench_" + std::to_string(records) + ".db";
        it = paths.emplace(records, table.build(name, true)).first;
    }
    return it->second;
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
    QPointer<krv::ResultsWindow> viewer;

    explicit OpenViewer(int records) {
        state.apathText = tablePath(records);
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

// Cold: the file's pages are dropped from the system's cache before each open, as after
// a restart. The resident size is the whole process's after the last open, so run one
// table size per process (--benchmark_filter=/1000000) to compare the sizes' memory.
void openViewer(benchmark::State& state, bool cold) {
    const int records = static_cast<int>(state.range(0));
    const std::string& path = tablePath(records);
    for (auto _ : state) {
        state.PauseTiming();
        if (cold && !krv::platform::dropFileCache(path)) state.SkipWithError("cache not dropped");
        state.ResumeTiming();
        OpenViewer open(records);
        benchmark::DoNotOptimize(open.viewer->model()->rowCount());
        state.PauseTiming();
        state.counters["rss_MB"] = residentMegabytes();
        open.viewer->close();
        state.ResumeTiming();
    }
}
void BM_OpenViewerWarm(benchmark::State& state) { openViewer(state, false); }
void BM_OpenViewerCold(benchmark::State& state) { openViewer(state, true); }
BENCHMARK(BM_OpenViewerWarm)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_OpenViewerCold)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_JumpToLastRecord(benchmark::State& state) {
    OpenViewer open(static_cast<int>(state.range(0)));
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
BENCHMARK(BM_JumpToLastRecord)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// Only the smaller table: every page of the larger one is ten times as long a wait.
void BM_FullScrollInPageSteps(benchmark::State& state) {
    OpenViewer open(static_cast<int>(state.range(0)));
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
BENCHMARK(BM_FullScrollInPageSteps)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) { return krv::bench::runOffscreen(argc, argv); }
