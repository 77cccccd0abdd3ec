#include "krvtool/qc_command.h"

#include <QApplication>
#include <QSize>
#include <fstream>
#include <ostream>

#include "app/trend_chart.h"
#include "platform/platform.h"
#include "qc/trend.h"
#include "results_db/store.h"

namespace krv::tool {

namespace {

QCommandLineOption valueOption(const char* name, const char* help, const char* valueName,
                               const char* defaultValue = nullptr) {
    QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help),
                         QString::fromLatin1(valueName));
    if (defaultValue) o.setDefaultValue(QString::fromLatin1(defaultValue));
    return o;
}

std::string rulesText(const std::vector<qc::Rule>& rules) {
    std::string s;
    for (qc::Rule r : rules) s += (s.empty() ? "" : " ") + std::string(qc::ruleName(r));
    return s;
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

struct Options {
    qc::TrendQuery query;
    std::string db, png, csv, halfLives;
};

// Reads the options into `o`; a usage error comes back as a message.
std::string readOptions(const QCommandLineParser& p, const QStringList& names, Options& o) {
    auto text = [&](int i) { return p.value(names[i]).toStdString(); };
    o.db = p.positionalArguments().first().toStdString();
    o.query.column = text(0);
    o.query.pattern = text(1);
    if (o.query.column.empty()) return "--column is required";
    if (!p.isSet(names[1])) return "--match is required";
    const std::string on = text(2);
    if (on == "id")
        o.query.matchOn = qc::MatchOn::IdText;
    else if (on == "file")
        o.query.matchOn = qc::MatchOn::FileName;
    else
        return "--on takes id or file";
    o.query.dates.dayFirst = p.isSet(names[9]);
    bool ok = false;
    o.query.dates.twoDigitYearPivot = p.value(names[10]).toInt(&ok);
    if (!ok || o.query.dates.twoDigitYearPivot < 0 || o.query.dates.twoDigitYearPivot > 100)
        return "--year-pivot takes a number from 0 to 100";
    const int n = p.value(names[3]).toInt(&ok);
    if (!ok || n < 2) return "--baseline takes a number of points, at least 2";
    o.query.baselineCount = static_cast<std::size_t>(n);
    auto date = [&](int i, bool dayEnd, std::optional<std::int64_t>& out) -> std::string {
        if (!p.isSet(names[i])) return {};
        const std::string t = text(i);
        out = qc::readDateTime(t, o.query.dates);
        if (!out) return "--" + names[i].toStdString() + ": cannot read the date '" + t + "'";
        // A bare date as the end of a range means the whole day.
        if (dayEnd && t.find(':') == std::string::npos) *out += 86399;
        return {};
    };
    for (const std::string& e :
         {date(4, false, o.query.baselineFrom), date(5, true, o.query.baselineTo),
          date(7, false, o.query.referenceTime)}) {
        if (!e.empty()) return e;
    }
    if (p.isSet(names[3]) && (o.query.baselineFrom || o.query.baselineTo))
        return "--baseline and --from/--to choose the baseline two ways; give one";
    const std::string decay = text(6);
    if (decay == "auto")
        o.query.correction = qc::Correction::Auto;
    else if (decay == "on")
        o.query.correction = qc::Correction::On;
    else if (decay == "off")
        o.query.correction = qc::Correction::Off;
    else
        return "--decay takes auto, on or off";
    o.query.rules.range4sAcrossPoints = !p.isSet(names[11]);
    o.halfLives = text(8);
    o.png = text(12);
    o.csv = text(13);
    return {};
}

int runQc(const QStringList& args, Io& io) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Charts a check source's trend in one isotope-line column and judges the newest point "
        "by the Westgard rules (1-2s warns; 1-3s, 2-2s, R-4s, 4-1s and 10x reject).\n"
        "Exit status: 0 the newest point breaks no rejection rule, 3 it does, 1 failed, 2 "
        "usage."));
    p.addPositionalArgument(QStringLiteral("DB"), QStringLiteral("The results database."));
    const QList<QCommandLineOption> options = {
        valueOption("column", "Isotope-line column, for example CO-60@NET1.", "C"),
        valueOption("match", "Wildcard pattern (* and ?) picking the check-source records.",
                    "PATTERN"),
        valueOption("on", "Match the pattern on the ID Text (id) or the File Name (file).",
                    "id|file", "id"),
        valueOption("baseline", "Limits from the first N points.", "N", "20"),
        valueOption("from", "Limits from the points counted from this date on.", "D"),
        valueOption("to", "... up to this date (a bare date includes the whole day).", "D"),
        valueOption("decay", "Decay correction: auto (activities yes, counts no), on or off.",
                    "auto|on|off", "auto"),
        valueOption("ref-date", "Correct to this date (default: first baseline point).", "D"),
        valueOption("half-lives",
                    "File of half-lives that add to or override the built-in "
                    "table: NUCLIDE VALUE UNIT [SOURCE].",
                    "FILE"),
        QCommandLineOption(QStringLiteral("day-first"),
                           QStringLiteral("Numeric dates put the day before the month.")),
        valueOption("year-pivot", "Two-digit years below this are 20yy, others 19yy.", "YY", "30"),
        QCommandLineOption(QStringLiteral("r4s-within-run"),
                           QStringLiteral("Apply R-4s within a run only, not across points.")),
        valueOption("png", "Save the chart as a PNG image.", "FILE"),
        valueOption("csv", "Save the points with their flags as CSV.", "FILE"),
    };
    QStringList names;
    for (const auto& o : options) {
        p.addOption(o);
        names << o.names().first();
    }
    if (auto done = parseOptions(p, QStringLiteral("qc"), args, io, 1, 1)) return *done;
    Options o;
    if (const std::string e = readOptions(p, names, o); !e.empty())
        return fail(io, "qc", e + " (krvtool qc --help shows the usage)", kUsage);

    qc::HalfLifeTable halfLives = qc::HalfLifeTable::recommended();
    if (const Status st = halfLives.addLabFile(); !st.ok()) return fail(io, "", st.description);
    if (!o.halfLives.empty()) {
        const Status st = halfLives.addFromFile(o.halfLives);
        if (!st.ok()) return fail(io, o.halfLives, st.description);
    }
    Status st;
    auto engine = db::makeEngine();
    auto database = engine->openDatabase(o.db, st);
    if (!database) return fail(io, o.db, st.description);
    qc::Trend trend;
    st = qc::buildTrend(*database, o.query, halfLives, trend);
    database->close();
    if (!st.ok()) {
        if (trend.matched > 0) {
            for (const std::string& line : qc::describeTrend(trend)) io.err << "  " << line << "\n";
        }
        return fail(io, o.db, st.description);
    }

    io.out << o.query.column << ", records whose "
           << (o.query.matchOn == qc::MatchOn::IdText ? "ID Text" : "File Name") << " matches "
           << o.query.pattern << "\n";
    for (const std::string& line : qc::describeTrend(trend)) io.out << line << "\n";
    const qc::TrendPoint& newest = trend.points.back();
    io.out << "newest point: " << qc::formatDateTime(newest.time) << ", record " << newest.recordId
           << " \"" << newest.idText << "\", value " << number(newest.value) << ", z "
           << number(newest.z) << "\n";
    bool rejected = false;
    if (newest.baseline) {
        io.out << "rules: not judged, the newest point belongs to the baseline\n";
    } else {
        for (qc::Rule r : newest.rules) rejected |= qc::rejects(r);
        io.out << "rules: "
               << (newest.rules.empty() ? std::string("none broken")
                   : rejected           ? rulesText(newest.rules) + " (rejected)"
                                        : rulesText(newest.rules) + " (warning)")
               << "\n";
    }

    if (!o.csv.empty()) {
        std::ofstream csv(platform::toPath(o.csv), std::ios::binary | std::ios::trunc);
        csv << qc::pointsCsv(trend);
        if (!csv.flush()) return fail(io, o.csv, "cannot be written");
    }
    if (!o.png.empty()) {
        TrendChartPanel panel;
        panel.showTrend(trend, QString::fromStdString(o.query.column + ", " + o.query.pattern));
        QString error;
        if (!panel.saveImage(QString::fromStdString(o.png), QSize(1200, 700), error))
            return fail(io, o.png, error.toStdString());
    }
    return rejected ? kRejected : kDone;
}

}  // namespace

Subcommand qcSubcommand() {
    return {"qc", "check-source trend with Westgard rules; exit 3 on a rejected newest point",
            runQc, true};
}

}  // namespace krv::tool
