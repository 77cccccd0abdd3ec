// The results store on a PostgreSQL server, through libpq.
//
// The "database" is the table SamData in the server database the URI names. It is ours
// only when it carries our table comment: a SamData that another program made is never
// written to, dropped or reset.
//
// Values always travel as statement parameters; names are quoted by libpq. PostgreSQL
// compares quoted names with regard to case and cuts long ones silently, so every name
// is checked here first, the way the legacy engine compared them.
//
// Order and identity of records come from a hidden identity column, left out of every
// field list. Appends from many stations serialise on a transaction-scoped advisory
// lock, which readers never wait for; the viewer's reads are single statements, each its
// own short transaction, so no reader holds a lock between calls.

#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "report/text.h"
#include "results_db/archive.h"
#include "results_db/batch_view.h"
#include "results_db/engine_shared.h"
#include "results_db/store.h"

namespace krv::db {

namespace {

constexpr const char* kIdColumn = "KrvRecordId";
constexpr const char* kCounterTable = "KrvRecordCount";
constexpr const char* kCounterFunction = "KrvCountRecords";
constexpr const char* kOurMark = "KrvArchiver results table, format 1";
// The server keeps names up to 63 bytes and cuts longer ones without a word.
constexpr std::size_t kMaxNameBytes = 63;
// The legacy engine's limit; the server's own is far higher.
constexpr std::size_t kMaxFields = 255;
// "KRVA": the advisory lock every writer of the archive takes first.
constexpr const char* kWriterLock = "SELECT pg_advisory_xact_lock(1263687233)";
// Waiting for another station's append is normal; a column added while a reader holds
// the table waits for it only briefly and is tried again, so readers queued behind the
// waiting change are not stalled for long.
constexpr const char* kWriterWait = "SET LOCAL lock_timeout = '30s'";
constexpr const char* kChangeWait = "SET LOCAL lock_timeout = '300ms'";
constexpr int kChangeAttempts = 40;

// PostgreSQL type numbers of the results it can hand back for numbers.
constexpr Oid kInt2 = 21, kInt4 = 23, kInt8 = 20, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The server's and libpq's texts hold line breaks and tabs; a job's log and a message
// box line take one line.
std::string trimmed(const std::string& s) {
    std::string out;
    bool blank = false;
    for (char c : s) {
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

Status notOurs(const std::string& path) {
    return Status::failure(err::kNotADatabase,
                           "The table '" + std::string(kTableName) + "' at '" + path +
                               "' was not made by this program; it is left as it is.");
}

// The server's failures as the error numbers the archive's handlers test.
Status failureOf(PGconn* conn, const PGresult* r) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const std::string detail = trimmed(primary ? primary : PQerrorMessage(conn));
    const std::string code = state ? state : "";
    if (code == "42P01") return tableNotFound(kTableName);
    if (code == "42703") return itemNotFound();
    if (code == "42701") return duplicateName();
    if (code == "42P07") return alreadyExists();
    if (code == "22001") return fieldTooSmall();
    if (code == "22003") return overflow();
    if (code == "22P02") return typeMismatch();
    if (code == "54011") return tooManyFields();
    if (code == "55P03" || code == "40P01" || code == "40001") return lockedByAnotherUser();
    if (code == "42501") return permissionDenied();
    if (code == "53100") return diskFull();
    if (PQstatus(conn) == CONNECTION_BAD)
        return Status::failure(
            err::kEngine,
            "Database engine error: the connection to the server was lost: " + detail);
    return Status::failure(err::kEngine, "Database engine error: " + detail);
}

// Server text cannot hold a NUL character; such a value is refused like one too long.
bool storable(const Value& v) {
    const auto* s = std::get_if<std::string>(&v);
    return !s || s->find('\0') == std::string::npos;
}

// The checks the server would not make, or would make differently: byte length, our
// hidden column and the server's own system columns, case-insensitive duplicates, the
// legacy number of fields.
Status checkServerName(const std::string& name, const std::vector<FieldInfo>& existing) {
    if (existing.size() >= kMaxFields) return tooManyFields();
    if (name.size() > kMaxNameBytes) return invalidName(name);
    for (const char* reserved :
         {kIdColumn, "tableoid", "xmin", "xmax", "cmin", "cmax", "ctid", "oid"}) {
        if (sameFieldName(name, reserved)) return invalidName(name);
    }
    return checkNewFieldName(name, existing);
}

struct TableState {
    bool exists = false, ours = false, counted = false;
};

class Connection {
  public:
    explicit Connection(PGconn* conn) : conn_(conn) {}
    ~Connection() { PQfinish(conn_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    PGconn* get() const { return conn_; }

    std::string quote(const std::string& name) const {
        char* q = PQescapeIdentifier(conn_, name.data(), name.size());
        std::string out = q ? q : "\"\"";
        PQfreemem(q);
        return out;
    }

    // One statement with its values as parameters; `result` keeps the rows.
    Status run(const std::string& sql, const std::vector<Value>& params, Result& result) const {
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size(), nullptr);
        for (std::size_t i = 0; i < params.size(); ++i) {
            if (const auto* d = std::get_if<double>(&params[i])) {
                // Whole numbers without a point, so an integer column takes them as they are.
                texts[i] = text::exactNumberText(*d);
            } else if (const auto* s = std::get_if<std::string>(&params[i])) {
                texts[i] = *s;
            } else {
                continue;
            }
            values[i] = texts[i].c_str();
        }
        result.reset(PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                                  values.data(), nullptr, nullptr, 0));
        const ExecStatusType st = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return Status::success();
        return failureOf(conn_, result.get());
    }
    Status run(const std::string& sql, const std::vector<Value>& params = {}) const {
        Result r(nullptr, PQclear);
        return run(sql, params, r);
    }
    // Several statements without parameters, in one round trip.
    Status script(const std::string& sql) const {
        Result r(PQexec(conn_, sql.c_str()), PQclear);
        const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
        if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return Status::success();
        return failureOf(conn_, r.get());
    }

    bool inTransaction() const { return PQtransactionStatus(conn_) != PQTRANS_IDLE; }
    void rollback() const {
        if (inTransaction()) script("ROLLBACK");
    }

    // Whether our table is there, whether this program made it, and whether its record
    // counter is there.
    Status findTable(TableState& table) const {
        table = {};
        Result r(nullptr, PQclear);
        Status st =
            run("SELECT to_regclass($1) IS NOT NULL, obj_description(to_regclass($1), 'pg_class'), "
                "to_regclass($2) IS NOT NULL",
                {quote(kTableName), quote(kCounterTable)}, r);
        if (!st.ok()) return st;
        table.exists = std::string_view(PQgetvalue(r.get(), 0, 0)) == "t";
        table.ours = table.exists && !PQgetisnull(r.get(), 0, 1) &&
                     std::string_view(PQgetvalue(r.get(), 0, 1)) == kOurMark;
        table.counted = std::string_view(PQgetvalue(r.get(), 0, 2)) == "t";
        return st;
    }

  private:
    PGconn* conn_;
};

// Server notices (an identity sequence created, a table not there to drop) are not
// messages for the user.
void ignoreNotice(void*, const char*) {}

// Whether the connection text itself sets `keyword`.
bool setsOption(const std::string& uri, std::string_view keyword) {
    PQconninfoOption* options = PQconninfoParse(uri.c_str(), nullptr);
    bool found = false;
    for (PQconninfoOption* o = options; o && o->keyword; ++o)
        found = found || (keyword == o->keyword && o->val && *o->val);
    PQconninfoFree(options);
    return found;
}

std::unique_ptr<Connection> connect(const std::string& uri, Status& status) {
    // The path is saved in the settings file and shown in messages, so it must not
    // carry a password; libpq finds one in ~/.pgpass, PGPASSFILE or the service file.
    if (setsOption(uri, "password")) {
        status = Status::failure(err::kCantOpenDatabase,
                                 "A password does not belong in the database path, which is "
                                 "saved in the settings file; put it in ~/.pgpass instead.");
        return nullptr;
    }
    // The encoding goes with the connection request: a separate statement would cost a
    // round trip on every append. A server that does not answer must not hold the window
    // for minutes, unless the URI, its service or the environment says how long to wait.
    const bool ownTimeout = !setsOption(uri, "connect_timeout") && !setsOption(uri, "service") &&
                            !std::getenv("PGCONNECT_TIMEOUT") && !std::getenv("PGSERVICE");
    const char* keys[] = {"dbname", "client_encoding", ownTimeout ? "connect_timeout" : nullptr,
                          nullptr};
    const char* values[] = {uri.c_str(), "UTF8", "10", nullptr};
    auto conn = std::make_unique<Connection>(PQconnectdbParams(keys, values, 1));
    if (PQstatus(conn->get()) != CONNECTION_OK) {
        // libpq names the host or socket it tried and why it failed.
        status = Status::failure(err::kCantOpenDatabase, "the server cannot be reached: " +
                                                             trimmed(PQerrorMessage(conn->get())));
        return nullptr;
    }
    PQsetNoticeProcessor(conn->get(), ignoreNotice, nullptr);
    status = Status::success();
    return conn;
}

// Starting a server process for each connection costs more than a whole append into a
// file, so a connection a database or a look-up leaves idle waits here for the next call
// on the same path. Shared with the databases an engine opened, which may outlive it.
class IdleConnections {
  public:
    void put(const std::string& path, std::unique_ptr<Connection> conn,
             std::optional<TableState> found) {
        if (!conn || PQstatus(conn->get()) != CONNECTION_OK || conn->inTransaction()) return;
        std::lock_guard<std::mutex> lock(mutex_);
        path_ = path;
        conn_ = std::move(conn);
        found_ = found;
    }
    std::unique_ptr<Connection> take(const std::string& path, std::optional<TableState>& found) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!conn_ || path_ != path) return nullptr;
        found = found_;
        return std::move(conn_);
    }

