// The results store on SQLite 3.
//
// File: an ordinary SQLite database marked with its own application id, so a file of
// another program is never taken for a results database. Column types are declared as
// SMALLINT and VARCHAR(n) and read back from the schema; the engine itself does not
// enforce them (SQLite keeps any value anywhere), so every write goes through
// convertForField first. Sizes are deliberately not CHECK constraints: adding a column
// with a CHECK makes SQLite scan the whole table, and a column is added on many appends.
//
// Journal: rollback journal (DELETE), synchronous FULL. Labs keep the file on shared
// folders, and WAL needs shared memory that network file systems do not provide.
//
// Locking: no statement outlives the call that made it, so no connection holds a read
// lock between calls and the viewer's connection never stalls an append.

#include <algorithm>
#include <utility>

#include "results_db/sqlite_database.h"

namespace krv::db::sqlite {

Status SqliteDatabase::createTable(const std::string& table, const std::vector<FieldInfo>& fields,
                                   const std::string& indexName, const std::string& indexField) {
    std::vector<FieldInfo> accepted;
    std::string sql = "CREATE TABLE " + quoteIdentifier(table) + " (";
    for (const FieldInfo& f : fields) {
        Status st = checkNewFieldName(f.name, accepted);
        if (!st.ok()) return st;
        if (!accepted.empty()) sql += ", ";
        sql += quoteIdentifier(f.name) + " " + declaredType(f);
        accepted.push_back(f);
    }
    sql += ")";
    // Table, index and record counter appear together or not at all.
    return allOrNothing("create_table", [&] {
        Status st = exec(sql);
        if (st.ok() && !indexName.empty()) {
            st = exec("CREATE INDEX " + quoteIdentifier(indexName) + " ON " +
                      quoteIdentifier(table) + " (" + quoteIdentifier(indexField) + ")");
        }
        if (st.ok()) st = addRecordCounter(table);
        return st;
    });
}

Status SqliteDatabase::fields(const std::string& table, std::vector<FieldInfo>& out) {
    out.clear();
    if (!db_) return closedDatabase();
    Statement s(db_, "SELECT name, type FROM pragma_table_info(?1) ORDER BY cid");
    if (s.prepareResult() != SQLITE_OK) return failure(s.prepareResult());
    s.bind(1, table);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        auto name = std::get<std::string>(s.column(0));
        const Value type = s.column(1);
        out.push_back(parseField(std::move(name), std::holds_alternative<std::string>(type)
                                                      ? std::get<std::string>(type)
                                                      : std::string()));
    }
    if (rc != SQLITE_DONE) return failure(rc);
    if (out.empty()) return tableNotFound(table);
    return Status::success();
}

Status SqliteDatabase::appendField(const std::string& table, const FieldInfo& field) {
    std::vector<FieldInfo> existing;
    Status st = fields(table, existing);
    if (!st.ok()) return st;
    st = checkNewFieldName(field.name, existing);
    if (!st.ok()) return st;
    if (static_cast<int>(existing.size()) >= sqlite3_limit(db_, SQLITE_LIMIT_COLUMN, -1))
        return tooManyFields();
    return exec("ALTER TABLE " + quoteIdentifier(table) + " ADD COLUMN " +
                quoteIdentifier(field.name) + " " + declaredType(field));
}

Status SqliteDatabase::beginWrite() {
    Status st = exec("BEGIN IMMEDIATE");
    writing_ = st.ok();
    checkedCounters_.clear();
    return st;
}

// Nothing pending because no transaction began counts as committed: what was written
// then is already in the file. A transaction the engine ended by itself is not.
Status SqliteDatabase::commit() {
    if (!db_) return closedDatabase();
    const bool began = std::exchange(writing_, false);
    if (sqlite3_get_autocommit(db_)) return began ? rolledBack() : Status::success();
    return exec("COMMIT");
}

void SqliteDatabase::rollback() {
    writing_ = false;
    if (db_ && !sqlite3_get_autocommit(db_)) exec("ROLLBACK");
}

