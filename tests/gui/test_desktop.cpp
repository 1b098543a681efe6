#include "singleinstance.h"
#include "x11/xdgautostart.h"

#include "memolines.h"
#include "testfiles.h"
#include "waituntil.h"

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
    EXPECT_TRUE(waitUntil([&] { return raised.count() == 1; }));

    // A start to play a movie hands the movie over, a name with a line break included.
    QSignalSpy played(&first, &SingleInstance::playRequested);
    const QString movie = QStringLiteral("/films/two\nlines ü.swf");
    SingleInstance third(folder.path());
    EXPECT_FALSE(third.acquire(movie));
    ASSERT_TRUE(waitUntil([&] { return played.count() == 1; }));
    EXPECT_EQ(played.first().first().toString(), movie);
    SingleInstance fourth(folder.path());
    EXPECT_FALSE(fourth.acquire(QString()));
    ASSERT_TRUE(waitUntil([&] { return played.count() == 2; }));
    EXPECT_EQ(played.last().first().toString(), QString()) << "the player with no movie";
    EXPECT_EQ(raised.count(), 1) << "playing is no request to show the main window";

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
    // The icon the installed desktop entry names, which the package installs.
    const QString installed = QString::fromUtf8(
        readFile(QStringLiteral(CLIPVAULT_FIXTURES "/../../data/io.github.clipvault.ClipVault.desktop")));
    const QString icon = installed.mid(installed.indexOf(QStringLiteral("\nIcon=")))
                             .section(u'\n', 1, 1);
    ASSERT_FALSE(icon.isEmpty());
    EXPECT_TRUE(text.contains(u'\n' + icon + u'\n')) << qPrintable(text);

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