  private:
    std::mutex mutex_;
    std::string path_;
    std::unique_ptr<Connection> conn_;
    std::optional<TableState> found_;
};

class PgDatabase : public Database {
  public:
    PgDatabase(std::unique_ptr<Connection> conn, bool counted, std::string path,
               std::shared_ptr<IdleConnections> idle)
        : conn_(std::move(conn)),
          counted_(counted),
          path_(std::move(path)),
          idle_(std::move(idle)) {}
    // Works inside a transaction its creator owns (a database being built).
    explicit PgDatabase(const Connection& borrowed) : borrowed_(&borrowed) {}
    ~PgDatabase() override { close(); }

    Status createTable(const std::string& table, const std::vector<FieldInfo>& fields,
                       const std::string& indexName, const std::string& indexField) override {
        if (!db()) return closedDatabase();
        std::vector<FieldInfo> accepted;
        std::string sql = "CREATE TABLE " + q(table) + " (" + q(kIdColumn) +
                          " bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY";
        for (const FieldInfo& f : fields) {
            Status st = checkServerName(f.name, accepted);
            if (!st.ok()) return st;
            sql += ", " + q(f.name) + " " + declaredType(f);
            accepted.push_back(f);
        }
        sql += ")";
        return guarded([&] {
            Status st = db()->run(sql);
            if (st.ok() && !indexName.empty())
                st = db()->run("CREATE INDEX " + q(indexName) + " ON " + q(table) + " (" +
                               q(indexField) + ")");
            if (st.ok()) st = db()->run("COMMENT ON TABLE " + q(table) + " IS '" + kOurMark + "'");
            // A table filled while it is built gets its counter at the end: the counter is
            // one row, and a row changed once per insert in one transaction leaves a chain
            // of versions that every further change walks.
            if (st.ok() && borrowed_) {
                uncounted_.push_back(table);
                st = guarded([&] {
                    return db()->run("DELETE FROM " + q(kCounterTable) + " WHERE tableName = $1",
                                     {table});
                });
                if (st.number == err::kTableNotFound) st = Status::success();
            } else if (st.ok()) {
                st = addRecordCounter(table);
            }
            return st;
        });
    }

