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

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <system_error>
#include <utility>

#include "platform/platform.h"
#include "platform/runs.h"
#include "results_db/store.h"

namespace krv::db {

namespace {

namespace fs = std::filesystem;

// "KRVA": tells a results database from any other SQLite file.
constexpr std::int32_t kApplicationId = 0x4B525641;
constexpr int kFormatVersion = 1;
constexpr int kBusyTimeoutMs = 10000;
constexpr const char* kCounterTable = "KrvRecordCount";

// Error numbers of failures that have no name in err:: yet.
constexpr int kCouldNotFindFile = 3024;

Status notADatabase(const std::string& path) {
    return Status::failure(err::kNotADatabase, "Unrecognized database format '" + path + "'.");
}

Status fileMovedAway() {
    return Status::failure(err::kPathFileAccess,
                           "The database file was deleted or replaced while this run had it open "
                           "(a reset running at the same time?)");
}

Status notAValidPath(const std::string& path) {
    return Status::failure(err::kCantOpenDatabase,
                           "'" + path +
                               "' isn't a valid path. Make sure that the path name is spelled "
                               "correctly and that you are connected to the server on which the "
                               "file resides.");
}

Status lockedByAnotherUser() {
    return Status::failure(err::kLocked, "Couldn't update; currently locked by another user.");
}

Status tableNotFound(const std::string& table) {
    return Status::failure(err::kTableNotFound, "Cannot find the input table or query '" + table +
                                                    "'. Make sure it exists and that its name "
                                                    "is spelled correctly.");
}

// Wraps text in `quote`, doubling any inside, so no name or value can end it early.
std::string quoted(const std::string& text, char quote) {
    std::string q(1, quote);
    for (char c : text) {
        if (c == quote) q += quote;
        q += c;
    }
    q += quote;
    return q;
}
std::string quoteIdentifier(const std::string& identifier) { return quoted(identifier, '"'); }
std::string quoteLiteral(const std::string& text) { return quoted(text, '\''); }

std::string declaredType(const FieldInfo& f) {
    return f.type == FieldType::Int16 ? "SMALLINT" : "VARCHAR(" + std::to_string(f.size) + ")";
}

// Columns added by hand with another tool get the widest text column the archive knows;
// refusing the whole table over one odd column would stop every append.
FieldInfo parseField(std::string name, std::string type) {
    for (char& c : type) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    FieldInfo f{std::move(name), FieldType::Text, 255};
    if (type == "SMALLINT") {
        f.type = FieldType::Int16;
        f.size = 0;
    } else if (type.rfind("VARCHAR(", 0) == 0 && type.size() > 9 && type.back() == ')') {
        int n = 0;
        if (std::sscanf(type.c_str() + 8, "%d", &n) == 1 && n >= 0) f.size = n;
    }
    return f;
}

// A prepared statement that is always finalized, so no lock outlives the call.
class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) {
        rc_ = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    int prepareResult() const { return rc_; }
    sqlite3_stmt* get() const { return stmt_; }

    enum class Lifetime { Copied, UntilCleared };

    int bind(int index, const Value& v, Lifetime lifetime = Lifetime::Copied) {
        if (std::holds_alternative<std::monostate>(v)) return sqlite3_bind_null(stmt_, index);
        if (const auto* d = std::get_if<double>(&v)) {
            const double whole = static_cast<double>(static_cast<std::int64_t>(*d));
            if (whole == *d && std::abs(*d) < 9.0e18)
                return sqlite3_bind_int64(stmt_, index, static_cast<sqlite3_int64>(*d));
            return sqlite3_bind_double(stmt_, index, *d);
        }
        const std::string& s = std::get<std::string>(v);
        return sqlite3_bind_text(stmt_, index, s.data(), static_cast<int>(s.size()),
                                 lifetime == Lifetime::Copied ? SQLITE_TRANSIENT : SQLITE_STATIC);
    }

