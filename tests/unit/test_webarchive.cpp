#include "archivedcopy.h"
#include "catalogue.h"
#include "detectionjob.h"
#include "downloadflow.h"
#include "keptfiles.h"
#include "webarchive.h"

#include "archivestandin.h"
#include "clirun.h"
#include "testserver.h"
#include "scriptedprompt.h"
#include "swfwriter.h"
#include "testfiles.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

/// The lost movie: captured twice with the same bytes, then as a new version on 15 March 2009,
/// then as an error page under its name, then with status 404. And a site's other movies.
class WebArchiveTest : public ::testing::Test
{
protected:
    WebArchiveTest()
    {
        SwfMovie first;
        SwfMovie second;
        second.background = {0xFF, 0, 0};
        oldMovie = WriteSwf(first).toStdString();
        newMovie = WriteSwf(second).toStdString();
        archive.captures = {
            {"20080101000000", lost, "application/x-shockwave-flash", 200, "A", oldMovie},
            {"20080601000000", lost, "application/x-shockwave-flash", 200, "A", oldMovie},
            {"20090315120000", lost, "application/x-shockwave-flash", 200, "B", newMovie},
            {"20100101000000", lost, "text/html", 200, "C", "<html>gone</html>"},
            {"20110101000000", lost, "text/html", 404, "D", "not found"},
            {"20050101000000", "http://dead.example/games/b.swf", "application/x-shockwave-flash",
             200, "E", "FWS"},
            {"20060101000000", "http://dead.example/games/b.swf", "application/x-shockwave-flash",
             200, "F", "FWS2"},
            {"20060101000000", "http://dead.example/play.php?id=3", "application/x-shockwave-flash",
             200, "G", "FWS"},
            {"20060101000000", "http://dead.example/index.html", "text/html", 200, "H", "<html>"},
            {"20070101000000", "http://dead.example/broken.swf", "text/html", 404, "I", ""},
        };
        archive.busyAnswers = 1; // the first query is told to come back in a second
        archive.start();
        qputenv("CLIPVAULT_ARCHIVE_URL", archive.address().toUtf8());
        writeFile(QDir(data.path()).filePath(QStringLiteral("clipvault.conf")),
                  "[General]\narchivepace=100\n");
    }
    ~WebArchiveTest() override { qputenv("CLIPVAULT_ARCHIVE_URL", "http://127.0.0.1:9"); }

    CliRun cli(QStringList arguments)
    {
        return RunCliHere(QStringList{QStringLiteral("--data-dir"), data.path()} + arguments);
    }

    /// The tool as a script starts it: a process of its own, which makes its application object
    /// only when a command comes to need it.
    CliRun cliProcess(QStringList arguments)
    {
        return RunCliProcess(QStringList{QStringLiteral("--data-dir"), data.path()} + arguments);
    }

    // A closed port: the site is gone.
    const std::string lost = "http://127.0.0.1:9/games/lost.swf";
    std::string oldMovie;
    std::string newMovie;
    ArchiveStandIn archive;
    QTemporaryDir data;
};

/// Gives "/games/parent.swf" on `site`, a movie whose code names `child`, and starts the site.
void serveParentNaming(TestServer& site, const char* child)
{
    SwfMovie parent;
    parent.tags = swftags::doAction(swftags::getUrl(child, "_level1"));
    site.server().Get("/games/parent.swf", [bytes = WriteSwf(parent).toStdString()](
                                               const httplib::Request&, httplib::Response& r) {
        r.set_content(bytes, "application/x-shockwave-flash");
    });
    site.start();
}

} // namespace

TEST_F(WebArchiveTest, ADeadAddressIsSavedFromTheNewestCaptureThatIsAMoviePolitely)
{
    const QString file = QDir(data.path()).filePath(QStringLiteral("lost.swf"));
    // A link standing at the name is replaced by the copy, never written through.
    const QTemporaryDir outside;
    const QString victim = QDir(outside.path()).filePath(QStringLiteral("victim"));
    ASSERT_TRUE(writeFile(victim, "precious"));
    ASSERT_TRUE(QFile::link(victim, file));
    const CliRun run = cliProcess({QStringLiteral("download"), QString::fromStdString(lost), file});
    EXPECT_EQ(run.code, 0) << qPrintable(run.err);
    EXPECT_EQ(readFile(file).toStdString(), newMovie) << "not the error page, not the older one";
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_TRUE(
        run.err.contains(QStringLiteral("saved from the web archive's copy of 15 March 2009")))
        << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains(QStringLiteral("busy"))) << "the wait is said";

    // The 429, the query again, the error page, the movie: one at a time, spaced.
    const auto requests = archive.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_GE(requests[1].second - requests[0].second, 1000 - 50) << "Retry-After honoured";
    for (std::size_t i = 2; i < requests.size(); ++i)
        EXPECT_GE(requests[i].second - requests[i - 1].second, 100 - 20) << i;
}

