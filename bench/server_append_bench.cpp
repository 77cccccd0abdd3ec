// One append of a 100-isotope report (net counts) into an archive of 10,000 records, in a
// SQLite file and on a local PostgreSQL server over its Unix socket, side by side; then
// stations appending into the server at once, records per second for 1 and 8 of them.
// The server runs with fsync on, as the file store syncs every commit.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <string>

#include "bench/bench_report.h"
#include "results_db/archive.h"
#include "tests/support/pg_server.h"

namespace {

using namespace krv;
using namespace krv::bench;

constexpr int kRecords = 10000;

// The same statement fills either store: records 2..kRecords with ten isotope values.
const std::string kFill =
    "WITH RECURSIVE n(i) AS (VALUES(2) UNION ALL SELECT i+1 FROM n WHERE i < " +
    std::to_string(kRecords) +
    ") INSERT INTO \"SamData\" (\"idxRec#\", \"File Name\", \"ID Text\", \"Counting Time\", "
    "\"X-001@NET1\", \"X-002@NET1\", \"X-003@NET1\", \"X-004@NET1\", \"X-005@NET1\", "
    "\"X-006@NET1\", \"X-007@NET1\", \"X-008@NET1\", \"X-009@NET1\", \"X-010@NET1\") "
    "SELECT i, 'BENCH.CNF', 'Sample', '3600', '1', '2', '3', '4', '5', '6', '7', '8', '9', '10' "
    "FROM n";

struct Stores {
    Stores() {
        SilentDialogs dialogs;
        auto engine = db::makeEngine();
        WindowState first = netAppendOf(file);
        appendIt(first, dialogs, *engine, '.');
        sqlite3* raw = nullptr;
        sqlite3_open(file.c_str(), &raw);
        sqlite3_exec(raw, kFill.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        if (!server.running()) return;
        uri = server.newDatabase();
        first = netAppendOf(uri);
        appendIt(first, dialogs, *engine, '.');
        krv::testing::PgServer::query(uri, kFill);
    }
    krv::testing::TestFolder folder;
    std::string file = folder.file("bench.mdb");
    krv::testing::PgServer server{true};
    std::string uri;
};

Stores& stores() {
    static Stores s;
    return s;
}

void appendLoop(benchmark::State& bench, const std::string& path) {
    if (path.empty()) {
        bench.SkipWithError(("no server: " + stores().server.error()).c_str());
        return;
    }
    WindowState state = netAppendOf(path);
    SilentDialogs dialogs;
    auto engine = db::makeEngine();
    for (auto _ : bench) {
        const JobOutcome outcome = appendIt(state, dialogs, *engine, '.');
        if (!outcome.ok) bench.SkipWithError(outcome.reason.c_str());
    }
    bench.SetItemsProcessed(bench.iterations());
}

void BM_AppendToFile(benchmark::State& bench) { appendLoop(bench, stores().file); }
void BM_AppendToServer(benchmark::State& bench) { appendLoop(bench, stores().uri); }
BENCHMARK(BM_AppendToFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AppendToServer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each thread a station; items_per_second is the archive's records per second.
void BM_StationsOnServer(benchmark::State& bench) { appendLoop(bench, stores().uri); }
BENCHMARK(BM_StationsOnServer)
    ->Threads(1)
    ->Threads(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
