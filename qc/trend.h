#pragma once

// The trend of one isotope-line column over the records a filter picks: values read from
// the stored texts, put in count-date order, decay-corrected, judged against a baseline.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "qc/half_life.h"
#include "qc/reading.h"
#include "qc/westgard.h"
#include "results_db/schema.h"
#include "results_db/store.h"

namespace krv::qc {

enum class MatchOn { IdText, FileName };
enum class Correction { Auto, On, Off };  // Auto: on for activities, off for counts

struct TrendQuery {
    std::string column;
    std::string pattern = "*";
    MatchOn matchOn = MatchOn::IdText;
    // The baseline: the first `baselineCount` points, or when a range is given, the points
    // counted within it (both ends included).
    std::size_t baselineCount = 20;
    std::optional<std::int64_t> baselineFrom, baselineTo;
    Correction correction = Correction::Auto;
    std::optional<std::int64_t> referenceTime;  // default: the first baseline point
    DateSettings dates;
    RuleSettings rules;
};

struct TrendPoint {
    std::int64_t recordId = 0;
    std::int64_t time = 0;
    std::string idText, fileName, dateText;
    double stored = 0;  // as read from the record
    double value = 0;   // decay-corrected when correction is on
    double z = 0;
    bool baseline = false;
    std::vector<Rule> rules;
};

// A matching record that gives no point, with the text that could not be read.
struct SkippedRecord {
    std::int64_t recordId = 0;
    std::string idText;
    std::string text;
};

struct Trend {
    std::vector<TrendPoint> points;  // in count-date order
    Baseline baseline;
    std::size_t matched = 0;       // records the filter picked
    std::size_t withoutValue = 0;  // matched records with the column empty
    std::vector<SkippedRecord> notNumbers, unreadableDates;
    bool corrected = false;
    std::string nuclide;
    std::optional<HalfLife> halfLife;
    std::int64_t referenceTime = 0;
    std::vector<std::string> notes;  // what the reader of the chart must know

    bool limitsSet() const { return baseline.sd > 0; }
    std::size_t judgedCount() const;
};

// Reads the matching records (points unsorted, nothing computed). Fails when the table or
// the column does not exist or the store cannot be read.
Status readTrendPoints(db::Database& db, const TrendQuery& query, Trend& out);

// Orders, corrects and judges the points read. Fails, with a message for the user, when
// there is no point, the baseline has fewer than two points or no spread; the points are
// then still in order and corrected, without limits or rules.
Status computeTrend(const TrendQuery& query, const HalfLifeTable& halfLives, Trend& trend);

// Both of the above.
Status buildTrend(db::Database& db, const TrendQuery& query, const HalfLifeTable& halfLives,
                  Trend& trend);

// The points with their flags, one line each, for a spreadsheet.
std::string pointsCsv(const Trend& trend);

// Whether a column holds counts (NET, GROSS, BKG lines) rather than activities.
bool isCountsColumn(const std::string& column);

}  // namespace krv::qc

namespace krv::qc {

// Lines a reader of the chart must see beside it: the correction applied or not, the
// records that gave no point and why, the notes of the computation.
std::vector<std::string> describeTrend(const Trend& trend);

}  // namespace krv::qc
