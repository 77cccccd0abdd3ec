#pragma once

// The program as a job script runs it: copied into a folder of its own (where its
// settings files live), started as a separate process with no display.

#include <filesystem>
#include <string>

#include "tests/support/process_run.h"
#include "tests/support/test_folder.h"

namespace krv::testing {

struct JobRun {
    int exitCode = -1;  // -1: crashed, killed or hung
    std::string stdErr;
    JobRun() = default;
    JobRun(int code, std::string err) : exitCode(code), stdErr(std::move(err)) {}
    JobRun(const ProcessRun& r) : exitCode(r.status), stdErr(r.err) {}
};

class JobFolder : public TestFolder {
  public:
    JobFolder() {
        std::filesystem::copy_file(KRV_EXE, *this / "krvarchiver");
        usePaths(file("Results.mdb"), file("RESULTS.TXT"));
    }

    // What the settings file holds: the database path, then the report path.
    void usePaths(const std::string& db, const std::string& report) {
        database = db;
        reportPath = report;
        std::string record = db, second = report;
        record.resize(72, ' ');
        second.resize(72, ' ');
        writeFile(*this / "ARC&FILE.DAT", record + second);
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
