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

#include "bench/bench_support.h"
#include "platform/platform.h"
#include "results_db/archive.h"
#include "viewer/form_view_r.h"
#include "viewer/results_model.h"
#include "viewer/results_viewer.h"

namespace {

constexpr int kColumns = 250;

using krv::bench::check;
using krv::bench::SilentDialogs;

// A table built by an earlier run is used again when it holds what this run would build.
bool alreadyBuilt(const std::filesystem::path& path, int records) {
    if (!std::filesystem::exists(path)) return false;
    sqlite3* db = nullptr;
    bool same = false;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        const char* sql =
            "SELECT (SELECT records FROM KrvRecordCount WHERE tableName = 'SamData'),"
            " (SELECT count(*) FROM pragma_table_info('SamData'))";
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            same = sqlite3_column_int(s, 0) == records && sqlite3_column_int(s, 1) == kColumns;
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return same;
}

// A results database made the program's own way, widened and filled with plain SQL.
std::string buildTable(int records) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("krv_viewer_bench_" + std::to_string(records) + ".db");
    if (alreadyBuilt(path, records)) return path.string();
    std::filesystem::remove(path);
    const auto started = std::chrono::steady_clock::now();

    krv::WindowState state;
    SilentDialogs dialogs;
    state.apathText = path.string();
    state.blindFlag = true;
    auto engine = krv::db::makeSqliteEngine();
    if (!krv::createDb(state, dialogs, *engine).ok) std::exit(1);

    sqlite3* db = nullptr;
    check(sqlite3_open(path.c_str(), &db), db, "open");
    check(sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr), db,
          "begin");
    const int fixed = static_cast<int>(krv::fixedFields().size());
    std::string insert = "INSERT INTO SamData VALUES (?";
    for (int c = fixed; c < kColumns; ++c) {
        const std::string sql =
            "ALTER TABLE SamData ADD COLUMN \"I" + std::to_string(c) + "@LINE1\" VARCHAR(10)";
        check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db, "alter");
    }
    for (int c = 1; c < kColumns; ++c) insert += ",?";
    insert += ")";
    sqlite3_stmt* s = nullptr;
    check(sqlite3_prepare_v2(db, insert.c_str(), -1, &s, nullptr), db, "prepare");
    for (int r = 1; r <= records; ++r) {
        sqlite3_bind_int(s, 1, r % 32768);
        sqlite3_bind_text(s, 2, "S0421.CNF         ", -1, SQLITE_STATIC);
        const std::string id = "SOIL CORE B-" + std::to_string(r) + std::string(50, ' ');
        sqlite3_bind_text(s, 3, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 4, "5/14/02  09:31:05             ", -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 5, "Measurement Date        ", -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 6, "3600", -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 7, "3.2", -1, SQLITE_STATIC);
        for (int c = fixed; c < kColumns; ++c) {
            const std::string v = std::to_string((r * 31 + c) % 100000 / 100.0).substr(0, 7);
            sqlite3_bind_text(s, c + 1, v.c_str(), -1, SQLITE_TRANSIENT);
        }
        check(sqlite3_step(s), db, "insert");
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);

    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("table: %d records x %d columns, %.0f MB, built in %.1f s\n", records, kColumns,
                static_cast<double>(std::filesystem::file_size(path)) / 1e6, seconds);
    return path.string();
}

const std::string& tablePath(int records) {
    static std::map<int, std::string> paths;
    auto it = paths.find(records);
    if (it == paths.end()) it = paths.emplace(records, buildTable(records)).first;
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
    QPointer<krv::FormViewR> viewer;

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

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
