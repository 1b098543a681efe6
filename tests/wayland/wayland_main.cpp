#include "testenvironment.h"

#include <QApplication>

int main(int argc, char** argv)
{
    TestEnvironment environment(argc, argv);
    if (TestEnvironment::listingOnly())
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("wayland tests need a compositor (run them through ctest, which starts "
                   "Weston)\n",
                   stderr);
        return 1;
    }
    // As the program does on a Wayland desktop.
    qputenv("QT_QPA_PLATFORM", "wayland");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
