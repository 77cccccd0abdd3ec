// krvtool import-reports --mode M DEST FILE|FOLDER...: archived reports in bulk, each as
// the unattended append stores it, skipping those imported before.

#include <algorithm>
#include <memory>
#include <ostream>

#include "ingest/report_import.h"
#include "krvtool/mode_option.h"
#include "platform/platform.h"

namespace krv::tool {

namespace {

int runImportReports(const QStringList& args, Io& io) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Appends many reports to a results store, each as `krvarchiver NET` (or the mode's "
        "word) would, in the given order; folders are walked in name order. Reports already "
        "imported in the same mode are skipped."));
    const QCommandLineOption mode = appendModeOption();
    const QCommandLineOption again(QStringLiteral("again"),
                                   QStringLiteral("Import reports the store already has."));
    parser.addOption(mode);
    parser.addOption(again);
    parser.addPositionalArgument(QStringLiteral("DEST"), QStringLiteral("The results store."));
    parser.addPositionalArgument(QStringLiteral("FILE|FOLDER..."),
                                 QStringLiteral("Reports, or folders of reports."));
    if (auto status = parseOptions(parser, QStringLiteral("import-reports"), args, io, 2, -1))
        return *status;
    const auto m = appendModeOf(parser, QStringLiteral("import-reports"), io);
    if (!m) return kUsage;
    ingest::ReportImportOptions options;
    options.mode = *m;
    options.again = parser.isSet(again);
    options.decimalSeparator = platform::systemDecimalSeparator();
    const QStringList positional = parser.positionalArguments();
    const std::string dest = positional.first().toStdString();
    std::vector<std::string> paths;
    for (qsizetype i = 1; i < positional.size(); ++i) paths.push_back(positional[i].toStdString());

    std::unique_ptr<Progress> counted;
    auto engine = db::makeEngine();
    const ingest::ReportImportSummary s = ingest::importReports(
        *engine, dest, paths, options, [&](std::int64_t done, std::int64_t total) {
            if (!counted) counted = std::make_unique<Progress>(io, "reports", total);
            counted->step(done);
            return true;
        });
    if (counted) counted->finish();

    io.out << ingest::summaryText(s, dest, options, "--again imports them anyway");
    const bool walkFailed = std::any_of(s.refused.begin(), s.refused.end(),
                                        [](const ingest::Refusal& r) { return r.walkFailed; });
    if (walkFailed && s.failure.ok()) {
        return fail(io, "import-reports", "a file or folder named could not be read");
    }
    if (s.outcomeUnknown) {
        return fail(io, dest,
                    s.failure.description +
                        "; the ledger lets a rerun import exactly what is not there yet",
                    kOutcomeUnknown);
    }
    if (!s.failure.ok()) {
        return fail(io, dest,
                    s.failure.description +
                        "; reports not yet committed were not imported, and a rerun "
                        "completes the job");
    }
    if (!s.unreadable.empty()) {
        return fail(io, "import-reports",
                    std::to_string(s.unreadable.size()) +
                        " reports could not be read and were not imported (listed above)",
                    kRejected);
    }
    return kDone;
}

}  // namespace

Subcommand importReportsCommand() {
    return {"import-reports", "append many archived reports, skipping those imported before",
            runImportReports};
}

}  // namespace krv::tool
