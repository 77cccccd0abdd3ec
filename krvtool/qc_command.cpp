// krvtool qc DB: the check-source trend of one column, judged by the Westgard rules; exit 3
// when the newest point breaks a rejection rule.

#include <QApplication>
#include <QSize>
#include <fstream>
#include <ostream>

#include "charts/trend_image.h"
#include "krvtool/tool.h"
#include "platform/platform.h"
#include "qc/trend.h"
#include "results_db/schema.h"
#include "results_db/store.h"

namespace krv::tool {

namespace {

struct Options {
    qc::TrendQuery query;
    std::string db, png, csv, halfLives;
};

void addOptions(QCommandLineParser& p) {
    p.setApplicationDescription(QStringLiteral(
        "Charts a check source's trend in one isotope-line column and judges the newest point "
        "by the Westgard rules (1-2s warns; 1-3s, 2-2s, R-4s, 4-1s and 10x reject).\n"
        "Exit status: 0 the newest point breaks no rejection rule, 3 it does, 1 failed, 2 "
        "usage."));
    p.addPositionalArgument(QStringLiteral("DB"), QStringLiteral("The results database."));
    p.addOptions({
        option("column", "Isotope-line column, for example CO-60@NET1.", "C"),
        option("match", "Wildcard pattern (* and ?) picking the check-source records.", "PATTERN"),
        option("on", "Match the pattern on the ID Text (id) or the File Name (file).", "id|file",
               "id"),
        option("baseline", "Limits from the first N points.", "N", "20"),
        option("from", "Limits from the points counted from this date on.", "D"),
        option("to", "... up to this date (a bare date includes the whole day).", "D"),
        option("decay", "Decay correction: auto (activities yes, counts no), on or off.",
               "auto|on|off", "auto"),
        option("ref-date", "Correct to this date (default: first baseline point).", "D"),
        option("half-lives",
               "File of half-lives that add to or override the built-in "
               "table: NUCLIDE VALUE UNIT [SOURCE].",
               "FILE"),
        option("day-first", "Numeric dates put the day before the month."),
        option("year-pivot", "Two-digit years below this are 20yy, others 19yy.", "YY", "30"),
        option("r4s-within-run", "Apply R-4s within a run only, not across points."),
        option("png", "Save the chart as a PNG image.", "FILE"),
        option("csv", "Save the points with their flags as CSV.", "FILE"),
    });
}

// Reads the options into `o`; a usage error comes back as a message.
std::string readOptions(const QCommandLineParser& p, Options& o) {
    const auto text = [&](const char* name) {
        return p.value(QString::fromLatin1(name)).toStdString();
    };
    const auto isSet = [&](const char* name) { return p.isSet(QString::fromLatin1(name)); };
    o.db = p.positionalArguments().first().toStdString();
    o.query.column = text("column");
    o.query.pattern = text("match");
    if (o.query.column.empty()) return "--column is required";
    if (!isSet("match")) return "--match is required";
    const std::string on = text("on");
    if (on == "id")
        o.query.matchOn = qc::MatchOn::IdText;
    else if (on == "file")
        o.query.matchOn = qc::MatchOn::FileName;
    else
        return "--on takes id or file";
    o.query.dates.dayFirst = isSet("day-first");
    bool ok = false;
    o.query.dates.twoDigitYearPivot = QString::fromStdString(text("year-pivot")).toInt(&ok);
    if (!ok || o.query.dates.twoDigitYearPivot < 0 || o.query.dates.twoDigitYearPivot > 100)
        return "--year-pivot takes a number from 0 to 100";
    const int n = QString::fromStdString(text("baseline")).toInt(&ok);
    if (!ok || n < 2) return "--baseline takes a number of points, at least 2";
    o.query.baselineCount = static_cast<std::size_t>(n);
    const auto date = [&](const char* name, bool dayEnd,
                          std::optional<std::int64_t>& out) -> std::string {
        if (!isSet(name)) return {};
        const std::string t = text(name);
        out = qc::readDateTime(t, o.query.dates);
        if (!out) return std::string("--") + name + ": cannot read the date '" + t + "'";
        // A bare date as the end of a range means the whole day.
        if (dayEnd && t.find(':') == std::string::npos) *out += 86399;
        return {};
    };
    for (const std::string& e :
         {date("from", false, o.query.baselineFrom), date("to", true, o.query.baselineTo),
          date("ref-date", false, o.query.referenceTime)}) {
        if (!e.empty()) return e;
    }
    if (isSet("baseline") && (o.query.baselineFrom || o.query.baselineTo))
        return "--baseline and --from/--to choose the baseline two ways; give one";
    const std::string decay = text("decay");
    if (decay == "auto")
        o.query.correction = qc::Correction::Auto;
    else if (decay == "on")
        o.query.correction = qc::Correction::On;
    else if (decay == "off")
        o.query.correction = qc::Correction::Off;
    else
        return "--decay takes auto, on or off";
    o.query.rules.range4sAcrossPoints = !isSet("r4s-within-run");
    o.halfLives = text("half-lives");
    o.png = text("png");
    o.csv = text("csv");
    return {};
}

// The trend as the options ask for it; an exit status when it cannot be made.
std::optional<int> buildTrend(const Options& o, qc::Trend& trend, Io& io) {
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
    st = qc::buildTrend(*database, o.query, halfLives, trend);
    database->close();
    if (!st.ok()) {
        if (trend.matched > 0) {
            for (const std::string& line : qc::describeTrend(trend)) io.err << "  " << line << "\n";
        }
        return fail(io, o.db, st.description);
    }
    return std::nullopt;
}

// The summary and the newest point's verdict; true when it breaks a rejection rule.
bool reportNewest(const Options& o, const qc::Trend& trend, Io& io) {
    io.out << o.query.column << ", records whose "
           << (o.query.matchOn == qc::MatchOn::IdText ? kIdTextField : kFileNameField)
           << " matches " << o.query.pattern << "\n";
    for (const std::string& line : qc::describeTrend(trend)) io.out << line << "\n";
    const qc::TrendPoint& newest = trend.points.back();
    io.out << "newest point: " << qc::formatDateTime(newest.time) << ", record " << newest.recordId
           << " \"" << newest.idText << "\", value " << qc::shortNumber(newest.value) << ", z "
           << qc::shortNumber(newest.z) << "\n";
    if (newest.baseline) {
        io.out << "rules: not judged, the newest point belongs to the baseline\n";
        return false;
    }
    bool rejected = false;
    for (qc::Rule r : newest.rules) rejected |= qc::rejects(r);
    io.out << "rules: "
           << (newest.rules.empty() ? std::string("none broken")
               : rejected           ? qc::rulesText(newest.rules) + " (rejected)"
                                    : qc::rulesText(newest.rules) + " (warning)")
           << "\n";
    return rejected;
}

// The CSV and the chart the options name; an exit status when one cannot be written.
std::optional<int> saveOutputs(const Options& o, const qc::Trend& trend, Io& io) {
    if (!o.csv.empty()) {
        std::ofstream csv(platform::toPath(o.csv), std::ios::binary | std::ios::trunc);
        csv << qc::pointsCsv(trend);
        if (!csv.flush()) return fail(io, o.csv, "cannot be written");
    }
    if (!o.png.empty()) {
        QString error;
        if (!saveTrendImage(trend, QString::fromStdString(o.query.column + ", " + o.query.pattern),
                            QString::fromStdString(o.png), QSize(1200, 700), error))
            return fail(io, o.png, error.toStdString());
    }
    return std::nullopt;
}

int runQc(const QStringList& args, Io& io) {
    QCommandLineParser p;
    addOptions(p);
    if (auto done = parseOptions(p, QStringLiteral("qc"), args, io, 1, 1)) return *done;
    Options o;
    if (const std::string e = readOptions(p, o); !e.empty())
        return fail(io, "qc", e + " (krvtool qc --help shows the usage)", kUsage);
    if (const QString why = trendImageUnavailable(); !o.png.empty() && !why.isEmpty())
        return fail(io, o.png, why.toStdString());
    qc::Trend trend;
    if (auto failed = buildTrend(o, trend, io)) return *failed;
    const bool rejected = reportNewest(o, trend, io);
    if (auto failed = saveOutputs(o, trend, io)) return *failed;
    return rejected ? kRejected : kDone;
}

}  // namespace

Subcommand qcCommand() {
    return {"qc", "check-source trend with Westgard rules; exit 3 on a rejected newest point",
            runQc, trendImageUnavailable().isEmpty()};
}

}  // namespace krv::tool
