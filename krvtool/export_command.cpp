// krvtool export DB: the results table as csv, xlsx, long or lims2d.

#include "krvtool/export_command.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "export/results_export.h"
#include "platform/platform.h"
#include "results_db/archive.h"
#include "results_db/store.h"
#include "settings/settings_files.h"
#include "settings/settings_folder.h"

namespace krv::tool {

namespace {

bool readWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(platform::toPath(path), std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

// The store's "Unrecognized database format" says nothing of which file was taken; a user
// who picked another program's SQLite file learns that it is one, and what it holds.
std::string notResultsDatabase(const std::string& path, const std::string& storeSays) {
    std::string head(16, '\0');
    std::ifstream in(platform::toPath(path), std::ios::binary);
    if (!in.read(head.data(), 16) || head != std::string("SQLite format 3\0", 16)) return storeSays;
    sqlite3* db = nullptr;
    std::vector<std::string> tables;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* q = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT name FROM sqlite_schema WHERE type = 'table' AND name NOT "
                               "LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name",
                               -1, &q, nullptr) == SQLITE_OK)
            while (sqlite3_step(q) == SQLITE_ROW)
                tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
        sqlite3_finalize(q);
    }
    sqlite3_close(db);
    std::string text = std::string("an SQLite database without a ") + kTableName + " table";
    if (tables.empty()) return text + " (it holds no table)";
    constexpr std::size_t kNamed = 8;
    text += tables.size() == 1 ? " (its table: " : " (its tables: ";
    for (std::size_t i = 0; i < tables.size() && i < kNamed; ++i)
        text += (i ? ", " : "") + tables[i];
    if (tables.size() > kNamed) text += " and " + std::to_string(tables.size() - kNamed) + " more";
    return text + ")";
}

// The column widths the results viewer keeps, wherever this installation keeps them.
void storedWidths(std::array<std::int16_t, 101>& widths) {
    readWidthsFile(settingsToRead(platform::programFolder()).widthsFile, widths);
}

void addOptions(QCommandLineParser& p) {
    p.setApplicationDescription(QStringLiteral(
        "Writes the results table of DB in a form spreadsheets, statistics tools or the LIMS "
        "read.\nFormats: csv (the table as it stands), xlsx (a spreadsheet, values as "
        "numbers),\nlong (one row per record and isotope value), lims2d (SENAITE's "
        "two-dimensional\ninstrument import)."));
    p.addPositionalArgument(QStringLiteral("DB"), QStringLiteral("The results database."));
    p.addOptions({
        option("format", "csv, xlsx, long or lims2d (default csv).", "F", "csv"),
        option("output", "Where to write; - is standard output (the default).", "FILE", "-"),
        option("columns", "Only these columns, in this order; names or patterns such as CS-137*.",
               "A,B,..."),
        option("records",
               "Only the records at these positions (from 1): FIRST..LAST, FIRST.. "
               "or ..LAST.",
               "FIRST..LAST"),
        option("keep-padding", "Keep the blanks that pad fixed-width texts (csv, xlsx)."),
        option("keywords", "lims2d: CSV file of column name and LIMS keyword; chooses and renames.",
               "FILE"),
        option("sample-id", "lims2d: the sample identifier from id-text (default) or file-name.",
               "FROM", "id-text"),
        option("lims-version",
               "lims2d: the SENAITE version that imports the file (default 2.6; 2.1-2.4 and "
               "older clean keywords and empty cells differently).",
               "V", "2.6"),
        option("duplicates",
               "lims2d: records sharing a sample identifier: fail (default), first or last "
               "(only that one goes out).",
               "HOW", "fail"),
        option("force", "Replace an output file that is marked read-only."),
    });
}

// Reads the options into `options`; a usage error comes back as a message.
std::string readOptions(const QCommandLineParser& p, exports::Options& options) {
    const auto value = [&](const char* name) { return p.value(QString::fromLatin1(name)); };
    const auto isSet = [&](const char* name) { return p.isSet(QString::fromLatin1(name)); };
    options.table = kTableName;
    const auto f = exports::formatFromName(value("format").toStdString());
    if (!f)
        return "unknown format '" + value("format").toStdString() + "' (csv, xlsx, long or lims2d)";
    options.format = *f;
    if (isSet("columns")) {
        for (const QString& c : value("columns").split(QLatin1Char(','), Qt::SkipEmptyParts))
            options.columns.push_back(c.trimmed().toStdString());
        if (options.columns.empty()) return "--columns names no column";
    }
    if (isSet("records") &&
        !parseRecordRange(value("records"), options.firstRecord, options.lastRecord))
        return "--records takes FIRST..LAST with positions from 1, FIRST not after LAST";
    options.keepPadding = isSet("keep-padding");
    const QString from = value("sample-id");
    if (from != QLatin1String("id-text") && from != QLatin1String("file-name"))
        return "--sample-id takes id-text or file-name";
    options.sampleIdFromFileName = from == QLatin1String("file-name");
    if ((isSet("keywords") || isSet("sample-id") || isSet("lims-version") || isSet("duplicates")) &&
        options.format != exports::Format::Lims2d)
        return "--keywords, --sample-id, --lims-version and --duplicates belong to --format "
               "lims2d";
    const auto rules = exports::limsRulesFor(value("lims-version").toStdString());
    if (!rules) return "--lims-version takes a SENAITE version such as 2.6 or 2.4";
    options.limsRules = *rules;
    const QString dup = value("duplicates");
    if (dup == QLatin1String("first")) {
        options.duplicates = exports::Duplicates::First;
    } else if (dup == QLatin1String("last")) {
        options.duplicates = exports::Duplicates::Last;
    } else if (dup != QLatin1String("fail")) {
        return "--duplicates takes fail, first or last";
    }
    options.replaceReadOnly = isSet("force");
    return {};
}

