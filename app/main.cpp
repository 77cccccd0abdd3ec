#include <QApplication>
#include <QProcess>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "app/session.h"
#include "app/settings_folder.h"
#include "platform/platform.h"

namespace {

class QtLauncher : public krv::ProgramLauncher {
  public:
    bool startDetached(const std::string& program, const std::vector<std::string>& args) override {
        QStringList list;
        for (const auto& a : args) list << QString::fromStdString(a);
        return QProcess::startDetached(QString::fromStdString(program), list);
    }
};

// A job script reads standard error line by line; a name may hold a line break.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) commandLine += (i > 1 ? " " : "") + std::string(argv[i]);

    krv::WindowState state;
    const krv::SettingsLocation settings = krv::locateSettings(krv::platform::programFolder());
    const krv::SettingsFiles& files = settings.files;
    krv::startUp(state, files);
    const auto engine = krv::db::makeEngine();

    const krv::CommandJob job = krv::parseCommandWords(commandLine);
    if (job.kind != krv::CommandJob::None) {
        // Said on standard error only: a job must never wait on a box nobody answers.
        if (!settings.problem.empty())
            std::fprintf(stderr, "krvarchiver: %s\n", settings.problem.c_str());
        krv::JobDialogs dialogs(argc, argv);
        const krv::JobOutcome outcome = krv::runCommandJob(job, state, dialogs, *engine);
        // Exit status: 0 saved whole, 1 nothing saved, 3 saved with values missing (one
        // line each on standard error), 2 a usage error.
        if (!outcome.ok) {
            std::fprintf(stderr, "krvarchiver: %s\n", oneLine(outcome.reason).c_str());
            return 1;
        }
        for (const krv::MissingValue& m : outcome.missing)
            std::fprintf(stderr, "krvarchiver: not stored: %s: %s\n", oneLine(m.what).c_str(),
                         oneLine(m.reason).c_str());
        return outcome.missing.empty() ? 0 : 3;
    }

    if (!krv::platform::displayAvailable() && !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "krvarchiver: no display to show the window on; for unattended work give "
                     "a command word: APPEND, NET, GROSS, BKG or RESET\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setApplicationName(QString::fromLatin1(krv::kAppTitle));
    // The viewer belongs to the main window yet may outlive it on screen; the main
    // window decides when the program ends.
    QApplication::setQuitOnLastWindowClosed(false);
    QtLauncher launcher;
    krv::QtDialogs dialogs;
    if (!settings.problem.empty()) dialogs.message(settings.problem, krv::kAppTitle);
    krv::ParseIt window(state, files, *engine, dialogs, launcher);
    window.show();
    return app.exec();
}
