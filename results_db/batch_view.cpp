#include "results_db/batch_view.h"

namespace krv::db {

void TableCache::hold(bool holding) {
    holding_ = holding;
    fields_.clear();
    counts_.clear();
}

bool TableCache::findFields(const std::string& table, std::vector<FieldInfo>& out) const {
    const auto it = fields_.find(table);
    if (it == fields_.end()) return false;
    out = it->second;
    return true;
}

void TableCache::keepFields(const std::string& table, const std::vector<FieldInfo>& fields) {
    if (holding_) fields_.insert_or_assign(table, fields);
}

void TableCache::fieldAdded(const std::string& table, const FieldInfo& field) {
    const auto it = fields_.find(table);
    if (it != fields_.end()) it->second.push_back(field);
}

void TableCache::forgetFields(const std::string& table) { fields_.erase(table); }

bool TableCache::findCount(const std::string& table, std::int64_t& count) const {
    const auto it = counts_.find(table);
    if (it == counts_.end()) return false;
    count = it->second;
    return true;
}

void TableCache::keepCount(const std::string& table, std::int64_t count) {
    if (holding_) counts_.insert_or_assign(table, count);
}

void TableCache::recordAdded(const std::string& table) {
    const auto it = counts_.find(table);
    if (it != counts_.end()) ++it->second;
}

void TableCache::forgetCount(const std::string& table) { counts_.erase(table); }

Status BatchView::createTable(const std::string& table, const std::vector<FieldInfo>& fields,
                              const std::string& indexName, const std::string& indexField) {
    cache_.hold(false);
    return inner_.createTable(table, fields, indexName, indexField);
}

Status BatchView::fields(const std::string& table, std::vector<FieldInfo>& out) {
    if (cache_.findFields(table, out)) return Status::success();
    Status st = inner_.fields(table, out);
    if (st.ok()) cache_.keepFields(table, out);
    return st;
}

Status BatchView::appendField(const std::string& table, const FieldInfo& field) {
    Status st = inner_.appendField(table, field);
    if (st.ok())
        cache_.fieldAdded(table, field);
    else
        cache_.forgetFields(table);
    return st;
}

Status BatchView::beginWrite() {
    cache_.hold(false);
    Status st = inner_.beginWrite();
    cache_.hold(st.ok());
    return st;
}

Status BatchView::commit() {
    cache_.hold(false);
    return inner_.commit();
}

void BatchView::rollback() {
    cache_.hold(false);
    inner_.rollback();
}

Status BatchView::recordCount(const std::string& table, std::int64_t& count) {
    if (cache_.findCount(table, count)) return Status::success();
    Status st = inner_.recordCount(table, count);
    if (st.ok()) cache_.keepCount(table, count);
    return st;
}

Status BatchView::insertRecord(const std::string& table,
                               const std::vector<std::pair<std::string, Value>>& values) {
    Status st = inner_.insertRecord(table, values);
    if (st.ok())
        cache_.recordAdded(table);
    else
        cache_.forgetCount(table);
    return st;
}

Status BatchView::recordIds(const std::string& table, std::vector<std::int64_t>& ids) {
    return inner_.recordIds(table, ids);
}

Status BatchView::identityRange(const std::string& table, std::int64_t& lowest,
                                std::int64_t& highest) {
    return inner_.identityRange(table, lowest, highest);
}

Status BatchView::readRecords(const std::string& table, const std::vector<std::string>& columns,
                              std::int64_t first, std::int64_t last,
                              std::vector<std::vector<Value>>& rows) {
    return inner_.readRecords(table, columns, first, last, rows);
}

Status BatchView::updateValue(const std::string& table, std::int64_t id, const FieldInfo& field,
                              const Value& value) {
    return inner_.updateValue(table, id, field, value);
}

Status BatchView::deleteRecord(const std::string& table, std::int64_t id) {
    cache_.forgetCount(table);
    return inner_.deleteRecord(table, id);
}

Status BatchView::dropTable(const std::string& table) {
    cache_.forgetFields(table);
    cache_.forgetCount(table);
    return inner_.dropTable(table);
}

void BatchView::close() {
    cache_.hold(false);
    inner_.close();
}

}  // namespace krv::db
