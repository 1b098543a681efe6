#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    // Downloads and category folders go below $HOME: keep them in a folder of the test run.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("e2e tests need an X display (run them through ctest, which starts Xvfb)");
        ::testing::GTEST_FLAG(filter) = "-*";
        return RUN_ALL_TESTS();
    }
    // As the program does: the web engine shares GL contexts, runs unsandboxed as root, and
    // renders in software on a display without GPU.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
