#include "nativemessaging.h"
#include "privatefolder.h"

#include "waituntil.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <cstring>

using namespace nativemessaging;

namespace {

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject hello(int protocol = kProtocol)
{
    return {{"type", "hello"}, {"protocol", protocol}, {"browser", "chromium"}};
}

QJsonObject choice()
{
    return {{"type", "choice"},
            {"movie", "https://a.example/m.swf"},
            {"page", "https://a.example/"},
            {"action", "category"},
            {"category", "Game"}};
}

QJsonObject with(QJsonObject object, const char* key, const QJsonValue& value)
{
    object.insert(QLatin1String(key), value);
    return object;
}

QByteArray lengthBytes(quint32 length)
{
    QByteArray bytes(4, '\0');
    std::memcpy(bytes.data(), &length, 4);
    return bytes;
}

/// Reads frames from a device as they come.
struct FrameCollector
{
    void take(QIODevice& device)
    {
        reader.feed(device.readAll());
        while (const std::optional<QByteArray> message = reader.next())
            messages << QJsonDocument::fromJson(*message).object();
    }
    FrameReader reader;
    QList<QJsonObject> messages;
};

/// A host as the browser starts it, for a data folder of the test's own, with the program's
/// socket in a runtime folder of the test's own.
class BrowserHostTest : public ::testing::Test
{
protected:
    BrowserHostTest()
    {
        QDir(root.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime().toUtf8());
        socketPath = ProgramSocketPath(dataFolder());
    }
    ~BrowserHostTest() override
    {
        host.kill();
        host.waitForFinished();
        if (savedRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", savedRuntime);
    }
    QString runtime() const { return QDir(root.path()).filePath(QStringLiteral("run")); }
    QString dataFolder() const { return QDir(root.path()).filePath(QStringLiteral("data")); }

    void startHost()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CLIPVAULT_HOME"), dataFolder());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime());
        host.setProcessEnvironment(environment);
        QObject::connect(&host, &QProcess::readyReadStandardOutput, [this] { replies.take(host); });
        host.start(QStringLiteral(CLIPVAULT_BROWSER_HOST));
        ASSERT_TRUE(host.waitForStarted());
    }
    void send(const QJsonObject& message) { host.write(Frame(message)); }
    /// Waits for the host's replies to number `count`.
    bool repliesReach(qsizetype count, int ms = 30000)
    {
        return waitUntil([&] { return replies.messages.size() >= count; }, ms);
    }

    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir root;
    QString socketPath;
    QProcess host;
    FrameCollector replies;
};

} // namespace

TEST(NativeMessaging, EveryMessageIsCheckedAgainstWhatItsSenderMaySend)
{
    struct Case
    {
        const char* what;
        QByteArray json;
        Sender sender;
        Fault fault;
    };
    const Case cases[] = {
        {"a hello", json(hello()), Sender::Extension, Fault::None},
        {"a choice", json(choice()), Sender::Extension, Fault::None},
        {"another protocol", json(hello(2)), Sender::Extension, Fault::Version},
        {"no JSON", "{\"type\":", Sender::Extension, Fault::Json},
        {"no object", "[1,2]", Sender::Extension, Fault::Json},
        {"the program's message from the page's side",
         json({{"type", "fetch"}, {"id", 1}, {"url", "https://a.example/m.swf"}}),
         Sender::Extension, Fault::Type},
        {"an unknown field", json(with(choice(), "evil", true)), Sender::Extension, Fault::Field},
        {"no type", json({{"movie", "https://a.example/m.swf"}}), Sender::Extension, Fault::Type},
        {"a script address", json(with(choice(), "movie", "javascript:alert(1)")),
         Sender::Extension, Fault::Value},
        {"a file address", json(with(choice(), "movie", "file:///etc/passwd")), Sender::Extension,
         Fault::Value},
        {"an unknown action", json(with(choice(), "action", "delete")), Sender::Extension,
         Fault::Value},
        {"a fractional id", json({{"type", "copyFailed"}, {"id", 1.5}}), Sender::Extension,
         Fault::Value},
        {"a piece that is no base64",
         json({{"type", "copy"}, {"id", 1}, {"data", "!!!!"}, {"last", true}}), Sender::Extension,
         Fault::Value},
        {"a tab movie with a field of its own",
         json({{"type", "movies"},
               {"id", 3},
               {"movies", QJsonArray{QJsonObject{{"url", "https://a.example/m.swf"}, {"x", 1}}}}}),
         Sender::Extension, Fault::Value},
        {"the program's welcome",
         json({{"type", "welcome"},
               {"protocol", kProtocol},
               {"shortcutBar", true},
               {"pauseMovie", false},
               {"categories", QJsonArray{"Game", "Fun"}}}),
         Sender::Program, Fault::None},
    };
    for (const Case& c : cases) {
        Fault fault = Fault::None;
        QString why;
        const std::optional<Message> message = ReadMessage(c.json, c.sender, &fault, &why);
        EXPECT_EQ(fault, c.fault) << c.what << ": " << qPrintable(why);
        EXPECT_EQ(message.has_value(), c.fault == Fault::None) << c.what;
    }
    // The choice whose page is missing, built as it is meant.
    QJsonObject noPage = choice();
    noPage.remove(QStringLiteral("page"));
    Fault fault = Fault::None;
    QString why;
    EXPECT_FALSE(ReadMessage(json(noPage), Sender::Extension, &fault, &why));
    EXPECT_EQ(fault, Fault::Field) << qPrintable(why);
}

