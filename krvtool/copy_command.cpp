// krvtool copy SRC DST: a whole archive from one store to another (a file to a server
// when a lab moves to one, a server to a file for a backup), columns, sizes, values and
// record order kept, with a checksum of each side so the copy can be trusted.

#include <QCommandLineParser>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>

#include "audit/audit.h"
#include "ingest/report_import.h"
#include "krvtool/tool.h"
#include "platform/runs.h"
#include "report/text.h"
#include "results_db/archive.h"
#include "results_db/table_copy.h"

namespace krv::tool {

namespace {

constexpr std::size_t kPageRecords = 500;
constexpr const char* kCopyOperation = "copy";

// FNV-1a over the columns and every value in record order. Values are tagged by kind,
// so an empty text, a null and a zero never sum alike; the hidden record identities are
// left out, as they are the store's own.
class Checksum {
  public:
    void add(const std::string& bytes) {
        const std::string sized = std::to_string(bytes.size()) + ":" + bytes;
        for (unsigned char c : sized) hash_ = (hash_ ^ c) * 0x100000001b3ULL;
    }
    void add(const db::Value& v) {
        if (const auto* d = std::get_if<double>(&v)) {
            add("n" + text::numberText(*d));
        } else if (const auto* s = std::get_if<std::string>(&v)) {
            add("t" + *s);
        } else {
            add(std::string("-"));
        }
    }
    std::uint64_t value() const { return hash_; }

