#include "options.h"

#include "datafolder.h"
#include "privatefolder.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

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

TEST(DataFolder, TheConfigurationFileIsReadWholeAndWhatIsNoValueIsTheDefault)
{
    QTemporaryDir folder;
    const QString conf = QDir(folder.path()).filePath(QStringLiteral("clipvault.conf"));
    EXPECT_EQ(LoadVaultSettings(folder.path()), VaultSettings{}) << "no file: the defaults";
    ASSERT_TRUE(writeFile(conf, "[General]\nkeepfiles=0\narchive=0\nhelppath=/m.html\n"
                                "archiveurl=http://a\narchivepace=0\ndebuggingPort=9333\n"
                                "firefoxPort=9334\ncategoryPaneWidth=180\n"));
    const VaultSettings set{false, false, "/m.html", "http://a", 0, 9333, 9334, 180};
    EXPECT_EQ(LoadVaultSettings(folder.path()), set);
    ASSERT_TRUE(writeFile(conf, "[General]\narchivepace=-5\ndebuggingPort=99999\n"
                                "firefoxPort=x\ncategoryPaneWidth=-3\n"));
    EXPECT_EQ(LoadVaultSettings(folder.path()), VaultSettings{}) << "no value of theirs";
}

TEST(PrivateFolderTest, OnlyAFolderNobodyElseCanCreateNamesInHoldsTheSessionFiles)
{
    QTemporaryDir root;
    const QString data = QDir(root.path()).filePath(QStringLiteral("data"));
    const QString own = QDir(data).filePath(QStringLiteral("run"));
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const auto mode = [](const QString& path) {
        struct stat facts = {};
        return ::lstat(QFile::encodeName(path).constData(), &facts) == 0 ? facts.st_mode & 0777
                                                                         : 01000u;
    };
    const auto runtimeWith = [&](const char* name, mode_t folderMode, uid_t owner) {
        const QString path = QDir(root.path()).filePath(QLatin1String(name));
        QDir().mkpath(path);
        ::chmod(QFile::encodeName(path).constData(), folderMode);
        EXPECT_EQ(::chown(QFile::encodeName(path).constData(), owner, -1), 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path));
        return path;
    };

    const QString runtime = runtimeWith("private", 0700, getuid());
    EXPECT_EQ(PrivateRuntimeFolder(data), runtime);

    runtimeWith("open", 0755, getuid());
    EXPECT_EQ(PrivateRuntimeFolder(data), own) << "a runtime folder others may enter is not used";
    EXPECT_EQ(mode(own), 0700u);

    qunsetenv("XDG_RUNTIME_DIR");
    ASSERT_EQ(::chmod(QFile::encodeName(own).constData(), 0777), 0);
    EXPECT_EQ(PrivateRuntimeFolder(data), own);
    EXPECT_EQ(mode(own), 0700u) << "the data folder's own is made private again";

    ASSERT_TRUE(QDir(own).removeRecursively());
    ASSERT_EQ(::symlink("/tmp", QFile::encodeName(own).constData()), 0);
    EXPECT_EQ(PrivateRuntimeFolder(data), QString()) << "never through a link";

    EXPECT_NE(SessionTag(QStringLiteral(":0"), data), SessionTag(QStringLiteral(":1"), data));
    EXPECT_NE(SessionTag(QStringLiteral(":0"), data), SessionTag(QStringLiteral(":0"), own));
    EXPECT_EQ(SessionTag(QStringLiteral(":0"), data).size(), 12);

    if (getuid() == 0) {
        runtimeWith("theirs", 0700, 65534);
        ASSERT_TRUE(QFile::remove(own));
        EXPECT_EQ(PrivateRuntimeFolder(data), own) << "another user's runtime folder is not used";
    }
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    if (getuid() != 0)
        GTEST_SKIP() << "only root can make a folder that belongs to another user";
}
