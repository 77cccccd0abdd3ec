#pragma once

// Builds report text with every value at the character position the analysis program
// writes it to, so a test reads like the report it stands for.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "report/analysis_report.h"
#include "report/parser.h"

namespace krv::testing {

using Lines = std::vector<std::string>;

// A line with each text starting at its 1-based column (columns in increasing order).
inline std::string cols(std::initializer_list<std::pair<int, std::string_view>> items) {
    std::string s;
    for (const auto& [column, text] : items) {
        s.resize(static_cast<std::size_t>(column - 1), ' ');
        s += text;
    }
    return s;
}

inline std::string join(const Lines& lines, std::string_view eol = "\r\n") {
    std::string s;
    for (const auto& l : lines) (s += l) += eol;
    return s;
}

inline void append(Lines& to, const Lines& more) { to.insert(to.end(), more.begin(), more.end()); }

// First layout: gross at 29, net at 47, activity under the heading's "Activity".
inline constexpr int kActivityCol = 61;
inline std::string heading(int activityCol = kActivityCol) {
    return cols({{1, "Energy"},
                 {10, "Yield(%)"},
                 {19, "Eff."},
                 {29, "Gross Counts"},
                 {47, "Net Counts"},
                 {activityCol, "Activity"}});
}
inline const std::string kUnits = cols({{3, "keV"}, {29, "(counts)"}, {47, "(counts)"}});
inline std::string row(std::string_view energy, std::string_view gross, std::string_view net,
                       std::string_view activity, int activityCol = kActivityCol) {
    return cols({{1, energy},
                 {11, "99.85"},
                 {18, "2.10E-03"},
                 {29, gross},
                 {47, net},
                 {activityCol, activity},
                 {74, "5.2"}});
}

// Second layout, announced by "Corr. Coeff." on the isotope line: gross at 24, net at 42.
inline constexpr int kActivityCol2 = 55;
inline std::string heading2() {
    return cols(
        {{1, "Energy"}, {12, "Corr."}, {24, "Gross"}, {42, "Net"}, {kActivityCol2, "Activity"}});
}
inline std::string row2(std::string_view energy, std::string_view gross, std::string_view net,
                        std::string_view activity) {
    return cols({{1, energy}, {12, "0.982"}, {24, gross}, {42, net}, {kActivityCol2, activity}});
}

inline std::string isotopeLine(std::string_view name, bool corrCoeff = false) {
    std::string s = cols({{1, name}, {12, "Activity =  1.234E+01 Bq/kg"}});
    if (corrCoeff) s += "   Corr. Coeff. 0.982";
    return s;
}

// One isotope block of the first layout, closed by its empty line.
inline Lines block(std::string_view name, const Lines& rows) {
    Lines b{isotopeLine(name), heading(), kUnits};
    append(b, rows);
    b.push_back("");
    return b;
}

inline AnalysisReport readText(std::string_view text) {
    AnalysisReport r;
    r.beginRead();
    parseReportText(text, r);
    return r;
}

inline std::string padded(std::string_view s, std::size_t width) {
    std::string p(s.substr(0, width));
    p.resize(width, ' ');
    return p;
}

}  // namespace krv::testing
