// Builds the export benchmark's table: a results database made the program's own way,
// widened and filled with plain SQL in one transaction.
// Usage: export_table_gen DB dense|sparse

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bench/bench_support.h"
#include "bench/export_table.h"
#include "results_db/archive.h"

int main(int argc, char** argv) {
    using namespace krv::bench;
    if (argc != 3) {
        std::fprintf(stderr, "usage: export_table_gen DB dense|sparse\n");
        return 2;
    }
    const bool sparse = std::strcmp(argv[2], "sparse") == 0;
    const auto started = std::chrono::steady_clock::now();
    krv::WindowState state;
    SilentDialogs dialogs;
    state.apathText = argv[1];
    state.blindFlag = true;
    auto engine = krv::db::makeSqliteEngine();
    if (!krv::createDb(state, dialogs, *engine).ok) return 1;

    sqlite3* db = nullptr;
    check(sqlite3_open(argv[1], &db), db, "open");
    check(sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr), db,
          "begin");
    std::string insert = "INSERT INTO SamData VALUES (?";
    for (int c = kFixedColumns; c < kExportColumns; ++c) {
        const std::string sql =
            "ALTER TABLE SamData ADD COLUMN \"" + columnName(c) + "\" VARCHAR(10)";
        check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db, "alter");
    }
    for (int c = 1; c < kExportColumns; ++c) insert += ",?";
    insert += ")";
    sqlite3_stmt* s = nullptr;
    check(sqlite3_prepare_v2(db, insert.c_str(), -1, &s, nullptr), db, "prepare");
    for (int r = 1; r <= kExportRecords; ++r) {
        sqlite3_bind_int(s, 1, r % 32768);
        sqlite3_bind_text(s, 2, "S0421.CNF         ", -1, SQLITE_STATIC);
        std::string id = idText(r);
        id.resize(72, ' ');
        sqlite3_bind_text(s, 3, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 4, "5/14/02  09:31:05             ", -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 5, "5/14/02  09:31:05       ", -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 6, "3600", -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 7, "3.2", -1, SQLITE_STATIC);
        for (int c = kFixedColumns; c < kExportColumns; ++c) {
            if (!hasValue(r, c, sparse)) {
                sqlite3_bind_null(s, c + 1);
                continue;
            }
            const std::string v = isotopeText(r, c);
            sqlite3_bind_text(s, c + 1, v.c_str(), -1, SQLITE_TRANSIENT);
        }
        check(sqlite3_step(s), db, "insert");
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_close(db);
    std::printf("%s table: %d records x %d columns, %.0f MB, built in %.1f s\n", argv[2],
                kExportRecords, kExportColumns,
                static_cast<double>(std::filesystem::file_size(argv[1])) / 1e6,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return 0;
}