TEST_F(WebArchiveTest, AGoneAddressIsAskedOnceBeforeTheArchiveIs)
{
    // A script's plain download finds it gone before Qt is loaded; the archive's turn comes
    // with that reason, not with the address asked again.
    archive.busyAnswers = 0;
    std::atomic<int> asked{0};
    TestServer site;
    site.server().Get("/gone.swf", [&](const httplib::Request&, httplib::Response& response) {
        ++asked;
        response.status = 404;
    });
    site.start();
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CLIPVAULT_HOME"), data.path());
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(CLIPVAULT_CLI),
               {QStringLiteral("download"), QString::fromStdString(site.url("/gone.swf")),
                QDir(data.path()).filePath(QStringLiteral("gone.swf"))});
    ASSERT_TRUE(tool.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(tool.readAllStandardError());
    EXPECT_EQ(tool.exitCode(), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("404"))) << qPrintable(err);
    EXPECT_TRUE(err.endsWith(QStringLiteral(", and the web archive has no copy\n")))
        << qPrintable(err);
    EXPECT_EQ(asked.load(), 1);
}

TEST_F(WebArchiveTest, AnAddressTheArchiveLacksFailsSayingSoAndOtherFailuresNeverAskIt)
{
    archive.busyAnswers = 0;
    const QString file = QDir(data.path()).filePath(QStringLiteral("x.swf"));
    const CliRun lacking =
        cli({QStringLiteral("download"), QStringLiteral("http://127.0.0.1:9/never.swf"), file});
    EXPECT_EQ(lacking.code, 1);
    EXPECT_TRUE(lacking.err.endsWith(QStringLiteral(", and the web archive has no copy\n")))
        << qPrintable(lacking.err);
    EXPECT_FALSE(QFile::exists(file));

    const std::size_t asked = archive.requests().size();
    const CliRun refused = cli({QStringLiteral("download"), QString::fromStdString(lost), file,
                                QStringLiteral("--no-archive")});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(archive.requests().size(), asked) << "--no-archive asks nothing";
}

TEST_F(WebArchiveTest, AFileOfThisMachineIsNeverSentToTheArchive)
{
    archive.busyAnswers = 0;
    const CliRun listed = cli({QStringLiteral("archive"), QStringLiteral("list"),
                               QStringLiteral("file:///home/someone/secret.swf")});
    EXPECT_EQ(listed.code, 1);
    EXPECT_TRUE(listed.err.contains(QStringLiteral("never looked up in the web archive")))
        << qPrintable(listed.err);
    ArchivePace pace(0, QDir(data.path()).filePath(QStringLiteral("pace")));
    const std::atomic<bool> never{false};
    WebArchive direct(archive.address(), pace, never, {});
    QString error;
    EXPECT_FALSE(direct.newestMovie(QStringLiteral("FILE:///home/someone/secret.swf"), &error));
    EXPECT_FALSE(direct.newestCapture(QStringLiteral("file:///etc/passwd"), 100, &error));
    EXPECT_TRUE(archive.requests().empty());
}

TEST_F(WebArchiveTest, ListingASiteGivesEachArchivedMovieOnceWithItsNewestCaptureAcrossPages)
{
    archive.pageRows = 2;
    const CliRun run = cli({QStringLiteral("archive"), QStringLiteral("list"),
                            QStringLiteral("http://dead.example/")});
    EXPECT_EQ(run.code, 0) << qPrintable(run.err);
    QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    lines.sort();
    EXPECT_EQ(lines, QStringList({"http://dead.example/games/b.swf\t20060101000000\t4",
                                  "http://dead.example/play.php?id=3\t20060101000000\t3"}));

    const QJsonArray json =
        QJsonDocument::fromJson(
            cli({QStringLiteral("archive"), QStringLiteral("list"),
                 QStringLiteral("http://dead.example/"), QStringLiteral("--json")})
                .out.toUtf8())
            .array();
    ASSERT_EQ(json.size(), 2) << "one document, an array";
    EXPECT_EQ(json[0].toObject()[QStringLiteral("length")].toInt() +
                  json[1].toObject()[QStringLiteral("length")].toInt(),
              7);
}