Status SqliteDatabase::insertRecord(const std::string& table,
                                    const std::vector<std::pair<std::string, Value>>& values) {
    if (!db_) return closedDatabase();
    Status st = repairRecordCounter(table);
    if (!st.ok()) return st;
    // A bulk import inserts thousands of rows of one shape: each table's last insert
    // statement is kept, with the columns it names, for the next row instead of being
    // compiled again. It is reset after each use, so it holds no lock between calls.
    KeptInsert& kept = lastInsert_[table];
    std::vector<const Value*> cells;
    cells.reserve(values.size());
    const bool sameShape =
        kept.statement && kept.reusable && kept.names.size() == values.size() &&
        std::equal(values.begin(), values.end(), kept.names.begin(),
                   [](const auto& entry, const std::string& name) { return entry.first == name; });
    if (sameShape) {
        for (const auto& entry : values) cells.push_back(&entry.second);
    } else {
        std::vector<std::string> names;
        for (NamedCell& cell : mergeRepeatedNames(values)) {
            names.push_back(std::move(cell.name));
            cells.push_back(cell.value);
        }
        std::string sql = "INSERT INTO " + quoteIdentifier(table);
        if (names.empty()) {
            sql += " DEFAULT VALUES";
        } else {
            std::string columns, params;
            for (std::size_t i = 0; i < names.size(); ++i) {
                columns += (i ? ", " : "") + quoteIdentifier(names[i]);
                params += (i ? ", ?" : "?");
            }
            sql += " (" + columns + ") VALUES (" + params + ")";
        }
        kept.statement.reset();
        kept.names.clear();
        kept.reusable = false;
        auto fresh = std::make_unique<Statement>(db_, sql);
        if (fresh->prepareResult() != SQLITE_OK)
            return prepareFailure(fresh->prepareResult(), table);
        kept.statement = std::move(fresh);
        // A row that named a column twice is compiled afresh each time, so the last of
        // its values is always the one kept.
        kept.reusable = names.size() == values.size();
        kept.names = std::move(names);
    }
    Statement& s = *kept.statement;
    int rc = SQLITE_OK;
    // The values outlive the step and the bindings are cleared after it, so SQLite
    // need not copy them.
    for (std::size_t i = 0; rc == SQLITE_OK && i < cells.size(); ++i)
        rc = s.bind(static_cast<int>(i + 1), *cells[i], Statement::Lifetime::UntilCleared);
    if (rc == SQLITE_OK) rc = sqlite3_step(s.get());
    sqlite3_reset(s.get());
    sqlite3_clear_bindings(s.get());
    return rc == SQLITE_DONE ? Status::success() : failure(rc);
}

Status SqliteDatabase::recordIds(const std::string& table, std::vector<std::int64_t>& ids) {
    ids.clear();
    if (!db_) return closedDatabase();
    // Without ORDER BY, SQLite reads the ids from the small record-number index instead
    // of walking every page of a wide table; sorting them here is far cheaper.
    Statement s(db_, "SELECT rowid FROM " + quoteIdentifier(table));
    if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(s.get(), 0));
    std::sort(ids.begin(), ids.end());
    return rc == SQLITE_DONE ? Status::success() : failure(rc);
}

// Each of min and max alone walks one edge of the table's tree; asked together SQLite
// would scan every record.
Status SqliteDatabase::identityRange(const std::string& table, std::int64_t& lowest,
                                     std::int64_t& highest) {
    lowest = highest = 0;
    if (!db_) return closedDatabase();
    for (auto [edge, out] : {std::pair{"min", &lowest}, std::pair{"max", &highest}}) {
        Statement s(db_, std::string("SELECT ") + edge + "(rowid) FROM " + quoteIdentifier(table));
        if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
        const int rc = sqlite3_step(s.get());
        if (rc != SQLITE_ROW) return failure(rc);
        *out = sqlite3_column_int64(s.get(), 0);  // null (empty table) reads as 0
    }
    return Status::success();
}

