#pragma once

// The operations the archive uses on its database engine. The reset, column and append
// logic talks only to these interfaces, so another engine can be added beside SQLite.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/platform.h"
#include "platform/status.h"

namespace krv::db {

enum class FieldType : int { Int16 = 3, Text = 10 };

struct FieldInfo {
    std::string name;  // UTF-8, kept exactly
    FieldType type = FieldType::Text;
    int size = 0;  // maximum length in characters for text, 0 for numbers
};

// A cell value: null, a number, or a text (UTF-8).
using Value = std::variant<std::monostate, double, std::string>;

// Checks a value against a column as the engine does when a value is assigned: numbers
// into a 16-bit column must round into -32768..32767, texts must fit the column's size
// (counted in characters); a number written to a text column becomes its text in the
// general number format. On success `stored` is what the column will hold.
Status convertForField(const FieldInfo& field, const Value& value, Value& stored);

// Whether the engine accepts `name` as a new column of a table that has `existing`.
Status checkNewFieldName(const std::string& name, const std::vector<FieldInfo>& existing);

// Column names are compared as the legacy engine did: ASCII letters without regard to case.
bool sameFieldName(const std::string& a, const std::string& b);

// One open database file. Not thread-safe; one per handler run (or per viewer window).
class Database {
  public:
    virtual ~Database() = default;

    virtual Status createTable(const std::string& table, const std::vector<FieldInfo>& fields,
                               const std::string& indexName, const std::string& indexField) = 0;
    // Columns in the order they were added. Fails when the table does not exist.
    virtual Status fields(const std::string& table, std::vector<FieldInfo>& out) = 0;
    // Adds a column at the end of the table.
    virtual Status appendField(const std::string& table, const FieldInfo& field) = 0;

    // A write transaction that takes the file at once (waiting a bounded time for other
    // writers), so the record count and the insert see the same table.
    virtual Status beginWrite() = 0;
    virtual Status commit() = 0;
    virtual void rollback() = 0;

    virtual Status recordCount(const std::string& table, std::int64_t& count) = 0;
    // Stores one record; values are already converted (convertForField). Unnamed
    // columns stay null.
    virtual Status insertRecord(const std::string& table,
                                const std::vector<std::pair<std::string, Value>>& values) = 0;

    // Record identities in the table's own (insertion) order.
    virtual Status recordIds(const std::string& table, std::vector<std::int64_t>& ids) = 0;
    // The lowest and highest record identity, both 0 for an empty table. Engines that keep
    // identities in order answer with two short look-ups; this default reads them all.
    virtual Status identityRange(const std::string& table, std::int64_t& lowest,
                                 std::int64_t& highest);
    // The given columns of the records with identities first..last (inclusive), in order;
    // each row starts with its identity as a number.
    virtual Status readRecords(const std::string& table, const std::vector<std::string>& columns,
                               std::int64_t first, std::int64_t last,
                               std::vector<std::vector<Value>>& rows) = 0;
    // Writes one cell of exactly one record, after convertForField.
    virtual Status updateValue(const std::string& table, std::int64_t id, const FieldInfo& field,
                               const Value& value) = 0;
    virtual Status deleteRecord(const std::string& table, std::int64_t id) = 0;
    // Removes a table with its records, inside the caller's transaction where there is one;
    // a table that is not there is no failure. Engines that cannot say so.
    virtual Status dropTable(const std::string& table);

    virtual void close() = 0;
};

// The given columns of the records with the identities in `ids`, in that order, `page`
// identities at a time so a long table is never all in memory; `each` gets one row (its
// identity first, as readRecords gives it) and stops the walk by failing.
template <typename Each>
Status forEachRow(Database& database, const std::string& table,
                  const std::vector<std::string>& columns, const std::vector<std::int64_t>& ids,
                  std::size_t page, Each&& each) {
    std::vector<std::vector<Value>> rows;
    for (std::size_t at = 0; at < ids.size(); at += page) {
        const std::size_t end = std::min(ids.size(), at + page);
        Status st = database.readRecords(table, columns, ids[at], ids[end - 1], rows);
        if (!st.ok()) return st;
        for (auto& row : rows) {
            st = each(row);
            if (!st.ok()) return st;
        }
    }
    return Status::success();
}

// The same for the records with identities lowest..highest, `page` identities at a time.
template <typename Each>
Status forEachRowBetween(Database& database, const std::string& table,
                         const std::vector<std::string>& columns, std::int64_t lowest,
                         std::int64_t highest, std::int64_t page, Each&& each) {
    std::vector<std::vector<Value>> rows;
    for (std::int64_t first = lowest; first <= highest; first += page) {
        const std::int64_t last = highest - first < page ? highest : first + page - 1;
        Status st = database.readRecords(table, columns, first, last, rows);
        if (!st.ok()) return st;
        for (auto& row : rows) {
            st = each(row);
            if (!st.ok()) return st;
        }
        if (last == highest) break;
    }
    return Status::success();
}

// Builds the content of a new database before it appears at its path.
using Initialise = std::function<Status(Database&)>;

class Engine {
  public:
    virtual ~Engine() = default;
    // Creates a new database file; fails when anything exists at the path. `initialise`
    // builds its content before the file appears at the path, so another program never
    // finds a half-made database there.
    virtual Status createDatabase(const std::string& path,
                                  const std::function<Status(Database&)>& initialise = {}) = 0;
    // Opens an existing results database, shared and read-write. A file that is not a
    // results database fails and is left untouched.
    virtual std::unique_ptr<Database> openDatabase(const std::string& path, Status& status) = 0;

    // Whether a results database is at `path`: for a file, a normal file of that name
    // (or matching that pattern); for a server, one that answers and holds our table.
    // Failed when the look-up itself fails (a drive not ready, a server not answering).
    virtual platform::Lookup locate(const std::string& path);

    // Replaces whatever results database `path` holds by a fresh one built by
    // `initialise`, or creates one where there is none. What the path holds stays when
    // the new database cannot be made whole; a file is replaced only when it is a plain,
    // visible file.
    virtual Status replaceDatabase(const std::string& path,
                                   const std::function<Status(Database&)>& initialise) = 0;
};

// The SQLite 3 engine: a results database in one file.
std::unique_ptr<Engine> makeSqliteEngine();

// The PostgreSQL engine: the results table in a database on a server, `path` being a
// libpq connection URI.
std::unique_ptr<Engine> makePostgresEngine();

// Whether the text typed as the database path names a server rather than a file.
bool isServerPath(const std::string& path);

// The engine for whatever the user typed as the database path. Every tool and window
// opens stores through this one, so a new kind of store needs no change there.
std::unique_ptr<Engine> makeEngine();

}  // namespace krv::db
