// One append of a 100-isotope report (net counts, so one column per isotope) into
// results databases that already hold 0, 10,000 and 100,000 records. The append must
// cost about the same whatever the table's size: the record count, the column scan and
// the insert may not grow with the number of records.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "bench/bench_report.h"
#include "results_db/archive.h"

namespace {

namespace fs = std::filesystem;
using namespace krv;
using namespace krv::bench;

// Databases built once per run: the table with its 100 isotope columns and the given
// number of records, each carrying ten isotope values as a real report would.
class Databases {
  public:
    Databases() {
        std::random_device rd;
        folder_ = fs::temp_directory_path() /
                  ("krv-append-bench-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        fs::create_directories(folder_);
    }
    ~Databases() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    std::string withRecords(int records) {
        auto it = paths_.find(records);
        if (it != paths_.end()) return it->second;
        const std::string path = (folder_ / ("r" + std::to_string(records) + ".db")).string();
        WindowState state = netAppendOf(path);
        SilentDialogs dialogs;
        auto engine = db::makeSqliteEngine();
        appendIt(state, dialogs, *engine, '.');  // creates the file and the columns

        sqlite3* raw = nullptr;
        sqlite3_open(path.c_str(), &raw);
        sqlite3_exec(raw, "BEGIN; DELETE FROM SamData;", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        std::string sql;
        for (int n = 1; n <= records; ++n) {
            if (n == 1 || n % 100 == 1) {
                sqlite3_finalize(insert);
                // Ten consecutive isotopes, a different run every hundred records.
                const int first = (n / 100) % (kIsotopes - 10) + 1;
                sql =
                    "INSERT INTO SamData (\"idxRec#\", \"File Name\", \"ID Text\","
                    " \"Date & time\", \"Sample Date\", \"Counting Time\", \"DT %\"";
                for (int k = 0; k < 10; ++k) {
                    char col[32];
                    std::snprintf(col, sizeof col, ", \"X-%03d@NET1\"", first + k);
                    sql += col;
                }
                sql +=
                    ") VALUES (?1, 'BENCH.CNF         ', printf('%-72s', 'Sample ' || ?1),"
                    " '14-May-02 10:00:00            ', '13-May-02 12:00:00      ',"
                    " '3600', '1.5'";
                for (int k = 0; k < 10; ++k) sql += ", '1234.5'";
                sql += ")";
                sqlite3_prepare_v2(raw, sql.c_str(), -1, &insert, nullptr);
            }
            sqlite3_bind_int(insert, 1, n <= 32767 ? n : 0);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        sqlite3_exec(raw, "COMMIT;", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        paths_[records] = path;
        return path;
    }

  private:
    fs::path folder_;
    std::map<int, std::string> paths_;
};

Databases& databases() {
    static Databases d;
    return d;
}

void BM_Append(benchmark::State& bench) {
    const int records = static_cast<int>(bench.range(0));
    const std::string path = databases().withRecords(records);
    WindowState state = netAppendOf(path);
    SilentDialogs dialogs;
    auto engine = db::makeSqliteEngine();
    for (auto _ : bench) {
        const JobOutcome outcome = appendIt(state, dialogs, *engine, '.');
        if (!outcome.ok) bench.SkipWithError(outcome.reason.c_str());
    }
    bench.counters["records"] = static_cast<double>(records);
}
BENCHMARK(BM_Append)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The record count alone, on a connection opened for it as each append opens its own.
void BM_RecordCount(benchmark::State& bench) {
    const std::string path = databases().withRecords(static_cast<int>(bench.range(0)));
    auto engine = db::makeSqliteEngine();
    for (auto _ : bench) {
        Status st;
        auto database = engine->openDatabase(path, st);
        std::int64_t count = 0;
        database->recordCount(kTableName, count);
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_RecordCount)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
