#include "addresspolicy.h"
#include "clirun.h"
#include "filekeeper.h"
#include "keptfiles.h"
#include "movieexport.h"
#include "swfreferences.h"

#include "exportfixture.h"
#include "swfwriter.h"
#include "testfiles.h"
#include "testserver.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSysInfo>
#include <QFileInfo>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/stat.h>
#include <zip.h>

#include <atomic>
#include <functional>
#include <map>
#include <optional>

namespace {

using namespace swftags;

QByteArray movieWith(const QByteArray& tags, int version = 10, const QByteArray& signature = "FWS")
{
    SwfMovie movie;
    movie.signature = signature;
    movie.version = version;
    movie.tags = tags;
    return WriteSwf(movie);
}

QStringList referencesOf(const QByteArray& file)
{
    const std::optional<QByteArray> movie = UncompressedMovie(file, 64 << 20);
    return movie ? NamedFileReferences(*movie) : QStringList{QStringLiteral("(no movie)")};
}

} // namespace

TEST(NamedFileReferences, EveryPlaceAMovieNamesItsFilesIsRead)
{
    struct Case
    {
        const char* where;
        QByteArray movie;
        QStringList expected;
    };
    const QByteArray actions =
        constantPool({"loadMovie", "levels/one.swf", "hello world.swf", "_root"}) +
        pushString("music.mp3?v=2") + getUrl("child.swf", "_level1") + pushString("notafile");
    const QList<Case> cases = {
        {"frame actions: constant pool, pushes, GetURL; sentences and names without an "
         "extension are no files",
         movieWith(doAction(actions)),
         {"levels/one.swf", "music.mp3?v=2", "child.swf"}},
        {"compressed with zlib",
         movieWith(doAction(actions), 10, "CWS"),
         {"levels/one.swf", "music.mp3?v=2", "child.swf"}},
        {"compressed with LZMA",
         movieWith(doAction(actions), 13, "ZWS"),
         {"levels/one.swf", "music.mp3?v=2", "child.swf"}},
        {"inside a sprite, an init action and a button",
         movieWith(defineSprite(5, doAction(pushString("a/sprite.xml"))) +
                   tag(59, QByteArray("\x05\x00", 2) + pushString("init.json") + '\0') +
                   defineButton2(6, getUrl("http://x.org/b.png", ""))),
         {"a/sprite.xml", "init.json", "http://x.org/b.png"}},
        {"a clip event of a placed sprite",
         movieWith(placeWithClipActions(5, pushString("clip.txt")), 8),
         {"clip.txt"}},
        {"ActionScript 3 string constants and imported assets",
         movieWith(doAbc({"flash.display", "assets/level2.swf", "Level.XML"}) +
                   importAssets("shared/library.swf")),
         {"assets/level2.swf", "Level.XML", "shared/library.swf"}},
        {"a damaged action record ends the walk, not the program",
         movieWith(doAction(pushString("ok.gif") + QByteArray("\x96\xff\x7f", 3))),
         {"ok.gif"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        EXPECT_EQ(referencesOf(c.movie), c.expected);
    }
}

TEST(NamedFileReferences, AMovieThatClaimsToUnpackToGigabytesIsRefused)
{
    QByteArray bomb = movieWith({}, 10, "CWS");
    bomb[4] = '\xff';
    bomb[5] = '\xff';
    bomb[6] = '\xff';
    bomb[7] = '\x7f';
    QString error;
    EXPECT_FALSE(UncompressedMovie(bomb, 64 << 20, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(UncompressedMovie("<html>not a movie</html>", 64 << 20));
}

TEST(KeptFiles, AnAddressMapsToAPlaceInsideTheFolderOrToNone)
{
    const QList<std::pair<const char*, const char*>> cases = {
        {"http://Example.com/games/child.swf?v=1", "example.com/games/child.swf"},
        {"https://example.com:443/a.swf", "example.com/a.swf"},
        {"http://example.com:8080/a%20b.xml", "example.com_8080/a b.xml"},
        {"http://127.0.0.1:5000/assets/far.swf", "127.0.0.1_5000/assets/far.swf"},
        {"http://example.com/a/../../etc/passwd", nullptr},
        {"http://example.com/a/%2e%2e/x.swf", nullptr},
        {"http://example.com/a%2F..%2F..%2Fx.swf", nullptr},
        {"http://example.com/a%5Cb.swf", nullptr},
        {"http://example.com/.hidden.swf", nullptr},
        {"http://example.com/folder/", nullptr},
        {"file:///etc/passwd", nullptr},
        {"http://ex%2Fample.com/a.swf", nullptr},
        {"http://manifest.json/x.png", nullptr},
        {"http://MANIFEST.JSON.a1b2c3/x.png", nullptr},
    };
    for (const auto& [address, expected] : cases) {
        SCOPED_TRACE(address);
        const std::optional<QString> place = KeptPathFor(QUrl(QLatin1String(address)));
        if (expected)
            EXPECT_EQ(place.value_or(QStringLiteral("(none)")), QLatin1String(expected));
        else
            EXPECT_FALSE(place) << qPrintable(*place);
    }
}

TEST(KeptFiles, OnlyTheMoviesOwnHostOrThePublicWebIsFetched)
{
    const QUrl movie(QStringLiteral("http://127.0.0.1:5000/games/parent.swf"));
    const QList<std::pair<const char*, bool>> cases = {
        {"http://127.0.0.1:5000/games/child.swf", true},
        {"http://example.com/x.swf", true},
        {"http://8.8.8.8/x.swf", true},
        {"http://localhost:631/admin.xml", false},
        {"http://10.1.2.3/x.swf", false},
        {"http://192.168.1.1/x.swf", false},
        {"http://169.254.169.254/latest/meta-data.json", false},
        {"http://[::1]/x.swf", false},
        {"http://[::ffff:192.168.0.1]/x.swf", false},
        {"ftp://example.com/x.swf", false},
    };
    for (const auto& [address, allowed] : cases) {
        SCOPED_TRACE(address);
        EXPECT_EQ(MayFetchFor(QUrl(QLatin1String(address)), movie), allowed);
    }
}

TEST(KeptFiles, TheManifestRoundTripsAndAHandEditedEntryCannotPointOutside)
{
    QTemporaryDir folder;
    KeptManifest manifest;
    manifest.movieUrl = QStringLiteral("http://example.com/games/parent.swf");
    manifest.put({QStringLiteral("http://example.com/games/child.swf"),
                  QStringLiteral("example.com/games/child.swf"), 1234, "ab12",
                  QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC)});
    manifest.put({QStringLiteral("http://example.com/games/child.swf"),
                  QStringLiteral("example.com/games/child.swf"), 99, "cd34",
                  QDateTime(QDate(2026, 12, 8), QTime(11, 0), Qt::UTC)});
    ASSERT_TRUE(WriteManifest(folder.path(), manifest));
    const KeptManifest read = ReadManifest(folder.path());
    EXPECT_EQ(read.movieUrl, manifest.movieUrl);
    ASSERT_EQ(read.files.size(), 1) << "a file kept again replaces its entry";
    EXPECT_EQ(read.files[0].size, 99);
    EXPECT_EQ(read.files[0].sha256, QByteArray("cd34"));
    EXPECT_EQ(read.files[0].keptAt, manifest.files[0].keptAt);

    QByteArray text = readFile(ManifestPathIn(folder.path()));
    text.replace("\"path\": \"example.com/games/child.swf\"", "\"path\": \"../../outside.swf\"");
    ASSERT_TRUE(text.contains("outside"));
    ASSERT_TRUE(writeFile(ManifestPathIn(folder.path()), text));
    EXPECT_TRUE(ReadManifest(folder.path()).files.isEmpty());
}

TEST(Export, ARuffleBundleHoldsTheMovieAndItsSitesFilesWhereItsLoadsFindThem)
{
    ExportFixture fixture;
    const QString bundle = QDir(fixture.folder.path()).filePath(QStringLiteral("game.ruf"));
    const ExportResult result = ExportRuffleBundle(fixture.source, bundle);
    ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    const std::map<QString, QByteArray> entries = unzipped(bundle);
    QStringList names;
    for (const auto& [name, bytes] : entries)
        names << name;
    EXPECT_EQ(names, QStringList({"content/games/levels/child.swf", "content/games/parent.swf",
                                  "ruffle-bundle.toml"}));
    EXPECT_EQ(entries.at("content/games/parent.swf"), readFile(fixture.source.movieFile));
    EXPECT_EQ(entries.at("ruffle-bundle.toml"),
              QByteArray("[bundle]\nname = \"A \\\"quoted\\\"\\ntitle\\\\\"\n"
                         "url = \"file:///games/parent.swf\"\n"
                         "# source = \"https://example.com/games/parent.swf\"\n"));
    ASSERT_EQ(result.notes.size(), 1) << "the file of another site needs the web";
    EXPECT_FALSE(QFile::exists(bundle + QStringLiteral(".part")));
}

TEST(Export, ACurationFolderLaysOutEveryFileBySiteWithEscapedMetadata)
{
    ExportFixture fixture;
    const QString curation = QDir(fixture.folder.path()).filePath(QStringLiteral("curation"));
    fixture.source.category = QStringLiteral(" Arcade games ");
    const ExportResult result = ExportCuration(fixture.source, curation, "PNG!");
    ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    for (const char* path :
         {"content/example.com/games/parent.swf", "content/example.com/games/levels/child.swf",
          "content/cdn.example.org/music.mp3", "logo.png", "ss.png"})
        EXPECT_TRUE(QFileInfo(QDir(curation).filePath(QLatin1String(path))).isFile()) << path;
    EXPECT_EQ(readFile(QDir(curation).filePath(QStringLiteral("meta.yaml"))),
              QByteArray("Title: \"A \\\"quoted\\\"\\ntitle\\\\\"\n"
                         "Library: \"arcade\"\n"
                         "Source: \"https://example.com/games/parent.swf\"\n"
                         "Platform: \"Flash\"\n"
                         "Application Path: \"FPSoftware\\\\Flash\\\\flashplayer_32_sa.exe\"\n"
                         "Launch Command: \"http://example.com/games/parent.swf\"\n"
                         "Tags: \"Arcade games\"\n"));
    EXPECT_TRUE(ExportCuration(fixture.source, curation, {})
                    .notes.join(u' ')
                    .contains(QStringLiteral("ss.png")));
}

TEST(Export, ACurationOfAMovieOnAPortNamesOneHostInItsContentAndItsLaunchCommand)
{
    ExportFixture fixture;
    fixture.source.movieUrl = QStringLiteral("http://example.com:8080/games/parent.swf");
    const QString curation = QDir(fixture.folder.path()).filePath(QStringLiteral("curation"));
    const ExportResult result = ExportCuration(fixture.source, curation, {});
    ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    EXPECT_TRUE(
        QFileInfo(QDir(curation).filePath(QStringLiteral("content/example.com/games/parent.swf")))
            .isFile());
    EXPECT_TRUE(readFile(QDir(curation).filePath(QStringLiteral("meta.yaml")))
                    .contains("Launch Command: \"http://example.com/games/parent.swf\"\n"));
    EXPECT_TRUE(result.notes.join(u' ').contains(QStringLiteral("Tags")))
        << "a movie without a category leaves its tags to the curator";
}

TEST(Export, OnlyRegularFilesAreExportedAndNoLinkInTheDestinationIsWrittenThrough)
{
    const QString child = QStringLiteral("example.com/games/levels/child.swf");
    const auto keptPath = [](const ExportFixture& fixture, const QString& path) {
        return QDir(fixture.source.keptRoot).filePath(path);
    };
    // A kept file that is a link to a private file, a FIFO, or gone: the export fails naming it.
    struct Case
    {
        const char* what;
        std::function<void(const QString& file)> plant;
    };
    QTemporaryDir outside;
    const QString secret = QDir(outside.path()).filePath(QStringLiteral("secret"));
    ASSERT_TRUE(writeFile(secret, "private"));
    const Case cases[] = {
        {"a link",
         [&](const QString& file) {
             QFile::remove(file);
             QFile::link(secret, file);
         }},
        {"a FIFO",
         [](const QString& file) {
             QFile::remove(file);
             ::mkfifo(QFile::encodeName(file).constData(), 0600);
         }},
        {"missing",
         [](const QString& file) {
             QFile::remove(file);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExportFixture fixture;
        c.plant(keptPath(fixture, child));
        const QString bundle = QDir(fixture.folder.path()).filePath(QStringLiteral("game.ruf"));
        const ExportResult zipped = ExportRuffleBundle(fixture.source, bundle);
        EXPECT_FALSE(zipped.ok());
        EXPECT_TRUE(zipped.error.contains(keptPath(fixture, child))) << qPrintable(zipped.error);
        const ExportResult laidOut = ExportCuration(
            fixture.source, QDir(fixture.folder.path()).filePath(QStringLiteral("c")), {});
        EXPECT_TRUE(laidOut.error.contains(keptPath(fixture, child))) << qPrintable(laidOut.error);
    }

    // Links already in the destination: a site's folder is refused, meta.yaml is replaced.
    ExportFixture fixture;
    const QString curation = QDir(fixture.folder.path()).filePath(QStringLiteral("curation"));
    ASSERT_TRUE(QDir().mkpath(QDir(curation).filePath(QStringLiteral("content"))));
    ASSERT_TRUE(QFile::link(secret, QDir(curation).filePath(QStringLiteral("meta.yaml"))));
    ASSERT_TRUE(ExportCuration(fixture.source, curation, {}).ok());
    EXPECT_EQ(readFile(secret), QByteArray("private"));
    EXPECT_FALSE(QFileInfo(QDir(curation).filePath(QStringLiteral("meta.yaml"))).isSymLink());
    ASSERT_TRUE(
        QDir(QDir(curation).filePath(QStringLiteral("content/example.com"))).removeRecursively());
    ASSERT_TRUE(QFile::link(outside.path(),
                            QDir(curation).filePath(QStringLiteral("content/example.com"))));
    EXPECT_FALSE(ExportCuration(fixture.source, curation, {}).ok());
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files), QStringList{"secret"});
}

TEST(KeptFiles, AMoviesLoadsReachOnlyItsOwnSiteOrThePublicWebWhereverTheyLead)
{
    // The user's own machine runs a service a movie must never read.
    TestServer service;
    std::atomic<int> asked{0};
    service.server().Get("/secret", [&](const httplib::Request&, httplib::Response& reply) {
        ++asked;
        reply.set_content("the router's password", "text/plain");
    });
    service.start();
    const std::string port = std::to_string(service.port());
    // The movie's own site, on this machine too: its own files are kept.
    TestServer site;
    site.server().Get("/own.txt", [](const httplib::Request&, httplib::Response& reply) {
        reply.set_content("mine", "text/plain");
    });
    site.server().Get("/go", [&](const httplib::Request&, httplib::Response& reply) {
        reply.set_redirect("http://127.0.0.1:" + port + "/secret");
    });
    site.start();

    QTemporaryDir folder;
    FileKeeper keeper(folder.path(), QUrl(QString::fromStdString(site.url("/m.swf"))));
    const auto keep = [&](const std::string& address) {
        std::optional<QString> outcome;
        keeper.keep(QUrl(QString::fromStdString(address)),
                    [&](const KeptFile* kept, const QString& error) {
                        outcome = kept ? QString() : error;
                    });
        return waitUntil([&] { return outcome.has_value(); }, 60000) ? *outcome
                                                                     : QStringLiteral("(none)");
    };
    EXPECT_EQ(keep(site.url("/own.txt")), QString()) << "the movie's own site";
    for (const std::string& hostile :
         {site.url("/go"), "http://127.1:" + port + "/secret",
          "http://0x7f000001:" + port + "/secret", "http://[::1]:" + port + "/secret",
          "http://127.0.0.1:" + port + "/secret"}) {
        SCOPED_TRACE(hostile);
        EXPECT_FALSE(keep(hostile).isEmpty());
    }
    // A name this machine resolves to one of its own addresses, where it has one.
    const std::string self = QSysInfo::machineHostName().toStdString();
    addrinfo* found = nullptr;
    if (::getaddrinfo(self.c_str(), nullptr, nullptr, &found) == 0 && found) {
        char text[INET6_ADDRSTRLEN] = {};
        const sockaddr* address = found->ai_addr;
        ::inet_ntop(
            address->sa_family,
            address->sa_family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr)
                : static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr),
            text, sizeof text);
        ::freeaddrinfo(found);
        if (transfer::IsInwardAddress(text)) {
            EXPECT_FALSE(keep("http://" + self + ":" + port + "/secret").isEmpty()) << text;
        }
    }
    EXPECT_EQ(asked.load(), 0) << "the service was never asked";
    EXPECT_EQ(ReadManifest(folder.path()).files.size(), 1);
}

TEST(KeptFiles, ParallelTransfersKeepNoMoreFilesThanTheBoundAndLongNamesAreKept)
{
    TestServer site;
    site.server().Get(R"(/f/(.+))", [](const httplib::Request&, httplib::Response& reply) {
        reply.set_content("x", "text/plain");
    });
    site.start();
    QTemporaryDir folder;
    FileKeeper keeper(folder.path(), QUrl(QString::fromStdString(site.url("/m.swf"))));
    const std::string longName(250, 'n'); // with the partial file's suffix, past NAME_MAX
    keeper.keep(QUrl(QString::fromStdString(site.url("/f/" + longName))));
    for (int i = 0; i < kMaxKeptFiles + 10; ++i)
        keeper.keep(QUrl(QString::fromStdString(site.url("/f/" + std::to_string(i)))));
    ASSERT_TRUE(waitUntil([&] { return keeper.isIdle(); }, 120000));
    const KeptManifest& kept = keeper.manifest();
    EXPECT_EQ(kept.files.size(), kMaxKeptFiles);
    EXPECT_TRUE(kept.byUrl(QString::fromStdString(site.url("/f/" + longName))))
        << "a name of 250 bytes";
}

TEST(KeptFiles, ACaptureThatCannotWriteItsManifestFailsAndSaysSo)
{
    SwfMovie movie;
    movie.tags = doAction(getUrl("child.swf", "_level1"));
    const std::string bytes = WriteSwf(movie).toStdString();
    TestServer site;
    site.server().Get(R"(/(\w+)\.swf)", [&](const httplib::Request&, httplib::Response& reply) {
        reply.set_content(bytes, "application/x-shockwave-flash");
    });
    site.start();
    QTemporaryDir into;
    ASSERT_TRUE(QDir(into.path()).mkdir(QStringLiteral("manifest.json"))); // in its place
    const CliRun run =
        RunCliHere({QStringLiteral("capture"), QString::fromStdString(site.url("/parent.swf")),
                    QStringLiteral("--into"), into.path(), QStringLiteral("--seconds"),
                    QStringLiteral("0"), QStringLiteral("--no-archive")});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("manifest.json"))) << qPrintable(run.err);
}