  private:
    std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

struct Archive {
    std::vector<db::FieldInfo> fields;
    std::vector<std::int64_t> ids;
};

Status readArchive(db::Database& database, Archive& a) {
    Status st = database.fields(kTableName, a.fields);
    if (st.ok()) st = database.recordIds(kTableName, a.ids);
    return st;
}

std::vector<std::string> namesOf(const std::vector<db::FieldInfo>& fields) {
    std::vector<std::string> names;
    for (const auto& f : fields) names.push_back(f.name);
    return names;
}

// Every record of `table` in order; `each` gets one record's values, its identity dropped.
template <typename Each>
Status forEachValues(db::Database& database, const std::string& table,
                     const std::vector<std::string>& names, const std::vector<std::int64_t>& ids,
                     Each each) {
    return db::forEachRow(database, table, names, ids, kPageRecords,
                          [&](std::vector<db::Value>& row) {
                              row.erase(row.begin());
                              return each(row);
                          });
}

template <typename Each>
Status forEachRecord(db::Database& database, const Archive& a, Each each) {
    return forEachValues(database, kTableName, namesOf(a.fields), a.ids, each);
}

// "N records, M columns, checksum X" of one store.
Status summarise(db::Engine& engine, const std::string& path, std::string& line) {
    Status st;
    auto database = engine.openDatabase(path, st);
    Archive a;
    if (database) st = readArchive(*database, a);
    if (!st.ok()) return st;
    Checksum sum;
    for (const auto& f : a.fields) {
        sum.add(f.name);
        sum.add(std::to_string(static_cast<int>(f.type)) + "/" + std::to_string(f.size));
    }
    std::int64_t records = 0;
    st = forEachRecord(*database, a, [&](const std::vector<db::Value>& row) {
        for (const auto& v : row) sum.add(v);
        ++records;
        return Status::success();
    });
    char text[120];
    std::snprintf(text, sizeof text, "%lld records, %zu columns, checksum %016" PRIx64,
                  static_cast<long long>(records), a.fields.size(), sum.value());
    line = text;
    return st;
}

// A destination that holds records is only replaced when asked; one that is not a results
// database is never touched. `records` is what it holds now (0 for none).
Status checkDestination(db::Engine& engine, const std::string& dst, bool replace,
                        std::int64_t& records) {
    records = 0;
    if (engine.locate(dst) == platform::Lookup::NotFound) return Status::success();
    Status st;
    auto database = engine.openDatabase(dst, st);
    if (database) st = database->recordCount(kTableName, records);
    // A results database without its table has nothing to lose.
    if (st.number == err::kTableNotFound) return Status::success();
    if (st.ok() && records > 0 && !replace)
        st = Status::failure(
            err::kDuplicateName,
            "holds " + std::to_string(records) + " records; --replace replaces them with the copy");
    return st;
}

// A server's texts cannot hold a NUL character (a file's can: a report appended before it
// was read leaves its header texts all NULs); such a value would arrive empty.
Status fitsServer(const db::Value& v) {
    const auto* s = std::get_if<std::string>(&v);
    if (!s || s->find('\0') == std::string::npos) return Status::success();
    return Status::failure(err::kTypeMismatch,
                           "holds a NUL character, which a server cannot store; clear or "
                           "correct it in the source first");
}

// One record's values for the destination, nulls left out.
Status valuesFor(const std::vector<db::FieldInfo>& fields, const std::vector<db::Value>& row,
                 bool toServer, std::int64_t number,
                 std::vector<std::pair<std::string, db::Value>>& values) {
    std::size_t failed = 0;
    Status fits = db::convertRow(fields, row, values, failed);
    std::string column = failed < fields.size() ? fields[failed].name : std::string();
    for (std::size_t k = 0; fits.ok() && toServer && k < values.size(); ++k) {
        fits = fitsServer(values[k].second);
        column = values[k].first;
    }
    if (fits.ok()) return fits;
    return Status::failure(fits.number, "record " + std::to_string(number) + ", column '" + column +
                                            "': " + fits.description);
}

Status copyRecords(db::Database& from, const Archive& a, db::Database& to, bool toServer, Io& io) {
    std::size_t mismatch = 0;
    Status st = createResultsTable(to);
    if (st.ok()) st = db::extendColumns(to, kTableName, a.fields, mismatch);
    if (st.number == err::kItemNotFound)
        return Status::failure(err::kItemNotFound,
                               "the source's first columns are not the results table's");
    if (!st.ok()) return st;
    Progress progress(io, "records", static_cast<std::int64_t>(a.ids.size()));
    std::int64_t done = 0;
    std::vector<std::pair<std::string, db::Value>> values;
    if (st.ok())
        st = forEachRecord(from, a, [&](const std::vector<db::Value>& row) {
            Status stored = valuesFor(a.fields, row, toServer, done + 1, values);
            progress.step(++done);
            return stored.ok() ? to.insertRecord(kTableName, values) : stored;
        });
    progress.finish();
    return st;
}

// A table of ours beside the results (the import ledger, the trail), row by row. `fresh`:
// what the destination held under that name goes first, as it described records the copy
// replaces; otherwise the rows are added to it.
Status copyTable(db::Database& from, db::Database& to, const std::string& table, bool fresh,
                 bool toServer) {
    std::vector<db::FieldInfo> fields, there;
    Status st = from.fields(table, fields);
    const bool inSource = st.ok();
    if (!inSource && st.number != err::kTableNotFound) return st;
    const bool inDestination = to.fields(table, there).ok();
    if (fresh && inDestination) st = to.dropTable(table);
    if (!inSource || !st.ok()) return inSource ? st : Status::success();
    if (fresh || !inDestination) st = to.createTable(table, fields, "", "");
    std::vector<std::int64_t> ids;
    if (st.ok()) st = from.recordIds(table, ids);
    std::int64_t done = 0;
    std::vector<std::pair<std::string, db::Value>> values;
    if (st.ok())
        st = forEachValues(from, table, namesOf(fields), ids,
                           [&](const std::vector<db::Value>& row) {
                               Status stored = valuesFor(fields, row, toServer, ++done, values);
                               return stored.ok() ? to.insertRecord(table, values) : stored;
                           });
    if (!st.ok()) st.description = table + ": " + st.description;
    return st;
}

// The whole destination's content in one transaction: the results, the ledger, the trail
// and the trail's entry for this copy.
Status fillCopy(db::Database& from, const Archive& a, db::Database& to, const std::string& src,
                std::int64_t replacedRecords, bool toServer, Io& io) {
    Status st = to.beginWrite();
    if (st.ok()) st = copyRecords(from, a, to, toServer, io);
    if (st.ok()) st = copyTable(from, to, ingest::kLedgerTable, true, toServer);
    if (st.ok()) st = copyTable(from, to, audit::kAuditTable, false, toServer);
    if (st.ok()) {
        audit::Entry e;
        e.operation = kCopyOperation;
        e.note =
            "copied " + std::to_string(a.ids.size()) + " records from " + src +
            (replacedRecords > 0 ? ", replacing " + std::to_string(replacedRecords) + " records"
                                 : std::string());
        st = audit::write(to, std::move(e));
    }
    if (st.ok()) st = to.commit();
    if (!st.ok()) to.rollback();
    return st;
}

// A file that exists is replaced only by a whole copy built beside it and renamed over it
// in one step, while the old file's write lock keeps other writers (and their journals)
// out; a kill at any moment leaves the old file or the new one.
Status replaceFileWith(db::Engine& engine, const std::string& dst,
                       const std::function<Status(db::Database&)>& fill) {
    namespace fs = std::filesystem;
    fs::path target;
    std::error_code ec = platform::resolveLinks(platform::toPath(dst), target);
    if (ec) return Status::failure(err::kPathFileAccess, "Could not look at it: " + ec.message());
    const fs::path staged = platform::privateNameBeside(target);
    Status st = engine.createDatabase(platform::fromPath(staged), fill);
    if (!st.ok()) return st;
    auto old = engine.openDatabase(platform::fromPath(target), st);
    if (old) st = old->beginWrite();
    if (st.ok()) {
        ec = platform::replaceFile(staged, target);
        if (!ec) ec = platform::syncFolder(target.has_parent_path() ? target.parent_path() : ".");
        if (ec)
            st = Status::failure(err::kPathFileAccess,
                                 "Could not put the copy in place: " + ec.message());
    }
    if (old) {
        old->rollback();
        old->close();
    }
    std::error_code ignored;
    fs::remove(staged, ignored);
    return st;
}

int runCopy(const QStringList& args, Io& io) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Copies a whole results archive from SRC to DST (a file path or a postgresql:// URI),\n"
        "columns, values and record order kept, and prints a checksum of both sides."));
    const QCommandLineOption replace(QStringLiteral("replace"),
                                     QStringLiteral("Replace the records DST already holds."));
    parser.addOption(replace);
    parser.addPositionalArgument(QStringLiteral("SRC"), QStringLiteral("The archive to copy."));
    parser.addPositionalArgument(QStringLiteral("DST"), QStringLiteral("Where the copy goes."));
    if (auto status = parseOptions(parser, QStringLiteral("copy"), args, io, 2, 2)) return *status;
    const std::string src = parser.positionalArguments()[0].toStdString();
    const std::string dst = parser.positionalArguments()[1].toStdString();
    if (src == dst) return fail(io, "copy", "the source and the destination are the same", kUsage);

