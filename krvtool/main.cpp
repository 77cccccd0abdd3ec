#include <QCoreApplication>
#include <iostream>

#include "krvtool/tool.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    krv::tool::Io io{std::cout, std::cerr, krv::platform::stderrIsTerminal()};
    const int status = krv::tool::runTool(args, io);
    std::cout.flush();
    return status;
}
