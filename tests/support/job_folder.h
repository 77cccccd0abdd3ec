#pragma once

// The program as a job script runs it: copied into a folder of its own (where its
// settings files live), started as a separate process with no display.

#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <string>

#include "tests/support/test_folder.h"

namespace krv::testing {

struct JobRun {
    int exitCode = -1;  // -1: crashed, killed or hung
    std::string stdErr;
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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(v));
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString(file("krvarchiver")), args);
        p.closeWriteChannel();
    }
    JobRun run(const QStringList& args) const {
        QProcess p;
        start(p, args);
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                p.readAllStandardError().toStdString()};
    }

    std::string database, reportPath;
};

}  // namespace krv::testing
