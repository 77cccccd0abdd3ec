#include "qc/trend.h"

#include <algorithm>
#include <cmath>
#include <variant>

#include "report/text.h"

namespace krv::qc {

namespace {

// Records read per call: bounds memory on a table of any length.
constexpr std::size_t kChunk = 8192;
constexpr double kLargestValue = 1e150;

// The cell's text without a copy when it is one.
std::string_view cellView(const db::Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    return {};
}

std::string cellText(const db::Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* d = std::get_if<double>(&v)) return text::exactNumberText(*d);
    return {};
}

bool hasField(const std::vector<db::FieldInfo>& fields, const std::string& name) {
    return std::any_of(fields.begin(), fields.end(),
                       [&](const db::FieldInfo& f) { return f.name == name; });
}

}  // namespace

std::size_t Trend::judgedCount() const {
    return static_cast<std::size_t>(std::count_if(points.begin(), points.end(),
                                                  [](const TrendPoint& p) { return !p.baseline; }));
}

bool isCountsColumn(const std::string& column) {
    return readIsotopeColumn(column).mode != kActivity;
}

Status readTrendPoints(db::Database& db, const TrendQuery& query, Trend& out) {
    out = Trend{};
    std::vector<db::FieldInfo> fields;
    Status st = db.fields(kTableName, fields);
    if (!st.ok()) return st;
    for (const char* fixed : {kIdTextField, kFileNameField, kDateAndTimeField}) {
        if (!hasField(fields, fixed))
            return Status::failure(err::kItemNotFound,
                                   std::string("the table has no column \"") + fixed + "\"");
    }
    if (!hasField(fields, query.column))
        return Status::failure(err::kItemNotFound,
                               "the table has no column \"" + query.column + "\"");

    std::vector<std::int64_t> ids;
    st = db.recordIds(kTableName, ids);
    if (!st.ok()) return st;
    const std::vector<std::string> columns = {kIdTextField, kFileNameField, kDateAndTimeField,
                                              query.column};
    const std::size_t filterAt = query.matchOn == MatchOn::IdText ? 1 : 2;
    RecordFilter filter(query.pattern);
    return db::forEachRow(
        db, kTableName, columns, ids, kChunk, [&](const std::vector<db::Value>& row) {
            if (row.size() != columns.size() + 1) return Status::success();
            if (!filter.matches(cellView(row[filterAt]))) return Status::success();
            ++out.matched;
            const auto* idNumber = std::get_if<double>(&row[0]);
            const auto id = static_cast<std::int64_t>(idNumber ? *idNumber : 0);
            const std::string idText(trimmed(cellText(row[1])));
            const std::string valueText = cellText(row[4]);
            if (trimmed(valueText).empty()) {
                ++out.withoutValue;
                return Status::success();
            }
            auto value = readValue(valueText);
            // Beyond any count or activity; squares of such values would overflow the spread.
            if (value && std::fabs(*value) > kLargestValue) value.reset();
            if (!value) {
                out.notNumbers.push_back({id, idText, std::string(trimmed(valueText))});
                return Status::success();
            }
            const std::string dateText(trimmed(cellText(row[3])));
            const auto time = readDateTime(dateText, query.dates);
            if (!time) {
                out.unreadableDates.push_back({id, idText, dateText});
                return Status::success();
            }
            TrendPoint p;
            p.recordId = id;
            p.time = *time;
            p.idText = idText;
            p.fileName = std::string(trimmed(cellText(row[2])));
            p.dateText = dateText;
            p.stored = p.value = *value;
            out.points.push_back(std::move(p));
            return Status::success();
        });
}

namespace {

// Marks the baseline points, by date range or by count; returns how many there are.
std::size_t markBaseline(const TrendQuery& query, std::vector<TrendPoint>& pts) {
    const bool byRange = query.baselineFrom || query.baselineTo;
    std::size_t inBaseline = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        pts[i].baseline = byRange ? (!query.baselineFrom || pts[i].time >= *query.baselineFrom) &&
                                        (!query.baselineTo || pts[i].time <= *query.baselineTo)
                                  : i < query.baselineCount;
        inBaseline += pts[i].baseline;
    }
    return inBaseline;
}

// Corrects each value to the reference date when the query asks for it and the nuclide's
// half-life is known.
Status correctDecay(const TrendQuery& query, const HalfLifeTable& halfLives, Trend& trend) {
    auto& pts = trend.points;
    trend.nuclide = HalfLifeTable::nuclideOfColumn(query.column);
    const bool wanted = query.correction == Correction::On ||
                        (query.correction == Correction::Auto && !isCountsColumn(query.column));
    trend.referenceTime = query.referenceTime.value_or(pts.front().time);
    if (!query.referenceTime) {
        for (const auto& p : pts) {
            if (p.baseline) {
                trend.referenceTime = p.time;
                break;
            }
        }
    }
    trend.corrected = false;
    if (wanted) {
        const HalfLife* h = halfLives.find(trend.nuclide);
        if (h) {
            trend.halfLife = *h;
            trend.corrected = true;
            const double lambda = std::log(2.0) / h->seconds;
            for (auto& p : pts)
                p.value =
                    p.stored * std::exp(lambda * static_cast<double>(p.time - trend.referenceTime));
        } else {
            trend.notes.push_back("no half-life known for " + trend.nuclide +
                                  ": values are not decay-corrected");
        }
    }
    for (const auto& p : pts) {
        if (!(std::fabs(p.value) <= kLargestValue) || (p.stored != 0 && p.value == 0)) {
            return Status::failure(err::kOverflow,
                                   "decay correction from " + formatDateTime(p.time) + " to " +
                                       formatDateTime(trend.referenceTime) +
                                       " leaves no usable value; check the count dates");
        }
    }
    return Status::success();
}