Status SqliteDatabase::readRecords(const std::string& table,
                                   const std::vector<std::string>& columns, std::int64_t first,
                                   std::int64_t last, std::vector<std::vector<Value>>& rows) {
    rows.clear();
    if (!db_) return closedDatabase();
    std::string sql = "SELECT rowid";
    for (const std::string& c : columns) sql += ", " + quoteIdentifier(c);
    sql += " FROM " + quoteIdentifier(table) + " WHERE rowid BETWEEN ?1 AND ?2 ORDER BY rowid";
    Statement s(db_, sql);
    if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
    sqlite3_bind_int64(s.get(), 1, first);
    sqlite3_bind_int64(s.get(), 2, last);
    const int width = static_cast<int>(columns.size()) + 1;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        std::vector<Value>& row = rows.emplace_back();
        row.reserve(static_cast<std::size_t>(width));
        for (int i = 0; i < width; ++i) row.push_back(s.column(i));
    }
    return rc == SQLITE_DONE ? Status::success() : failure(rc);
}

Status SqliteDatabase::updateValue(const std::string& table, std::int64_t id,
                                   const FieldInfo& field, const Value& value) {
    FieldInfo column;
    Value stored;
    const Status st = storedCell(*this, table, field, value, column, stored);
    if (!st.ok()) return st;
    Statement s(db_, "UPDATE " + quoteIdentifier(table) + " SET " + quoteIdentifier(column.name) +
                         " = ?1 WHERE rowid = ?2");
    if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
    s.bind(1, stored);
    sqlite3_bind_int64(s.get(), 2, id);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_DONE) return failure(rc);
    return sqlite3_changes(db_) == 1 ? Status::success() : noCurrentRecord();
}

Status SqliteDatabase::deleteRecord(const std::string& table, std::int64_t id) {
    if (!db_) return closedDatabase();
    Status st = repairRecordCounter(table);
    if (!st.ok()) return st;
    Statement s(db_, "DELETE FROM " + quoteIdentifier(table) + " WHERE rowid = ?1");
    if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
    sqlite3_bind_int64(s.get(), 1, id);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_DONE) return failure(rc);
    return sqlite3_changes(db_) == 1 ? Status::success() : noCurrentRecord();
}

Status SqliteDatabase::dropTable(const std::string& table) {
    if (!db_) return closedDatabase();
    lastInsert_.erase(table);
    checkedCounters_.erase(table);
    // Its counter triggers go with it; its counter row is taken out here.
    return allOrNothing("drop_table", [&] {
        Status st = exec("DROP TABLE IF EXISTS " + quoteIdentifier(table));
        if (st.ok() && counterTableIsOurs(recordCounterStatements(table)[0]))
            st = exec("DELETE FROM " + quoteIdentifier(kCounterTable) +
                      " WHERE tableName = " + quoteLiteral(table));
        return st;
    });
}

void SqliteDatabase::close() {
    if (!db_) return;
    lastInsert_.clear();
    rollback();
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

// Runs `steps` inside a savepoint, so they stay together inside or outside a transaction.
Status SqliteDatabase::allOrNothing(const std::string& name, const std::function<Status()>& steps) {
    Status st = exec("SAVEPOINT " + name);
    if (!st.ok()) return st;
    st = steps();
    if (!st.ok()) {
        exec("ROLLBACK TO " + name);
        exec("RELEASE " + name);
        return st;
    }
    return exec("RELEASE " + name);
}

Status SqliteDatabase::exec(const std::string& sql) {
    if (!db_) return closedDatabase();
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? Status::success() : failure(rc);
}

// Preparing fails mostly because the table or a column is not there.
Status SqliteDatabase::prepareFailure(int rc, const std::string& table) {
    const std::string msg = sqlite3_errmsg(db_);
    if (rc == SQLITE_ERROR && msg.rfind("no such table", 0) == 0) return tableNotFound(table);
    if (rc == SQLITE_ERROR && msg.find("no column named") != std::string::npos)
        return itemNotFound();
    return failure(rc);
}

Status SqliteDatabase::failure(int rc) {
    Status st = describe(db_, rc, path_);
    // After an I/O error or a full disk SQLite may end the transaction by itself; the
    // steps after it would then each be stored on their own.
    if (writing_ && db_ && sqlite3_get_autocommit(db_)) {
        writing_ = false;
        st.description += "; the engine rolled the whole change back";
    }
    return st;
}

}  // namespace krv::db::sqlite
