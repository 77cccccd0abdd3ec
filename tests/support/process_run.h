#pragma once

// Another program started as a job script starts it: no display, nothing on standard
// input, waited for with a bound. Every whole-program test runs its processes this way.

#include <QProcess>
#include <QProcessEnvironment>
#include <string>
#include <utility>
#include <vector>

namespace krv::testing {

struct ProcessRun {
    int status = -1;  // -1: crashed, killed or hung
    std::string out, err;
};

struct ProcessSetup {
    std::vector<std::pair<QString, QString>> environment;  // set after the display is removed
    std::vector<QString> unset;                            // removed besides the display
    QString standardOutputFile;                            // instead of capturing it
};

// Prepares `p` to start `program`; the caller starts it when it must watch it run.
inline void startJobProcess(QProcess& p, const QString& program, const QStringList& args,
                            const ProcessSetup& setup = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(v));
    for (const QString& v : setup.unset) env.remove(v);
    for (const auto& [name, value] : setup.environment) env.insert(name, value);
    p.setProcessEnvironment(env);
    if (!setup.standardOutputFile.isEmpty()) p.setStandardOutputFile(setup.standardOutputFile);
    p.start(program, args);
    p.closeWriteChannel();
}

inline ProcessRun runJobProcess(const QString& program, const QStringList& args,
                                const ProcessSetup& setup = {}) {
    QProcess p;
    startJobProcess(p, program, args, setup);
    if (!p.waitForFinished(120000)) p.kill();
    p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

}  // namespace krv::testing
