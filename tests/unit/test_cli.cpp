#include "clirun.h"

#include "datafolder.h"
#include "moviefacts.h"

#include "swfwriter.h"
#include "testfiles.h"
#include "testserver.h"
#include "waituntil.h"

#include <csignal>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

class CliTest : public ::testing::Test
{
protected:
    CliRun run(const QStringList& arguments) { return RunCliHere(arguments); }
    CliRun runHere(QStringList arguments)
    {
        return run(QStringList{QStringLiteral("--data-dir"), folder.path()} + arguments);
    }
    QTemporaryDir folder;
};

} // namespace

TEST_F(CliTest, AddListCountAndRemove)
{
    EXPECT_EQ(runHere({"catalogue", "add", "http://a.com/m/x.swf", "--category", "game"}).code, 0);
    // Options may also follow the command words.
    EXPECT_EQ(run({"catalogue", "add", "http://a.com/y.swf", "--data-dir", folder.path()}).code, 0);

    const CliRun list = runHere({"catalogue", "list"});
    EXPECT_EQ(list.code, 0);
    const QString home = QDir::homePath();
    EXPECT_EQ(list.out, QStringLiteral("N\tgame\t%1/clipvault/Game/\tx.swf\thttp://a.com/m/x.swf\n"
                                       "N\tDownloaded\t%1/clipvault/\ty.swf\thttp://a.com/y.swf\n")
                            .arg(home));

    EXPECT_EQ(runHere({"catalogue", "count"}).out, QStringLiteral("items 2\ncategories 6\n"));
    EXPECT_EQ(runHere({"catalogue", "remove", " HTTP://A.COM/Y.SWF"}).code, 0);
    EXPECT_EQ(runHere({"catalogue", "count"}).out, QStringLiteral("items 1\ncategories 6\n"));
    EXPECT_EQ(runHere({"catalogue", "remove", "http://a.com/y.swf"}).code, 1);
}

TEST_F(CliTest, AnAddressWithALineBreakStaysOneLineAndComesWholeInJson)
{
    const QByteArray url = "http://a.com/x\ny\tz\\w.swf";
    ASSERT_TRUE(writeFile(QDir(folder.path()).filePath(QStringLiteral("downloading.log")),
                          logHeaderBytes("clipvault", 2) +
                              itemBytes('D', url.constData(), "Game", "/m/", "x.swf") +
                              itemBytes('D', "http://a.com/next.swf", "Game", "/m/", "n.swf")));
    const CliRun list = runHere({"catalogue", "list"});
    ASSERT_EQ(list.code, 0);
    const QStringList lines = list.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << qPrintable(list.out);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("\thttp://a.com/x\\ny\\tz\\\\w.swf")))
        << qPrintable(lines[0]);
    EXPECT_EQ(lines[0].split(u'\t').size(), 5);
    const QJsonArray items =
        QJsonDocument::fromJson(runHere({"catalogue", "list", "--json"}).out.toUtf8()).array();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].toObject()[QStringLiteral("url")].toString(), QString::fromUtf8(url));
}

