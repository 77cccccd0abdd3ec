// The least a program can do for one unattended append: read the report file, open the
// database, insert one equivalent row, commit. The unattended run is measured against it.
//
//   minimal_append write-report FILE   writes a report of 100 one-line isotopes
//   minimal_append run REPORT DATABASE inserts one row of 107 values

#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "report/tests/report_builder.h"

namespace {

int writeReport(const char* path) {
    using namespace krv::testing;
    Lines lines{"ID: BENCH SAMPLE",
                "File: BENCH.CNF",
                "Date: 12/05/26  10:00:00",
                "LT:  3600.0    DT:  2.5 %",
                "Activities reported as of Measurement Date",
                ""};
    for (int i = 0; i < 100; ++i) {
        append(lines, block("I" + std::to_string(i),
                            {row(std::to_string(100 + i) + ".5", "1200", "1100", "12.5")}));
    }
    std::ofstream(path, std::ios::binary) << join(lines);
    return 0;
}

int run(const char* reportPath, const char* dbPath) {
    std::ifstream in(reportPath, std::ios::binary);
    const std::string report{std::istreambuf_iterator<char>(in), {}};
    if (report.empty()) return 1;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath, &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return 1;
    sqlite3_busy_timeout(db, 10000);
    sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    std::string sql = "INSERT INTO SamData VALUES(?";
    for (int i = 1; i < 107; ++i) sql += ",?";
    sql += ")";
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_int(s, 1, 1);
        for (int i = 2; i <= 107; ++i) sqlite3_bind_text(s, i, "1100", -1, SQLITE_STATIC);
        rc = sqlite3_step(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_DONE ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "write-report") return writeReport(argv[2]);
    if (argc == 4 && std::string(argv[1]) == "run") return run(argv[2], argv[3]);
    std::fprintf(stderr, "usage: minimal_append write-report FILE | run REPORT DATABASE\n");
    return 2;
}