    Status fields(const std::string& table, std::vector<FieldInfo>& out) override {
        out.clear();
        if (!db()) return closedDatabase();
        // Within an append only this connection changes the columns: it holds the lock.
        if (cache_.findFields(table, out)) return Status::success();
        Result r(nullptr, PQclear);
        Status st = db()->run(
            "SELECT attname, format_type(atttypid, atttypmod) FROM pg_attribute "
            "WHERE attrelid = to_regclass($1) AND attnum > 0 AND NOT attisdropped "
            "AND attname <> $2 ORDER BY attnum",
            {q(table), std::string(kIdColumn)}, r);
        if (!st.ok()) return st;
        for (int i = 0; i < PQntuples(r.get()); ++i)
            out.push_back(parseField(PQgetvalue(r.get(), i, 0), PQgetvalue(r.get(), i, 1)));
        if (!out.empty()) cache_.keepFields(table, out);
        return out.empty() ? tableNotFound(table) : st;
    }

    Status appendField(const std::string& table, const FieldInfo& field) override {
        std::vector<FieldInfo> existing;
        Status st = fields(table, existing);
        if (st.ok()) st = checkServerName(field.name, existing);
        if (!st.ok()) return st;
        const std::string sql =
            "ALTER TABLE " + q(table) + " ADD COLUMN " + q(field.name) + " " + declaredType(field);
        for (int attempt = 1;; ++attempt) {
            st = guarded([&] {
                Status set = db()->script(kChangeWait);
                return set.ok() ? db()->run(sql) : set;
            });
            if (st.ok()) {
                changedColumns_ = true;
                cache_.forgetFields(table);
            }
            if (st.number != err::kLocked || attempt == kChangeAttempts) return st;
        }
    }