TEST_F(WebArchiveTest, AnIndexThatNeverStopsGivingPagesIsListedAtMostAHundredPages)
{
    archive.busyAnswers = 0;
    archive.pageRows = 2;
    archive.endlessKeys = true;
    writeFile(QDir(data.path()).filePath(QStringLiteral("clipvault.conf")),
              "[General]\narchivepace=0\n");
    const CliRun run = cliProcess({QStringLiteral("archive"), QStringLiteral("list"),
                                   QStringLiteral("http://dead.example/")});
    EXPECT_EQ(run.code, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains(QStringLiteral("after 100 pages"))) << qPrintable(run.err);
    EXPECT_EQ(run.out.count(u'\n'), 2) << "the movies found so far";
    EXPECT_EQ(archive.requests().size(), 100u);
}

TEST_F(WebArchiveTest, ABusyArchiveIsWaitedOutAtMostTenMinutesAndTheWaitIsSaid)
{
    archive.retryAfterSeconds = 99999;
    QProcess tool;
    tool.start(QStringLiteral(CLIPVAULT_CLI),
               {QStringLiteral("--data-dir"), data.path(), QStringLiteral("archive"),
                QStringLiteral("list"), QStringLiteral("http://dead.example/")});
    QString err;
    ASSERT_TRUE(waitUntil([&] {
        err += QString::fromLocal8Bit(tool.readAllStandardError());
        return err.contains(QStringLiteral("until"));
    })) << qPrintable(err);
    tool.kill();
    tool.waitForFinished();
    EXPECT_TRUE(err.contains(QStringLiteral("busy: waiting 600 s as it asks, until ")))
        << qPrintable(err);

    // Nor does a wait asked of one process hold the others longer, even one stored by a run
    // that granted an hour.
    const QTemporaryDir state;
    const QString file = QDir(state.path()).filePath(QStringLiteral("pace"));
    ArchivePace(0, file).holdOff(qint64(99999) * 1000);
    EXPECT_LE(ArchivePace(0, file).reserveTurn(), 600 * 1000);
    writeFile(file, QByteArray::number(QDateTime::currentMSecsSinceEpoch() + 3600 * 1000));
    EXPECT_EQ(ArchivePace(0, file).reserveTurn(), 0);
}

TEST_F(WebArchiveTest, TheProgramsDownloadSavesTheArchivedCopyAndTheItemRemembersIt)
{
    archive.busyAnswers = 0;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    options.NotifyTaskFinished = 1;
    Catalogue catalogue{prompt, options};
    CategoryRecord game = CategoryNamed(QStringLiteral("Game"));
    SetFieldText(game.Folder, data.path() + u'/');
    catalogue.AddCategory(game);
    DownloadFlow flow{catalogue, options, prompt};
    flow.addFallback(WebArchiveFallback({archive.address(), 100}, [] { return true; }), true);
    const int index =
        catalogue.AddItemFromUrl(QString::fromStdString(lost), QStringLiteral("Game"));
    flow.StartItemDownload(QString::fromStdString(lost));
    ASSERT_TRUE(waitUntil([&] { return !flow.isBusy(); }, 60000));
    EXPECT_EQ(catalogue.item(index).state(), ItemState::Downloaded);
    EXPECT_EQ(catalogue.item(index).extras.archivedFrom,
              archive.address() + QStringLiteral("/web/20090315120000id_/") +
                  QString::fromStdString(lost));
    EXPECT_EQ(catalogue.item(index).extras.archivedAt, QStringLiteral("20090315120000"));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(
        prompt.messages[0].text.contains(QStringLiteral("the web archive's copy of 15 March 2009")))
        << qPrintable(prompt.messages[0].text);
}

