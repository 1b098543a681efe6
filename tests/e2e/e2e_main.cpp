#include "testenvironment.h"

#include <QApplication>

int main(int argc, char** argv)
{
    TestEnvironment environment(argc, argv);
    if (TestEnvironment::listingOnly())
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fputs("e2e tests need an X display (run them through ctest, which starts Xvfb)\n",
                   stderr);
        return 1;
    }
    // As the program does: the web engine shares GL contexts, runs unsandboxed as root, and
    // renders in software on a display without GPU.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
