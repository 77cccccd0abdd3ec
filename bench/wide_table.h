#pragma once

// A results database far beyond any lab's, made the program's own way (reset), then
// widened and filled with plain SQL so building it takes seconds, not hours.

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "bench/bench_support.h"
#include "results_db/archive.h"

namespace krv::bench {

struct WideTable {
    int records = 100000;
    int columns = 250;
    // Name of per-isotope column c (c counts from the first after the fixed ones).
    std::function<std::string(int c)> columnName = [](int c) {
        return "I" + std::to_string(c) + "@LINE1";
    };
    // "ID Text" and "Date & time" of record r (from 1).
    std::function<std::string(int r)> idText = [](int r) {
        return "SOIL CORE B-" + std::to_string(r) + std::string(50, ' ');
    };
    std::function<std::string(int r)> dateText = [](int) {
        return std::string("5/14/02  09:31:05             ");
    };
    std::string sampleDate = "Measurement Date        ";
    // The text of column c in record r; an empty text leaves the cell null.
    std::function<std::string(int r, int c)> cell = [](int r, int c) {
        return std::to_string((r * 31 + c) % 100000 / 100.0).substr(0, 7);
    };

    // Whether the file holds a table of this size already (made by an earlier run).
    bool builtAt(const std::filesystem::path& path) const {
        if (!std::filesystem::exists(path)) return false;
        sqlite3* db = nullptr;
        bool same = false;
        if (sqlite3_open_v2(path.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK) {
            sqlite3_stmt* s = nullptr;
            const char* sql =
                "SELECT (SELECT records FROM KrvRecordCount WHERE tableName = 'SamData'),"
                " (SELECT count(*) FROM pragma_table_info('SamData'))";
            if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK &&
                sqlite3_step(s) == SQLITE_ROW)
                same = sqlite3_column_int(s, 0) == records && sqlite3_column_int(s, 1) == columns;
            sqlite3_finalize(s);
        }
        sqlite3_close(db);
        return same;
    }

    // Builds the table in the temp folder under `fileName`; returns its path. With `reuse`,
    // a table an earlier run left there at the same size is taken as it is.
    std::string build(const std::string& fileName, bool reuse = false) const {
        const auto path = std::filesystem::temp_directory_path() / fileName;
        if (reuse && builtAt(path)) return path.string();
        return buildAt(path);
    }

    // Builds the table at `path`, replacing what is there; returns the path.
    std::string buildAt(const std::filesystem::path& path) const {
        std::filesystem::remove(path);
        const auto started = std::chrono::steady_clock::now();
        WindowState state;
        SilentDialogs dialogs;
        state.apathText = path.string();
        state.blindFlag = true;
        auto engine = db::makeEngine();
        if (!createDb(state, dialogs, *engine).ok) std::exit(1);

        sqlite3* db = nullptr;
        check(sqlite3_open(path.c_str(), &db), db, "open");
        check(sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr), db,
              "begin");
        const int fixed = static_cast<int>(fixedFields().size());
        std::string insert = "INSERT INTO SamData VALUES (?";
        for (int c = fixed; c < columns; ++c) {
            const std::string sql =
                "ALTER TABLE SamData ADD COLUMN \"" + columnName(c) + "\" VARCHAR(10)";
            check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db, "alter");
        }
        for (int c = 1; c < columns; ++c) insert += ",?";
        insert += ")";
        sqlite3_stmt* s = nullptr;
        check(sqlite3_prepare_v2(db, insert.c_str(), -1, &s, nullptr), db, "prepare");
        for (int r = 1; r <= records; ++r) {
            sqlite3_bind_int(s, 1, r % 32768);
            sqlite3_bind_text(s, 2, "S0421.CNF         ", -1, SQLITE_STATIC);
            const std::string id = idText(r), date = dateText(r);
            sqlite3_bind_text(s, 3, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(s, 4, date.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(s, 5, sampleDate.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(s, 6, "3600", -1, SQLITE_STATIC);
            sqlite3_bind_text(s, 7, "3.2", -1, SQLITE_STATIC);
            for (int c = fixed; c < columns; ++c) {
                const std::string v = cell(r, c);
                if (v.empty())
                    sqlite3_bind_null(s, c + 1);
                else
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
        std::printf("table: %d records x %d columns, %.0f MB, built in %.1f s\n", records, columns,
                    static_cast<double>(std::filesystem::file_size(path)) / 1e6, seconds);
        return path.string();
    }
};

}  // namespace krv::bench
