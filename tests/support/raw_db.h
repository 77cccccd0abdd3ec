#pragma once

// An independent sqlite3 connection: tests read back (and set up) database files with
// plain SQL, never through the store they are testing.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace krv::testing {

using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

// An independent connection: plain SQL, every value as text or null.
class RawDb {
  public:
    explicit RawDb(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~RawDb() { sqlite3_close_v2(db_); }

    Rows query(const std::string& sql) {
        Rows rows;
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_);
        while (s && sqlite3_step(s) == SQLITE_ROW) {
            auto& row = rows.emplace_back();
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
                if (p)
                    row.emplace_back(
                        std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, i))));
                else
                    row.emplace_back();
            }
        }
        EXPECT_EQ(sqlite3_finalize(s), SQLITE_OK) << sqlite3_errmsg(db_);
        return rows;
    }
    Cell scalar(const std::string& sql) {
        auto rows = query(sql);
        return rows.empty() ? Cell{} : rows[0][0];
    }
    // "name TYPE" of every column, in order.
    std::vector<std::string> columns() {
        std::vector<std::string> out;
        for (auto& row : query("SELECT name || ' ' || type FROM pragma_table_info('SamData')"))
            out.push_back(*row[0]);
        return out;
    }

  private:
    sqlite3* db_ = nullptr;
};

}  // namespace krv::testing
