#pragma once

// The two kinds of results store, so one case runs against a file and a server alike:
// the kind as a test parameter, a fresh store of each kind, plain SQL on either.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/raw_db.h"

#ifdef KRV_SERVER_TESTS
#include "tests/support/pg_server.h"
#endif

namespace krv::testing {

#ifndef KRV_SERVER_TESTS
// A build without the server store (the Windows one) runs the file cases only.
struct PgServer {
    static Rows query(const std::string&, const std::string&, std::string*) { return {}; }
    bool running() const { return false; }
    std::string error() const { return "no server store in this build"; }
    std::string newDatabase() { return {}; }
    std::string uri(const std::string&) { return {}; }
};
inline PgServer& sharedPgServer() {
    static PgServer server;
    return server;
}

#endif

enum class Kind { File, Server };

// Both kinds where this build has a server store, the file alone elsewhere.
inline auto bothStores() {
#ifdef KRV_SERVER_TESTS
    return ::testing::Values(Kind::File, Kind::Server);
#else
    return ::testing::Values(Kind::File);
#endif
}
inline std::string kindName(const ::testing::TestParamInfo<Kind>& info) {
    return info.param == Kind::File ? "File" : "Server";
}

// A new, empty database on the shared test server; false (the reason recorded as a test
// failure) when the server is not running.
inline bool newServerDatabase(std::string& uri) {
    PgServer& server = sharedPgServer();
    EXPECT_TRUE(server.running()) << server.error();
    if (server.running()) uri = server.newDatabase();
    return server.running();
}

// Plain SQL on an independent connection to either kind of store. The statements the
// tests use are written for both dialects; only the record order and the column listing
// differ.
class Raw {
  public:
    Raw(Kind kind, std::string path) : kind_(kind), path_(std::move(path)) {}
    Rows query(const std::string& sql) {
        if (kind_ == Kind::File) return RawDb(path_).query(sql);
        std::string error;
        Rows rows = PgServer::query(path_, sql, &error);
        EXPECT_EQ(error, "") << sql;
        return rows;
    }
    Cell scalar(const std::string& sql) {
        Rows rows = query(sql);
        return rows.empty() ? Cell{} : rows[0][0];
    }
    // What orders the records as the table keeps them.
    std::string order() const { return kind_ == Kind::File ? "rowid" : "\"KrvRecordId\""; }
    // "name TYPE" of every column the user sees, in order, in the file store's spelling.
    std::vector<std::string> columns() {
        if (kind_ == Kind::File) return RawDb(path_).columns();
        std::vector<std::string> out;
        for (auto& row : query("SELECT attname, format_type(atttypid, atttypmod) FROM pg_attribute"
                               " WHERE attrelid = '\"SamData\"'::regclass AND attnum > 0"
                               " AND attname <> 'KrvRecordId' ORDER BY attnum")) {
            std::string type = *row[1] == "smallint" ? "SMALLINT" : *row[1];
            if (type.rfind("character varying", 0) == 0) type = "VARCHAR" + type.substr(17);
            out.push_back(*row[0] + " " + type);
        }
        return out;
    }
    // Everything a user could see of the table, to tell whether anything changed.
    std::string snapshot() {
        std::string all;
        for (const std::string& c : columns()) all += c + "|";
        const std::string physical = kind_ == Kind::File ? "rowid" : "ctid";
        for (const auto& row : query("SELECT * FROM \"SamData\" ORDER BY " + physical))
            for (const auto& cell : row) all += cell.value_or("<null>") + "|";
        return all;
    }

  private:
    Kind kind_;
    std::string path_;
};

}  // namespace krv::testing
