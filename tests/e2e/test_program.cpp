// The installed program as a user starts it: one instance per data folder, and a catalogue that
// survives the ways a desktop ends a program.

#include "testfiles.h"

#include <csignal>

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

class ProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CLIPVAULT_HOME"), folder.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (QProcess* process : {&first, &second})
            process->setProcessEnvironment(environment);
    }
    void TearDown() override
    {
        for (QProcess* process : {&first, &second}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
    QString path(const char* name) const { return QDir(folder.path()).filePath(QLatin1String(name)); }

    /// Waits until the program has its data folder (the lock file appears).
    bool waitUntilUp()
    {
        for (int i = 0; i < 100; ++i) {
            if (QFile::exists(path("clipvault.lock")))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    QTemporaryDir folder;
    QProcess first;
    QProcess second;
};

} // namespace

TEST_F(ProgramTest, ASecondStartEndsAtOnceAndTerminationSavesTheCatalogue)
{
    first.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitUntilUp());

    second.start(QStringLiteral(CLIPVAULT_PROGRAM), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(path("downloading.log"))) << "nothing is written before the end";

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(readFile(path("downloading.log")), logHeaderBytes("clipvault", 0));
    EXPECT_EQ(readFile(path("category.log")).size(), 16 + 6 * 144);
}