TEST_F(CliTest, JsonOutputsCarryEveryField)
{
    ASSERT_EQ(runHere({"catalogue", "add", "http://a.com/x.swf", "--category", "Fun"}).code, 0);
    const CliRun list = runHere({"catalogue", "list", "--json"});
    const QJsonArray items = QJsonDocument::fromJson(list.out.toUtf8()).array();
    ASSERT_EQ(items.size(), 1);
    const QJsonObject item = items[0].toObject();
    EXPECT_EQ(item[QStringLiteral("state")].toString(), QStringLiteral("N"));
    EXPECT_EQ(item[QStringLiteral("url")].toString(), QStringLiteral("http://a.com/x.swf"));
    EXPECT_EQ(item[QStringLiteral("category")].toString(), QStringLiteral("Fun"));
    EXPECT_EQ(item[QStringLiteral("fileName")].toString(), QStringLiteral("x.swf"));
    EXPECT_EQ(item[QStringLiteral("comment")].toString(), QString());
    EXPECT_EQ(item[QStringLiteral("startNow")].toInt(-1), 0);
    EXPECT_TRUE(
        item[QStringLiteral("folder")].toString().endsWith(QStringLiteral("/clipvault/Fun/")));

    const QJsonArray categories =
        QJsonDocument::fromJson(runHere({"catalogue", "categories", "--json"}).out.toUtf8())
            .array();
    ASSERT_EQ(categories.size(), 6);
    EXPECT_EQ(categories[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("Mtv"));
    EXPECT_EQ(categories[0].toObject()[QStringLiteral("tag")].toInt(-1), 0);
}

TEST_F(CliTest, DuplicatesNeedReplaceAndUnknownCategoriesFail)
{
    ASSERT_EQ(runHere({"catalogue", "add", "http://a.com/x.swf"}).code, 0);
    const CliRun again = runHere({"catalogue", "add", "http://A.com/x.swf", "--category", "Mtv"});
    EXPECT_EQ(again.code, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("--replace")));
    EXPECT_EQ(
        runHere({"catalogue", "add", "http://A.com/x.swf", "--category", "Mtv", "--replace"}).code,
        0);
    EXPECT_TRUE(runHere({"catalogue", "list"}).out.startsWith(QStringLiteral("N\tMtv\t")));

    const CliRun unknown =
        runHere({"catalogue", "add", "http://a.com/z.swf", "--category", "Nope"});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_EQ(unknown.err.count(u'\n'), 1) << "one line: " << qPrintable(unknown.err);
}

TEST_F(CliTest, BadUsageExitsWithTwo)
{
    EXPECT_EQ(run({}).code, 2);
    EXPECT_EQ(run({"catalogue"}).code, 2);
    EXPECT_EQ(run({"catalogue", "frobnicate"}).code, 2);
    EXPECT_EQ(run({"catalogue", "add"}).code, 2);
    EXPECT_EQ(run({"catalogue", "list", "--bogus"}).code, 2);
    EXPECT_EQ(run({"catalogue", "list", "--data-dir"}).code, 2);
    EXPECT_EQ(run({"--version", "catalogue"}).code, 2) << "the version stands alone";
    // What is wrong, in one line, then the usage.
    const struct
    {
        QStringList arguments;
        const char* said;
    } wrong[] = {
        {{"frobnicate"}, "clipvault-cli: unknown command \"frobnicate\"\n"},
        {{"catalogue"}, "clipvault-cli: catalogue needs one of: list, categories, count, add, "},
        {{"catalogue", "add"}, "clipvault-cli: catalogue add: URL missing\n"},
        {{"download", "http://h/a.swf"}, "clipvault-cli: download: FILE missing\n"},
        {{"swf-info", "a", "b"}, "clipvault-cli: swf-info: unexpected \"b\"\n"},
    };
    for (const auto& c : wrong) {
        const CliRun said = run(c.arguments);
        EXPECT_EQ(said.code, 2);
        EXPECT_TRUE(said.err.startsWith(QLatin1String(c.said))) << qPrintable(said.err);
        EXPECT_TRUE(said.err.section(u'\n', 1).startsWith(QStringLiteral("usage: ")));
    }
    const QString downloadHelp = run({"download", "--help"}).out;
    for (const char* option : {"--any", "--no-archive", "--data-dir DIR"})
        EXPECT_TRUE(downloadHelp.contains(QStringLiteral("\n  %1 ").arg(QLatin1String(option))))
            << option << qPrintable(downloadHelp);
    for (const QStringList& help :
         {QStringList{"--help"}, {"catalogue", "add", "--help"}, {"download", "-h"}}) {
        const CliRun usage = run(help);
        EXPECT_EQ(usage.code, 0) << qPrintable(help.join(u' '));
        EXPECT_TRUE(usage.out.startsWith(QStringLiteral("usage: clipvault-cli")));
        EXPECT_TRUE(usage.err.isEmpty());
        // A command's help tells of that command alone.
        EXPECT_EQ(usage.out.contains(QStringLiteral("swf-info FILE")), help.size() == 1)
            << qPrintable(usage.out);
    }
    const CliRun version = run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("clipvault-cli 0.")))
        << qPrintable(version.out);
}

