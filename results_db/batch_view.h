#pragma once

// Column lists and record counts kept while one write transaction holds the store, and a
// view of a store that asks for them once per transaction instead of once per record.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "results_db/store.h"

namespace krv::db {

// What a store's tables looked like since the write transaction began: while it holds the
// store no other program can add a column or a record, so what was read stays true until
// the transaction ends.
class TableCache {
  public:
    // A write transaction began (`holding`) or ended: what was kept is forgotten either way.
    void hold(bool holding);
    bool holding() const { return holding_; }

    bool findFields(const std::string& table, std::vector<FieldInfo>& out) const;
    void keepFields(const std::string& table, const std::vector<FieldInfo>& fields);
    // A column added at the end, or nothing known about the table's columns any more.
    void fieldAdded(const std::string& table, const FieldInfo& field);
    void forgetFields(const std::string& table);

    bool findCount(const std::string& table, std::int64_t& count) const;
    void keepCount(const std::string& table, std::int64_t count);
    void recordAdded(const std::string& table);
    void forgetCount(const std::string& table);

  private:
    bool holding_ = false;
    std::map<std::string, std::vector<FieldInfo>> fields_;
    std::map<std::string, std::int64_t> counts_;
};

// The store seen through one write transaction at a time, with its column lists and record
// counts kept in a TableCache.
class BatchView : public Database {
  public:
    explicit BatchView(Database& inner) : inner_(inner) {}

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
    Database& inner_;
    TableCache cache_;
};

}  // namespace krv::db
