// krvtool watch FOLDER --mode M DEST: imports each new report that appears in a folder,
// until stopped.

#include <ostream>

#include "krvtool/mode_option.h"
#include "legacy/folder_watch.h"
#include "platform/platform.h"

namespace krv::tool {

namespace {

int watch(const QStringList& args, Io& io) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Imports each report that appears in FOLDER once its size has stopped changing, as "
        "import-reports does. Runs until stopped; a folder that is briefly unavailable is "
        "waited for."));
    const QCommandLineOption mode = appendModeOption();
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Seconds between looks (default 2)."),
                                      QStringLiteral("S"), QStringLiteral("2"));
    parser.addOption(mode);
    parser.addOption(interval);
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The folder."));
    parser.addPositionalArgument(QStringLiteral("DEST"), QStringLiteral("The results store."));
    if (auto status = parseOptions(parser, QStringLiteral("watch"), args, io, 2, 2)) return *status;
    const auto m = appendModeOf(parser, QStringLiteral("watch"), io);
    if (!m) return kUsage;
    bool secondsOk = false;
    const double seconds = parser.value(interval).toDouble(&secondsOk);
    if (!secondsOk || !(seconds >= 0.05 && seconds <= 3600))
        return fail(io, "watch", "--interval must be a number of seconds from 0.05 to 3600",
                    kUsage);

    legacy::ReportImportOptions options;
    options.mode = *m;
    options.decimalSeparator = platform::systemDecimalSeparator();
    const std::string folder = parser.positionalArguments().at(0).toStdString();
    const std::string dest = parser.positionalArguments().at(1).toStdString();
    auto engine = db::makeEngine();
    legacy::FolderWatch watcher(*engine, folder, dest, options,
                                [&](const std::string& line) { io.out << line << std::endl; });
    io.out << "watching " << folder << " for reports (mode " << legacy::appendModeWord(*m)
           << ") into " << dest << std::endl;
    watcher.run(std::chrono::milliseconds(static_cast<long>(seconds * 1000)), [] { return true; });
    return kDone;
}

}  // namespace

Subcommand watchCommand() {
    return {"watch", "import each new report that appears in a folder", watch};
}

}  // namespace krv::tool
