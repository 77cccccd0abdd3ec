#pragma once

// The --mode option of the subcommands that append reports.

#include "krvtool/tool.h"
#include "ingest/report_import.h"

namespace krv::tool {

inline QCommandLineOption appendModeOption() {
    return {QStringLiteral("mode"), QStringLiteral("activity, net, gross or bkg."),
            QStringLiteral("M")};
}

// The append mode named by the option; otherwise a usage line, and nothing.
inline std::optional<int> appendModeOf(const QCommandLineParser& parser, const QString& subcommand,
                                       Io& io) {
    const auto mode =
        ingest::appendModeFromWord(parser.value(QStringLiteral("mode")).toStdString());
    if (!mode)
        fail(io, subcommand.toStdString(), "--mode must be activity, net, gross or bkg", kUsage);
    return mode;
}

}  // namespace krv::tool
