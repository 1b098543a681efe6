#include "downloadflow.h"

#include "cacheenumerator.h"
#include "cachedcopy.h"
#include "catalogue.h"
#include "scriptedprompt.h"
#include "keptfiles.h"
#include "swfwriter.h"
#include "testfiles.h"
#include "testserver.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <chrono>
#include <mutex>

namespace {

using namespace std::chrono_literals;

class DownloadFlowTest : public ::testing::Test
{
protected:
    DownloadFlowTest()
    {
        CategoryRecord game = CategoryNamed(QStringLiteral("Game"));
        SetFieldText(game.Folder, QDir(folder.path()).filePath(QStringLiteral("deep/er/Game/")));
        catalogue.AddCategory(game);
        catalogue.AddCategory(CategoryNamed(QStringLiteral("Downloaded")));

        // A movie that never comes: the transfer hangs until the server lets go.
        server.server().Get(
            "/hung.swf", [this](const httplib::Request&, httplib::Response& response) {
                {
                    std::lock_guard lock(mutex);
                    requests.push_back("hung");
                }
                response.set_chunked_content_provider("application/x-shockwave-flash",
                                                      [this](size_t, httplib::DataSink&) {
                                                          server.holdWhileStalling();
                                                          return false;
                                                      });
            });
        // Every movie answers after a short pause, so that several downloads overlap in time.
        server.server().Get(R"(/(\w+)\.swf)",
                            [this](const httplib::Request& request, httplib::Response& response) {
                                {
                                    std::lock_guard lock(mutex);
                                    requests.push_back(request.matches[1]);
                                }
                                std::this_thread::sleep_for(150ms);
                                if (request.matches[1] == "broken") {
                                    response.status = 500;
                                    return;
                                }
                                response.set_content("FWS movie " + std::string(request.matches[1]),
                                                     "application/x-shockwave-flash");
                            });
        server.start();
    }

    /// Waits until the queue has run dry; generous, for a loaded machine.
    bool waitUntilFinished() { return !flow.isBusy() || finished.wait(60000); }

    /// The address of the item at `index`, as the flow takes it.
    QString urlOf(int index) const { return FieldText(catalogue.item(index).Url); }
    int add(const char* name)
    {
        return catalogue.AddItemFromUrl(
            QString::fromStdString(server.url(std::string("/") + name + ".swf")),
            QStringLiteral("Game"));
    }
    std::size_t requestCount()
    {
        std::lock_guard lock(mutex);
        return requests.size();
    }
    QString gameFile(const char* name) const
    {
        return QDir(folder.path())
            .filePath(QStringLiteral("deep/er/Game/%1.swf").arg(QLatin1String(name)));
    }
    ItemState stateOf(const char* name) const
    {
        const int index = catalogue.FindItemByUrl(
            QString::fromStdString(server.url(std::string("/") + name + ".swf")));
        return index < 0 ? ItemState{} : catalogue.item(index).state();
    }

    QTemporaryDir folder;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    Catalogue catalogue{prompt, options};
    DownloadFlow flow{catalogue, options, prompt};
    QSignalSpy finished{&flow, &DownloadFlow::finished};
    QSignalSpy changed{&catalogue, &Catalogue::itemChanged};
    TestServer server;
    std::mutex mutex;
    std::vector<std::string> requests;
};

} // namespace

TEST_F(DownloadFlowTest, ADownloadCreatesTheFolderAndFilesTheItem)
{
    options.NotifyTaskFinished = 1;
    const int index = add("one");
    flow.StartItemDownload(urlOf(index));
    EXPECT_TRUE(flow.isBusy()) << "the transfer runs in the background";
    ASSERT_TRUE(waitUntilFinished());
    EXPECT_EQ(stateOf("one"), ItemState::Downloaded);
    EXPECT_EQ(readFile(gameFile("one")), QByteArray("FWS movie one"));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, gameFile("one") + QStringLiteral(" save complete!"));
    EXPECT_EQ(prompt.messages[0].caption, QStringLiteral("Information"));
    EXPECT_GE(changed.count(), 1) << "the views hear of the settled state";
    EXPECT_FALSE(flow.isBusy());
}

