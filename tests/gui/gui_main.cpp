#include "testenvironment.h"

#include <QApplication>

int main(int argc, char** argv)
{
    TestEnvironment environment(argc, argv);
    if (TestEnvironment::listingOnly())
        return RUN_ALL_TESTS();
    // Widgets are drawn off screen: these tests need no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