TEST(KeptFiles, NoLinkPlantedInTheLayoutIsWrittenThrough)
{
    TestServer site;
    site.server().Get("/own.txt", [](const httplib::Request&, httplib::Response& reply) {
        reply.set_content("mine", "text/plain");
    });
    site.start();
    const QUrl movie(QString::fromStdString(site.url("/m.swf")));
    const QUrl own(QString::fromStdString(site.url("/own.txt")));
    QTemporaryDir elsewhere;
    const QString victim = QDir(elsewhere.path()).filePath(QStringLiteral("victim"));
    ASSERT_TRUE(writeFile(victim, "untouched"));
    const auto keepIn = [&](const QString& folder) {
        FileKeeper keeper(folder, movie);
        std::optional<bool> kept;
        keeper.keep(own, [&](const KeptFile* file, const QString&) { kept = file != nullptr; });
        EXPECT_TRUE(waitUntil([&] { return kept.has_value(); }, 60000));
        return kept.value_or(false);
    };

    // The site's folder is a link out of the layout.
    QTemporaryDir hostLinked;
    ASSERT_TRUE(
        QFile::link(elsewhere.path(),
                    QDir(hostLinked.path()).filePath(*KeptPathFor(own)).section(u'/', 0, -2)));
    EXPECT_FALSE(keepIn(hostLinked.path()));
    EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files), QStringList{"victim"});

    // The manifest is a link to another file: it is replaced, the file left alone.
    QTemporaryDir manifestLinked;
    ASSERT_TRUE(QFile::link(victim, ManifestPathIn(manifestLinked.path())));
    EXPECT_TRUE(keepIn(manifestLinked.path()));
    EXPECT_EQ(readFile(victim), QByteArray("untouched"));
    EXPECT_FALSE(QFileInfo(ManifestPathIn(manifestLinked.path())).isSymLink());
    EXPECT_EQ(ReadManifest(manifestLinked.path()).files.size(), 1);
}
