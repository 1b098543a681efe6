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
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