TEST_F(CliTest, OnlyDownloadableMovieAddressesAreFiledAndCategoriesComeAndGo)
{
    for (const char* url : {"javascript:alert('a.swf')", "file:///a.swf", "ftp://h/a.swf",
                            "http://h/page.html", "http://h/swf/page.html", " "}) {
        const CliRun refused = runHere({"catalogue", "add", url});
        EXPECT_EQ(refused.code, 2) << url;
        EXPECT_TRUE(refused.err.startsWith(QStringLiteral("clipvault-cli: "))) << url;
    }
    for (const char* url : {"HTTPS://h/a.swf", "h.example:8080/b.swf", "www.h.example/c.swf?x=1",
                            "http://S2.EXAMPLE/D0/MOVIE6.SWF"})
        EXPECT_EQ(runHere({"catalogue", "add", url}).code, 0) << url;
    EXPECT_TRUE(
        runHere({"catalogue", "list"}).out.contains(QStringLiteral("\th.example:8080/b.swf\n")))
        << "stored as typed";

    const QString games = QDir(folder.path()).filePath(QStringLiteral("games"));
    EXPECT_EQ(runHere({"catalogue", "category", "add", "  "}).code, 2);
    EXPECT_EQ(runHere({"catalogue", "category", "add", "Games", "--folder", games}).code, 0);
    EXPECT_TRUE(QFileInfo(games).isDir());
    EXPECT_TRUE(runHere({"catalogue", "categories"}).out.contains(games + QStringLiteral("/\n")));
    EXPECT_EQ(runHere({"catalogue", "category", "add", "GAMES"}).code, 1) << "exists already";
    EXPECT_EQ(runHere({"catalogue", "category", "remove", "downloaded"}).code, 1) << "built in";
    EXPECT_EQ(runHere({"catalogue", "category", "remove", "games"}).code, 0);
    EXPECT_EQ(runHere({"catalogue", "category", "remove", "games"}).code, 1) << "gone";
    EXPECT_EQ(runHere({"catalogue", "count"}).out, QStringLiteral("items 4\ncategories 6\n"));
}

TEST_F(CliTest, ChangesWaitBrieflyForAnotherChangeThenSayTheFolderIsBusy)
{
    // This test program is not Clip Vault: its lock stands for another change in progress.
    // (The program's own lock is tested with the program, end to end.)
    auto otherChange = std::make_unique<DataFolderLock>(folder.path());
    ASSERT_TRUE(otherChange->acquire(0));
    const CliRun busy = runHere({"catalogue", "add", "http://a.com/x.swf"});
    EXPECT_EQ(busy.code, 1);
    EXPECT_TRUE(busy.err.contains(QStringLiteral("is busy"))) << qPrintable(busy.err);
    EXPECT_EQ(runHere({"catalogue", "list"}).code, 0) << "reading is always allowed";
    otherChange.reset();
    EXPECT_EQ(runHere({"catalogue", "add", "http://a.com/x.swf"}).code, 0);

    // A folder nothing can be written in (even by root) is no busy folder.
    const CliRun readOnly =
        run({"catalogue", "add", "http://a.com/x.swf", "--data-dir", "/proc/self"});
    EXPECT_EQ(readOnly.code, 1);
    EXPECT_TRUE(readOnly.err.contains(QStringLiteral("/proc/self cannot be written")))
        << qPrintable(readOnly.err);
}

