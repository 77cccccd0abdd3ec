#pragma once

// The one QApplication a widget test binary needs, made on first use.

#include <QApplication>

namespace krv::testing {

inline void ensureWidgetsApp() {
    static int argc = 1;
    static char name[] = "krv_widget_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
}

}  // namespace krv::testing
