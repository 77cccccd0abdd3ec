#pragma once

// The program as a job script runs it: copied into a folder of its own (where its
// settings files live), started as a separate process with no display.

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "report/tests/report_builder.h"
#include "tests/support/process_run.h"
#include "tests/support/test_folder.h"

namespace krv::testing {

struct JobRun {
    int exitCode = -1;  // -1: crashed, killed or hung
    std::string stdErr;
    JobRun(const ProcessRun& r) : exitCode(r.status), stdErr(r.err) {}
};

// A count's report as the analysis program writes it: 300 s live time, 3.2 % dead time
// and Co-60's two lines, then `more` isotope blocks.
inline std::string cobaltReport(const std::string& id, const Lines& more = {}) {
    Lines lines{"ID: " + id, "File: S7.CNF", "Date: 12-Mar-2026 10:15:00",
                "LT:     300.0 s           DT:  3.2 %", ""};
    append(lines, block("CO-60", {row("  1173.2", "1200", "1100", "12.5"),
                                  row("  1332.5", "1000", "900", "11.5")}));
    append(lines, more);
    return join(lines);
}

// The lines a job script reads: ours start with the program's name in lower case (the
// message boxes a run without display prints carry the title instead).
inline std::vector<std::string> reasonLines(const std::string& stdErr) {
    std::vector<std::string> lines;
    std::istringstream in(stdErr);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("krvarchiver: ", 0) == 0) lines.push_back(line);
    return lines;
}

// What the settings file holds: the database path, then the report path.
inline std::string settingsRecord(std::string db, std::string report) {
    db.resize(72, ' ');
    report.resize(72, ' ');
    return db + report;
}

class JobFolder : public TestFolder {
  public:
    JobFolder() {
        std::filesystem::copy_file(KRV_EXE, *this / "krvarchiver");
        usePaths(file("Results.mdb"), file("RESULTS.TXT"));
    }

    void usePaths(const std::string& db, const std::string& report) {
        database = db;
        reportPath = report;
        writeFile(*this / "ARC&FILE.DAT", settingsRecord(db, report));
    }
    void writeReport(const std::string& text) const { writeFile(reportPath, text); }

    void start(QProcess& p, const QStringList& args) const {
        startJobProcess(p, QString::fromStdString(file("krvarchiver")), args);
    }
    JobRun run(const QStringList& args) const {
        return runJobProcess(QString::fromStdString(file("krvarchiver")), args);
    }

    std::string database, reportPath;
};

}  // namespace krv::testing