TEST_F(CliTest, ALockLeftByAProgramThatDiedIsStaleAndSaysNothing)
{
    // The lock as the program leaves it when it is killed: its holder's number is no process.
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    ASSERT_TRUE(gone.waitForStarted(60000));
    const qint64 pid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished(60000));
    const QString lockPath = QDir(folder.path()).filePath(QStringLiteral("clipvault.lock"));
    {
        QLockFile ours(lockPath);
        ASSERT_TRUE(ours.tryLock(0));
        QStringList lines = QString::fromUtf8(readFile(lockPath)).split(u'\n');
        ours.unlock();
        ASSERT_GE(lines.size(), 3);
        lines[0] = QString::number(pid);
        lines[1] = QStringLiteral("clipvault");
        ASSERT_TRUE(writeFile(lockPath, lines.join(u'\n').toUtf8()));
    }
    ASSERT_EQ(DataFolderLock(folder.path()).holder(), DataFolderLock::Holder::Nobody);
    const CliRun list = runHere({"catalogue", "list"});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.err, QString());
}

TEST_F(CliTest, ChangesMadeAtOnceAreAllKept)
{
    // Two tools at a time, each adding its own address: every add lands, none is refused.
    constexpr int kRounds = 10;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<QProcess>> tools;
        for (int which = 0; which < 2; ++which) {
            auto& tool = tools.emplace_back(std::make_unique<QProcess>());
            tool->start(QStringLiteral(CLIPVAULT_CLI),
                        {"catalogue", "add",
                         QStringLiteral("http://a.com/%1-%2.swf").arg(round).arg(which),
                         "--data-dir", folder.path()});
        }
        for (auto& tool : tools) {
            ASSERT_TRUE(tool->waitForFinished(60000));
            EXPECT_EQ(tool->exitCode(), 0) << qPrintable(tool->readAllStandardError());
        }
    }
    EXPECT_EQ(runHere({"catalogue", "count"}).out,
              QStringLiteral("items %1\ncategories 6\n").arg(2 * kRounds));
}

TEST_F(CliTest, ScansPagesFromFilesAndStandardInput)
{
    const QString page = QDir(folder.path()).filePath(QStringLiteral("page.html"));
    ASSERT_TRUE(writeFile(page, "<embed src='b.swf'><embed src=\"A.swf\"><iframe src='f.html'>"));
    EXPECT_EQ(run({"scan-html", "--base", "http://h/d/p.html", page}).out,
              QStringLiteral("http://h/d/b.swf\nhttp://h/d/A.swf\n"))
        << "the address added last stands at the end";
    EXPECT_EQ(run({"scan-frames", page, "--base", "http://h/d/p.html"}).out,
              QStringLiteral("http://h/d/f.html\n"));
    EXPECT_EQ(run({"scan-html", page}).code, 2) << "--base is required";
    EXPECT_EQ(run({"scan-html", "--base", "http://h/", "/nonexistent/page.html"}).code, 1);
}

TEST_F(CliTest, APageLargerThanTheScanTakesEndsWithAClearError)
{
    QFile page(QDir(folder.path()).filePath(QStringLiteral("huge.html")));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    ASSERT_TRUE(page.resize(qint64(65) << 20)); // sparse: no disk is used
    page.close();
    const CliRun scan = run({"scan-html", "--base", "http://h/", page.fileName()});
    EXPECT_EQ(scan.code, 1);
    EXPECT_TRUE(scan.err.contains(QStringLiteral("larger than 64 MiB"))) << qPrintable(scan.err);
}

