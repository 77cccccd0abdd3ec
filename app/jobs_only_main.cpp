// krvarchiver.exe for the Windows PC beside the detector, built without the window
// toolkit: it runs the unattended jobs of the command words, which is all the lab's job
// script asks of it after each count. Messages wait in the system's own message boxes.

#include "app/job_exit.h"
#include "app/session.h"
#include "platform/message_box_dialogs.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    krv::WindowState state;
    const krv::SettingsFiles files = krv::SettingsFiles::in(krv::platform::programFolder());
    krv::startUp(state, files);

    krv::MessageBoxDialogs dialogs;
    const krv::CommandJob job = krv::parseCommandWords(krv::platform::argumentText(argc, argv));
    if (job.kind == krv::CommandJob::None) {
        dialogs.message(
            "This krvarchiver.exe runs the unattended jobs only: start it with a command word "
            "(APPEND, NET, GROSS, BKG or RESET). The main window and the results viewer need "
            "the full build with Qt.",
            krv::kAppTitle);
        return krv::kUsageExitStatus;
    }
    const auto engine = krv::db::makeEngine();
    return krv::finishJob(krv::runCommandJob(job, state, dialogs, *engine));
}
