#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStandardPaths>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Keep every test away from the real home: standard locations point into a test folder.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