    // Counts the tables made while building, once they are filled.
    Status countBuiltTables() {
        Status st = Status::success();
        for (const std::string& table : uncounted_)
            if (st.ok()) st = addRecordCounter(table);
        uncounted_.clear();
        return st;
    }

    Status dropTable(const std::string& table) override {
        if (!db()) return closedDatabase();
        Status st = db()->run("DROP TABLE IF EXISTS " + q(table));
        if (st.ok())
            st = guarded([&] {
                return db()->run("DELETE FROM " + q(kCounterTable) + " WHERE tableName = $1",
                                 {table});
            });
        if (st.number == err::kTableNotFound) st = Status::success();
        cache_.forgetFields(table);
        return st;
    }

    Status beginWrite() override {
        if (!db()) return closedDatabase();
        if (borrowed_) {
            // Already inside the transaction of the database being built.
            cache_.hold(true);
            changedColumns_ = false;
            return Status::success();
        }
        Status st = db()->script(std::string("BEGIN ISOLATION LEVEL READ COMMITTED; ") +
                                 kWriterWait + "; " + kWriterLock);
        if (!st.ok()) db()->rollback();
        cache_.hold(st.ok());
        changedColumns_ = false;
        return st;
    }

    // A transaction the server already gave up (a statement in it failed outside any
    // guard) cannot commit; saying so beats the server's silent rollback.
    Status commit() override {
        if (!db()) return closedDatabase();
        cache_.hold(false);
        if (!db()->inTransaction()) return Status::success();
        // The builder commits the whole database at its end.
        if (borrowed_ && PQtransactionStatus(db()->get()) != PQTRANS_INERROR)
            return Status::success();
        if (PQtransactionStatus(db()->get()) == PQTRANS_INERROR) {
            if (borrowed_)
                return Status::failure(err::kEngine,
                                       "Database engine error: the transaction was rolled back");
            db()->rollback();
            return Status::failure(err::kEngine,
                                   "Database engine error: the transaction was rolled back");
        }
        return db()->script("COMMIT");
    }

    // Inside a build the builder rolls back everything when its content fails.
    void rollback() override {
        cache_.hold(false);
        if (db() && !borrowed_) db()->rollback();
    }

