#pragma once

#include <gtest/gtest.h>

#include <QApplication>

/// Runs the tests in a QApplication set up as the program sets itself up on a desktop of
/// `platform` ("xcb", "wayland"): the web engine shares GL contexts, runs unsandboxed as root and
/// renders in software on a display without GPU; closing the last window ends nothing.
inline int RunTestsOnDesktop(int& argc, char** argv, const char* platform)
{
    qputenv("QT_QPA_PLATFORM", platform);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