TEST_F(DownloadFlowTest, AFailedDownloadMarksTheItemFailedAndSaysSoWhenAsked)
{
    options.NotifyTaskFailed = 1;
    const int index = add("broken");
    flow.StartItemDownload(urlOf(index));
    ASSERT_TRUE(waitUntilFinished());
    EXPECT_EQ(stateOf("broken"), ItemState::Failed);
    EXPECT_EQ(catalogue.item(index).extras.failure,
              QStringLiteral("the server answered with status 500"))
        << "the reason stays with the item";
    EXPECT_FALSE(QFile::exists(gameFile("broken")));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, QString::fromStdString(server.url("/broken.swf")) +
                                           QStringLiteral(" download failed!\n"
                                                          "the server answered with status 500"));
}

TEST_F(DownloadFlowTest, AMovieItsSiteNoLongerGivesIsSavedFromAnotherCopyWhenOneHasIt)
{
    options.NotifyTaskFinished = 1;
    options.NotifyTaskFailed = 1;
    const QString failure =
        QString::fromStdString(server.url("/broken.swf")) +
        QStringLiteral(" download failed!\nthe server answered with status 500");
    struct Case
    {
        const char* name;
        QByteArray copy;
        ItemState state;
        QString message;
        bool inPieces = false; ///< the fallback writes it at the download's file itself
    };
    const QString saved =
        gameFile("broken") +
        " save complete! (the site did not give it: saved from the browser's copy)";
    const Case cases[] = {
        {"a movie", "CWS kept", ItemState::Downloaded, saved},
        {"a movie in pieces", "CWS kept", ItemState::Downloaded, saved, true},
        {"nothing", "", ItemState::Failed, failure},
        {"no movie", "<html>", ItemState::Failed, failure},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DownloadFlow flow{catalogue, options, prompt};
        QStringList asked;
        flow.addFallback(
            [&](const QString& url, const QString& target, QObject* context, auto use) {
                asked << url;
                QTimer::singleShot(0, context, [use, target, c] {
                    ReplacingFile file(target);
                    const bool written = c.inPieces && file.append(c.copy.left(3)) &&
                                         file.append(c.copy.mid(3)) && file.commit();
                    use({c.inPieces ? QByteArray() : c.copy, QStringLiteral("the browser's copy"),
                         written});
                });
            });
        prompt.messages.clear();
        QFile::remove(gameFile("broken"));
        // A link planted where the movie goes is replaced, as a download replaces it, and the
        // file it names is left alone.
        const QString victim = QDir(folder.path()).filePath(QStringLiteral("victim"));
        const bool planted = c.state == ItemState::Downloaded;
        if (planted) {
            ASSERT_TRUE(writeFile(victim, "mine"));
            QDir().mkpath(QFileInfo(gameFile("broken")).path());
            ASSERT_TRUE(QFile::link(victim, gameFile("broken")));
        }
        const int index =
            catalogue.FindItemByUrl(QString::fromStdString(server.url("/broken.swf")));
        flow.StartItemDownload(urlOf(index >= 0 ? index : add("broken")));
        ASSERT_TRUE(waitUntil([&] { return !flow.isBusy(); }, 60000));
        EXPECT_EQ(asked, QStringList{QString::fromStdString(server.url("/broken.swf"))});
        EXPECT_EQ(stateOf("broken"), c.state);
        EXPECT_EQ(QFile::exists(gameFile("broken")), c.state == ItemState::Downloaded);
        if (planted) {
            EXPECT_EQ(readFile(victim), QByteArray("mine"));
            EXPECT_FALSE(QFileInfo(gameFile("broken")).isSymLink());
        }
        ASSERT_EQ(prompt.messages.size(), 1u);
        EXPECT_EQ(prompt.messages[0].text, c.message);
    }
}