    Status recordCount(const std::string& table, std::int64_t& count) override {
        count = 0;
        if (!db()) return closedDatabase();
        Result r(nullptr, PQclear);
        const std::string kept =
            "SELECT records FROM " + q(kCounterTable) + " WHERE tableName = $1";
        Status st = counted_ ? db()->run(kept, {table}, r)
                             : guarded([&] { return db()->run(kept, {table}, r); });
        // A table whose counter is gone is counted the slow way.
        if (!st.ok() || PQntuples(r.get()) != 1)
            st = db()->run("SELECT count(*) FROM " + q(table), {}, r);
        if (st.ok()) count = std::atoll(PQgetvalue(r.get(), 0, 0));
        return st;
    }

    Status insertRecord(const std::string& table,
                        const std::vector<std::pair<std::string, Value>>& values) override {
        std::vector<FieldInfo> columns;
        Status st = fields(table, columns);
        if (!st.ok()) return st;
        // Names find their column as the legacy engine found it, whatever the case.
        std::vector<std::pair<std::string, Value>> cells;
        for (const NamedCell& named : mergeRepeatedNames(values)) {
            const FieldInfo* column = nullptr;
            st = findField(columns, named.name, column);
            if (!st.ok()) return st;
            cells.emplace_back(column->name, storable(*named.value) ? *named.value : Value{});
        }
        std::string sql = "INSERT INTO " + q(table);
        std::vector<Value> params;
        if (cells.empty()) {
            sql += " DEFAULT VALUES";
        } else {
            std::string names, placeholders;
            for (std::size_t i = 0; i < cells.size(); ++i) {
                names += (i ? ", " : "") + q(cells[i].first);
                placeholders += (i ? ", $" : "$") + std::to_string(i + 1);
                params.push_back(cells[i].second);
            }
            sql += " (" + names + ") VALUES (" + placeholders + ")";
        }
        // Only columns added on the way need keeping when the insert fails.
        if (!changedColumns_) return db()->run(sql, params);
        return guarded([&] { return db()->run(sql, params); });
    }

    Status recordIds(const std::string& table, std::vector<std::int64_t>& ids) override {
        ids.clear();
        if (!db()) return closedDatabase();
        Result r(nullptr, PQclear);
        Status st =
            db()->run("SELECT " + q(kIdColumn) + " FROM " + q(table) + " ORDER BY 1", {}, r);
        if (!st.ok()) return st;
        ids.reserve(static_cast<std::size_t>(PQntuples(r.get())));
        for (int i = 0; i < PQntuples(r.get()); ++i)
            ids.push_back(std::atoll(PQgetvalue(r.get(), i, 0)));
        return st;
    }

    // Both ends from the identity's own index.
    Status identityRange(const std::string& table, std::int64_t& lowest,
                         std::int64_t& highest) override {
        lowest = highest = 0;
        if (!db()) return closedDatabase();
        Result r(nullptr, PQclear);
        Status st = db()->run("SELECT coalesce(min(" + q(kIdColumn) + "), 0), coalesce(max(" +
                                  q(kIdColumn) + "), 0) FROM " + q(table),
                              {}, r);
        if (!st.ok()) return st;
        lowest = std::atoll(PQgetvalue(r.get(), 0, 0));
        highest = std::atoll(PQgetvalue(r.get(), 0, 1));
        return st;
    }

    Status readRecords(const std::string& table, const std::vector<std::string>& columns,
                       std::int64_t first, std::int64_t last,
                       std::vector<std::vector<Value>>& rows) override {
        rows.clear();
        if (!db()) return closedDatabase();
        std::string sql = "SELECT " + q(kIdColumn);
        for (const std::string& c : columns) sql += ", " + q(c);
        sql += " FROM " + q(table) + " WHERE " + q(kIdColumn) + " BETWEEN $1 AND $2 ORDER BY 1";
        Result r(nullptr, PQclear);
        Status st = db()->run(sql, {static_cast<double>(first), static_cast<double>(last)}, r);
        if (!st.ok()) return st;
        const int width = PQnfields(r.get());
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            std::vector<Value>& row = rows.emplace_back();
            row.reserve(static_cast<std::size_t>(width));
            for (int c = 0; c < width; ++c) row.push_back(cell(r.get(), i, c));
        }
        return st;
    }

