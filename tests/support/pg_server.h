#pragma once

// A throwaway PostgreSQL 15 server for tests and benchmarks: its own cluster in a
// temporary folder, reachable only through a Unix socket there (no TCP port). Run as the
// system administrator, the server runs as the unprivileged `postgres` user, as it must.
// A test that needs it fails, never skips, when it cannot start: see running()/error().

#include <libpq-fe.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_folder.h"

namespace krv::testing {

class PgServer {
  public:
    // `durable`: keep fsync on, as a real server does (benchmarks against a file that
    // is synced on every commit); tests run faster without.
    explicit PgServer(bool durable = false) {
        asAdmin_ = platform::runningAsAdministrator();
        if (asAdmin_ && !run({"chown", "postgres:", folder_.file("")})) {
            error_ = "cannot give the server's folder to the postgres user";
            return;
        }
        if (!run({kBin + "initdb", "-D", folder_.file("data"), "-U", "postgres", "-A", "trust",
                  "--no-sync", "-E", "UTF8", "--locale=C.UTF-8"})) {
            error_ = "initdb failed: " + readFile(folder_ / "setup.log");
            return;
        }
        options_ = "-k " + folder_.file("") + " -c listen_addresses='' -c max_connections=40" +
                   (durable ? "" : " -c fsync=off -c synchronous_commit=off");
        start();
    }
    ~PgServer() { stop(); }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool running() const { return running_; }
    const std::string& error() const { return error_; }
    std::string socketFolder() const { return folder_.path().string(); }

    // A URI naming database `name` on this server, as a user types it.
    std::string uri(const std::string& name) const {
        return "postgresql:///" + name + "?host=" + socketFolder() + "&user=postgres";
    }

    // A new, empty database of its own for one test; its URI.
    std::string newDatabase() {
        const std::string name = "krv_test_" + std::to_string(++databases_);
        query(uri("postgres"), "CREATE DATABASE " + name);
        return uri(name);
    }

    // Starts the server on its cluster (again, after stop()).
    bool start() {
        if (!running_ &&
            !run({kBin + "pg_ctl", "-D", folder_.file("data"), "-l", folder_.file("server.log"),
                  "-w", "-t", "60", "-o", options_, "start"})) {
            error_ = "the server did not start: " + readFile(folder_ / "setup.log") +
                     readFile(folder_ / "server.log");
            return false;
        }
        running_ = true;
        return true;
    }

    // Stops at once, as a server going down under its clients does.
    void stop() {
        if (!running_) return;
        run({kBin + "pg_ctl", "-D", folder_.file("data"), "-m", "immediate", "-w", "stop"});
        running_ = false;
    }

    // Plain SQL on an independent connection; every value as text, null as nothing.
    using Rows = std::vector<std::vector<std::optional<std::string>>>;
    static Rows query(const std::string& uri, const std::string& sql,
                      std::string* error = nullptr) {
        std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(uri.c_str()), PQfinish);
        PQsetNoticeProcessor(
            conn.get(), [](void*, const char*) {}, nullptr);
        std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(conn.get(), sql.c_str()), PQclear);
        const ExecStatusType st = PQresultStatus(r.get());
        if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) {
            if (error)
                *error = PQstatus(conn.get()) != CONNECTION_OK ? PQerrorMessage(conn.get())
                                                               : PQresultErrorMessage(r.get());
            return {};
        }
        const int n = PQntuples(r.get()), m = PQnfields(r.get());
        Rows rows(static_cast<std::size_t>(n), Rows::value_type(static_cast<std::size_t>(m)));
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < m; ++c)
                if (!PQgetisnull(r.get(), i, c)) rows[i][c] = PQgetvalue(r.get(), i, c);
        return rows;
    }

  private:
    inline static const std::string kBin = "/usr/lib/postgresql/15/bin/";

    bool run(std::vector<std::string> command) const {
        if (asAdmin_ && command[0] != "chown")
            command.insert(command.begin(), {"runuser", "-u", "postgres", "--"});
        return platform::runProgram(command, folder_.file("setup.log")) == 0;
    }

    TestFolder folder_;
    bool asAdmin_ = false;
    bool running_ = false;
    std::string error_, options_;
    std::atomic<int> databases_{0};
};

// One server for all tests of a program, started when the first test asks for it.
inline PgServer& sharedPgServer() {
    static PgServer server;
    return server;
}

}  // namespace krv::testing
