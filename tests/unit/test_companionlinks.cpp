#include "companionlinks.h"

#include "testfiles.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <cstring>

using namespace nativemessaging;

namespace {

/// A host's connection to the program, as CompanionLinks takes it over.
class CompanionLinksTest : public ::testing::Test
{
protected:
    CompanionLinksTest()
    {
        server.listen(QDir(folder.path()).filePath(QStringLiteral("program")));
        host.connectToServer(server.fullServerName());
        EXPECT_TRUE(waitUntil([&] { return server.hasPendingConnections(); }));
        links.adopt(server.nextPendingConnection(), {});
        QObject::connect(&host, &QLocalSocket::readyRead, [this] {
            replies.feed(host.readAll());
            while (const std::optional<QByteArray> json = replies.next())
                heard << QJsonDocument::fromJson(*json).object();
        });
        QObject::connect(&links, &CompanionLinks::choiceMade,
                         [this](const CompanionChoice& choice) { choices << choice; });
    }
    void send(const QJsonObject& message)
    {
        host.write(Frame(message));
        host.flush();
    }

    QTemporaryDir folder;
    QLocalServer server;
    QLocalSocket host;
    CompanionLinks links;
    FrameReader replies;
    QList<QJsonObject> heard;
    QList<CompanionChoice> choices;
};

const QJsonObject kHello{{"type", "hello"},
                         {"protocol", kProtocol},
                         {"browser", "firefox"},
                         {"browserVersion", "140.5"}};
const QJsonObject kChoice{{"type", "choice"},
                          {"movie", "games/m.swf?v=2"},
                          {"page", "https://a.example/"},
                          {"frame", "https://b.example/frame.html"},
                          {"action", "category"},
                          {"category", "Game"}};

} // namespace

TEST_F(CompanionLinksTest, AGreetedCompanionHearsTheBarsStateAndItsChoicesAreTaken)
{
    QJsonObject choice = kChoice;
    choice.insert(QStringLiteral("movie"), QStringLiteral("https://b.example/games/m.swf"));
    send(choice); // before hello: refused
    links.setBarState(true, false, {QStringLiteral("Game")});
    send(kHello);
    ASSERT_TRUE(waitUntil([&] { return heard.size() >= 2; }));
    EXPECT_EQ(heard[0][QStringLiteral("fault")].toString(), QStringLiteral("version"));
    EXPECT_EQ(heard[1][QStringLiteral("type")].toString(), QStringLiteral("welcome"));
    EXPECT_EQ(heard[1][QStringLiteral("categories")].toArray(), QJsonArray{"Game"});
    ASSERT_EQ(links.browsers().size(), 1);
    EXPECT_EQ(links.browsers()[0].version, QStringLiteral("140.5"));

    // A change reaches every bar; a choice is taken, an unsound one answered with an error.
    links.setBarState(false, false, {QStringLiteral("Game")});
    send(choice);
    send(kChoice); // a relative movie address is no address
    ASSERT_TRUE(waitUntil([&] { return heard.size() >= 4 && choices.size() == 1; }));
    EXPECT_FALSE(heard[2][QStringLiteral("shortcutBar")].toBool(true));
    EXPECT_EQ(heard[3][QStringLiteral("fault")].toString(), QStringLiteral("value"));
    EXPECT_EQ(choices[0].frame, QStringLiteral("https://b.example/frame.html"));
    EXPECT_EQ(choices[0].category, QStringLiteral("Game"));
}

TEST_F(CompanionLinksTest, AFloodIsTakenInTurnAndAnAbsurdLengthClosesTheConnection)
{
    send(kHello);
    constexpr int kFlood = 2000;
    QByteArray flood;
    for (int i = 0; i < kFlood; ++i)
        flood += Frame(kChoice); // each refused: its movie address is relative
    host.write(flood);
    ASSERT_TRUE(waitUntil([&] { return heard.size() == 1 + kFlood; }, 60000));
    EXPECT_TRUE(choices.isEmpty());

    quint32 absurd = 0xFFFFFFFFu;
    QByteArray length(4, '\0');
    std::memcpy(length.data(), &absurd, 4);
    host.write(length);
    host.flush();
    EXPECT_TRUE(waitUntil([&] { return host.state() == QLocalSocket::UnconnectedState; }));
    EXPECT_TRUE(waitUntil([&] { return links.browsers().isEmpty(); }));
}