    Status updateValue(const std::string& table, std::int64_t id, const FieldInfo& field,
                       const Value& value) override {
        FieldInfo column;
        Value stored;
        const Status st = storedCell(*this, table, field, value, column, stored);
        if (!st.ok()) return st;
        if (!storable(stored)) return typeMismatch();
        return changeOne("UPDATE " + q(table) + " SET " + q(column.name) + " = $1 WHERE " +
                             q(kIdColumn) + " = $2",
                         {stored, static_cast<double>(id)});
    }

    Status deleteRecord(const std::string& table, std::int64_t id) override {
        if (!db()) return closedDatabase();
        return changeOne("DELETE FROM " + q(table) + " WHERE " + q(kIdColumn) + " = $1",
                         {static_cast<double>(id)});
    }

    void close() override {
        if (conn_) conn_->rollback();
        if (idle_) idle_->put(path_, std::move(conn_), std::nullopt);
        conn_.reset();
        borrowed_ = nullptr;
    }

  private:
    // Counting a large table reads all of it on every append; a trigger keeps the count
    // instead, right whichever program inserts or deletes. The function keeps the schema
    // it was made in, so a session with another search path still finds the counter.
    Status addRecordCounter(const std::string& table) {
        const std::string counter = q(kCounterTable);
        // Once per statement, not per row: a bulk insert by another tool changes the
        // counter row once, not once for each of its records.
        Status st = db()->script(
            "CREATE TABLE IF NOT EXISTS " + counter +
            " (tableName text PRIMARY KEY, records bigint NOT NULL); "
            "CREATE OR REPLACE FUNCTION " +
            q(kCounterFunction) +
            "() RETURNS trigger LANGUAGE plpgsql SET search_path FROM CURRENT AS $$ BEGIN "
            "UPDATE " +
            counter +
            " SET records = records + (SELECT count(*) FROM changed) * "
            "CASE TG_OP WHEN 'INSERT' THEN 1 ELSE -1 END WHERE tableName = TG_TABLE_NAME; "
            "RETURN NULL; END $$");
        if (st.ok())
            st = db()->run("INSERT INTO " + counter + " VALUES ($1, (SELECT count(*) FROM " +
                               q(table) +
                               ")) ON CONFLICT (tableName) DO UPDATE SET records = "
                               "excluded.records",
                           {table});
        for (const char* change : {"INSERT", "DELETE"}) {
            if (!st.ok()) break;
            const bool added = std::string_view(change) == "INSERT";
            st = db()->run("CREATE TRIGGER " + q(table + (added ? " counted in" : " counted out")) +
                           " AFTER " + change + " ON " + q(table) + " REFERENCING " +
                           (added ? "NEW" : "OLD") +
                           " TABLE AS changed FOR EACH STATEMENT EXECUTE FUNCTION " +
                           q(kCounterFunction) + "()");
        }
        return st;
    }

    const Connection* db() const { return conn_ ? conn_.get() : borrowed_; }
    std::string q(const std::string& name) const { return db()->quote(name); }

    Status changeOne(const std::string& sql, const std::vector<Value>& params) {
        Result r(nullptr, PQclear);
        Status st = db()->run(sql, params, r);
        if (!st.ok()) return st;
        return std::string_view(PQcmdTuples(r.get())) == "1" ? st : noCurrentRecord();
    }

    // Inside a transaction a failed statement would doom all the rest; under a savepoint
    // only that statement is lost, as a refused step is in the file store.
    template <typename Step>
    Status guarded(Step step) {
        if (!db()) return closedDatabase();
        if (!db()->inTransaction()) return step();
        Status st = db()->script("SAVEPOINT krv_step");
        if (!st.ok()) return st;
        st = step();
        db()->script(st.ok() ? "RELEASE krv_step" : "ROLLBACK TO krv_step; RELEASE krv_step");
        return st;
    }