TEST_F(BrowserHostTest, WithoutTheProgramItSaysSoAndAnswersEveryBadMessageWithAnError)
{
    ASSERT_NO_FATAL_FAILURE(startHost());
    send(choice()); // before hello: refused
    send(hello());
    ASSERT_TRUE(repliesReach(2));
    EXPECT_EQ(replies.messages[0]["fault"].toString(), QStringLiteral("version"));
    EXPECT_EQ(replies.messages[1], QJsonObject({{"type", "state"}, {"running", false}}));

    // A flood of bad messages: each answered, in order, and logged once.
    constexpr int kFlood = 3000;
    QByteArray flood;
    for (int i = 0; i < kFlood; ++i)
        flood += Frame(with(choice(), "movie", "javascript:void(0)"));
    host.write(flood);
    ASSERT_TRUE(repliesReach(2 + kFlood, 60000));
    EXPECT_EQ(replies.messages.last()["fault"].toString(), QStringLiteral("value"));
    host.closeWriteChannel();
    ASSERT_TRUE(host.waitForFinished(30000));
    EXPECT_EQ(host.exitCode(), 0);
    const QString log = QString::fromLocal8Bit(host.readAllStandardError());
    EXPECT_EQ(log.count(QStringLiteral("(value)")), 1) << qPrintable(log);
}

TEST_F(BrowserHostTest, AnAbsurdLengthOrAPipeClosedMidMessageEndsTheHostSayingWhy)
{
    const std::pair<QByteArray, const char*> breaks[] = {
        {lengthBytes(0xFFFFFFFFu), "over the"},
        {lengthBytes(100) + "{\"type\":", "in the middle of a message"},
    };
    for (const auto& [bytes, said] : breaks) {
        SCOPED_TRACE(said);
        host.kill();
        host.waitForFinished();
        ASSERT_NO_FATAL_FAILURE(startHost());
        host.write(bytes);
        host.closeWriteChannel();
        ASSERT_TRUE(host.waitForFinished(30000));
        EXPECT_EQ(host.exitCode(), 1);
        const QString log = QString::fromLocal8Bit(host.readAllStandardError());
        EXPECT_TRUE(log.contains(QLatin1String(said))) << qPrintable(log);
    }
}

TEST_F(BrowserHostTest, AProgramStartedAfterTheBrowserIsReachedAndOnlyItsSoundMessagesPass)
{
    ASSERT_NO_FATAL_FAILURE(startHost());
    send(hello());
    ASSERT_TRUE(repliesReach(1));
    EXPECT_FALSE(replies.messages[0]["running"].toBool(true));

    // The program starts: the host finds it within a few seconds and says the hello again.
    QLocalServer program;
    ASSERT_TRUE(program.listen(socketPath)) << qPrintable(program.errorString());
    ASSERT_TRUE(waitUntil([&] { return program.hasPendingConnections(); }, 10000));
    QLocalSocket* link = program.nextPendingConnection();
    QByteArray heard;
    ASSERT_TRUE(waitUntil([&] {
        heard += link->readAll();
        return heard.size() >= qsizetype(std::strlen(kSocketGreeting)) + 4 + json(hello()).size();
    }));
    ASSERT_TRUE(heard.startsWith(kSocketGreeting));
    FrameReader frames;
    frames.feed(QByteArrayView(heard).sliced(std::strlen(kSocketGreeting)));
    EXPECT_EQ(frames.next().value_or(QByteArray()), json(hello()));

    const QJsonObject welcome{{"type", "welcome"},
                              {"protocol", kProtocol},
                              {"shortcutBar", true},
                              {"pauseMovie", false},
                              {"categories", QJsonArray{"Game"}}};
    link->write(Frame({{"type", "fetch"}, {"id", 1}, {"url", "file:///etc/passwd"}}));
    link->write(Frame(welcome));
    link->flush();
    ASSERT_TRUE(repliesReach(2));
    EXPECT_EQ(replies.messages[1], welcome) << "the unsound fetch went no further";

    // The extension's choice reaches the program as it was sent.
    send(choice());
    heard.clear();
    ASSERT_TRUE(waitUntil([&] {
        heard += link->readAll();
        return heard.size() >= 4 + json(choice()).size();
    }));
    EXPECT_EQ(heard.sliced(4), json(choice()));

    // The program quits: every bar goes.
    link->disconnectFromServer();
    ASSERT_TRUE(repliesReach(3));
    EXPECT_EQ(replies.messages[2], QJsonObject({{"type", "state"}, {"running", false}}));
}

