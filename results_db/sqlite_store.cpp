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
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/platform.h"
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
constexpr int kDatabaseExists = 3204;

Status notADatabase(const std::string& path) {
    return Status::failure(err::kNotADatabase, "Unrecognized database format '" + path + "'.");
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

    int bind(int index, const Value& v) {
        if (std::holds_alternative<std::monostate>(v)) return sqlite3_bind_null(stmt_, index);
        if (const auto* d = std::get_if<double>(&v)) {
            const double whole = static_cast<double>(static_cast<std::int64_t>(*d));
            if (whole == *d && std::abs(*d) < 9.0e18)
                return sqlite3_bind_int64(stmt_, index, static_cast<sqlite3_int64>(*d));
            return sqlite3_bind_double(stmt_, index, *d);
        }
        const std::string& s = std::get<std::string>(v);
        return sqlite3_bind_text(stmt_, index, s.data(), static_cast<int>(s.size()),
                                 SQLITE_TRANSIENT);
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
        Status st = exec("SAVEPOINT create_table");
        if (!st.ok()) return st;
        st = exec(sql);
        if (st.ok() && !indexName.empty()) {
            st = exec("CREATE INDEX " + quoteIdentifier(indexName) + " ON " +
                      quoteIdentifier(table) + " (" + quoteIdentifier(indexField) + ")");
        }
        if (st.ok()) st = addRecordCounter(table);
        if (!st.ok()) {
            exec("ROLLBACK TO create_table");
            exec("RELEASE create_table");
            return st;
        }
        return exec("RELEASE create_table");
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

    Status beginWrite() override { return exec("BEGIN IMMEDIATE"); }

    // Nothing pending (the transaction never began) counts as committed: what was
    // written then is already in the file.
    Status commit() override {
        if (!db_) return closed();
        if (sqlite3_get_autocommit(db_)) return Status::success();
        return exec("COMMIT");
    }

    void rollback() override {
        if (db_ && !sqlite3_get_autocommit(db_)) exec("ROLLBACK");
    }

    Status recordCount(const std::string& table, std::int64_t& count) override {
        count = 0;
        if (!db_) return closed();
        {
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
        // The same column named twice keeps its last value, as repeated assignments to a
        // pending record do.
        std::vector<std::pair<std::string, const Value*>> cells;
        for (const auto& entry : values) {
            const std::string& name = entry.first;
            auto it = std::find_if(cells.begin(), cells.end(),
                                   [&](const auto& c) { return c.first == name; });
            if (it != cells.end()) {
                it->second = &entry.second;
            } else {
                cells.emplace_back(name, &entry.second);
            }
        }
        std::string sql = "INSERT INTO " + quoteIdentifier(table);
        if (cells.empty()) {
            sql += " DEFAULT VALUES";
        } else {
            std::string names, params;
            for (std::size_t i = 0; i < cells.size(); ++i) {
                names += (i ? ", " : "") + quoteIdentifier(cells[i].first);
                params += (i ? ", ?" : "?");
            }
            sql += " (" + names + ") VALUES (" + params + ")";
        }
        Statement s(db_, sql);
        if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const int rc = s.bind(static_cast<int>(i + 1), *cells[i].second);
            if (rc != SQLITE_OK) return failure(rc);
        }
        const int rc = sqlite3_step(s.get());
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
        Statement s(db_, "DELETE FROM " + quoteIdentifier(table) + " WHERE rowid = ?1");
        if (s.prepareResult() != SQLITE_OK) return prepareFailure(s.prepareResult(), table);
        sqlite3_bind_int64(s.get(), 1, id);
        const int rc = sqlite3_step(s.get());
        if (rc != SQLITE_DONE) return failure(rc);
        return sqlite3_changes(db_) == 1 ? Status::success() : noCurrentRecord();
    }

    void close() override {
        if (!db_) return;
        rollback();
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }

  private:
    // Counting a large table walks its whole index on every append, and an append opens
    // a fresh connection with a cold cache each time; triggers keep the count instead, so
    // it stays right whichever program inserts or deletes.
    Status addRecordCounter(const std::string& table) {
        const std::string counter = quoteIdentifier(kCounterTable);
        const std::string t = quoteIdentifier(table);
        const std::string key = quoteLiteral(table);
        Status st = exec("CREATE TABLE IF NOT EXISTS " + counter +
                         " (tableName TEXT PRIMARY KEY, records INTEGER NOT NULL)");
        if (st.ok())
            st = exec("INSERT OR REPLACE INTO " + counter + " VALUES (" + key +
                      ", (SELECT count(*) FROM " + t + "))");
        if (st.ok())
            st = exec("CREATE TRIGGER " + quoteIdentifier(table + " counted insert") +
                      " AFTER INSERT ON " + t + " BEGIN UPDATE " + counter +
                      " SET records = records + 1 WHERE tableName = " + key + "; END");
        if (st.ok())
            st = exec("CREATE TRIGGER " + quoteIdentifier(table + " counted delete") +
                      " AFTER DELETE ON " + t + " BEGIN UPDATE " + counter +
                      " SET records = records - 1 WHERE tableName = " + key + "; END");
        return st;
    }

    Status exec(const std::string& sql) {
        if (!db_) return closed();
        const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
        return rc == SQLITE_OK ? Status::success() : failure(rc);
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
        const std::string detail = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
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
            default:
                return Status::failure(err::kEngine, "Database engine error: " + detail);
        }
    }

    sqlite3* db_;
    std::string path_;
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

// Reads the first 100 bytes ourselves: SQLite may write to a file it opens (rolling back
// a journal it finds beside it), and a file of another program must stay untouched.
bool headerIsOurs(const fs::path& p) {
    std::array<char, 100> header{};
    std::ifstream in(p, std::ios::binary);
    if (!in.read(header.data(), header.size())) return false;
    if (std::memcmp(header.data(), "SQLite format 3", 16) != 0) return false;
    const auto byte = [&](int i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(header[i]));
    };
    const std::uint32_t appId = byte(68) << 24 | byte(69) << 16 | byte(70) << 8 | byte(71);
    return appId == static_cast<std::uint32_t>(kApplicationId);
}