TEST_F(DownloadFlowTest, AMovieOfADeadSiteComesFromTheBrowserCache)
{
    // The cached movie's site (a port nothing listens on) is gone.
    options.NotifyTaskFinished = 1;
    DownloadFlow flow{catalogue, options, prompt};
    flow.addFallback(CachedCopyFallback(
        [] { return CacheEnumerator::CachesBelow(QStringLiteral(CLIPVAULT_FIXTURES "/cache")); }));
    const QString url = QStringLiteral("http://127.0.0.1:8766/red.swf?v=3");
    flow.StartItemDownload(urlOf(catalogue.AddItemFromUrl(url, QStringLiteral("Game"))));
    ASSERT_TRUE(waitUntil([&] { return !flow.isBusy(); }, 60000));
    const int index = catalogue.FindItemByUrl(url);
    ASSERT_GE(index, 0);
    EXPECT_EQ(catalogue.item(index).state(), ItemState::Downloaded);
    const QByteArray movie = readFile(ItemFilePath(catalogue.item(index)));
    EXPECT_TRUE(movie.startsWith("FWS") || movie.startsWith("CWS"))
        << movie.left(8).toHex().toStdString();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(prompt.messages[0].text.endsWith("saved from the browser cache's copy)"))
        << qPrintable(prompt.messages[0].text);
}

TEST_F(DownloadFlowTest, AnErrorPageUnderAMoviesNameFailsAndTheMessageSaysWhy)
{
    options.NotifyTaskFailed = 1;
    server.server().Get("/error-page.swf",
                        [](const httplib::Request&, httplib::Response& response) {
                            response.set_content("<html>moved</html>", "text/html");
                        });
    const int index = add("error-page");
    flow.StartItemDownload(urlOf(index));
    ASSERT_TRUE(waitUntilFinished());
    EXPECT_EQ(stateOf("error-page"), ItemState::Failed);
    EXPECT_FALSE(QFile::exists(gameFile("error-page")));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(
        prompt.messages[0].text.endsWith(QStringLiteral(" download failed!\nnot a Flash movie")))
        << prompt.messages[0].text.toStdString();
}

TEST_F(DownloadFlowTest, AFolderThatCannotBeMadeFailsTheItemNamingTheFolderAndTheQueueGoesOn)
{
    options.NotifyTaskFailed = 1;
    // A file stands where the category's folder would go.
    ASSERT_TRUE(QDir().mkpath(QDir(folder.path()).filePath(QStringLiteral("deep/er"))));
    ASSERT_TRUE(writeFile(QDir(folder.path()).filePath(QStringLiteral("deep/er/Game")), "file"));
    CategoryRecord elsewhere = CategoryNamed(QStringLiteral("Elsewhere"));
    SetFieldText(elsewhere.Folder, QDir(folder.path()).filePath(QStringLiteral("ok/")));
    ASSERT_TRUE(catalogue.AddCategory(elsewhere));

    flow.StartItemDownload(urlOf(add("blocked")));
    const int next = catalogue.AddItemFromUrl(QString::fromStdString(server.url("/next.swf")),
                                              QStringLiteral("Elsewhere"));
    flow.StartItemDownload(urlOf(next));
    ASSERT_TRUE(waitUntilFinished());
    EXPECT_EQ(stateOf("blocked"), ItemState::Failed) << "never left under Downloading";
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_TRUE(prompt.messages[0].text.endsWith(
        QStringLiteral("download failed!\ncannot create the folder ") +
        QDir(folder.path()).filePath(QStringLiteral("deep/er/Game"))))
        << prompt.messages[0].text.toStdString();
    EXPECT_EQ(stateOf("next"), ItemState::Downloaded);
}