// The baseline's mean and spread; a failure when they cannot set limits.
Status setLimits(std::size_t inBaseline, Trend& trend) {
    std::vector<double> base;
    for (const auto& p : trend.points) {
        if (p.baseline) base.push_back(p.value);
    }
    trend.baseline = baselineOf(base);
    if (inBaseline < 2) {
        return Status::failure(err::kNoCurrentRecord,
                               "the baseline holds " + std::to_string(inBaseline) +
                                   " point(s); at least 2 are needed to set the limits");
    }
    if (!(trend.baseline.sd > 0)) {
        return Status::failure(err::kNoCurrentRecord,
                               "the baseline's " + std::to_string(inBaseline) +
                                   " values are all equal: no spread to set the limits from");
    }
    return Status::success();
}

void judgePoints(const RuleSettings& settings, Trend& trend) {
    auto& pts = trend.points;
    std::vector<double> z;
    std::vector<bool> judged;
    for (auto& p : pts) {
        p.z = (p.value - trend.baseline.mean) / trend.baseline.sd;
        z.push_back(p.z);
        judged.push_back(!p.baseline);
    }
    const auto rules = applyRules(z, judged, settings);
    for (std::size_t i = 0; i < pts.size(); ++i) pts[i].rules = rules[i];
}

}  // namespace

Status computeTrend(const TrendQuery& query, const HalfLifeTable& halfLives, Trend& trend) {
    auto& pts = trend.points;
    std::stable_sort(pts.begin(), pts.end(), [](const TrendPoint& a, const TrendPoint& b) {
        return a.time != b.time ? a.time < b.time : a.recordId < b.recordId;
    });
    if (pts.empty()) {
        return Status::failure(err::kNoCurrentRecord,
                               "no record with a readable value and date matches \"" +
                                   query.pattern + "\" in column \"" + query.column + "\"");
    }
    const std::size_t inBaseline = markBaseline(query, pts);
    if (Status st = correctDecay(query, halfLives, trend); !st.ok()) return st;
    if (Status st = setLimits(inBaseline, trend); !st.ok()) return st;
    judgePoints(query.rules, trend);
    return Status::success();
}

Status buildTrend(db::Database& db, const TrendQuery& query, const HalfLifeTable& halfLives,
                  Trend& trend) {
    Status st = readTrendPoints(db, query, trend);
    if (!st.ok()) return st;
    return computeTrend(query, halfLives, trend);
}

std::string pointsCsv(const Trend& trend) {
    std::string out =
        "Record,Date & time,Count time,ID Text,File Name,Stored value,Value,z,Baseline,Rules\r\n";
    for (const auto& p : trend.points) {
        out += std::to_string(p.recordId) + "," + text::csvField(p.dateText) + "," +
               formatDateTime(p.time) + "," + text::csvField(p.idText) + "," +
               text::csvField(p.fileName) + "," + shortNumber(p.stored) + "," +
               shortNumber(p.value) + "," + (trend.limitsSet() ? shortNumber(p.z) : std::string()) +
               "," + (p.baseline ? "yes" : "no") + "," + rulesText(p.rules) + "\r\n";
    }
    return out;
}

}  // namespace krv::qc

namespace krv::qc {

namespace {

std::string listed(const std::vector<SkippedRecord>& records) {
    std::string s;
    const std::size_t shown = std::min<std::size_t>(records.size(), 5);
    for (std::size_t i = 0; i < shown; ++i) {
        s += (i ? ", " : "") + std::string("record ") + std::to_string(records[i].recordId) +
             " \"" + records[i].text + "\"";
    }
    if (records.size() > shown) s += ", ...";
    return s;
}

}  // namespace

std::vector<std::string> describeTrend(const Trend& trend) {
    std::vector<std::string> lines;
    lines.push_back(std::to_string(trend.points.size()) + " point(s) from " +
                    std::to_string(trend.matched) + " matching record(s); baseline " +
                    std::to_string(trend.baseline.count) + " point(s), mean " +
                    shortNumber(trend.baseline.mean) + ", s " + shortNumber(trend.baseline.sd));
    if (trend.corrected && trend.halfLife) {
        lines.push_back("decay-corrected to " + formatDateTime(trend.referenceTime) +
                        " with T1/2 " + trend.halfLife->written + " (" + trend.halfLife->nuclide +
                        ", " + trend.halfLife->source + ")");
    } else {
        lines.push_back("values as stored, not decay-corrected");
    }
    if (trend.withoutValue)
        lines.push_back(std::to_string(trend.withoutValue) + " matching record(s) without a value");
    if (!trend.notNumbers.empty())
        lines.push_back(std::to_string(trend.notNumbers.size()) +
                        " value(s) are no number and were skipped: " + listed(trend.notNumbers));
    if (!trend.unreadableDates.empty())
        lines.push_back(
            std::to_string(trend.unreadableDates.size()) +
            " record(s) with a date that cannot be read: " + listed(trend.unreadableDates));
    lines.insert(lines.end(), trend.notes.begin(), trend.notes.end());
    return lines;
}

}  // namespace krv::qc
