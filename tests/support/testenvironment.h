#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

/// What every test process sets up before its application object: GoogleTest's flags, and the
/// standard locations and $HOME in folders of the run, so that no test touches the real home
/// (downloads and category folders go below $HOME).
class TestEnvironment
{
public:
    TestEnvironment(int& argc, char** argv)
    {
        ::testing::InitGoogleTest(&argc, argv);
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", QFile::encodeName(m_home.path()));
        // Test programs live apart from the program: they find the player's files by name.
        qputenv("CLIPVAULT_SHARE_DIR", CLIPVAULT_BUILD_SHARE_DIR);
    }

    /// The build asks only for the names of the tests (ctest's discovery): no application, no
    /// display is needed for that.
    static bool listingOnly() { return ::testing::GTEST_FLAG(list_tests); }

private:
    QTemporaryDir m_home;
};