    Value column(int i) const {
        switch (sqlite3_column_type(stmt_, i)) {
            case SQLITE_NULL:
                return std::monostate{};
            case SQLITE_INTEGER:
                return static_cast<double>(sqlite3_column_int64(stmt_, i));
            case SQLITE_FLOAT:
                return sqlite3_column_double(stmt_, i);
            default: {
                // Texts may hold NUL characters (a report never read is all NULs), so the
                // length comes from the engine, not from the terminator.
                const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
                return std::string(p ? p : "",
                                   static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)));
            }
        }
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

class SqliteDatabase : public Database {
  public:
    SqliteDatabase(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    ~SqliteDatabase() override { close(); }

    Status createTable(const std::string& table, const std::vector<FieldInfo>& fields,
                       const std::string& indexName, const std::string& indexField) override {
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

    Status fields(const std::string& table, std::vector<FieldInfo>& out) override {
        out.clear();
        if (!db_) return closed();
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

    Status appendField(const std::string& table, const FieldInfo& field) override {
        std::vector<FieldInfo> existing;
        Status st = fields(table, existing);
        if (!st.ok()) return st;
        st = checkNewFieldName(field.name, existing);
        if (!st.ok()) return st;
        if (static_cast<int>(existing.size()) >= sqlite3_limit(db_, SQLITE_LIMIT_COLUMN, -1))
            return Status::failure(err::kTooManyFields, "Too many fields defined.");
        return exec("ALTER TABLE " + quoteIdentifier(table) + " ADD COLUMN " +
                    quoteIdentifier(field.name) + " " + declaredType(field));
    }

    Status beginWrite() override {
        Status st = exec("BEGIN IMMEDIATE");
        writing_ = st.ok();
        checkedCounters_.clear();
        return st;
    }

    // Nothing pending because no transaction began counts as committed: what was written
    // then is already in the file. A transaction the engine ended by itself is not.
    Status commit() override {
        if (!db_) return closed();
        const bool began = std::exchange(writing_, false);
        if (sqlite3_get_autocommit(db_)) return began ? rolledBack() : Status::success();
        return exec("COMMIT");
    }

    void rollback() override {
        writing_ = false;
        if (db_ && !sqlite3_get_autocommit(db_)) exec("ROLLBACK");
    }

    Status recordCount(const std::string& table, std::int64_t& count) override {
        count = 0;
        if (!db_) return closed();
        // A counter another tool took away or changed is rebuilt by the writer that needs
        // it; a reader takes the counter as it is, or counts the slow way below without one.
        if (!writing_ || repairRecordCounter(table).ok()) {
            Statement kept(db_, "SELECT records FROM " + quoteIdentifier(kCounterTable) +
                                    " WHERE tableName = ?1");
            if (kept.prepareResult() == SQLITE_OK) {
                kept.bind(1, table);
                const int rc = sqlite3_step(kept.get());
                if (rc == SQLITE_ROW) {
                    count = sqlite3_column_int64(kept.get(), 0);
                    return Status::success();
                }
                if (rc != SQLITE_DONE) return failure(rc);
            }
        }
        // A table made without a counter (by hand, with another tool) is counted the slow way.
        Statement s(db_, "SELECT count(*) FROM " + quoteIdentifier(table));
        if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
        const int rc = sqlite3_step(s.get());
        if (rc != SQLITE_ROW) return failure(rc);
        count = sqlite3_column_int64(s.get(), 0);
        return Status::success();
    }

    Status insertRecord(const std::string& table,
                        const std::vector<std::pair<std::string, Value>>& values) override {
        if (!db_) return closed();
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
            std::equal(
                values.begin(), values.end(), kept.names.begin(),
                [](const auto& entry, const std::string& name) { return entry.first == name; });
        if (sameShape) {
            for (const auto& entry : values) cells.push_back(&entry.second);
        } else {
            // The same column named twice keeps its last value, as repeated assignments to
            // a pending record do.
            std::vector<std::string> names;
            for (const auto& entry : values) {
                auto it = std::find(names.begin(), names.end(), entry.first);
                if (it != names.end()) {
                    cells[static_cast<std::size_t>(it - names.begin())] = &entry.second;
                } else {
                    names.push_back(entry.first);
                    cells.push_back(&entry.second);
                }
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

    Status recordIds(const std::string& table, std::vector<std::int64_t>& ids) override {
        ids.clear();
        if (!db_) return closed();
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
    Status identityRange(const std::string& table, std::int64_t& lowest,
                         std::int64_t& highest) override {
        lowest = highest = 0;
        if (!db_) return closed();
        for (auto [edge, out] : {std::pair{"min", &lowest}, std::pair{"max", &highest}}) {
            Statement s(db_,
                        std::string("SELECT ") + edge + "(rowid) FROM " + quoteIdentifier(table));
            if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
            const int rc = sqlite3_step(s.get());
            if (rc != SQLITE_ROW) return failure(rc);
            *out = sqlite3_column_int64(s.get(), 0);  // null (empty table) reads as 0
        }
        return Status::success();
    }

    Status readRecords(const std::string& table, const std::vector<std::string>& columns,
                       std::int64_t first, std::int64_t last,
                       std::vector<std::vector<Value>>& rows) override {
        rows.clear();
        if (!db_) return closed();
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

    Status updateValue(const std::string& table, std::int64_t id, const FieldInfo& field,
                       const Value& value) override {
        // The column as stored decides what fits, not the caller's possibly stale copy.
        std::vector<FieldInfo> all;
        Status st = fields(table, all);
        if (!st.ok()) return st;
        auto it = std::find_if(all.begin(), all.end(),
                               [&](const FieldInfo& f) { return f.name == field.name; });
        if (it == all.end())
            return Status::failure(err::kItemNotFound, "Item not found in this collection.");
        Value stored;
        st = convertForField(*it, value, stored);
        if (!st.ok()) return st;
        Statement s(db_, "UPDATE " + quoteIdentifier(table) + " SET " + quoteIdentifier(it->name) +
                             " = ?1 WHERE rowid = ?2");
        if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
        s.bind(1, stored);
        sqlite3_bind_int64(s.get(), 2, id);
        const int rc = sqlite3_step(s.get());
        if (rc != SQLITE_DONE) return failure(rc);
        return sqlite3_changes(db_) == 1 ? Status::success() : noCurrentRecord();
    }

    Status deleteRecord(const std::string& table, std::int64_t id) override {
        if (!db_) return closed();
        Status st = repairRecordCounter(table);
        if (!st.ok()) return st;
        Statement s(db_, "DELETE FROM " + quoteIdentifier(table) + " WHERE rowid = ?1");
        if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
        sqlite3_bind_int64(s.get(), 1, id);
        const int rc = sqlite3_step(s.get());
        if (rc != SQLITE_DONE) return failure(rc);
        return sqlite3_changes(db_) == 1 ? Status::success() : noCurrentRecord();
    }

    Status dropTable(const std::string& table) override {
        if (!db_) return closed();
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

    void close() override {
        if (!db_) return;
        lastInsert_.clear();
        rollback();
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }

  private:
    // The counter and its triggers are ours alone; anything else found under their names
    // (or nothing) is replaced by a fresh set counted from the table. Comparing the stored
    // statements costs a look at the schema already in memory.
    Status repairRecordCounter(const std::string& table) {
        // Within one write transaction no other program can have touched them since.
        if (writing_ && checkedCounters_.count(table)) return Status::success();
        Status st = checkOrRebuildCounter(table);
        if (st.ok() && writing_) checkedCounters_.insert(table);
        return st;
    }

    Status checkOrRebuildCounter(const std::string& table) {
        const std::vector<std::string> expected = recordCounterStatements(table);
        {
            // Fails to prepare when the counter table is gone; that too is rebuilt.
            Statement s(db_,
                        "SELECT (SELECT count(*) FROM sqlite_schema WHERE sql IN (?1, ?2, ?3))"
                        " = 3 AND (SELECT count(*) FROM " +
                            quoteIdentifier(kCounterTable) + " WHERE tableName = ?4) = 1");
            if (s.prepareResult() == SQLITE_OK) {
                for (int i = 0; i < 3; ++i) s.bind(i + 1, expected[static_cast<std::size_t>(i)]);
                s.bind(4, table);
                if (sqlite3_step(s.get()) != SQLITE_ROW) return failure(sqlite3_errcode(db_));
                if (sqlite3_column_int(s.get(), 0) == 1) return Status::success();
            } else if ((s.prepareResult() & 0xFF) != SQLITE_ERROR) {
                return failure(s.prepareResult());
            }
        }
        return allOrNothing("repair_counter", [&] {
            Status st = Status::success();
            for (const char* kind : {"insert", "delete"})
                if (st.ok())
                    st = exec("DROP TRIGGER IF EXISTS " +
                              quoteIdentifier(table + " counted " + kind));
            // A counter table of another shape is not ours: it goes, and every table's
            // row is rebuilt at its next check.
            if (st.ok() && !counterTableIsOurs(expected[0]))
                st = exec("DROP TABLE IF EXISTS " + quoteIdentifier(kCounterTable));
            if (st.ok()) st = addRecordCounter(table);
            return st;
        });
    }

    bool counterTableIsOurs(const std::string& createStatement) {
        Statement s(db_,
                    "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1 AND sql = ?2");
        if (s.prepareResult() != SQLITE_OK) return false;
        s.bind(1, std::string(kCounterTable));
        s.bind(2, createStatement);
        return sqlite3_step(s.get()) == SQLITE_ROW;
    }

    // Runs `steps` inside a savepoint, so they stay together inside or outside a transaction.
    Status allOrNothing(const std::string& name, const std::function<Status()>& steps) {
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

    static std::vector<std::string> recordCounterStatements(const std::string& table) {
        const std::string counter = quoteIdentifier(kCounterTable);
        const std::string t = quoteIdentifier(table);
        const std::string key = quoteLiteral(table);
        return {
            "CREATE TABLE " + counter + " (tableName TEXT PRIMARY KEY, records INTEGER NOT NULL)",
            "CREATE TRIGGER " + quoteIdentifier(table + " counted insert") + " AFTER INSERT ON " +
                t + " BEGIN UPDATE " + counter +
                " SET records = records + 1 WHERE tableName = " + key + "; END",
            "CREATE TRIGGER " + quoteIdentifier(table + " counted delete") + " AFTER DELETE ON " +
                t + " BEGIN UPDATE " + counter +
                " SET records = records - 1 WHERE tableName = " + key + "; END"};
    }

    // Counting a large table walks its whole index on every append, and an append opens
    // a fresh connection with a cold cache each time; triggers keep the count instead, so
    // it stays right whichever program inserts or deletes.
    // Several tables of ours (the results and the audit trail) share the counter table,
    // each with a row and triggers of its own.
    Status addRecordCounter(const std::string& table) {
        const std::vector<std::string> statements = recordCounterStatements(table);
        Status st = exec("CREATE TABLE IF NOT EXISTS" + statements[0].substr(12));
        if (st.ok())
            st = exec("DELETE FROM " + quoteIdentifier(kCounterTable) +
                      " WHERE tableName = " + quoteLiteral(table));
        if (st.ok())
            st = exec("INSERT INTO " + quoteIdentifier(kCounterTable) + " VALUES (" +
                      quoteLiteral(table) + ", (SELECT count(*) FROM " + quoteIdentifier(table) +
                      "))");
        if (st.ok()) st = exec(statements[1]);
        if (st.ok()) st = exec(statements[2]);
        return st;
    }

    Status exec(const std::string& sql) {
        if (!db_) return closed();
        const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
        return rc == SQLITE_OK ? Status::success() : failure(rc);
    }

    static Status rolledBack() {
        return Status::failure(err::kEngine,
                               "The engine rolled the whole change back after a failed step; "
                               "nothing of it was stored.");
    }
    static Status closed() {
        return Status::failure(err::kEngine, "Object invalid or no longer set.");
    }
    static Status noCurrentRecord() {
        return Status::failure(err::kNoCurrentRecord, "No current record.");
    }

    // Preparing fails mostly because the table or a column is not there.
    Status prepareFailure(int rc, const std::string& table) {
        const std::string msg = sqlite3_errmsg(db_);
        if (rc == SQLITE_ERROR && msg.rfind("no such table", 0) == 0) return tableNotFound(table);
        if (rc == SQLITE_ERROR && msg.find("no column named") != std::string::npos)
            return Status::failure(err::kItemNotFound, "Item not found in this collection.");
        return failure(rc);
    }

    Status failure(int rc) {
        Status st = describe(rc);
        // After an I/O error or a full disk SQLite may end the transaction by itself; the
        // steps after it would then each be stored on their own.
        if (writing_ && db_ && sqlite3_get_autocommit(db_)) {
            writing_ = false;
            st.description += "; the engine rolled the whole change back";
        }
        return st;
    }

    Status describe(int rc) {
        const std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        // A reset deleting the file under a running append shows as an I/O error on the
        // file or its journal; the cause is what a job's log needs.
        int moved = 0;
        if (db_ && ((rc & 0xFF) == SQLITE_IOERR || (rc & 0xFF) == SQLITE_READONLY))
            sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved);
        if (rc == SQLITE_READONLY_DBMOVED || moved) return fileMovedAway();
        switch (rc & 0xFF) {
            case SQLITE_BUSY:
            case SQLITE_LOCKED:
                return lockedByAnotherUser();
            case SQLITE_FULL:
                return Status::failure(err::kDiskFull, "Disk full");
            case SQLITE_READONLY:
            case SQLITE_PERM:
                return Status::failure(err::kPermissionDenied, "Permission denied");
            case SQLITE_CORRUPT:
            case SQLITE_NOTADB:
                return notADatabase(path_);
            case SQLITE_IOERR:
                return Status::failure(err::kPathFileAccess, "Disk I/O error: " + detail);
            default:
                return Status::failure(err::kEngine, "Database engine error: " + detail);
        }
    }

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

// One statement, result ignored beyond success; used before a Database object exists.
bool execRaw(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool queryInt(sqlite3* db, const char* sql, std::int64_t& out) {
    sqlite3_stmt* s = nullptr;
    bool ok =
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW;
    if (ok) out = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return ok;
}

void configure(sqlite3* db) {
    // Double-quoted names must never silently turn into string literals.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
}

enum class Header { Ours, NotOurs, Unreadable };

// Reads the first 100 bytes ourselves: SQLite may write to a file it opens (rolling back
// a journal it finds beside it), and a file of another program must stay untouched.
Header readHeader(const fs::path& p, std::error_code& ec) {
    std::array<char, 100> header{};
    errno = 0;
    std::ifstream in(p, std::ios::binary);
    if (!in.is_open()) {
        ec = std::error_code(errno ? errno : EIO, std::generic_category());
        return Header::Unreadable;
    }
    in.read(header.data(), header.size());
    if (in.bad()) {
        ec = std::error_code(errno ? errno : EIO, std::generic_category());
        return Header::Unreadable;
    }
    if (in.gcount() != static_cast<std::streamsize>(header.size())) return Header::NotOurs;
    if (std::memcmp(header.data(), "SQLite format 3", 16) != 0) return Header::NotOurs;
    const auto byte = [&](int i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(header[i]));
    };
    const std::uint32_t appId = byte(68) << 24 | byte(69) << 16 | byte(70) << 8 | byte(71);
    return appId == static_cast<std::uint32_t>(kApplicationId) ? Header::Ours : Header::NotOurs;
}

Status fileFailure(const std::string& what, const std::error_code& ec) {
    return Status::failure(err::kPathFileAccess, what + ": " + ec.message());
}

Status alreadyExists() { return Status::failure(err::kDatabaseExists, "Database already exists."); }

// Another run made a database at the path between the old one's removal and the new
// one's placing; theirs stays.
Status racedBy(Status st, const std::string& path, bool oldDeleted) {
    if (st.number == err::kDatabaseExists)
        st.description = std::string(oldDeleted ? "the old database was deleted, but " : "") +
                         "another run created a new database at '" + path +
                         "' while this reset ran; that one was kept";
    return st;
}

Status linkLoop(const std::string& path) {
    return Status::failure(err::kPathFileAccess,
                           "The symbolic links at '" + path + "' form a loop; no file is there.");
}

// What stands at a path where a database file was expected, in words.
Status notAFile(const std::string& path, const fs::file_status& st) {
    if (fs::is_directory(st))
        return Status::failure(err::kPathFileAccess,
                               "'" + path + "' is a folder, not a database file.");
    return Status::failure(err::kPathFileAccess,
                           "'" + path + "' is a pipe, socket or device, not a database file.");
}

fs::path withSuffix(const fs::path& p, const std::string& suffix) {
    return platform::toPath(platform::fromPath(p) + suffix);
}

std::string randomSuffix() {
    std::random_device rd;
    return std::to_string(rd()) + std::to_string(rd());
}

// Removes a file of our own; one retry, because a passing fault must not leave it behind.
void removeOwnFile(const fs::path& p) {
    std::error_code ec;
    if (!fs::remove(p, ec) && ec) fs::remove(p, ec);
}

// A journal whose database is gone would be played into the next file of that name and
// damage it. It may hold someone's last changes, so it is kept under a name that says so.
Status setAsideOrphanedJournal(const fs::path& target) {
    const fs::path journal = withSuffix(target, "-journal");
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(journal, ec))) {
        if (ec && ec != std::errc::no_such_file_or_directory)
            return fileFailure("Could not look at '" + platform::fromPath(journal) + "'", ec);
        return Status::success();
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    const fs::path aside = withSuffix(
        journal, ".orphaned-" + std::to_string(seconds) + "-" + randomSuffix().substr(0, 6));
    ec = platform::moveNoReplace(journal, aside);
    if (ec)
        return fileFailure("A rollback journal without its database is at '" +
                               platform::fromPath(journal) +
                               "' and could not be moved aside, so no new database is made there",
                           ec);
    return Status::success();
}

// Makes the database under its private name: file, settings, then the caller's content.
// Every step is synced by SQLite's commit before this returns.
Status build(const fs::path& building, const std::function<Status(Database&)>& initialise) {
    const std::string buildingName = platform::fromPath(building);
    errno = 0;
    if (!platform::createNewFile(building))
        return fileFailure("Could not create the database",
                           std::error_code(errno ? errno : EIO, std::generic_category()));

    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(buildingName.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    bool ok = rc == SQLITE_OK;
    if (ok) {
        configure(db);
        const std::string setup =
            "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; "
            "PRAGMA application_id=" +
            std::to_string(kApplicationId) +
            "; PRAGMA user_version=" + std::to_string(kFormatVersion) + ";";
        ok = execRaw(db, setup.c_str());
    }
    const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    if (!ok) {
        sqlite3_close_v2(db);
        return Status::failure(err::kEngine, "Could not create the database: " + detail);
    }
    if (!initialise)
        return sqlite3_close(db) == SQLITE_OK
                   ? Status::success()
                   : Status::failure(err::kEngine, "Could not create the database");
    SqliteDatabase content(db, buildingName);
    return initialise(content);
}

class SqliteEngine : public Engine {
  public:
    // Built under a private name beside the target and published only whole and durable:
    // content synced, linked into place without replacing anything, the folder synced.
    // On any failure nothing appears at the path and the private file is removed.
    Status createDatabase(const std::string& path,
                          const std::function<Status(Database&)>& initialise) override {
        if (path.empty()) return notAValidPath(path);
        fs::path target;
        std::error_code ec = platform::resolveLinks(platform::toPath(path), target);
        if (ec == std::errc::too_many_symbolic_link_levels) return linkLoop(path);
        if (ec) return fileFailure("Could not look at '" + path + "'", ec);
        const fs::file_status there = fs::symlink_status(target, ec);
        if (fs::exists(there))
            return fs::is_regular_file(there) ? alreadyExists() : notAFile(path, there);
        const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
        if (!fs::is_directory(folder, ec)) return notAValidPath(path);
        platform::removeLeftoversOfEndedRuns(target);
        Status st = setAsideOrphanedJournal(target);
        if (!st.ok()) return st;

        const fs::path building = platform::privateNameBeside(target);
        st = build(building, initialise);
        if (!st.ok()) {
            removeOwnFile(building);
            removeOwnFile(withSuffix(building, "-journal"));
            return st;
        }
        bool moved = false;
        ec = platform::placeNoReplace(building, target, moved);
        if (ec) {
            removeOwnFile(building);
            return ec == std::errc::file_exists
                       ? alreadyExists()
                       : fileFailure("Could not put the new database at '" + path + "'", ec);
        }
        ec = platform::syncFolder(folder);
        if (ec) {
            // A name that a power cut could take away again is taken away now, so that a
            // job never counts on a database that may vanish.
            removeOwnFile(target);
            if (!moved) removeOwnFile(building);
            return fileFailure("Could not make the new database at '" + path + "' durable", ec);
        }
        if (!moved) removeOwnFile(building);
        return Status::success();
    }

    // A symbolic link at the path stays: the file it points to is replaced, the same file
    // an append writes to. The new database is made whole beside the old one first, so a
    // replace that cannot finish (a full disk, content refused) leaves the old records.
    Status replaceDatabase(const std::string& path,
                           const std::function<Status(Database&)>& initialise) override {
        if (path.empty()) return notAValidPath(path);
        fs::path target;
        std::error_code ec = platform::resolveLinks(platform::toPath(path), target);
        if (ec == std::errc::too_many_symbolic_link_levels)
            return Status::failure(err::kPathFileAccess,
                                   "The symbolic links at '" + path + "' form a loop");
        // A run killed while it replaced this database left its private copy beside it.
        platform::removeLeftoversOfEndedRuns(target);
        if (!fs::exists(fs::symlink_status(target, ec)))
            return racedBy(createDatabase(platform::fromPath(target), initialise), path, false);
        // Only a plain file is removed: a folder, or a file the system hides, stays.
        if (fs::is_directory(target, ec))
            return Status::failure(err::kPathFileAccess,
                                   "'" + path + "' is a folder, not a database file");
        if (!fs::is_regular_file(target, ec))
            return Status::failure(
                err::kPathFileAccess,
                "'" + path + "' is a pipe, socket or device, not a database file");
        if (!platform::isNormalFile(target))
            return Status::failure(err::kPermissionDenied,
                                   "'" + path + "' is a hidden or system file; it was kept");

        // The staged database goes wherever the replace ends; the named one is what counts.
        struct StagedFile {
            fs::path path;
            ~StagedFile() { removeOwnFile(path); }
        } staged{platform::privateNameBeside(target)};
        Status st = createDatabase(platform::fromPath(staged.path), initialise);
        if (!st.ok()) return st;
        if (!fs::remove(target, ec))
            return Status::failure(err::kPermissionDenied,
                                   "Could not delete the old database: " +
                                       (ec ? ec.message() : std::string("it vanished")));
        // The old database's journal goes with it; played into the new file it would
        // damage it, so the new one is not put in place while the journal is there.
        const fs::path journal = withSuffix(target, "-journal");
        fs::remove(journal, ec);
        if (fs::exists(fs::symlink_status(journal, ec)))
            return Status::failure(err::kPermissionDenied,
                                   "the old database was deleted, but its journal '" +
                                       platform::fromPath(journal) + "' could not be removed");
        bool moved = false;
        ec = platform::placeNoReplace(staged.path, target, moved);
        if (!ec) {
            // Not durable is not done: a power cut could bring the old name back empty.
            ec = platform::syncFolder(target.has_parent_path() ? target.parent_path()
                                                               : fs::path("."));
            std::error_code ignored;
            if (ec) fs::remove(target, ignored);
        }
        if (ec == std::errc::file_exists) return racedBy(alreadyExists(), path, true);
        if (ec) return Status::failure(err::kPathFileAccess, ec.message());
        return Status::success();
    }

    std::unique_ptr<Database> openDatabase(const std::string& path, Status& status) override {
        status = Status::success();
        if (path.empty()) {
            status = notAValidPath(path);
            return nullptr;
        }
        const fs::path p = platform::toPath(path);
        std::error_code ec;
        const fs::file_status fst = fs::status(p, ec);
        if (!fs::exists(fst)) {
            if (ec == std::errc::too_many_symbolic_link_levels) {
                status = linkLoop(path);
            } else {
                status =
                    ec && ec != std::errc::no_such_file_or_directory
                        ? notAValidPath(path)
                        : Status::failure(kCouldNotFindFile, "Could not find file '" + path + "'.");
            }
            return nullptr;
        }
        // A file another program holds cannot even be read: it is locked, not foreign.
        if (fs::is_regular_file(fst) && platform::heldByAnotherProgram(p)) {
            status = lockedByAnotherUser();
            return nullptr;
        }
        if (!fs::is_regular_file(fst)) {
            status = notAFile(path, fst);
            return nullptr;
        }
        // A run killed while it made or replaced this database left its private copy beside it.
        platform::removeLeftoversOfEndedRuns(p);
        const Header header = readHeader(p, ec);
        if (header != Header::Ours) {
            status = header == Header::Unreadable ? fileFailure("Could not read '" + path + "'", ec)
                                                  : notADatabase(path);
            return nullptr;
        }

        sqlite3* db = nullptr;
        // A Database is used by one thread at a time, so SQLite's own lock around every
        // call is pure cost, and a wide export makes a call for every cell.
        const int rc = sqlite3_open_v2(path.c_str(), &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            status = Status::failure(
                err::kCantOpenDatabase,
                "Could not open '" + path + "': " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
            if (!fs::exists(p, ec)) status = fileMovedAway();
            sqlite3_close_v2(db);
            return nullptr;
        }
        configure(db);
        // Reading the schema here finds a damaged file before anything is written to it.
        std::int64_t appId = 0, version = 0, objects = 0;
        if (!queryInt(db, "PRAGMA application_id", appId) || appId != kApplicationId ||
            !queryInt(db, "PRAGMA user_version", version) || version > kFormatVersion ||
            !queryInt(db, "SELECT count(*) FROM sqlite_schema", objects)) {
            const int code = sqlite3_errcode(db) & 0xFF;
            if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
                status = lockedByAnotherUser();
            } else if (code == SQLITE_IOERR || code == SQLITE_FULL || code == SQLITE_CANTOPEN) {
                status = Status::failure(err::kPathFileAccess,
                                         "Could not read '" + path + "': " + sqlite3_errmsg(db));
            } else {
                status = notADatabase(path);
            }
            sqlite3_close_v2(db);
            return nullptr;
        }
        // A file switched to WAL by another tool goes back to the journal that works on
        // shared folders; on a file already in that mode this writes nothing.
        execRaw(db, "PRAGMA journal_mode=DELETE");
        execRaw(db, "PRAGMA synchronous=FULL");
        return std::make_unique<SqliteDatabase>(db, path);
    }
};

}  // namespace

std::unique_ptr<Engine> makeSqliteEngine() { return std::make_unique<SqliteEngine>(); }

}  // namespace krv::db