TEST_F(CliTest, TellsAMoviesFacts)
{
    const QString movie = QDir(folder.path()).filePath(QStringLiteral("m.swf"));
    SwfMovie compressed;
    compressed.signature = "CWS";
    compressed.frameCount = 12;
    compressed.tags = swftags::fileAttributes(0x08) + swftags::frameLabel("start") +
                      swftags::editText(1, "Press play", false);
    ASSERT_TRUE(writeFile(movie, WriteSwf(compressed)));
    const QJsonObject facts =
        QJsonDocument::fromJson(run({"swf-info", movie, "--json"}).out.toUtf8()).object();
    EXPECT_EQ(facts[QStringLiteral("signature")].toString(), QStringLiteral("CWS"));
    EXPECT_EQ(facts[QStringLiteral("version")].toInt(), 10);
    EXPECT_EQ(facts[QStringLiteral("width")].toDouble(), 550);
    EXPECT_EQ(facts[QStringLiteral("height")].toDouble(), 400);
    EXPECT_EQ(facts[QStringLiteral("frameRate")].toDouble(), 24);
    EXPECT_EQ(facts[QStringLiteral("frameCount")].toInt(), 12);
    // What is inside, unpacked from the compressed file.
    EXPECT_EQ(facts[QStringLiteral("actionScript")].toInt(), 3);
    EXPECT_EQ(facts[QStringLiteral("frameLabels")].toArray(), QJsonArray{QStringLiteral("start")});
    EXPECT_EQ(facts[QStringLiteral("texts")].toArray(), QJsonArray{QStringLiteral("Press play")});
    const QString told = run({"swf-info", movie}).out;
    EXPECT_TRUE(told.contains(QStringLiteral("compression: zlib")));
    EXPECT_TRUE(told.contains(QStringLiteral("ActionScript 3 (AVM2)\n")));
    EXPECT_TRUE(told.contains(QStringLiteral("text Press play\n"))) << qPrintable(told);
    const CliRun notAMovie = run({"swf-info", QStringLiteral(CLIPVAULT_FIXTURES "/localhost.crt")});
    EXPECT_EQ(notAMovie.code, 1);
    EXPECT_TRUE(notAMovie.err.contains(QStringLiteral("not a Flash movie")));

    ASSERT_TRUE(writeFile(movie, WriteSwf(compressed).left(20)));
    const CliRun cut = run({"swf-info", movie});
    EXPECT_EQ(cut.code, 1) << qPrintable(cut.out);
    EXPECT_TRUE(cut.out.isEmpty()) << "no facts of a cut movie";
    EXPECT_FALSE(cut.err.isEmpty());
}

TEST_F(CliTest, ListsAndExtractsCachedMovies)
{
    const QString cache = QStringLiteral(CLIPVAULT_FIXTURES "/cache");
    const CliRun list = run({"cache", "list", "--dir", cache, "--browser", "chromium"});
    EXPECT_EQ(list.code, 0);
    EXPECT_EQ(list.out.split(u'\n', Qt::SkipEmptyParts).size(), 2);
    EXPECT_TRUE(list.out.contains(QStringLiteral("http://127.0.0.1:8766/red.swf\n")))
        << "listed without its query";
    EXPECT_EQ(
        run({"cache", "list", "--dir", cache, "--all"}).out.split(u'\n', Qt::SkipEmptyParts).size(),
        7);
    EXPECT_TRUE(
        run({"cache", "list", "--dir", cache, "--host", "elsewhere.example"}).out.isEmpty());

    const QString out = QDir(folder.path()).filePath(QStringLiteral("big.swf"));
    EXPECT_EQ(run({"cache", "extract", "--dir", cache, "http://127.0.0.1:8766/big.swf", out}).out,
              QStringLiteral("20000\n"));
    EXPECT_EQ(readFile(out), readFile(cache + QStringLiteral("/served/big.swf")));
    EXPECT_EQ(run({"cache", "extract", "--dir", cache, "http://127.0.0.1:8766/none.swf", out}).code,
              1);
    EXPECT_EQ(run({"cache", "list", "--dir", folder.path()}).code, 1) << "no cache there";
    EXPECT_EQ(run({"cache", "list", "--browser", "opera"}).code, 2);
}

