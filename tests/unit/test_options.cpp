#include "options.h"

#include "datafolder.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace {

QByteArray bytesOf(const OptionsRecord& options)
{
    return QByteArray(reinterpret_cast<const char*>(&options), sizeof options);
}

class OptionsTest : public ::testing::Test
{
protected:
    QTemporaryDir folder;
    QString path = OptionsFilePath(folder.path());
    OptionsRecord options{};
};

} // namespace

TEST_F(OptionsTest, WithoutAFileTheDefaultsApplyAndNothingIsWritten)
{
    EXPECT_EQ(LoadOptions(path, options), OptionsLoad::Missing);
    EXPECT_EQ(bytesOf(options), QByteArray("\0\0\1\1\0\0\0\1\1\1\1", 11));
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(OptionsTest, TheFileIsAnExactImageOfTheRecord)
{
    options = DefaultOptions();
    options.reserved = 0x5a;
    options.StartMinimized = 1;
    options.XPStyle = 0;
    ASSERT_TRUE(SaveOptions(path, options));
    EXPECT_EQ(readFile(path), QByteArray("\x5a\1\1\1\0\0\0\0\1\1\1", 11));

    OptionsRecord loaded{};
    EXPECT_EQ(LoadOptions(path, loaded), OptionsLoad::Loaded);
    EXPECT_EQ(bytesOf(loaded), bytesOf(options));
}

TEST_F(OptionsTest, AShortFileKeepsItsBytesAndLeavesTheRestOff)
{
    ASSERT_TRUE(writeFile(path, QByteArray("\0\1\1\1\1", 5)));
    EXPECT_EQ(LoadOptions(path, options), OptionsLoad::Short);
    EXPECT_EQ(bytesOf(options), QByteArray("\0\1\1\1\1\0\0\0\0\0\0", 11));

    ASSERT_TRUE(writeFile(path, QByteArray("\1\1\1\1\1\1\1\1\1\1\1\7\7\7", 14)));
    EXPECT_EQ(LoadOptions(path, options), OptionsLoad::Loaded);
    EXPECT_EQ(bytesOf(options), QByteArray(11, '\1')) << "only the first eleven bytes count";
}

TEST_F(OptionsTest, AFailedSaveReportsThePathAndKeepsTheOldFile)
{
    options = DefaultOptions();
    ASSERT_TRUE(SaveOptions(path, options));
    options.AutoStart = 0;
    QString error;
    {
        FileSizeLimit diskFull(4);
        EXPECT_FALSE(SaveOptions(path, options, &error));
    }
    EXPECT_EQ(error, QStringLiteral("Cannot create file ") + path);
    EXPECT_EQ(readFile(path), bytesOf(DefaultOptions()));
}

TEST(DataFolder, EnvironmentThenPortableFolderThenXdgData)
{
    QTemporaryDir program;
    const QByteArray saved = qgetenv("CLIPVAULT_HOME");
    qputenv("CLIPVAULT_HOME", "/tmp/cv-test-home/");
    EXPECT_EQ(ResolveDataFolder(program.path()), QStringLiteral("/tmp/cv-test-home"));
    qunsetenv("CLIPVAULT_HOME");

    EXPECT_TRUE(ResolveDataFolder(program.path()).endsWith(QStringLiteral("/clipvault")));
    EXPECT_NE(ResolveDataFolder(program.path()), QDir(program.path()).absolutePath());
    ASSERT_TRUE(writeFile(QDir(program.path()).filePath(QStringLiteral("category.log")), {}));
    EXPECT_EQ(ResolveDataFolder(program.path()), QDir(program.path()).absolutePath())
        << "a folder holding a log is a portable install";

    if (!saved.isNull())
        qputenv("CLIPVAULT_HOME", saved);
}

TEST(DataFolder, TheDebuggingPortCanBeSetInTheConfigurationFile)
{
    QTemporaryDir folder;
    EXPECT_EQ(ConfiguredDebuggingPort(folder.path()), 0);
    ASSERT_TRUE(writeFile(QDir(folder.path()).filePath(QStringLiteral("clipvault.conf")),
                          "[General]\ndebuggingPort=9333\n"));
    EXPECT_EQ(ConfiguredDebuggingPort(folder.path()), 9333);
    ASSERT_TRUE(writeFile(QDir(folder.path()).filePath(QStringLiteral("clipvault.conf")),
                          "[General]\ndebuggingPort=99999\n"));
    EXPECT_EQ(ConfiguredDebuggingPort(folder.path()), 0) << "not a port";
}
