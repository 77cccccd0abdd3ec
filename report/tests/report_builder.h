#pragma once

// Builds report text with every value at the character position the analysis program
// writes it to, so a test reads like the report it stands for.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace krv::testing {

using Lines = std::vector<std::string>;

// A line with each text starting at its 1-based column (columns in increasing order).
inline std::string cols(std::initializer_list<std::pair<int, std::string_view>> items) {
    std::string s;
    for (const auto& [column, text] : items) (s.resize(column - 1, ' '), s += text);
    return s;
}

inline std::string join(const Lines& lines, std::string_view eol = "\r\n") {
    std::string s;
    for (const auto& l : lines) (s += l) += eol;
    return s;
}

inline void append(Lines& to, const Lines& more) { to.insert(to.end(), more.begin(), more.end()); }

using Field = std::string_view;

// First layout: gross at 29, net at 47, activity under the heading's "Activity" (61). The
// filler columns beside the values catch a cut that reaches too far.
inline const std::string kHeading =
    cols({{1, "Energy"}, {29, "Gross Counts"}, {47, "Net Counts"}, {61, "Activity"}});
inline const std::string kUnits = cols({{3, "keV"}, {29, "(counts)"}, {47, "(counts)"}});
// row(energy, gross, net, activity); row2 likewise for the second layout.
inline std::string row(Field e, Field g, Field n, Field a) {
    return cols({{1, e}, {11, "99.85  2.10E-03"}, {29, g}, {47, n}, {61, a}, {74, "5.2"}});
}

// Second layout, chosen by "Corr. Coeff." on an isotope line: gross at 24, net at 42.
inline const std::string kHeading2 =
    cols({{1, "Energy"}, {12, "Corr."}, {24, "Gross"}, {42, "Net"}, {55, "Activity"}});
inline std::string row2(Field e, Field g, Field n, Field a) {
    return cols({{1, e}, {12, "0.982"}, {24, g}, {42, n}, {55, a}});
}

inline std::string isotopeLine(std::string_view name, bool corrCoeff = false) {
    return cols({{1, name}, {12, "Activity = 12.3 Bq/kg"}}) + (corrCoeff ? " Corr. Coeff." : "");
}

// One isotope block, closed by its empty line.
inline Lines block(std::string_view name, const Lines& rows, bool second = false) {
    Lines b{isotopeLine(name, second), second ? kHeading2 : kHeading, kUnits};
    append(b, rows);
    b.push_back("");
    return b;
}

}  // namespace krv::testing
