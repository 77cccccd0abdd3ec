#pragma once

// What every engine says and does alike, so a store of either kind answers the archive's
// handlers with the same error numbers and texts and reads the same column types.

#include <string>
#include <utility>
#include <vector>

#include "results_db/store.h"

namespace krv::db {

Status itemNotFound();
Status closedDatabase();
Status tableNotFound(const std::string& table);
Status noCurrentRecord();
Status alreadyExists();
Status invalidName(const std::string& name);
Status duplicateName();
Status tooManyFields();
Status fieldTooSmall();
Status overflow();
Status typeMismatch();
Status lockedByAnotherUser();
Status permissionDenied();
Status diskFull();

// A column's type as the engines declare it, and a declared type read back. Columns added
// by hand with another tool get the widest text column the archive knows; refusing the
// whole table over one odd column would stop every append.
std::string declaredType(const FieldInfo& f);
FieldInfo parseField(std::string name, std::string type);

// The column of `all` that `name` means, by sameFieldName; itemNotFound when none.
Status findField(const std::vector<FieldInfo>& all, const std::string& name,
                 const FieldInfo*& found);

// The column a cell edit writes to and the value converted for it. The column as stored
// decides what fits, not the caller's possibly stale copy of it.
Status storedCell(Database& database, const std::string& table, const FieldInfo& field,
                  const Value& value, FieldInfo& column, Value& stored);

// An insert's names, each once in the order first named. The same column named twice
// keeps its last value, as repeated assignments to a pending record do.
struct NamedCell {
    std::string name;
    const Value* value;
};
std::vector<NamedCell> mergeRepeatedNames(const std::vector<std::pair<std::string, Value>>& values);

}  // namespace krv::db