TEST_F(CompanionLinksTest, TheVisibleTabIsTheOneOfTheBrowserLastInFront)
{
    send(kHello);
    QLocalSocket chromium;
    chromium.connectToServer(server.fullServerName());
    ASSERT_TRUE(waitUntil([&] { return server.hasPendingConnections(); }));
    links.adopt(server.nextPendingConnection(), {});
    QJsonObject hello = kHello;
    hello["browser"] = QStringLiteral("chromium");
    const auto fromChromium = [&](const QJsonObject& message) {
        chromium.write(Frame(message));
        chromium.flush();
    };
    fromChromium(hello);
    ASSERT_TRUE(waitUntil([&] { return links.browsers().size() == 2; }));

    send({{"type", "tab"}, {"url", "https://in-front.example/"}, {"focused", true}});
    ASSERT_TRUE(waitUntil([&] { return links.visibleTab() == u"https://in-front.example/"; }));
    // Chromium, behind, loads a page; a choice after it shows it was read.
    fromChromium({{"type", "tab"}, {"url", "https://behind.example/"}, {"focused", false}});
    QJsonObject choice = kChoice;
    choice["movie"] = QStringLiteral("https://a.example/m.swf");
    fromChromium(choice);
    ASSERT_TRUE(waitUntil([&] { return !choices.isEmpty(); }));
    EXPECT_EQ(links.visibleTab(), QStringLiteral("https://in-front.example/"));
    fromChromium({{"type", "tab"}, {"url", "https://behind.example/"}, {"focused", true}});
    EXPECT_TRUE(waitUntil([&] { return links.visibleTab() == u"https://behind.example/"; }))
        << "brought in front, it is the one";
}

TEST_F(CompanionLinksTest, TheVisibleTabsMoviesAndTheBrowsersCopyComeFromTheCompanion)
{
    send(kHello);
    ASSERT_TRUE(waitUntil([&] { return heard.size() == 1; }));
    QObject context;
    std::optional<QList<TabMovie>> movies;
    links.findTabMovies(&context, [&](const QList<TabMovie>& found) { movies = found; });
    ASSERT_TRUE(waitUntil([&] { return heard.size() == 2; }));
    EXPECT_EQ(heard[1]["type"].toString(), QStringLiteral("findMovies"));
    send({{"type", "movies"},
          {"id", heard[1]["id"]},
          {"movies", QJsonArray{QJsonObject{{"url", "https://a.example/m.swf"},
                                            {"frame", "https://a.example/"},
                                            {"seenAs", QJsonArray{"element", "network"}}}}}});
    ASSERT_TRUE(waitUntil([&] { return movies.has_value(); }));
    ASSERT_EQ(movies->size(), 1);
    EXPECT_EQ(movies->first().seenAs, QStringList({"element", "network"}));

    // The browser's own copy, in pieces written into a partial file beside the target as they
    // come; an answer no question waits for changes nothing.
    QTemporaryDir folder;
    const QString target = QDir(folder.path()).filePath(QStringLiteral("m.swf"));
    const auto pieces = [&](const QList<QByteArray>& bytes) {
        std::optional<bool> saved;
        links.saveMovie(QStringLiteral("https://a.example/m.swf"), target, &context,
                        [&](bool done, const QString&) { saved = done; });
        const qsizetype asked = heard.size() + 1;
        EXPECT_TRUE(waitUntil([&] { return heard.size() == asked; }));
        EXPECT_EQ(heard.last()["url"].toString(), QStringLiteral("https://a.example/m.swf"));
        const QJsonValue id = heard.last()["id"];
        send({{"type", "movies"}, {"id", id.toInt() + 7}, {"movies", QJsonArray{}}});
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            send({{"type", "copy"},
                  {"id", id},
                  {"data", QString::fromLatin1(bytes[i].toBase64())},
                  {"last", i == bytes.size() - 1}});
            if (i == 0) {
                EXPECT_TRUE(waitUntil([&] { return QDir(folder.path()).count() > 2 || saved; }));
            }
            EXPECT_FALSE(QFile::exists(target)) << "the target is put in place only when whole";
        }
        EXPECT_TRUE(waitUntil([&] { return saved.has_value(); }));
        return saved.value_or(false);
    };
    EXPECT_FALSE(pieces({"<htm", "l>"})) << "no Flash movie from its first bytes on";
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList()) << "and nothing is left";
    EXPECT_TRUE(pieces({"FWS", "\x0a"}));
    EXPECT_EQ(readFile(target), QByteArray("FWS\x0a"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList({"m.swf"}));
}
