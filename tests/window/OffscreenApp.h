// tests/window/OffscreenApp.h — the one QApplication of the window tests, on
// Qt's offscreen platform unless QT_QPA_PLATFORM names another.
#pragma once

#include <QApplication>
#include <cstdlib>

namespace tw::test {

/// Creates the application object on first use (main thread); later calls
/// return the same one.
inline QApplication* OffscreenApp() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "tw_window_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
    return static_cast<QApplication*>(QApplication::instance());
}

}  // namespace tw::test