TEST_F(CliTest, DownloadAppliesTheProgramsRuleUnlessAnyBodyIsAsked)
{
    TestServer server;
    server.server().Get("/page.html", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<html>gone</html>", "text/html");
    });
    server.server().Get("/m.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("FWS\x0a movie", "application/x-shockwave-flash");
    });
    server.start();
    const QString target = QDir(folder.path()).filePath(QStringLiteral("out.swf"));
    const QString page = QString::fromStdString(server.url("/page.html"));

    const CliRun refused = run({"download", page, target});
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("not a Flash movie")))
        << qPrintable(refused.err);
    EXPECT_FALSE(QFile::exists(target));

    EXPECT_EQ(run({"download", page, target, "--any"}).out, QStringLiteral("17\n"));
    // A folder is no file to save into, whichever way the tool takes the download.
    const QString movieUrl = QString::fromStdString(server.url("/m.swf"));
    for (const CliRun& intoFolder : {run({"download", movieUrl, folder.path()}),
                                     RunCliProcess({"download", movieUrl, folder.path()})}) {
        EXPECT_EQ(intoFolder.code, 1);
        EXPECT_TRUE(intoFolder.err.contains(folder.path() + QStringLiteral(" is a folder")))
            << qPrintable(intoFolder.err);
    }
    const QFileInfo downloads(folder.path());
    EXPECT_EQ(downloads.dir().entryList({downloads.fileName() + QStringLiteral(".*")}),
              QStringList())
        << "nothing beside the folder";
    const CliRun saved = run({"download", QString::fromStdString(server.url("/m.swf")), target});
    EXPECT_EQ(saved.code, 0);
    EXPECT_EQ(saved.err, QString()) << "no progress where stderr is no terminal";
    EXPECT_EQ(readFile(target), QByteArray("FWS\x0a movie"));

    // On a terminal, a line of progress, cleared at the end.
    QProcess onTerminal;
    onTerminal.start(QStringLiteral("script"),
                     {"-qec",
                      QStringLiteral("'%1' download '%2' '%3'")
                          .arg(QStringLiteral(CLIPVAULT_CLI),
                               QString::fromStdString(server.url("/m.swf")), target),
                      "/dev/null"});
    if (!onTerminal.waitForStarted())
        GTEST_SKIP() << "no script(1) to give the tool a terminal";
    ASSERT_TRUE(onTerminal.waitForFinished(60000));
    const QString said = QString::fromLocal8Bit(onTerminal.readAllStandardOutput());
    EXPECT_TRUE(said.contains(QStringLiteral("\rdownloading: 10 bytes of 10 bytes (100 %)")))
        << qPrintable(said);
    EXPECT_TRUE(said.endsWith(QStringLiteral("\r10\r\n"))) << qPrintable(said);
}

TEST_F(CliTest, APlainDownloadRunsBeforeQtLoadsAndSaysWhatTheFullCommandSays)
{
    TestServer server;
    server.server().Get("/m.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("FWS\x0a movie", "application/x-shockwave-flash");
    });
    server.server().Get("/broken.swf", [](const httplib::Request&, httplib::Response& response) {
        response.status = 500;
    });
    server.server().Get("/page.html", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<html>gone</html>", "text/html");
    });
    server.start();
    const QDir dir(folder.path());
    // A page where a movie was asked for says the address is gone: the full command answers
    // that, as it may turn to the web archive.
    struct Case
    {
        const char* path;
        bool withoutQt;
    };
    for (const Case& c :
         {Case{"/m.swf", true}, Case{"/broken.swf", true}, Case{"/page.html", false}}) {
        const QString url = QString::fromStdString(server.url(c.path));
        const CliRun expected = run({"download", url, dir.filePath(QStringLiteral("here.swf"))});

        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString trace = dir.filePath(QStringLiteral("loader"));
        environment.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
        environment.insert(QStringLiteral("LD_DEBUG_OUTPUT"), trace);
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral(CLIPVAULT_CLI),
                   {"download", url, dir.filePath(QStringLiteral("there.swf"))});
        ASSERT_TRUE(tool.waitForStarted());
        const qint64 pid = tool.processId();
        ASSERT_TRUE(tool.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(tool.readAllStandardError());
        EXPECT_EQ(tool.exitCode(), expected.code) << c.path;
        EXPECT_EQ(QString::fromLocal8Bit(tool.readAllStandardOutput()), expected.out) << c.path;
        EXPECT_EQ(err.section(u',', 0, 0), expected.err.section(u',', 0, 0)) << c.path;
        EXPECT_EQ(readFile(dir.filePath(QStringLiteral("there.swf"))),
                  readFile(dir.filePath(QStringLiteral("here.swf"))))
            << c.path;
        const QByteArray loaded = readFile(QStringLiteral("%1.%2").arg(trace).arg(pid));
        ASSERT_FALSE(loaded.isEmpty()) << "the loader's trace";
        EXPECT_EQ(loaded.contains("libQt6Core"), !c.withoutQt) << c.path;
        for (const char* name : {"here.swf", "there.swf"})
            QFile::remove(dir.filePath(QLatin1String(name)));
    }
}