// Writes the export and says on stderr what did not go out as stored.
int writeExport(db::Database& database, const exports::Options& options, const std::string& out,
                const std::string& dbPath, Io& io) {
    std::int64_t lastTotal = -1;
    std::unique_ptr<Progress> bar;
    const exports::ProgressFn report = [&](std::int64_t done, std::int64_t total) {
        if (total != lastTotal) {
            bar = std::make_unique<Progress>(io, "records", total);
            lastTotal = total;
        }
        bar->step(done);
        return true;
    };
    // Each cell that did not go out as stored gets its line as it is found, as the
    // append's "not stored" lines do; remarks on the export as a whole get theirs.
    std::int64_t changed = 0;
    const exports::NoteFn note = [&](const exports::Note& n) {
        if (bar) bar->finish();
        if (n.changedCell()) {
            ++changed;
            io.err << "krvtool: not exported as stored: record " << n.record << ", " << n.column
                   << ": " << n.text << '\n';
        } else {
            io.err << "krvtool: " << n.text << '\n';
        }
    };
    const Status st = out == "-"
                          ? exports::exportToStream(database, options, io.out, report, note)
                          : exports::exportToFile(database, options, out, report, dbPath, note);
    database.close();
    if (bar) bar->finish();
    if (!st.ok()) {
        const bool output = exports::isOutputFailure(st);
        return fail(
            io, output ? (out == "-" ? "standard output" : out) : dbPath,
            st.description + (st.number == err::kPermissionDenied ? " (--force replaces it)" : ""));
    }
    if (changed > 0) {
        io.err << "krvtool: " << changed << (changed == 1 ? " cell" : " cells")
               << " not exported as stored\n";
        return kRejected;
    }
    return kDone;
}

int runExport(const QStringList& args, Io& io) {
    QCommandLineParser p;
    addOptions(p);
    if (auto done = parseOptions(p, QStringLiteral("export"), args, io, 1, 1)) return *done;
    exports::Options options;
    if (const std::string e = readOptions(p, options); !e.empty())
        return fail(io, "export", e, kUsage);
    if (p.isSet(QStringLiteral("keywords"))) {
        const std::string mapFile = p.value(QStringLiteral("keywords")).toStdString();
        std::string text;
        if (!readWholeFile(mapFile, text)) return fail(io, mapFile, "cannot read the file");
        const Status st = exports::readKeywordMap(text, options.keywords);
        if (!st.ok()) return fail(io, mapFile, st.description);
    }
    if (options.format == exports::Format::Xlsx) storedWidths(options.widthsTwips);

    const std::string dbPath = p.positionalArguments().first().toStdString();
    Status st;
    auto engine = db::makeEngine();
    auto database = engine->openDatabase(dbPath, st);
    if (!database)
        return fail(io, dbPath,
                    st.number == err::kNotADatabase ? notResultsDatabase(dbPath, st.description)
                                                    : st.description);
    return writeExport(*database, options, p.value(QStringLiteral("output")).toStdString(), dbPath,
                       io);
}

}  // namespace

bool parseRecordRange(const QString& text, std::int64_t& first, std::int64_t& last) {
    const auto dots = text.indexOf(QLatin1String(".."));
    const QString a = dots < 0 ? text : text.left(dots);
    const QString b = dots < 0 ? text : text.mid(dots + 2);
    auto position = [](const QString& s, std::int64_t& out) {
        if (s.isEmpty()) {
            out = 0;
            return true;
        }
        bool ok = false;
        out = s.toLongLong(&ok);
        return ok && out >= 1 && !s.startsWith(QLatin1Char('+'));
    };
    if (text.isEmpty() || (dots >= 0 && a.isEmpty() && b.isEmpty())) return false;
    if (!position(a.trimmed(), first) || !position(b.trimmed(), last)) return false;
    return first == 0 || last == 0 || first <= last;
}

Subcommand exportCommand() {
    return {"export", "Results out as csv, xlsx, long (tidy) or lims2d (LIMS import) files.",
            runExport};
}

}  // namespace krv::tool
