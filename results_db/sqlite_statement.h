#pragma once

// What the SQLite engine's files share: statements that never outlive a call, the
// engine's result codes as the archive's error numbers, and how a connection is set up.

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "results_db/engine_shared.h"
#include "results_db/store.h"

namespace krv::db::sqlite {

// "KRVA": tells a results database from any other SQLite file.
constexpr std::int32_t kApplicationId = 0x4B525641;
constexpr int kFormatVersion = 1;
constexpr const char* kCounterTable = "KrvRecordCount";

Status notADatabase(const std::string& path);
Status fileMovedAway();
Status notAValidPath(const std::string& path);
Status rolledBack();
// A failed call's result code, with the file it concerns (`db` may be null).
Status describe(sqlite3* db, int rc, const std::string& path);

// Wrapped in quotes, inner ones doubled, so no name or value can end it early.
std::string quoteIdentifier(const std::string& identifier);
std::string quoteLiteral(const std::string& text);

// A prepared statement that is always finalized, so no lock outlives the call.
class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int prepareResult() const { return rc_; }
    sqlite3_stmt* get() const { return stmt_; }

    enum class Lifetime { Copied, UntilCleared };

    int bind(int index, const Value& v, Lifetime lifetime = Lifetime::Copied);
    Value column(int i) const;

  private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

// One statement, result ignored beyond success; used before a Database object exists.
bool execRaw(sqlite3* db, const char* sql);
bool queryInt(sqlite3* db, const char* sql, std::int64_t& out);
// The settings every connection of ours runs with.
void configure(sqlite3* db);

}  // namespace krv::db::sqlite
