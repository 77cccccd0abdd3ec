// The record count of a table, kept by triggers in a table of its own.

#include "results_db/sqlite_database.h"

namespace krv::db::sqlite {

Status SqliteDatabase::recordCount(const std::string& table, std::int64_t& count) {
    count = 0;
    if (!db_) return closedDatabase();
    // A counter another tool took away or changed is rebuilt by the writer that needs
    // it; a reader takes the counter as it is, or counts the slow way below without one.
    if (!writing_ || repairRecordCounter(table).ok()) {
        Statement kept(
            db_, "SELECT records FROM " + quoteIdentifier(kCounterTable) + " WHERE tableName = ?1");
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

// The counter and its triggers are ours alone; anything else found under their names
// (or nothing) is replaced by a fresh set counted from the table. Comparing the stored
// statements costs a look at the schema already in memory.
Status SqliteDatabase::repairRecordCounter(const std::string& table) {
    // Within one write transaction no other program can have touched them since.
    if (writing_ && checkedCounters_.count(table)) return Status::success();
    Status st = checkOrRebuildCounter(table);
    if (st.ok() && writing_) checkedCounters_.insert(table);
    return st;
}

Status SqliteDatabase::checkOrRebuildCounter(const std::string& table) {
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
                st = exec("DROP TRIGGER IF EXISTS " + quoteIdentifier(table + " counted " + kind));
        // A counter table of another shape is not ours: it goes, and every table's
        // row is rebuilt at its next check.
        if (st.ok() && !counterTableIsOurs(expected[0]))
            st = exec("DROP TABLE IF EXISTS " + quoteIdentifier(kCounterTable));
        if (st.ok()) st = addRecordCounter(table);
        return st;
    });
}

bool SqliteDatabase::counterTableIsOurs(const std::string& createStatement) {
    Statement s(db_, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1 AND sql = ?2");
    if (s.prepareResult() != SQLITE_OK) return false;
    s.bind(1, std::string(kCounterTable));
    s.bind(2, createStatement);
    return sqlite3_step(s.get()) == SQLITE_ROW;
}

std::vector<std::string> SqliteDatabase::recordCounterStatements(const std::string& table) {
    const std::string counter = quoteIdentifier(kCounterTable);
    const std::string t = quoteIdentifier(table);
    const std::string key = quoteLiteral(table);
    return {"CREATE TABLE " + counter + " (tableName TEXT PRIMARY KEY, records INTEGER NOT NULL)",
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
Status SqliteDatabase::addRecordCounter(const std::string& table) {
    const std::vector<std::string> statements = recordCounterStatements(table);
    Status st = exec("CREATE TABLE IF NOT EXISTS" + statements[0].substr(12));
    if (st.ok())
        st = exec("DELETE FROM " + quoteIdentifier(kCounterTable) +
                  " WHERE tableName = " + quoteLiteral(table));
    if (st.ok())
        st = exec("INSERT INTO " + quoteIdentifier(kCounterTable) + " VALUES (" +
                  quoteLiteral(table) + ", (SELECT count(*) FROM " + quoteIdentifier(table) + "))");
    if (st.ok()) st = exec(statements[1]);
    if (st.ok()) st = exec(statements[2]);
    return st;
}

}  // namespace krv::db::sqlite