// Moves a finished database to its path without ever replacing what is there. A hard
// link fails if the name is taken, which makes the step atomic; file systems without
// hard links get a rename after a last look.
Status publish(const fs::path& building, const fs::path& target) {
    std::error_code ec;
    fs::create_hard_link(building, target, ec);
    if (ec && ec != std::errc::file_exists && !fs::exists(target)) {
        ec.clear();
        fs::rename(building, target, ec);
        if (!ec) return Status::success();
    }
    std::error_code ignored;
    fs::remove(building, ignored);
    if (ec == std::errc::file_exists || (ec && fs::exists(target, ignored)))
        return Status::failure(kDatabaseExists, "Database already exists.");
    if (ec) return Status::failure(err::kPathFileAccess, "Path/File access error");
    return Status::success();
}

class SqliteEngine : public Engine {
  public:
    Status createDatabase(const std::string& path,
                          const std::function<Status(Database&)>& initialise) override {
        if (path.empty()) return notAValidPath(path);
        const fs::path p = platform::toPath(path);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(p, ec)))
            return Status::failure(kDatabaseExists, "Database already exists.");
        if (!fs::is_directory(p.parent_path().empty() ? fs::path(".") : p.parent_path(), ec))
            return notAValidPath(path);

        // Built under a private name beside the target, then published in one step.
        std::random_device rd;
        const fs::path building =
            platform::toPath(path + ".new-" + std::to_string(rd()) + std::to_string(rd()));
        const std::string buildingName = platform::fromPath(building);
        if (!platform::createNewFile(building)) return notAValidPath(path);

        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(buildingName.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
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
        std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        Status built = Status::success();
        if (ok && initialise) {
            SqliteDatabase content(db, buildingName);
            db = nullptr;  // the wrapper closes it
            built = initialise(content);
        }
        sqlite3_close_v2(db);
        if (!ok) {
            fs::remove(building, ec);
            return Status::failure(err::kEngine, "Could not create the database: " + detail);
        }
        const Status published = publish(building, p);
        if (!published.ok()) return published;
        return built;
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
            status =
                ec && ec != std::errc::no_such_file_or_directory
                    ? notAValidPath(path)
                    : Status::failure(kCouldNotFindFile, "Could not find file '" + path + "'.");
            return nullptr;
        }
        // A file another program holds cannot even be read: it is locked, not foreign.
        if (fs::is_regular_file(fst) && platform::heldByAnotherProgram(p)) {
            status = lockedByAnotherUser();
            return nullptr;
        }
        if (!fs::is_regular_file(fst) || !headerIsOurs(p)) {
            status = notADatabase(path);
            return nullptr;
        }

        sqlite3* db = nullptr;
        const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            status = Status::failure(
                err::kCantOpenDatabase,
                "Could not open '" + path + "': " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
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
            status = code == SQLITE_BUSY || code == SQLITE_LOCKED ? lockedByAnotherUser()
                                                                  : notADatabase(path);
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

std::unique_ptr<Engine> makeEngine() { return makeSqliteEngine(); }

}  // namespace krv::db
