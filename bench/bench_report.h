#pragma once

// The report every append benchmark appends: 100 isotopes of one line each, in net-counts
// mode, so one column per isotope.

#include <cstdio>
#include <string>

#include "results_db/archive.h"

namespace krv::bench {

class SilentDialogs : public Dialogs {
  public:
    void message(const std::string&, const std::string&) override {}
    bool askYesNo(const std::string&, const std::string&) override { return true; }
};

constexpr int kIsotopes = 100;

inline void fillReport(AnalysisReport& r) {
    r.beginRead();
    r.idText.assign("Bench sample");
    r.fileName.assign("BENCH.CNF");
    r.dateAndTime.assign("14-May-02 10:00:00");
    r.sampleDate.assign("13-May-02 12:00:00");
    r.countingTime = 3600;
    r.deadTimePct = 1.5f;
    for (int i = 1; i <= kIsotopes; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "X-%03d", i);
        r.addIsotope(name);
        r.addLine({100.0f + static_cast<float>(i), 1.5f, 1000.0f + static_cast<float>(i), 1200.0f});
    }
}

// The window state of a net-counts append of the benchmark report into `path`.
inline WindowState netAppendOf(const std::string& path) {
    WindowState state;
    state.apathText = path;
    state.appendMode = 1;
    fillReport(state.report);
    return state;
}

}  // namespace krv::bench
