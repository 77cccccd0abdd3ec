#include "krvtool/export_command.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/settings.h"
#include "export/results_export.h"
#include "platform/platform.h"
#include "results_db/archive.h"
#include "results_db/store.h"

namespace krv::tool {

namespace {

QCommandLineOption option(const char* name, const char* description,
                          const char* valueName = nullptr, const char* defaultValue = nullptr) {
    QCommandLineOption o(QString::fromLatin1(name), QString::fromUtf8(description));
    if (valueName) o.setValueName(QString::fromLatin1(valueName));
    if (defaultValue) o.setDefaultValue(QString::fromLatin1(defaultValue));
    return o;
}

bool readWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(platform::toPath(path), std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

// The viewer's stored widths, from the widths file beside the program when there is one.
void storedWidths(std::array<std::int16_t, 101>& widths) {
    const auto file = SettingsFiles::in(platform::programFolder()).widthsFile;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return;
    std::string text;
    if (readWholeFile(platform::fromPath(file), text)) readWidthsText(text, widths);
}

int runExport(const QStringList& args, Io& io) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Writes the results table of DB in a form spreadsheets, statistics tools or the LIMS "
        "read.\nFormats: csv (the table as it stands), xlsx (a spreadsheet, values as "
        "numbers),\nlong (one row per record and isotope value), lims2d (SENAITE's "
        "two-dimensional\ninstrument import)."));
    p.addPositionalArgument(QStringLiteral("DB"), QStringLiteral("The results database."));
    const auto format = option("format", "csv, xlsx, long or lims2d (default csv).", "F", "csv");
    const auto output =
        option("output", "Where to write; - is standard output (the default).", "FILE", "-");
    const auto columns =
        option("columns", "Only these columns, in this order; names or patterns such as CS-137*.",
               "A,B,...");
    const auto records =
        option("records",
               "Only the records at these positions (from 1): FIRST..LAST, FIRST.. "
               "or ..LAST.",
               "FIRST..LAST");
    const auto keepPadding =
        option("keep-padding", "Keep the blanks that pad fixed-width texts (csv, xlsx).");
    const auto keywords =
        option("keywords", "lims2d: CSV file of column name and LIMS keyword; chooses and renames.",
               "FILE");
    const auto sampleId =
        option("sample-id", "lims2d: the sample identifier from id-text (default) or file-name.",
               "FROM", "id-text");
    for (const auto& o : {format, output, columns, records, keepPadding, keywords, sampleId})
        p.addOption(o);
    if (auto done = parseOptions(p, QStringLiteral("export"), args, io, 1, 1)) return *done;

    exports::Options options;
    options.table = kTableName;
    const auto f = exports::formatFromName(p.value(format).toStdString());
    if (!f)
        return fail(
            io, "export",
            "unknown format '" + p.value(format).toStdString() + "' (csv, xlsx, long or lims2d)",
            kUsage);
    options.format = *f;
    if (p.isSet(columns)) {
        for (const QString& c : p.value(columns).split(QLatin1Char(','), Qt::SkipEmptyParts))
            options.columns.push_back(c.trimmed().toStdString());
        if (options.columns.empty()) return fail(io, "export", "--columns names no column", kUsage);
    }
    if (p.isSet(records) &&
        !parseRecordRange(p.value(records), options.firstRecord, options.lastRecord))
        return fail(io, "export",
                    "--records takes FIRST..LAST with positions from 1, FIRST not after LAST",
                    kUsage);
    options.keepPadding = p.isSet(keepPadding);
    const QString from = p.value(sampleId);
    if (from != QLatin1String("id-text") && from != QLatin1String("file-name"))
        return fail(io, "export", "--sample-id takes id-text or file-name", kUsage);
    options.sampleIdFromFileName = from == QLatin1String("file-name");
    if ((p.isSet(keywords) || p.isSet(sampleId)) && options.format != exports::Format::Lims2d)
        return fail(io, "export", "--keywords and --sample-id belong to --format lims2d", kUsage);
    if (p.isSet(keywords)) {
        const std::string mapFile = p.value(keywords).toStdString();
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
    if (!database) return fail(io, dbPath, st.description);

    const std::string out = p.value(output).toStdString();
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
    st = out == "-" ? exports::exportToStream(*database, options, io.out, report)
                    : exports::exportToFile(*database, options, out, report, dbPath);
    database->close();
    if (bar) bar->finish();
    if (!st.ok())
        return fail(io,
                    exports::isOutputFailure(st) ? (out == "-" ? "standard output" : out) : dbPath,
                    st.description);
    return kDone;
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

Subcommand exportSubcommand() {
    return {"export", "Results out as csv, xlsx, long (tidy) or lims2d (LIMS import) files.",
            runExport};
}

}  // namespace krv::tool
