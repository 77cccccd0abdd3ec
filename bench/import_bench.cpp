// Bulk import of archived reports against the least a program can do: side by side in one
// run, 10,000 reports of 30 one-line isotopes imported into a new store, and a minimal
// program that reads the same files and inserts the same rows with one prepared statement
// in one transaction. Memory is sampled as the import goes: it must not grow with the
// number of reports.
//
//   import_bench [REPORTS [ISOTOPES]]

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ingest/report_import.h"
#include "report/tests/report_builder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Processor time of this process: on a machine shared with other work, the fair measure
// beside the wall clock.
double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Resident memory in KiB where the system tells it (Linux), else 0.
long residentKiB() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> value;
            return value;
        }
        in.ignore(1 << 12, '\n');
    }
    return 0;
}

void writeReports(const fs::path& folder, int reports, int isotopes) {
    using namespace krv::testing;
    fs::create_directories(folder);
    std::mt19937 random(7);
    for (int n = 0; n < reports; ++n) {
        Lines lines{"ID: SAMPLE " + std::to_string(n),
                    "File: S" + std::to_string(n) + ".CNF",
                    "Date: 12/05/26  10:00:00",
                    "LT:  3600.0    DT:  2.5 %",
                    "Activities reported as of Measurement Date",
                    ""};
        for (int i = 0; i < isotopes; ++i) {
            append(lines, block("I" + std::to_string(i),
                                {row(std::to_string(100 + i) + ".5",
                                     std::to_string(1000 + random() % 9000),
                                     std::to_string(100 + random() % 900), "12.5")}));
        }
        char name[32];
        std::snprintf(name, sizeof name, "r%06d.txt", n);
        std::ofstream(folder / name, std::ios::binary) << join(lines);
    }
}

// The rows the import stored, to be inserted again by the minimal program.
std::vector<std::vector<std::string>> storedRows(const std::string& path, int& columns) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM SamData ORDER BY rowid", -1, &s, nullptr);
    columns = sqlite3_column_count(s);
    std::vector<std::vector<std::string>> rows;
    while (sqlite3_step(s) == SQLITE_ROW) {
        auto& row = rows.emplace_back();
        for (int c = 0; c < columns; ++c) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
            row.emplace_back(t ? t : "");
        }
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
}

struct Timing {
    double wall = 0, cpu = 0;
};

Timing minimalProgram(const fs::path& folder, const std::string& path,
                      const std::vector<std::vector<std::string>>& rows, int columns) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    const auto start = Clock::now();
    const double cpuStart = cpuSeconds();
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    std::string create = "CREATE TABLE SamData (c0 SMALLINT",
                insert = "INSERT INTO SamData VALUES(?";
    for (int c = 1; c < columns; ++c) {
        create += ", c" + std::to_string(c) + " VARCHAR(10)";
        insert += ",?";
    }
    sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(db, "CREATE INDEX idxSeq ON SamData (c0)", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &s, nullptr);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::ifstream in(files[r], std::ios::binary);
        const std::string report{std::istreambuf_iterator<char>(in), {}};
        if (report.empty()) return {};
        for (int c = 0; c < columns; ++c)
            sqlite3_bind_text(s, c + 1, rows[r][static_cast<std::size_t>(c)].c_str(), -1,
                              SQLITE_STATIC);
        sqlite3_step(s);
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return {secondsSince(start), cpuSeconds() - cpuStart};
}

}  // namespace

int main(int argc, char** argv) {
    const int reports = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int isotopes = argc > 2 ? std::atoi(argv[2]) : 30;
    const fs::path work =
        fs::temp_directory_path() / ("krv-import-bench-" + std::to_string(std::random_device{}()));
    const fs::path folder = work / "reports";
    writeReports(folder, reports, isotopes);

    const std::string imported = (work / "imported.db").string();
    auto engine = krv::db::makeEngine();
    krv::ingest::ReportImportOptions options;
    options.mode = 1;
    if (argc > 3) options.batchReports = std::atoi(argv[3]);
    long memoryAtTenth = 0, memoryAtEnd = 0;
    const auto start = Clock::now();
    const double cpuStart = cpuSeconds();
    const auto summary = krv::ingest::importReports(*engine, imported, {folder.string()}, options,
                                                    [&](std::int64_t done, std::int64_t total) {
                                                        if (done == total / 10)
                                                            memoryAtTenth = residentKiB();
                                                        if (done == total)
                                                            memoryAtEnd = residentKiB();
                                                        return true;
                                                    });
    const Timing import{secondsSince(start), cpuSeconds() - cpuStart};
    if (!summary.failure.ok() || summary.imported != reports) {
        std::fprintf(stderr, "import failed: %s\n", summary.failure.description.c_str());
        return 1;
    }
    int columns = 0;
    const auto rows = storedRows(imported, columns);
    const Timing minimal = minimalProgram(folder, (work / "minimal.db").string(), rows, columns);

    std::printf("%d reports of %d isotopes, %d columns\n", reports, isotopes, columns);
    std::printf("                                   wall       processor\n");
    std::printf("import-reports (library):          %7.3f s  %7.3f s  (%.0f reports/s)\n",
                import.wall, import.cpu, reports / import.wall);
    std::printf("minimal program, one transaction:  %7.3f s  %7.3f s\n", minimal.wall, minimal.cpu);
    std::printf("ratio:                             %7.2f    %7.2f\n", import.wall / minimal.wall,
                import.cpu / minimal.cpu);
    std::printf("resident memory after 10%% / 100%% of the reports: %ld / %ld KiB\n", memoryAtTenth,
                memoryAtEnd);
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
