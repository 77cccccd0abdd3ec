// Making, replacing and opening a results file: a new database is built under a private
// name and published whole and durable; a file is opened only once its header says it is
// ours, so a file of another program stays untouched.

#include <sqlite3.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <system_error>

#include "platform/platform.h"
#include "platform/runs.h"
#include "results_db/sqlite_database.h"

namespace krv::db::sqlite {

namespace {

namespace fs = std::filesystem;

// Error numbers of failures that have no name in err:: yet.
constexpr int kCouldNotFindFile = 3024;

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

}  // namespace krv::db::sqlite

namespace krv::db {

std::unique_ptr<Engine> makeSqliteEngine() { return std::make_unique<sqlite::SqliteEngine>(); }

}  // namespace krv::db
