#pragma once

// main() of a benchmark that draws windows: offscreen unless told otherwise, the Fusion
// style so figures compare between machines.

#include <benchmark/benchmark.h>

#include <QApplication>

namespace krv::bench {

inline int runOffscreen(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace krv::bench
