#include "krvtool/tool.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace krv::tool {

namespace {

void printUsage(Io& io) {
    io.out << "Usage: krvtool SUBCOMMAND [options] ARGS\n\n"
              "Works on KrvArchiver results databases without a window.\n\nSubcommands:\n";
    for (const auto& s : subcommands()) {
        std::string name = s.name;
        name.resize(std::max<std::size_t>(name.size(), 16), ' ');
        io.out << "  " << name << s.summary << "\n";
    }
    io.out << "\nkrvtool SUBCOMMAND --help describes one subcommand.\n"
              "Exit status: 0 done, 1 failed, 2 usage error, 3 a quality-control rejection.\n";
}

}  // namespace

int fail(Io& io, const std::string& what, const std::string& reason, int status) {
    io.err << "krvtool: " << (what.empty() ? "" : what + ": ") << reason << "\n";
    return status;
}

int runTool(const QStringList& args, Io& io) {
    if (args.isEmpty()) {
        printUsage(io);
        return kUsage;
    }
    const QString first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        printUsage(io);
        return kDone;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        io.out << "krvtool " << KRV_VERSION << "\n";
        return kDone;
    }
    for (const auto& s : subcommands()) {
        if (first.toStdString() == s.name) return s.run(args.mid(1), io);
    }
    return fail(io, "",
                "unknown subcommand '" + first.toStdString() + "' (krvtool --help lists them)",
                kUsage);
}

QCommandLineOption option(const char* name, const char* description, const char* valueName,
                          const char* defaultValue) {
    QCommandLineOption o(QString::fromLatin1(name), QString::fromUtf8(description));
    if (valueName) o.setValueName(QString::fromLatin1(valueName));
    if (defaultValue) o.setDefaultValue(QString::fromLatin1(defaultValue));
    return o;
}

std::optional<int> parseOptions(QCommandLineParser& parser, const QString& subcommand,
                                const QStringList& args, Io& io, int minPositional,
                                int maxPositional) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Describe this subcommand."));
    parser.addOption(help);
    // QCommandLineParser expects the program name first.
    QStringList withName = args;
    withName.prepend(QStringLiteral("krvtool ") + subcommand);
    if (!parser.parse(withName)) {
        return fail(io, subcommand.toStdString(), parser.errorText().toStdString(), kUsage);
    }
    if (parser.isSet(help)) {
        // Qt names the running executable in the usage line; say the subcommand instead.
        QStringList lines = parser.helpText().split(QLatin1Char('\n'));
        QStringList usage = lines.first().split(QLatin1Char(' '));
        if (usage.size() > 1) usage[1] = QStringLiteral("krvtool ") + subcommand;
        lines.first() = usage.join(QLatin1Char(' '));
        io.out << lines.join(QLatin1Char('\n')).toStdString();
        return kDone;
    }
    const auto n = parser.positionalArguments().size();
    if (n < minPositional || (maxPositional >= 0 && n > maxPositional)) {
        return fail(io, subcommand.toStdString(),
                    "wrong number of arguments (krvtool " + subcommand.toStdString() +
                        " --help shows the usage)",
                    kUsage);
    }
    return std::nullopt;
}

Progress::Progress(Io& io, std::string noun, std::int64_t total)
    : io_(io), noun_(std::move(noun)), total_(total), start_(std::chrono::steady_clock::now()) {}

void Progress::step(std::int64_t done) {
    if (!io_.errIsTerminal) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastShown_ < std::chrono::milliseconds(200)) return;
    shown_ = true;
    lastShown_ = now;
    const double secs = std::chrono::duration<double>(now - start_).count();
    const double rate = secs > 0 ? done / secs : 0;
    char line[160];
    if (total_ > 0 && rate > 0) {
        const double left = (total_ - done) / rate;
        std::snprintf(line, sizeof line, "\r%lld/%lld %s, %.0f/s, %.0f s left   ",
                      static_cast<long long>(done), static_cast<long long>(total_), noun_.c_str(),
                      rate, left);
    } else {
        std::snprintf(line, sizeof line, "\r%lld %s, %.0f/s   ", static_cast<long long>(done),
                      noun_.c_str(), rate);
    }
    io_.err << line << std::flush;
}

void Progress::finish() {
    if (shown_) io_.err << "\n";
}

}  // namespace krv::tool