TEST_F(WebArchiveTest, APageThatIsGoneIsScannedInItsCaptureWithItsFramesAsTheyWereThen)
{
    const std::string site = "http://127.0.0.1:9/site/";
    archive.busyAnswers = 0;
    archive.captures = {
        {"20090101000000", site + "index.html", "text/html", 200, "A",
         "<frameset><frame src='left.html'><frame name=main src=\"main.html\"></frameset>"
         "<embed src='intro.swf'>"},
        {"20010101000000", site + "main.html", "text/html", 200, "B", "<embed src='old.swf'>"},
        {"20090102000000", site + "main.html", "text/html", 200, "C", "<embed src='games/a.swf'>"},
        {"20090102000000", site + "left.html", "text/html", 200, "D", "nothing here"},
    };
    DetectionJob job([] { return QList<CacheLocation>{}; });
    constexpr int kPaceMs = 200;
    job.setWebArchive(archive.address(), kPaceMs);
    QStringList found;
    QString notice;
    QObject::connect(&job, &DetectionJob::moviesFound,
                     [&](const QStringList& movies) { found += movies; });
    QObject::connect(&job, &DetectionJob::archiveCopyUsed,
                     [&](const QString& text) { notice = text; });
    QString error = QStringLiteral("(running)");
    QObject::connect(&job, &DetectionJob::finished, [&](const QString& text) { error = text; });
    job.startWebPage(QString::fromStdString(site + "index.html"), {});
    ASSERT_TRUE(waitUntil([&] { return error != u"(running)"; }, 60000));
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    EXPECT_EQ(found, QStringList({QString::fromStdString(site + "intro.swf"),
                                  QString::fromStdString(site + "games/a.swf")}))
        << "the frames' nearest captures, their references against the original addresses";
    EXPECT_TRUE(notice.contains(QStringLiteral("1 January 2009"))) << qPrintable(notice);
    // Every request in its turn, a redirect followed included: measured over all of them, so
    // that a late arrival of one cannot make its neighbours look hurried.
    const auto requests = archive.requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_GE(requests.back().second - requests.front().second,
              qint64(requests.size() - 1) * kPaceMs - kPaceMs / 2);
}

TEST_F(WebArchiveTest, AKeptFileWhoseAddressIsGoneComesFromTheArchiveToo)
{
    archive.busyAnswers = 0;
    TestServer site; // gives the movie; its child is gone (404)
    serveParentNaming(site, "child.swf");
    archive.captures.push_back({"20090315120000", site.url("/games/child.swf"),
                                "application/x-shockwave-flash", 200, "K", newMovie});
    const QString into = QDir(data.path()).filePath(QStringLiteral("kept"));
    const CliRun run =
        cli({QStringLiteral("capture"), QString::fromStdString(site.url("/games/parent.swf")),
             QStringLiteral("--into"), into, QStringLiteral("--seconds"), QStringLiteral("0")});
    EXPECT_EQ(run.code, 0) << qPrintable(run.err);
    const QString child =
        QDir(into).filePath(QStringLiteral("127.0.0.1_%1/games/child.swf").arg(site.port()));
    EXPECT_EQ(readFile(child).toStdString(), newMovie) << qPrintable(run.out);

    // Again as one JSON document: the movie first, then what it loads.
    const QJsonArray kept =
        QJsonDocument::fromJson(
            cli({QStringLiteral("capture"), QString::fromStdString(site.url("/games/parent.swf")),
                 QStringLiteral("--into"), into, QStringLiteral("--seconds"), QStringLiteral("0"),
                 QStringLiteral("--json")})
                .out.toUtf8())
            .array();
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept[0].toObject()[QStringLiteral("url")].toString().toStdString(),
              site.url("/games/parent.swf"));
    EXPECT_EQ(kept[1].toObject()[QStringLiteral("path")].toString(), child);
    EXPECT_EQ(kept[1].toObject()[QStringLiteral("sha256")].toString().size(), 64);
}

TEST_F(WebArchiveTest, AnArchiveCopyCutShortIsNoCopyAndNothingIsKept)
{
    archive.busyAnswers = 0;
    TestServer site; // gives the movie; its child is gone (404), the archive's copy is cut
    serveParentNaming(site, "child.xml");
    ArchiveStandIn::Capture cut{
        "20090315120000",      site.url("/games/child.xml"), "text/xml", 200, "C",
        std::string(4000, 'x')};
    cut.cutShort = true;
    archive.captures.push_back(cut);
    const QString into = QDir(data.path()).filePath(QStringLiteral("kept"));
    const CliRun run =
        cli({QStringLiteral("capture"), QString::fromStdString(site.url("/games/parent.swf")),
             QStringLiteral("--into"), into, QStringLiteral("--seconds"), QStringLiteral("0")});
    EXPECT_EQ(run.code, 0) << qPrintable(run.err);
    const QString child =
        QDir(into).filePath(QStringLiteral("127.0.0.1_%1/games/child.xml").arg(site.port()));
    EXPECT_FALSE(QFileInfo::exists(child)) << "no empty or cut file is kept";
    EXPECT_FALSE(ReadManifest(into).byUrl(QString::fromStdString(site.url("/games/child.xml"))))
        << "nor recorded";
}
