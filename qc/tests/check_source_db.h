#pragma once

// Results databases made the program's own way (reset, then one append per count), for
// the trend's tests: the values and dates land in the table exactly as a lab's do.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "results_db/archive.h"
#include "tests/support/recording_dialogs.h"

namespace krv::testing {

struct CheckCount {
    std::string id;    // "ID Text"
    std::string date;  // "Date & time" as the report writes it
    float co60 = 0;    // activity of both Co-60 lines
    float cs137 = 0;
};

// Appends each count as one record: columns CO-60@LINE1, CO-60@LINE2 and CS-137.
inline void appendCounts(db::Engine& engine, const std::string& path,
                         const std::vector<CheckCount>& counts) {
    WindowState state;
    RecordingDialogs dialogs;
    state.apathText = path;
    for (const CheckCount& c : counts) {
        AnalysisReport& r = state.report;
        r.beginRead();
        r.idText.assign(c.id);
        r.fileName.assign("CHK0001.CNF");
        r.dateAndTime.assign(c.date);
        r.sampleDate.assign("Measurement Date");
        r.countingTime = 600;
        r.deadTimePct = 1.5f;
        r.addIsotope("CO-60");
        r.addLine({1173.2f, c.co60, c.co60 * 10, c.co60 * 11});
        r.addLine({1332.5f, c.co60, c.co60 * 9, c.co60 * 10});
        r.addIsotope("CS-137");
        r.addLine({661.66f, c.cs137, c.cs137 * 10, c.cs137 * 12});
        ASSERT_TRUE(appendIt(state, dialogs, engine, '.').ok);
    }
    ASSERT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;
}

// "5/14/02  09:31:05" for day `d` after 2002-05-01 (month first, as the report writer).
inline std::string reportDate(int d) {
    using namespace std::chrono;
    const year_month_day date{sys_days{year{2002} / May / 1} + days{d}};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u/%u/02  09:%02d:05", unsigned{date.month()},
                  unsigned{date.day()}, d % 60);
    return buf;
}

// The Co-60 check source's activity on day `d`: 1000 on day 0, decaying at its true rate.
inline double checkSourceActivity(int d) {
    return 1000 * std::exp(-std::log(2.0) * d / (5.2711 * 365.24219));
}

// 60 daily counts of the check source, scattered under 1 % in a repeating pattern, with a
// blank on each day `d` where d % blankEvery == blankAt.
inline std::vector<CheckCount> dailyCounts(int blankEvery, int blankAt) {
    const double scatter[] = {0.004, -0.003, 0.002, -0.005, 0.001, -0.002, 0.003, -0.001};
    std::vector<CheckCount> counts;
    for (int d = 0; d < 60; ++d) {
        counts.push_back({"CHECK CO-60", reportDate(d),
                          static_cast<float>(checkSourceActivity(d) * (1 + scatter[d % 8])), 50});
        if (d % blankEvery == blankAt) counts.push_back({"BLANK", reportDate(d), 1, 1});
    }
    return counts;
}

}  // namespace krv::testing
