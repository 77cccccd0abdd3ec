#include "results_db/engine_shared.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace krv::db {

Status itemNotFound() {
    return Status::failure(err::kItemNotFound, "Item not found in this collection.");
}

Status closedDatabase() {
    return Status::failure(err::kEngine, "Object invalid or no longer set.");
}

Status tableNotFound(const std::string& table) {
    return Status::failure(err::kTableNotFound, "Cannot find the input table or query '" + table +
                                                    "'. Make sure it exists and that its name "
                                                    "is spelled correctly.");
}

Status noCurrentRecord() { return Status::failure(err::kNoCurrentRecord, "No current record."); }

Status alreadyExists() { return Status::failure(err::kDatabaseExists, "Database already exists."); }

Status invalidName(const std::string& name) {
    return Status::failure(err::kInvalidName,
                           "'" + name +
                               "' isn't a valid name. Make sure that it doesn't include invalid "
                               "characters or punctuation and that it isn't too long.");
}

Status duplicateName() {
    return Status::failure(err::kDuplicateName, "Cannot define field more than once.");
}

Status tooManyFields() { return Status::failure(err::kTooManyFields, "Too many fields defined."); }

Status fieldTooSmall() {
    return Status::failure(err::kFieldTooSmall,
                           "The field is too small to accept the amount of data you "
                           "attempted to add. Try inserting or pasting less data.");
}

Status overflow() { return Status::failure(err::kOverflow, "Overflow"); }

Status typeMismatch() { return Status::failure(err::kTypeMismatch, "Type mismatch"); }

Status lockedByAnotherUser() {
    return Status::failure(err::kLocked, "Couldn't update; currently locked by another user.");
}

Status permissionDenied() { return Status::failure(err::kPermissionDenied, "Permission denied"); }

Status diskFull() { return Status::failure(err::kDiskFull, "Disk full"); }

std::string declaredType(const FieldInfo& f) {
    return f.type == FieldType::Int16 ? "SMALLINT" : "VARCHAR(" + std::to_string(f.size) + ")";
}

FieldInfo parseField(std::string name, std::string type) {
    for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FieldInfo f{std::move(name), FieldType::Text, 255};
    if (type == "SMALLINT") {
        f.type = FieldType::Int16;
        f.size = 0;
        return f;
    }
    // The server reads a declared VARCHAR back under its standard name.
    for (const std::string prefix : {"VARCHAR(", "CHARACTER VARYING("}) {
        if (type.rfind(prefix, 0) == 0 && type.size() > prefix.size() + 1 && type.back() == ')') {
            int n = 0;
            if (std::sscanf(type.c_str() + prefix.size(), "%d", &n) == 1 && n >= 0) f.size = n;
        }
    }
    return f;
}

Status findField(const std::vector<FieldInfo>& all, const std::string& name,
                 const FieldInfo*& found) {
    auto it = std::find_if(all.begin(), all.end(),
                           [&](const FieldInfo& f) { return sameFieldName(f.name, name); });
    found = it == all.end() ? nullptr : &*it;
    return found ? Status::success() : itemNotFound();
}

Status storedCell(Database& database, const std::string& table, const FieldInfo& field,
                  const Value& value, FieldInfo& column, Value& stored) {
    std::vector<FieldInfo> all;
    Status st = database.fields(table, all);
    const FieldInfo* found = nullptr;
    if (st.ok()) st = findField(all, field.name, found);
    if (!st.ok()) return st;
    column = *found;
    return convertForField(column, value, stored);
}

std::vector<NamedCell> mergeRepeatedNames(
    const std::vector<std::pair<std::string, Value>>& values) {
    std::vector<NamedCell> cells;
    cells.reserve(values.size());
    for (const auto& entry : values) {
        // Named, not bound: clang 14 cannot capture a structured binding in a lambda.
        const std::string& name = entry.first;
        const Value& value = entry.second;
        auto it = std::find_if(cells.begin(), cells.end(),
                               [&](const NamedCell& c) { return sameFieldName(c.name, name); });
        if (it != cells.end()) {
            it->value = &value;
        } else {
            cells.push_back({name, &value});
        }
    }
    return cells;
}

}  // namespace krv::db