TEST_F(CliTest, ADownloadEndedByASignalLeavesNoPartialFile)
{
    TestServer server;
    server.server().Get("/slow.swf", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(100000, "application/x-shockwave-flash",
                                      [&](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset == 0)
                                              return sink.write("FWS\x0a", 4);
                                          server.holdWhileStalling(std::chrono::seconds(60));
                                          return false;
                                      });
    });
    server.start();
    const QDir dir(folder.path());
    const QString url = QString::fromStdString(server.url("/slow.swf"));
    struct Case
    {
        int signal;
        const char* option; ///< --any runs the download in the tool's module
    };
    for (const Case& c : {Case{SIGINT, nullptr}, Case{SIGTERM, "--any"}, Case{SIGHUP, nullptr}}) {
        QStringList arguments{"download", url, dir.filePath(QStringLiteral("m.swf"))};
        if (c.option)
            arguments << QLatin1String(c.option);
        QProcess tool;
        tool.start(QStringLiteral(CLIPVAULT_CLI), arguments);
        ASSERT_TRUE(tool.waitForStarted());
        const auto partials = [&] {
            return dir.entryList({QStringLiteral("*.part")}, QDir::Files);
        };
        ASSERT_TRUE(waitUntil([&] { return !partials().isEmpty(); }, 60000)) << c.signal;
        ::kill(static_cast<pid_t>(tool.processId()), c.signal);
        ASSERT_TRUE(tool.waitForFinished(60000));
        EXPECT_EQ(tool.exitStatus(), QProcess::CrashExit) << "ended by the signal " << c.signal;
        EXPECT_EQ(partials(), QStringList()) << c.signal;
    }

    // A capture keeps the movie it finished, listed, and not the file it was fetching.
    SwfMovie parent;
    parent.tags = swftags::doAction(swftags::getUrl("slow.swf", "_level1"));
    const std::string parentBytes = WriteSwf(parent).toStdString();
    server.server().Get("/parent.swf", [&](const httplib::Request&, httplib::Response& r) {
        r.set_content(parentBytes, "application/x-shockwave-flash");
    });
    const QString into = dir.filePath(QStringLiteral("kept"));
    QProcess capture;
    capture.start(QStringLiteral(CLIPVAULT_CLI),
                  {"capture", QString::fromStdString(server.url("/parent.swf")), "--into", into,
                   "--seconds", "0", "--no-archive"});
    const auto partialsUnder = [&](const QString& pattern) {
        QStringList found;
        QDirIterator it(into, {pattern}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    };
    // The file it is fetching, not the movie's own transfer, which may be caught as it ends.
    ASSERT_TRUE(waitUntil(
        [&] { return !partialsUnder(QStringLiteral("slow.swf.*.part")).isEmpty(); }, 60000));
    ::kill(static_cast<pid_t>(capture.processId()), SIGINT);
    ASSERT_TRUE(capture.waitForFinished(60000));
    EXPECT_EQ(capture.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(partialsUnder(QStringLiteral("*.part")), QStringList());
    EXPECT_TRUE(readFile(QDir(into).filePath(QStringLiteral("manifest.json")))
                    .contains(server.url("/parent.swf").c_str()))
        << "the movie it finished is listed";
}

TEST_F(CliTest, AFifoWhereAnotherProgramsFileBelongsHoldsNothing)
{
    // Each file a reader might block on, made a FIFO nobody writes to; the command ends.
    const QDir dir(folder.path());
    struct Case
    {
        const char* fifo; ///< below the folder
        QStringList arguments;
    };
    const Case cases[] = {
        {"home/.mozilla/firefox/profiles.ini", {"cache", "list", "--browser", "firefox"}},
        {"data/downloading.log.long", {"catalogue", "add", "http://a.com/x.swf"}},
    };
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("data"))));
    ASSERT_TRUE(writeFile(dir.filePath(QStringLiteral("data/downloading.log")),
                          logHeaderBytes("clipvault", 1) +
                              itemBytes('D', "http://a.com/one.swf", "Game", "/m/", "one.swf")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fifo);
        const QString fifo = dir.filePath(QLatin1String(c.fifo));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(fifo).path()));
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QDir().mkpath(dir.filePath(QStringLiteral("data")));
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral(CLIPVAULT_CLI),
                   c.arguments + QStringList{"--data-dir", dir.filePath(QStringLiteral("data"))});
        const bool ended = tool.waitForFinished(30000);
        if (!ended) {
            tool.kill();
            tool.waitForFinished();
        }
        EXPECT_TRUE(ended) << "held by the FIFO";
    }
}

