// krvtool watch FOLDER --mode M DEST: imports each new report that appears in a folder,
// once it is whole, until stopped.

#include <ostream>

#include "ingest/folder_watch.h"
#include "krvtool/mode_option.h"
#include "platform/platform.h"
#include "platform/runs.h"

namespace krv::tool {

namespace {

// A number of seconds within bounds, as milliseconds; nothing when it is not one.
std::optional<std::chrono::milliseconds> secondsOption(const QCommandLineParser& parser,
                                                       const QCommandLineOption& option,
                                                       double lowest, double highest) {
    bool ok = false;
    const double seconds = parser.value(option).toDouble(&ok);
    if (!ok || !(seconds >= lowest && seconds <= highest)) return std::nullopt;
    return std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

int runWatch(const QStringList& args, Io& io) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Imports each report that appears in FOLDER, as import-reports does, once it is whole:\n"
        "its size and time unchanged for the settle time and no other program writing it.\n"
        "Temporary names (*.tmp, ~*, .*) are passed over. A report whose isotope table is cut\n"
        "off waits for the longer --settle-open time and is then imported as it stands. Runs\n"
        "until stopped (Ctrl+C or SIGTERM end it after the report under way); a folder that\n"
        "is briefly unavailable is waited for."));
    const QCommandLineOption mode = appendModeOption();
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Seconds between looks (default 0.5)."),
                                      QStringLiteral("S"), QStringLiteral("0.5"));
    const QCommandLineOption settle(
        QStringLiteral("settle"),
        QStringLiteral("Seconds a file must stay unchanged before it is read (default 3)."),
        QStringLiteral("S"), QStringLiteral("3"));
    const QCommandLineOption settleOpen(
        QStringLiteral("settle-open"),
        QStringLiteral("The same for a report whose isotope table is cut off (default 60)."),
        QStringLiteral("S"), QStringLiteral("60"));
    const QCommandLineOption ignore(
        QStringLiteral("ignore"),
        QStringLiteral("Comma-separated name patterns (* and ?) never to import."),
        QStringLiteral("PATTERNS"));
    for (const auto* o : {&mode, &interval, &settle, &settleOpen, &ignore}) parser.addOption(*o);
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The folder."));
    parser.addPositionalArgument(QStringLiteral("DEST"), QStringLiteral("The results store."));
    if (auto status = parseOptions(parser, QStringLiteral("watch"), args, io, 2, 2)) return *status;
    const auto m = appendModeOf(parser, QStringLiteral("watch"), io);
    if (!m) return kUsage;
    const auto every = secondsOption(parser, interval, 0.05, 3600);
    if (!every)
        return fail(io, "watch", "--interval must be a number of seconds from 0.05 to 3600",
                    kUsage);
    ingest::WatchOptions watching;
    const auto settled = secondsOption(parser, settle, 0, 3600);
    const auto settledOpen = secondsOption(parser, settleOpen, 0, 86400);
    if (!settled || !settledOpen || *settledOpen < *settled)
        return fail(io, "watch",
                    "--settle must be 0 to 3600 seconds and --settle-open at least as long, up "
                    "to 86400",
                    kUsage);
    watching.settle = *settled;
    watching.settleOpen = *settledOpen;
    for (const QString& pattern : parser.value(ignore).split(QLatin1Char(','), Qt::SkipEmptyParts))
        watching.ignore.push_back(pattern.trimmed().toStdString());

    ingest::ReportImportOptions options;
    options.mode = *m;
    options.decimalSeparator = platform::systemDecimalSeparator();
    const std::string folder = parser.positionalArguments().at(0).toStdString();
    const std::string dest = parser.positionalArguments().at(1).toStdString();
    auto engine = db::makeEngine();
    ingest::FolderWatch watcher(*engine, folder, dest, options, watching,
                                [&](const std::string& line) { io.out << line << std::endl; });
    platform::catchStopRequests();
    io.out << "watching " << folder << " for reports (mode " << ingest::appendModeWord(*m)
           << ") into " << dest << std::endl;
    watcher.run(*every, [] { return !platform::stopRequested(); });
    io.out << "stopped watching " << folder << " (" << watcher.imported() << " reports imported)"
           << std::endl;
    return kDone;
}

}  // namespace

Subcommand watchCommand() {
    return {"watch", "import each new report that appears in a folder", runWatch};
}

}  // namespace krv::tool