TEST_F(DownloadFlowTest, StartsDuringADownloadAreQueuedAndRunInOrder)
{
    const int first = add("first");
    const int second = add("second");
    const int third = add("third");
    options.NotifyTaskFinished = 1;
    // The next transfer is under way before the user reads about the one that ended.
    std::vector<bool> busyWhenTold;
    prompt.onMessage = [&] {
        busyWhenTold.push_back(flow.isBusy());
    };
    // While the first transfer runs, the user asks for the other two (and each of them twice).
    flow.StartItemDownload(urlOf(first));
    flow.StartItemDownload(urlOf(second));
    flow.StartItemDownload(urlOf(third));
    flow.StartItemDownload(urlOf(second));
    flow.StartItemDownload(urlOf(first));
    EXPECT_EQ(flow.queuedCount(), 2) << "a running or waiting item is not queued again";
    EXPECT_EQ(catalogue.item(second).state(), ItemState::New) << "queued items keep their state";
    ASSERT_TRUE(waitUntilFinished());
    EXPECT_EQ(finished.count(), 1) << "the queue ran dry once";
    EXPECT_EQ(busyWhenTold, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(requests, (std::vector<std::string>{"first", "second", "third"}));
    for (const char* name : {"first", "second", "third"}) {
        EXPECT_EQ(stateOf(name), ItemState::Downloaded) << name;
        EXPECT_TRUE(QFile::exists(gameFile(name))) << name;
    }
}

TEST_F(DownloadFlowTest, AnItemRemovedDuringItsDownloadIsLeftAlone)
{
    const int doomed = add("doomed");
    const int kept = add("kept");
    flow.StartItemDownload(urlOf(doomed));
    flow.StartItemDownload(urlOf(kept));
    catalogue.RemoveItemByUrl(QString::fromStdString(server.url("/doomed.swf")));
    ASSERT_TRUE(waitUntilFinished());
    EXPECT_EQ(catalogue.itemCount(), 1);
    EXPECT_EQ(stateOf("kept"), ItemState::Downloaded)
        << "the queue goes on by URL, not by position";
}

TEST_F(DownloadFlowTest, AFullPathFileNameIsDownloadedThere)
{
    const QString path = QDir(folder.path()).filePath(QStringLiteral("elsewhere/chosen.swf"));
    const int index =
        catalogue.AddItemFromUrlAs(QString::fromStdString(server.url("/one.swf")), {}, path);
    flow.StartItemDownload(urlOf(index));
    ASSERT_TRUE(waitUntilFinished());
    EXPECT_EQ(readFile(path), QByteArray("FWS movie one"));
    EXPECT_EQ(stateOf("one"), ItemState::Downloaded);
}

TEST_F(DownloadFlowTest, AFolderThatCannotBeMadeStopsBeforeTheTransfer)
{
    ASSERT_TRUE(writeFile(QDir(folder.path()).filePath(QStringLiteral("blocker")), "a file"));
    CategoryRecord blocked = CategoryNamed(QStringLiteral("Blocked"));
    SetFieldText(blocked.Folder, QDir(folder.path()).filePath(QStringLiteral("blocker/sub/")));
    catalogue.AddCategory(blocked);
    const int index = catalogue.AddItemFromUrl(QString::fromStdString(server.url("/one.swf")),
                                               QStringLiteral("Blocked"));
    catalogue.SetItemState(index, ItemState::Pending);
    flow.StartItemDownload(urlOf(index));
    EXPECT_FALSE(flow.isBusy());
    EXPECT_EQ(finished.count(), 1) << "the queue is dry at once";
    EXPECT_EQ(catalogue.item(index).state(), ItemState::Failed);
    EXPECT_TRUE(requests.empty());
}

TEST_F(DownloadFlowTest, AFlowEndedDuringAHungTransferLetsGoAtOnceAndLeavesNoPartFile)
{
    auto hungFlow = std::make_unique<DownloadFlow>(catalogue, options, prompt);
    const int index = add("hung");
    hungFlow->StartItemDownload(urlOf(index));
    QElapsedTimer deadline;
    deadline.start();
    while (requestCount() == 0 && deadline.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_EQ(requestCount(), 1u) << "the server never saw the request";

    // The program ends (its window closed): the transfer is cancelled, not waited for (the
    // stall time-out is a minute; the server here never lets go on its own).
    deadline.restart();
    hungFlow.reset();
    EXPECT_LT(deadline.elapsed(), 30000);
    EXPECT_EQ(stateOf("hung"), ItemState::New) << "the item waits for its next download";
    EXPECT_FALSE(QFile::exists(gameFile("hung")));
    EXPECT_TRUE(QDir(QDir(folder.path()).filePath(QStringLiteral("deep/er/Game")))
                    .entryList(QDir::Files)
                    .isEmpty());
}

TEST_F(DownloadFlowTest, AMovieComesWithTheFilesItsCodeNamesWithinItsSiteAndTheUsersSay)
{
    // parent.swf names a relative game that names its level, an absolute picture on its own
    // host, a file on a private network and one that is missing.
    TestServer site;
    std::map<std::string, std::string> files; // filled once the port is known
    for (const char* path : {"/games/parent.swf", "/games/child.swf", "/games/levels/1.xml",
                             "/assets/far.png", "/other/same.swf"}) {
        site.server().Get(
            path, [&files](const httplib::Request& request, httplib::Response& response) {
                response.set_content(files.at(request.path), "application/octet-stream");
            });
    }
    site.start();
    const auto movie = [](const QByteArray& tags) {
        SwfMovie swf;
        swf.tags = tags;
        return WriteSwf(swf).toStdString();
    };
    files = {
        {"/games/parent.swf",
         movie(swftags::doAction(
             swftags::getUrl("child.swf", "_level1") +
             swftags::pushString(QByteArray::fromStdString(site.url("/assets/far.png"))) +
             swftags::pushString("http://10.0.0.1/inside.xml") +
             swftags::pushString("missing.txt")))},
        {"/games/child.swf", movie(swftags::doAction(swftags::pushString("levels/1.xml")))},
        {"/games/levels/1.xml", "<level/>"},
        {"/assets/far.png", "PNG"},
    };
    files["/other/same.swf"] = files.at("/games/parent.swf");
    options.NotifyTaskFinished = 1;
    const auto addUrl = [&](const std::string& path) {
        return catalogue.AddItemFromUrl(QString::fromStdString(site.url(path)),
                                        QStringLiteral("Game"));
    };

    flow.StartItemDownload(urlOf(addUrl("/games/parent.swf")));
    ASSERT_TRUE(waitUntilFinished());
    const QString movieFile = gameFile("parent");
    const KeptManifest kept = ReadManifest(KeptFolderOf(movieFile));
    QStringList places;
    for (const KeptFile& file : kept.files) {
        places << file.path;
        EXPECT_EQ(readFile(QDir(KeptFolderOf(movieFile)).filePath(file.path)),
                  QByteArray::fromStdString(files.at(QUrl(file.url).path().toStdString())));
        EXPECT_EQ(file.sha256.size(), 64);
    }
    const QString host = QStringLiteral("127.0.0.1_%1").arg(site.port());
    places.sort();
    EXPECT_EQ(places, QStringList({host + QStringLiteral("/assets/far.png"),
                                   host + QStringLiteral("/games/child.swf"),
                                   host + QStringLiteral("/games/levels/1.xml")}));
    const int parent =
        catalogue.FindItemByUrl(QString::fromStdString(site.url("/games/parent.swf")));
    EXPECT_EQ(catalogue.item(parent).extras.keptFiles, 3);
    EXPECT_EQ(catalogue.item(parent).extras.sha256, FileSha256(movieFile));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(prompt.messages[0].text.contains(QStringLiteral("3 file(s)")))
        << qPrintable(prompt.messages[0].text);

    // The same bytes under another address: filed too, and the user hears it is the same movie;
    // an item that asks not to keep files keeps none.
    const int same = addUrl("/other/same.swf");
    ItemRecord record = catalogue.item(same);
    record.extras.keepFiles = false;
    catalogue.updateItem(same, record);
    flow.StartItemDownload(urlOf(same));
    ASSERT_TRUE(waitUntilFinished());
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_TRUE(
        prompt.messages[1].text.contains(QStringLiteral("the same movie as ") +
                                         QString::fromStdString(site.url("/games/parent.swf"))))
        << qPrintable(prompt.messages[1].text);
    EXPECT_FALSE(QFile::exists(KeptFolderOf(gameFile("same"))));
}

TEST_F(DownloadFlowTest, AMovieOfThisMachineIsNeverDownloadedOnlySettledByWhetherItsFileIsThere)
{
    options.NotifyTaskFailed = 1;
    const QString there = QDir(folder.path()).filePath(QStringLiteral("there.swf"));
    ASSERT_TRUE(writeFile(there, "FWS here"));
    for (const QString& file : {there, QDir(folder.path()).filePath(QStringLiteral("gone.swf"))}) {
        const QString address = QUrl::fromLocalFile(file).toString();
        ASSERT_GE(catalogue.AddItemFromUrlAs(address, QStringLiteral("Game"), file), 0);
        flow.StartItemDownload(address);
    }
    EXPECT_FALSE(flow.isBusy());
    EXPECT_EQ(catalogue.item(0).state(), ItemState::Downloaded);
    EXPECT_EQ(catalogue.item(1).state(), ItemState::Failed);
    EXPECT_TRUE(catalogue.item(1).extras.failure.contains(QStringLiteral("is not there")));
    EXPECT_EQ(prompt.messages.size(), 1u) << "the gone file is told of";
    EXPECT_EQ(requestCount(), 0u);
    EXPECT_EQ(readFile(there), "FWS here");
}