    auto engine = db::makeEngine();
    Status st;
    auto from = engine->openDatabase(src, st);
    Archive a;
    if (from) st = readArchive(*from, a);
    if (!st.ok()) return fail(io, src, st.description);

    std::int64_t replaced = 0;
    st = checkDestination(*engine, dst, parser.isSet(replace), replaced);
    if (!st.ok()) return fail(io, dst, st.description);
    // The copy appears whole or not at all, and what the destination held stays until it
    // does: a server takes it in one transaction, a file is built beside its place.
    const bool toServer = db::isServerPath(dst);
    const auto fill = [&](db::Database& to) {
        return fillCopy(*from, a, to, src, replaced, toServer, io);
    };
    const platform::Lookup there = engine->locate(dst);
    if (toServer && there == platform::Lookup::Found) {
        st = engine->replaceDatabase(dst, fill);
    } else if (!toServer && there != platform::Lookup::NotFound) {
        st = replaceFileWith(*engine, dst, fill);
    } else {
        st = engine->createDatabase(dst, fill);
    }
    if (!st.ok()) return fail(io, dst, st.description);

    std::string before, after;
    st = summarise(*engine, src, before);
    if (!st.ok()) return fail(io, src, st.description);
    st = summarise(*engine, dst, after);
    if (!st.ok()) return fail(io, dst, st.description);
    io.out << "source:      " << before << "\ndestination: " << after << "\n";
    if (before != after) return fail(io, dst, "the copy differs from the source");
    return kDone;
}

}  // namespace

Subcommand copyCommand() {
    return {"copy", "copy a whole archive between two stores (files or servers)", runCopy};
}

}  // namespace krv::tool
