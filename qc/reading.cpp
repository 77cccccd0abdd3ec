#include "qc/reading.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/platform.h"
#include "report/text.h"

namespace krv::qc {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The calendar date, proleptic Gregorian; years are kept within what the reader makes.
std::chrono::year_month_day civil(int y, int m, int d) {
    return std::chrono::year{y} / std::chrono::month{static_cast<unsigned>(m)} /
           std::chrono::day{static_cast<unsigned>(d)};
}

// Days from 1970-01-01 to the given civil date.
std::int64_t daysFromCivil(int y, int m, int d) {
    return std::chrono::sys_days(civil(y, m, d)).time_since_epoch().count();
}

struct Token {
    enum Kind { Number, Word, Colon, Dot, Separator } kind;
    std::string text;  // digits or upper-case letters
};

std::vector<Token> tokenize(std::string_view s) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (isDigit(c) || isLetter(c)) {
            const bool digits = isDigit(c);
            std::string run;
            while (i < s.size() && (digits ? isDigit(s[i]) : isLetter(s[i]))) run += upper(s[i++]);
            out.push_back({digits ? Token::Number : Token::Word, run});
            continue;
        }
        if (c == ':')
            out.push_back({Token::Colon, {}});
        else if (c == '.')
            out.push_back({Token::Dot, {}});
        else if (c != ' ' && c != '\t' && c != '/' && c != '-' && c != ',')
            return {};
        else if (!isBlank(c))
            out.push_back({Token::Separator, {}});
        ++i;
    }
    return out;
}

std::optional<int> smallNumber(const Token& t, std::size_t maxDigits) {
    if (t.kind != Token::Number || t.text.empty() || t.text.size() > maxDigits) return {};
    return std::stoi(t.text);
}

int monthFromWord(const std::string& w) {
    static constexpr std::array<const char*, 12> names = {
        "JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
        "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
    for (int m = 0; m < 12; ++m) {
        const std::string_view full = names[static_cast<std::size_t>(m)];
        if (w == full || (w.size() == 3 && full.substr(0, 3) == w) || (m == 8 && w == "SEPT"))
            return m + 1;
    }
    return 0;
}

struct Clock {
    int hour = 0, minute = 0, second = 0;
};

// Takes the time of day (h:mm[:ss[.fff]] [AM|PM]) out of the tokens; false when a time is
// there but malformed.
bool takeTime(std::vector<Token>& t, Clock& clock) {
    for (std::size_t i = 0; i + 2 < t.size(); ++i) {
        if (t[i].kind != Token::Number || t[i + 1].kind != Token::Colon) continue;
        auto h = smallNumber(t[i], 2), m = smallNumber(t[i + 2], 2);
        if (!h || !m || t[i + 2].text.size() != 2) return false;
        std::size_t end = i + 3;
        int s = 0;
        if (end + 1 < t.size() && t[end].kind == Token::Colon) {
            auto sec = smallNumber(t[end + 1], 2);
            if (!sec || t[end + 1].text.size() != 2) return false;
            s = *sec;
            end += 2;
            // Fractions of a second do not move a daily point.
            if (end + 1 < t.size() && t[end].kind == Token::Dot && t[end + 1].kind == Token::Number)
                end += 2;
        }
        int hour = *h;
        if (end < t.size() && t[end].kind == Token::Word &&
            (t[end].text == "AM" || t[end].text == "PM")) {
            if (hour < 1 || hour > 12) return false;
            hour = hour % 12 + (t[end].text == "PM" ? 12 : 0);
            ++end;
        }
        if (hour > 23 || *m > 59 || s > 59) return false;
        clock = {hour, *m, s};
        t.erase(t.begin() + static_cast<std::ptrdiff_t>(i),
                t.begin() + static_cast<std::ptrdiff_t>(end));
        return true;
    }
    return true;
}

int fullYear(const Token& t, const DateSettings& settings) {
    if (t.text.size() == 4) return std::stoi(t.text);
    if (t.text.size() == 2) {
        const int yy = std::stoi(t.text);
        return yy < settings.twoDigitYearPivot ? 2000 + yy : 1900 + yy;
    }
    return -1;
}

}  // namespace

std::string_view trimmed(std::string_view s) { return text::trim(s, " \t\r\n"); }

std::optional<double> readValue(std::string_view text) {
    return text::readStoredNumber(trimmed(text));
}

std::optional<std::int64_t> readDateTime(std::string_view text, const DateSettings& settings) {
    std::vector<Token> t = tokenize(trimmed(text));
    if (t.empty()) return {};
    Clock clock;
    if (!takeTime(t, clock)) return {};
    // What is left is the date: three items, blanks and the separators / - . , between.
    std::vector<Token> items;
    for (const Token& k : t) {
        if (k.kind == Token::Number)
            items.push_back(k);
        else if (k.kind == Token::Word && k.text != "T" && k.text != "Z" && k.text != "UTC")
            items.push_back(k);
        else if (k.kind == Token::Colon)
            return {};
    }
    if (items.size() != 3) return {};
    int year = -1, month = 0, day = 0;
    std::size_t words = 0, wordAt = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (items[i].kind == Token::Word) ++words, wordAt = i;
    }
    if (words == 1) {
        month = monthFromWord(items[wordAt].text);
        std::vector<Token> nums;
        for (std::size_t i = 0; i < 3; ++i) {
            if (i != wordAt) nums.push_back(items[i]);
        }
        // "2026 Dec 05" puts the year first; otherwise the day comes before the year.
        const bool yearFirst = nums[0].text.size() == 4 && nums[1].text.size() <= 2;
        const Token& d = yearFirst ? nums[1] : nums[0];
        const Token& y = yearFirst ? nums[0] : nums[1];
        if (d.text.size() > 2) return {};
        day = std::stoi(d.text);
        year = fullYear(y, settings);
    } else if (words == 0) {
        if (items[0].text.size() == 4) {
            if (items[1].text.size() > 2 || items[2].text.size() > 2) return {};
            year = std::stoi(items[0].text);
            month = std::stoi(items[1].text);
            day = std::stoi(items[2].text);
        } else {
            if (items[0].text.size() > 2 || items[1].text.size() > 2) return {};
            const int a = std::stoi(items[0].text), b = std::stoi(items[1].text);
            month = settings.dayFirst ? b : a;
            day = settings.dayFirst ? a : b;
            year = fullYear(items[2], settings);
        }
    } else {
        return {};
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || !civil(year, month, day).ok())
        return {};
    const std::int64_t days = daysFromCivil(year, month, day);
    return days * 86400 + clock.hour * 3600 + clock.minute * 60 + clock.second;
}

std::int64_t secondsOfDate(int year, int month, int day) {
    return daysFromCivil(year, month, day) * 86400;
}

std::string shortNumber(double v) { return text::roundedNumberText(v, 6); }

std::string formatDateTime(std::int64_t seconds) {
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return buf;
}

namespace {

void assignUpper(std::string& to, std::string_view from) {
    from = trimmed(from);
    to.assign(from.begin(), from.end());
    for (char& c : to) c = upper(c);
}

}  // namespace

RecordFilter::RecordFilter(std::string_view pattern) { assignUpper(pattern_, pattern); }

bool RecordFilter::matches(std::string_view text) {
    assignUpper(text_, text);
    return platform::wildcardMatch(pattern_, text_);
}

}  // namespace krv::qc