namespace {

/// The extension's own manifest, as the repository keeps it.
QJsonObject extensionManifest()
{
    QFile file(QStringLiteral(CLIPVAULT_FIXTURES "/../../data/browser-extension/manifest.json"));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                          : QJsonObject();
}

/// Chromium's id for an unpacked extension with a key: the first 32 hex digits of the SHA-256
/// of the key's bytes, written with the letters a to p.
QString chromiumIdOf(const QString& key)
{
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromBase64(key.toLatin1()), QCryptographicHash::Sha256)
            .toHex()
            .left(32);
    QString id;
    for (const char c : digest)
        id += QChar(u'a' + QByteArray(1, c).toInt(nullptr, 16));
    return id;
}

} // namespace

TEST(BrowserConnect, WritesTheHostManifestThatLetsEachBrowsersCompanionStartTheHost)
{
    const QTemporaryDir home;
    const QString data = QDir(home.path()).filePath(QStringLiteral("data"));
    const auto connect = [&](const QStringList& arguments) {
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
        tool.setProcessEnvironment(environment);
        tool.start(QStringLiteral(CLIPVAULT_CLI),
                   QStringList{QStringLiteral("--data-dir"), data, QStringLiteral("browser"),
                               QStringLiteral("connect")} +
                       arguments);
        tool.waitForFinished(60000);
        return tool.exitCode();
    };
    ASSERT_EQ(connect({}), 0);

    const QJsonObject extension = extensionManifest();
    const QJsonArray chromiumOrigin{
        QStringLiteral("chrome-extension://%1/").arg(chromiumIdOf(extension["key"].toString()))};
    const QJsonArray firefoxId{extension["browser_specific_settings"]["gecko"]["id"].toString()};
    ASSERT_FALSE(extension["key"].toString().isEmpty());
    const std::pair<const char*, QJsonObject> expected[] = {
        {".config/chromium/NativeMessagingHosts", {{"allowed_origins", chromiumOrigin}}},
        {".config/google-chrome/NativeMessagingHosts", {{"allowed_origins", chromiumOrigin}}},
        {".mozilla/native-messaging-hosts", {{"allowed_extensions", firefoxId}}},
    };
    for (const auto& [folder, allowed] : expected) {
        QFile file(
            QDir(home.path())
                .filePath(QLatin1String(folder) + u'/' + QLatin1String(kHostName) + u".json"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << folder;
        const QJsonObject manifest = QJsonDocument::fromJson(file.readAll()).object();
        EXPECT_EQ(manifest["name"].toString(), QLatin1String(kHostName));
        EXPECT_EQ(manifest["type"].toString(), QStringLiteral("stdio"));
        EXPECT_EQ(QFileInfo(manifest["path"].toString()).canonicalFilePath(),
                  QFileInfo(QStringLiteral(CLIPVAULT_BROWSER_HOST)).canonicalFilePath());
        const QString key = allowed.begin().key();
        EXPECT_EQ(manifest[key], allowed[key]) << folder;
    }
    QFile record(QDir(home.path()).filePath(QStringLiteral(".config/clipvault/browser-host.conf")));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    EXPECT_TRUE(record.readAll().contains(QByteArray("datafolder=" + data.toUtf8())));

    // A browser started with its own profile folder finds the manifest there; Firefox has none.
    const QString profile = QDir(home.path()).filePath(QStringLiteral("profile"));
    ASSERT_EQ(connect({QStringLiteral("--browser"), QStringLiteral("chromium"),
                       QStringLiteral("--profile"), profile}),
              0);
    EXPECT_TRUE(QFileInfo::exists(profile + QStringLiteral("/NativeMessagingHosts/") +
                                  QLatin1String(kHostName) + u".json"));
    EXPECT_EQ(connect({QStringLiteral("--browser"), QStringLiteral("firefox"),
                       QStringLiteral("--profile"), profile}),
              2);
}
