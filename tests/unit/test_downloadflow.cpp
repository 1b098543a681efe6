#include "downloadflow.h"

#include "catalogue.h"
#include "scriptedprompt.h"
#include "testfiles.h"
#include "testserver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
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
        catalogue.setRefreshItemList([this] { ++refreshes; });

        // Every movie answers after a short pause, so that several downloads overlap in time.
        server.server().Get(R"(/(\w+)\.swf)", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(mutex);
                requests.push_back(request.matches[1]);
            }
            std::this_thread::sleep_for(150ms);
            if (request.matches[1] == "broken") {
                response.status = 500;
                return;
            }
            response.set_content("FWS movie " + std::string(request.matches[1]), "application/x-shockwave-flash");
        });
        server.start();
    }

    int add(const char* name)
    {
        return catalogue.AddItemFromUrl(QString::fromStdString(server.url(std::string("/") + name + ".swf")),
                                        QStringLiteral("Game"));
    }
    QString gameFile(const char* name) const
    {
        return QDir(folder.path()).filePath(QStringLiteral("deep/er/Game/%1.swf").arg(QLatin1String(name)));
    }
    ItemState stateOf(const char* name) const
    {
        const int index = catalogue.FindItemByUrl(QString::fromStdString(server.url(std::string("/") + name + ".swf")));
        return index < 0 ? ItemState{} : catalogue.item(index).state();
    }

    QTemporaryDir folder;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    Catalogue catalogue{prompt, options};
    DownloadFlow flow{catalogue, options, prompt};
    TestServer server;
    std::mutex mutex;
    std::vector<std::string> requests;
    int refreshes = 0;
};

} // namespace

TEST_F(DownloadFlowTest, ADownloadCreatesTheFolderAndFilesTheItem)
{
    options.NotifyTaskFinished = 1;
    const int index = add("one");
    flow.StartItemDownload(index);
    EXPECT_EQ(stateOf("one"), ItemState::Downloaded);
    EXPECT_EQ(readFile(gameFile("one")), QByteArray("FWS movie one"));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, gameFile("one") + QStringLiteral(" save complete!"));
    EXPECT_EQ(prompt.messages[0].caption, QStringLiteral("Information"));
    EXPECT_GT(refreshes, 1);
    EXPECT_FALSE(flow.isBusy());
}

TEST_F(DownloadFlowTest, AFailedDownloadMarksTheItemFailedAndSaysSoWhenAsked)
{
    options.NotifyTaskFailed = 1;
    const int index = add("broken");
    flow.StartItemDownload(index);
    EXPECT_EQ(stateOf("broken"), ItemState::Failed);
    EXPECT_FALSE(QFile::exists(gameFile("broken")));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text,
              QString::fromStdString(server.url("/broken.swf")) + QStringLiteral(" download failed!"));
}

TEST_F(DownloadFlowTest, StartsDuringADownloadAreQueuedAndRunInOrder)
{
    const int first = add("first");
    const int second = add("second");
    const int third = add("third");
    // While the first transfer runs, the user asks for the other two (and the second twice).
    QTimer::singleShot(50, [&] {
        flow.StartItemDownload(second);
        flow.StartItemDownload(third);
        flow.StartItemDownload(second);
        EXPECT_EQ(flow.queuedCount(), 2);
        EXPECT_EQ(catalogue.item(second).state(), ItemState::New) << "queued items keep their state";
    });
    flow.StartItemDownload(first);
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
    QTimer::singleShot(50, [&] {
        flow.StartItemDownload(kept);
        catalogue.RemoveItemByUrl(QString::fromStdString(server.url("/doomed.swf")));
    });
    flow.StartItemDownload(doomed);
    EXPECT_EQ(catalogue.itemCount(), 1);
    EXPECT_EQ(stateOf("kept"), ItemState::Downloaded) << "the queue goes on by URL, not by position";
}

TEST_F(DownloadFlowTest, AFullPathFileNameIsDownloadedThere)
{
    const QString path = QDir(folder.path()).filePath(QStringLiteral("elsewhere/chosen.swf"));
    const int index = catalogue.AddItemFromUrlAs(QString::fromStdString(server.url("/one.swf")), {}, path);
    flow.StartItemDownload(index);
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
    flow.StartItemDownload(index);
    EXPECT_EQ(catalogue.item(index).state(), ItemState::Pending);
    EXPECT_TRUE(requests.empty());
}
