#pragma once

// Copying a table's layout and values into another store: the destination's columns checked
// against the source's, the missing ones added, each value converted as the destination
// stores it.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "results_db/store.h"

namespace krv::db {

// The same column: name and kind, and the size of a text.
bool sameColumn(const FieldInfo& a, const FieldInfo& b);

// Gives `table` the columns `fields`: those it has must be the first of them, in order, and
// the rest are added at the end. On a mismatch nothing is added and `mismatch` is the place
// of the first column that differs (`fields.size()` or more when the table has more).
Status extendColumns(Database& to, const std::string& table, const std::vector<FieldInfo>& fields,
                     std::size_t& mismatch);

// One record's values (`row`, a value per field) as the destination stores them, nulls left
// out; `failed` is the place of the value it cannot hold.
Status convertRow(const std::vector<FieldInfo>& fields, const std::vector<Value>& row,
                  std::vector<std::pair<std::string, Value>>& values, std::size_t& failed);

}  // namespace krv::db
