#pragma once

// One QApplication per test process, created on first use (tests run with
// QT_QPA_PLATFORM=offscreen).

#include <QApplication>

namespace vark::test {

inline QApplication& EnsureQApplication() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return *app;
    static int argc = 1;
    static char name[] = "vark-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace vark::test
