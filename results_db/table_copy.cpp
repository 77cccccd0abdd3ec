#include "results_db/table_copy.h"

namespace krv::db {

bool sameColumn(const FieldInfo& a, const FieldInfo& b) {
    return a.name == b.name && a.type == b.type && (a.type != FieldType::Text || a.size == b.size);
}

Status extendColumns(Database& to, const std::string& table, const std::vector<FieldInfo>& fields,
                     std::size_t& mismatch) {
    std::vector<FieldInfo> present;
    Status st = to.fields(table, present);
    if (!st.ok()) return st;
    for (mismatch = 0; mismatch < present.size(); ++mismatch) {
        if (mismatch >= fields.size() || !sameColumn(present[mismatch], fields[mismatch]))
            return Status::failure(err::kItemNotFound, "the table's column \"" +
                                                           present[mismatch].name +
                                                           "\" is not the source's at that place");
    }
    for (std::size_t i = present.size(); st.ok() && i < fields.size(); ++i)
        st = to.appendField(table, fields[i]);
    return st;
}

Status convertRow(const std::vector<FieldInfo>& fields, const std::vector<Value>& row,
                  std::vector<std::pair<std::string, Value>>& values, std::size_t& failed) {
    values.clear();
    for (failed = 0; failed < row.size(); ++failed) {
        if (std::holds_alternative<std::monostate>(row[failed])) continue;
        Value stored;
        const Status fits = convertForField(fields[failed], row[failed], stored);
        if (!fits.ok()) return fits;
        values.emplace_back(fields[failed].name, std::move(stored));
    }
    return Status::success();
}

}  // namespace krv::db
