#pragma once

// The table the export benchmarks run on: 100,000 records of 250 columns, its values a
// pure function of record and column, so the bare spreadsheet program writes exactly
// the cells the export writes without reading any store.

#include <cstdio>
#include <string>

namespace krv::bench {

constexpr int kExportRecords = 100000;
constexpr int kExportColumns = 250;
constexpr int kFixedColumns = 7;

// Dense: every isotope cell holds a value. Sparse: about one in twenty, as real tables,
// where most isotopes are absent from most reports.
inline bool hasValue(int record, int column, bool sparse) {
    return !sparse || (record * 7 + column * 13) % 20 == 0;
}

// An isotope value as the archive stores it: general number format, some with an
// exponent, some with the decimal comma of a German-set machine.
inline std::string isotopeText(int record, int column) {
    const int k = (record * 31 + column * 17) % 100000;
    char buf[16];
    if (k % 5 == 0)
        std::snprintf(buf, sizeof buf, "%d.%02dE-03", k % 10, k % 100);
    else if (k % 5 == 1)
        std::snprintf(buf, sizeof buf, "%d,%d", k / 100, k % 100);
    else
        std::snprintf(buf, sizeof buf, "%d.%d", k / 100, k % 100);
    return buf;
}

inline double isotopeNumber(int record, int column) {
    std::string t = isotopeText(record, column);
    for (char& c : t)
        if (c == ',') c = '.';
    return std::strtod(t.c_str(), nullptr);
}

inline std::string columnName(int column) { return "I" + std::to_string(column) + "@LINE1"; }

inline std::string idText(int record) { return "SOIL CORE B-" + std::to_string(record); }

}  // namespace krv::bench
