// krvtool import-legacy OLD.MDB DEST: the results table of an old Jet file into a new or
// empty results store.

#include <ostream>

#include "jet/legacy_import.h"
#include "krvtool/tool.h"
#include "results_db/archive.h"

namespace krv::tool {

namespace {

int runImportLegacy(const QStringList& args, Io& io) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Copies the table SamData of an old Jet (Access) results file into a "
                       "new or empty results store. The old file is only read."));
    const QCommandLineOption table(
        QStringLiteral("table"),
        QStringLiteral("The old table to copy, when the old program kept its results under "
                       "another name (default SamData); it becomes SamData in DEST."),
        QStringLiteral("NAME"), QString::fromLatin1(kTableName));
    parser.addOption(table);
    parser.addPositionalArgument(QStringLiteral("OLD.MDB"), QStringLiteral("The old file."));
    parser.addPositionalArgument(QStringLiteral("DEST"),
                                 QStringLiteral("The new or empty results store."));
    if (auto status = parseOptions(parser, QStringLiteral("import-legacy"), args, io, 2, 2))
        return *status;
    const std::string old = parser.positionalArguments().at(0).toStdString();
    const std::string dest = parser.positionalArguments().at(1).toStdString();

    Status status;
    auto source = jet::openJetTable(old, parser.value(table).toStdString(), {}, status);
    if (!source) return fail(io, old, status.description);
    Progress progress(io, "records", 0);
    jet::LegacySummary summary;
    auto engine = db::makeEngine();
    status = jet::importLegacyTable(*source, *engine, dest, summary, [&](std::int64_t done) {
        progress.step(done);
        return true;
    });
    progress.finish();
    if (!status.ok()) return fail(io, old, status.description + "; nothing was imported");

    io.out << jet::summaryText(summary, old, dest);
    return kDone;
}

}  // namespace

Subcommand importLegacyCommand() {
    return {"import-legacy", "copy the results table of an old Access (Jet) file", runImportLegacy};
}

}  // namespace krv::tool
