#include <QApplication>
#include <iostream>
#include <memory>

#include "krvtool/tool.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // Charts need the widget toolkit; without a display it draws offscreen.
    bool widgets = false;
    for (const auto& s : krv::tool::subcommands()) {
        widgets |= argc > 1 && s.needsWidgets && s.name == argv[1];
    }
    if (widgets && !krv::platform::displayAvailable()) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (widgets) {
        // The toolkit's notes about drawing offscreen (no runtime folder, no window
        // manager) would read as failures in a job's log; its errors still show.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& m) {
            if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << m.toStdString() << "\n";
        });
    }
    std::unique_ptr<QCoreApplication> app;
    if (widgets)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    krv::tool::Io io{std::cout, std::cerr, krv::platform::stderrIsTerminal()};
    const int status = krv::tool::runTool(args, io);
    std::cout.flush();
    return status;
}