TEST_F(CliTest, ASearchFindsNamesAndAddressesAndInsideTheMoviesOnlyWhenAsked)
{
    const QByteArray movies = QDir(folder.path()).filePath(QStringLiteral("m")).toUtf8() + '/';
    ASSERT_TRUE(QDir().mkpath(QString::fromUtf8(movies)));
    SwfMovie secret;
    secret.tags = swftags::editText(1, "The Secret Level", false);
    ASSERT_TRUE(writeFile(QString::fromUtf8(movies) + QStringLiteral("a.swf"), WriteSwf(secret)));
    ASSERT_TRUE(writeFile(QString::fromUtf8(movies) + QStringLiteral("b.swf"), WriteSwf({})));
    ASSERT_TRUE(writeFile(
        QDir(folder.path()).filePath(QStringLiteral("downloading.log")),
        logHeaderBytes("clipvault", 3) +
            itemBytes('D', "http://a.com/robot.swf", "Game", movies.constData(), "a.swf") +
            itemBytes('D', "http://b.com/plain.swf", "Game", movies.constData(), "b.swf") +
            itemBytes('N', "http://c.com/secret.swf", "Game", movies.constData(), "c.swf")));
    const auto found = [&](QStringList arguments) {
        QStringList urls;
        for (const QString& line : runHere(arguments).out.split(u'\n', Qt::SkipEmptyParts))
            urls << line.section(u'\t', 4);
        return urls;
    };
    EXPECT_EQ(found({"catalogue", "list", "--search", "SECRET"}),
              QStringList{QStringLiteral("http://c.com/secret.swf")});
    EXPECT_EQ(found({"catalogue", "list", "--search", "secret level", "--inside"}),
              QStringList{QStringLiteral("http://a.com/robot.swf")});
    EXPECT_EQ(found({"catalogue", "list", "--search", "robot"}).size(), 1);

    // The facts are kept by each movie's content, and a file that changed is known by its new
    // content.
    ASSERT_TRUE(QFile::exists(QDir(folder.path()).filePath(MovieFactsStore::fileName())));
    MovieFactsStore store(folder.path());
    ASSERT_TRUE(store.load());
    EXPECT_EQ(store.count(), 2);
    ASSERT_TRUE(writeFile(QString::fromUtf8(movies) + QStringLiteral("b.swf"), WriteSwf(secret)));
    EXPECT_EQ(found({"catalogue", "list", "--search", "secret level", "--inside"}).size(), 2)
        << "a changed file is read again";
    // b's old content is no movie of the catalogue now: the store forgot it as it saved.
    ASSERT_TRUE(store.load());
    EXPECT_EQ(store.count(), 1);
    // A store cut short is read as none, and its facts are read again from the movies.
    const QString storeFile = QDir(folder.path()).filePath(MovieFactsStore::fileName());
    ASSERT_TRUE(writeFile(storeFile, readFile(storeFile).chopped(3)));
    EXPECT_FALSE(store.load());
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(found({"catalogue", "list", "--search", "secret level", "--inside"}).size(), 2);
}
