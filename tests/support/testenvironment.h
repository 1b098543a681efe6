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
        // No test reaches the real web archive: a test that wants one starts a stand-in; every
        // other one, and every program it starts, finds a closed local port.
        qputenv("CLIPVAULT_ARCHIVE_URL", "http://127.0.0.1:9");
        // Test programs live apart from the program: they find the player's files by name.
        qputenv("CLIPVAULT_SHARE_DIR", CLIPVAULT_BUILD_SHARE_DIR);
    }

    /// The build asks only for the names of the tests (ctest's discovery): no application, no
    /// display is needed for that.
    static bool listingOnly() { return ::testing::GTEST_FLAG(list_tests); }

private:
    QTemporaryDir m_home;
};
