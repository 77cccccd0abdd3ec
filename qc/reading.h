#pragma once

// Reading what the archive stores as text: values, count dates, record filters. Every
// reader says "no" rather than guess, so a chart never shows a point at an invented place.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krv::qc {

// A number as the archive may hold it: "1234.5", "1234,5", "1.2345E+03", blanks around.
// Thousands separators, text after the number, infinities and NaN are not numbers.
std::optional<double> readValue(std::string_view text);

// How numeric dates are read: the report writer puts the month first; two-digit years
// below the pivot are 20yy, the others 19yy.
struct DateSettings {
    bool dayFirst = false;
    int twoDigitYearPivot = 30;
};

// Seconds since 1970-01-01 00:00:00 of the wall-clock time written, taken as UTC so no
// daylight-saving change ever moves a point. Reads "5/14/02  09:31:05",
// "05-Dec-2026 10:15:22", "Dec 5, 2026 10:15", "2026-12-05T10:15:22", "14.05.2002 9:31",
// with or without seconds, AM/PM, or a time at all. Anything else is unreadable.
std::optional<std::int64_t> readDateTime(std::string_view text, const DateSettings& settings);

// Seconds since 1970 of midnight starting the given day (proleptic Gregorian, UTC).
std::int64_t secondsOfDate(int year, int month, int day);

// "2026-12-05 10:15:22".
std::string formatDateTime(std::int64_t seconds);

// A value or statistic as the summaries and the points file show it: six significant
// digits, "%g" style.
std::string shortNumber(double v);

// A record filter: * any run of characters, ? any one; letter case ignored, the blanks a
// fixed-width field pads with ignored.
class RecordFilter {
  public:
    explicit RecordFilter(std::string_view pattern);
    bool matches(std::string_view text);

  private:
    std::string pattern_, text_;  // upper case; text_ reused from record to record
};

inline bool matchesWildcard(std::string_view text, std::string_view pattern) {
    return RecordFilter(pattern).matches(text);
}

// Leading and trailing blanks (spaces, tabs, line ends) removed.
std::string_view trimmed(std::string_view s);

}  // namespace krv::qc
