#include "results_db/sqlite_statement.h"

#include <cmath>
#include <utility>

namespace krv::db::sqlite {

namespace {

constexpr int kBusyTimeoutMs = 10000;

std::string quoted(const std::string& text, char quote) {
    std::string q(1, quote);
    for (char c : text) {
        if (c == quote) q += quote;
        q += c;
    }
    q += quote;
    return q;
}

}  // namespace

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

Status rolledBack() {
    return Status::failure(err::kEngine,
                           "The engine rolled the whole change back after a failed step; "
                           "nothing of it was stored.");
}

Status describe(sqlite3* db, int rc, const std::string& path) {
    const std::string detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    // A reset deleting the file under a running append shows as an I/O error on the
    // file or its journal; the cause is what a job's log needs.
    int moved = 0;
    if (db && ((rc & 0xFF) == SQLITE_IOERR || (rc & 0xFF) == SQLITE_READONLY))
        sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved);
    if (rc == SQLITE_READONLY_DBMOVED || moved) return fileMovedAway();
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return lockedByAnotherUser();
        case SQLITE_FULL:
            return diskFull();
        case SQLITE_READONLY:
        case SQLITE_PERM:
            return permissionDenied();
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return notADatabase(path);
        case SQLITE_IOERR:
            return Status::failure(err::kPathFileAccess, "Disk I/O error: " + detail);
        default:
            return Status::failure(err::kEngine, "Database engine error: " + detail);
    }
}

std::string quoteIdentifier(const std::string& identifier) { return quoted(identifier, '"'); }
std::string quoteLiteral(const std::string& text) { return quoted(text, '\''); }

Statement::Statement(sqlite3* db, const std::string& sql) {
    rc_ = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

int Statement::bind(int index, const Value& v, Lifetime lifetime) {
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

Value Statement::column(int i) const {
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

}  // namespace krv::db::sqlite
