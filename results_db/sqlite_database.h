#pragma once

// One open SQLite results file. Its table and record operations, its record counter and
// the files that make and open it each have a source file of their own.

#include <sqlite3.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "results_db/sqlite_statement.h"
#include "results_db/store.h"

namespace krv::db::sqlite {

class SqliteDatabase : public Database {
  public:
    SqliteDatabase(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    ~SqliteDatabase() override { close(); }

    Status createTable(const std::string& table, const std::vector<FieldInfo>& fields,
                       const std::string& indexName, const std::string& indexField) override;
    Status fields(const std::string& table, std::vector<FieldInfo>& out) override;
    Status appendField(const std::string& table, const FieldInfo& field) override;
    Status beginWrite() override;
    Status commit() override;
    void rollback() override;
    Status recordCount(const std::string& table, std::int64_t& count) override;
    Status insertRecord(const std::string& table,
                        const std::vector<std::pair<std::string, Value>>& values) override;
    Status recordIds(const std::string& table, std::vector<std::int64_t>& ids) override;
    Status identityRange(const std::string& table, std::int64_t& lowest,
                         std::int64_t& highest) override;
    Status readRecords(const std::string& table, const std::vector<std::string>& columns,
                       std::int64_t first, std::int64_t last,
                       std::vector<std::vector<Value>>& rows) override;
    Status updateValue(const std::string& table, std::int64_t id, const FieldInfo& field,
                       const Value& value) override;
    Status deleteRecord(const std::string& table, std::int64_t id) override;
    Status dropTable(const std::string& table) override;
    void close() override;

  private:
    Status repairRecordCounter(const std::string& table);
    Status checkOrRebuildCounter(const std::string& table);
    bool counterTableIsOurs(const std::string& createStatement);
    static std::vector<std::string> recordCounterStatements(const std::string& table);
    Status addRecordCounter(const std::string& table);

    Status allOrNothing(const std::string& name, const std::function<Status()>& steps);
    Status exec(const std::string& sql);
    Status prepareFailure(int rc, const std::string& table);
    Status failure(int rc);

    sqlite3* db_;
    std::string path_;
    bool writing_ = false;                   // inside a transaction begun by beginWrite
    std::set<std::string> checkedCounters_;  // tables whose counter this transaction found sound
    struct KeptInsert {
        std::unique_ptr<Statement> statement;
        std::vector<std::string> names;
        bool reusable = false;  // not for a row that named a column twice
    };
    std::map<std::string, KeptInsert> lastInsert_;
};

}  // namespace krv::db::sqlite
