#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStandardPaths>
#include <QFile>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Keep every test away from the real home: standard locations point into a test folder.
    QStandardPaths::setTestModeEnabled(true);
    // Downloads and category folders go below $HOME: keep them in a folder of the test run.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
