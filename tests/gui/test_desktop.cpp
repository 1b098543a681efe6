#include "singleinstance.h"
#include "x11/xdgautostart.h"

#include "memolines.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

TEST(SingleInstance, ASecondStartOnTheSameFolderRaisesTheFirst)
{
    QTemporaryDir folder;
    SingleInstance first(folder.path());
    ASSERT_TRUE(first.acquire());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    SingleInstance second(folder.path());
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(raised.wait(2000));

    QTemporaryDir otherFolder;
    SingleInstance elsewhere(otherFolder.path());
    EXPECT_TRUE(elsewhere.acquire()) << "another data folder is another catalogue";
}

TEST(XdgAutostart, WritesAnEntryWithTheProgramPathAndRemovesIt)
{
    XdgAutostart autostart;
    const QString entry = XdgAutostart::entryPath();
    ASSERT_TRUE(autostart.setEnabled(true, QStringLiteral("/opt/clip vault/clipvault")));
    EXPECT_TRUE(autostart.isEnabled());
    const QString text = QString::fromUtf8(readFile(entry));
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=\"/opt/clip vault/clipvault\"\n")))
        << qPrintable(text);

    ASSERT_TRUE(autostart.setEnabled(true, QStringLiteral("/usr/bin/clipvault")));
    EXPECT_TRUE(
        QString::fromUtf8(readFile(entry)).contains(QStringLiteral("\nExec=/usr/bin/clipvault\n")));

    ASSERT_TRUE(autostart.setEnabled(false, {}));
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_TRUE(autostart.setEnabled(false, {})) << "switching off twice is harmless";
}

TEST(MemoLines, FillsTheControlLineByLine)
{
    QPlainTextEdit memo;
    memo.setPlainText(QStringLiteral("old"));
    LoadMemoLines(&memo, "one\r\ntwo\n\rthree");
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("one\ntwo\n\nthree"));
    LoadMemoLines(&memo, "");
    EXPECT_TRUE(memo.toPlainText().isEmpty());
}
