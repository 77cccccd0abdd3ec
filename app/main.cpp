#include <QApplication>
#include <QProcess>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

#include "app/job_exit.h"
#include "app/main_window.h"
#include "app/qt_dialogs.h"
#include "app/session.h"
#include "platform/platform.h"
#include "settings/settings_folder.h"

namespace {

class QtLauncher : public krv::ProgramLauncher {
  public:
    bool startDetached(const std::string& program, const std::vector<std::string>& args) override {
        QStringList list;
        for (const auto& a : args) list << QString::fromStdString(a);
        return QProcess::startDetached(QString::fromStdString(program), list);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const std::string commandLine = krv::platform::argumentText(argc, argv);

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
        return krv::finishJob(krv::runCommandJob(job, state, dialogs, *engine));
    }

    if (!krv::platform::displayAvailable() && !std::getenv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "krvarchiver: no display to show the window on; for unattended work give "
                     "a command word: APPEND, NET, GROSS, BKG or RESET\n");
        return krv::kUsageExitStatus;
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
    krv::MainWindow window(state, files, *engine, dialogs, launcher);
    window.show();
    return app.exec();
}