    static Value cell(const PGresult* r, int row, int column) {
        if (PQgetisnull(r, row, column)) return std::monostate{};
        const char* text = PQgetvalue(r, row, column);
        switch (PQftype(r, column)) {
            case kInt2:
            case kInt4:
            case kInt8:
            case kFloat4:
            case kFloat8:
            case kNumeric:
                return std::strtod(text, nullptr);
            default:
                return std::string(text, static_cast<std::size_t>(PQgetlength(r, row, column)));
        }
    }

    std::unique_ptr<Connection> conn_;
    const Connection* borrowed_ = nullptr;
    bool counted_ = false;  // the record counter was there at the open
    std::string path_;
    std::shared_ptr<IdleConnections> idle_;
    TableCache cache_;                    // holding inside beginWrite .. commit/rollback
    bool changedColumns_ = false;         // this write transaction added columns
    std::vector<std::string> uncounted_;  // tables made while building, not yet counted
};

class PgEngine : public Engine {
  public:
    Status createDatabase(const std::string& path,
                          const std::function<Status(Database&)>& initialise) override {
        return build(path, initialise, false);
    }

    Status replaceDatabase(const std::string& path,
                           const std::function<Status(Database&)>& initialise) override {
        return build(path, initialise, true);
    }

    std::unique_ptr<Database> openDatabase(const std::string& path, Status& status) override {
        TableState table;
        auto conn = take(path, status, table);
        if (status.ok() && table.exists && !table.ours) status = notOurs(path);
        if (!status.ok()) return nullptr;
        return std::make_unique<PgDatabase>(std::move(conn), table.counted, path, idle_);
    }

    platform::Lookup locate(const std::string& path) override {
        Status st;
        TableState table;
        auto conn = take(path, st, table);
        if (!st.ok()) return platform::Lookup::Failed;
        // The look-up comes right before an open or a reset of the same path: what it
        // found serves that call too.
        idle_->put(path, std::move(conn), table);
        return table.ours ? platform::Lookup::Found : platform::Lookup::NotFound;
    }

  private:
    // The table appears (or is replaced) in one transaction: another station sees the
    // old table or the whole new one, never a table without its columns.
    Status build(const std::string& path, const std::function<Status(Database&)>& initialise,
                 bool replace) {
        Status st;
        TableState before;
        auto conn = take(path, st, before);
        if (!st.ok()) return st;
        st = conn->script(std::string("BEGIN; ") + kWriterWait + "; " + kWriterLock);
        TableState table;
        if (st.ok()) st = conn->findTable(table);
        if (st.ok() && table.exists) {
            if (!replace) {
                st = alreadyExists();
            } else if (!table.ours) {
                st = notOurs(path);
            } else {
                st = conn->run("DROP TABLE " + conn->quote(kTableName));
            }
        }
        if (st.ok() && initialise) {
            PgDatabase content(*conn);
            st = initialise(content);
            if (st.ok()) st = content.countBuiltTables();
        }
        // A statement that failed unguarded leaves a transaction whose COMMIT only rolls back.
        if (st.ok() && PQtransactionStatus(conn->get()) == PQTRANS_INERROR)
            st = Status::failure(err::kEngine,
                                 "Database engine error: the transaction was rolled back");
        if (st.ok()) st = conn->script("COMMIT");
        conn->rollback();
        idle_->put(path, std::move(conn), std::nullopt);
        return st;
    }

    // A connection to `path` and what it holds: the idle one when it still answers (a
    // server restarted meanwhile has dropped it), a new one otherwise.
    std::unique_ptr<Connection> take(const std::string& path, Status& status, TableState& table) {
        std::optional<TableState> found;
        std::unique_ptr<Connection> conn = idle_->take(path, found);
        if (conn && found) {
            table = *found;
            status = Status::success();
            return conn;
        }
        if (conn && conn->findTable(table).ok()) {
            status = Status::success();
            return conn;
        }
        conn = connect(path, status);
        if (conn) status = conn->findTable(table);
        return status.ok() ? std::move(conn) : nullptr;
    }

    std::shared_ptr<IdleConnections> idle_ = std::make_shared<IdleConnections>();
};

}  // namespace

std::unique_ptr<Engine> makePostgresEngine() { return std::make_unique<PgEngine>(); }

}  // namespace krv::db
