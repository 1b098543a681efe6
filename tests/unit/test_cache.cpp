#include "cacheenumerator.h"
#include "cachepass.h"

#include "cachebuilder.h"
#include "gzip.h"
#include "testfiles.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

const QString kFixtures = QStringLiteral(CLIPVAULT_FIXTURES "/cache");

QStringList urlsIn(const QString& folder)
{
    QStringList urls;
    CacheEnumerator(CacheEnumerator::CachesBelow(folder))
        .EnumerateEntries([&](const CacheEntry& entry, bool&) { urls << entry.url; });
    urls.sort();
    return urls;
}

CacheEntry entryWithUrl(const char* url)
{
    CacheEntry entry;
    entry.url = QString::fromLatin1(url);
    return entry;
}

} // namespace

TEST(CacheKeys, RecoverTheUrl)
{
    EXPECT_EQ(
        UrlFromChromiumKey(
            "1/0/_dk_https://example.com https://example.com https://cdn.example.net/movie.swf"),
        QStringLiteral("https://cdn.example.net/movie.swf"));
    EXPECT_EQ(UrlFromChromiumKey("1/0/https://a.com/"), QStringLiteral("https://a.com/"));
    EXPECT_EQ(UrlFromChromiumKey("1/0/_dk_s_ nothing"), QString());
    EXPECT_EQ(UrlFromFirefoxKey(":http://example.com/movie.swf"),
              QStringLiteral("http://example.com/movie.swf"));
    EXPECT_EQ(UrlFromFirefoxKey("a,:https://x/m.swf"), QStringLiteral("https://x/m.swf"));
    EXPECT_EQ(UrlFromFirefoxKey(
                  "O^partitionKey=%28https%2Cexample.com%29,:https://cdn.example.net/m.swf"),
              QStringLiteral("https://cdn.example.net/m.swf"));
    EXPECT_EQ(UrlFromFirefoxKey("O^a,,b:c,~1,:http://h/x.swf"), QStringLiteral("http://h/x.swf"))
        << "a doubled comma is part of a value, and a colon inside a value ends nothing";
    EXPECT_EQ(UrlFromFirefoxKey("a,p,"), QString());
    EXPECT_EQ(PrintableKey(QStringLiteral("a\nb\x01")), QStringLiteral("a\\x0ab\\x01"));
}

TEST(CacheEntries, EntriesBuiltFromTheFormatAreRead)
{
    const QByteArray body = "FWS movie body";
    const auto chromium = ParseChromiumEntry(MemoryEntryBytes(chromiumEntry(
        "1/0/_dk_http://h http://h http://h/m/movie.swf?v=2", body,
        QByteArray("HTTP/1.1 200 OK\0Content-Type: application/x-shockwave-flash\0\0", 61))));
    ASSERT_TRUE(chromium);
    EXPECT_EQ(chromium->url, QStringLiteral("http://h/m/movie.swf?v=2"));
    EXPECT_EQ(chromium->bodySize, body.size());
    EXPECT_EQ(chromium->extension, QStringLiteral("swf"));
    EXPECT_EQ(chromium->headers,
              QByteArray("HTTP/1.1 200 OK\nContent-Type: application/x-shockwave-flash"));
    EXPECT_EQ(chromium->browser, QStringLiteral("chromium"));

    const auto firefox = ParseFirefoxEntry(MemoryEntryBytes(
        firefoxEntry("a,:http://h/f.swf", body, "HTTP/1.1 200 OK\r\nContent-Length: 14\r\n")));
    ASSERT_TRUE(firefox);
    EXPECT_EQ(firefox->url, QStringLiteral("http://h/f.swf"));
    EXPECT_EQ(firefox->bodyOffset, 0);
    EXPECT_EQ(firefox->bodySize, body.size());
    EXPECT_EQ(firefox->headers, QByteArray("HTTP/1.1 200 OK\nContent-Length: 14"));
}

TEST(CacheEntries, RealEntriesListAndExtractByteForByte)
{
    const QStringList expected{"http://127.0.0.1:8766/big.swf", "http://127.0.0.1:8766/favicon.ico",
                               "http://127.0.0.1:8766/index.html",
                               "http://127.0.0.1:8766/red.swf?v=3"};
    EXPECT_EQ(urlsIn(kFixtures + QStringLiteral("/chromium")), expected);
    EXPECT_EQ(urlsIn(kFixtures + QStringLiteral("/firefox")),
              (QStringList{"http://127.0.0.1:8766/big.swf", "http://127.0.0.1:8766/index.html",
                           "http://127.0.0.1:8766/red.swf?v=3"}));

    QTemporaryDir out;
    CacheEnumerator(CacheEnumerator::CachesBelow(kFixtures))
        .EnumerateEntries([&](const CacheEntry& entry, bool&) {
            if (entry.extension != u"swf")
                return;
            const QString name = entry.url.section(u'/', -1).section(u'?', 0, 0);
            const QString target = QDir(out.path()).filePath(entry.browser + name);
            QString error;
            ASSERT_TRUE(ExtractCachedBody(entry, target, &error)) << qPrintable(error);
            EXPECT_EQ(readFile(target), readFile(kFixtures + QStringLiteral("/served/") + name))
                << qPrintable(entry.file);
        });
    EXPECT_EQ(QDir(out.path()).entryList(QDir::Files).size(), 4);
}

TEST(CacheEntries, GzipBodiesAreDecompressedOnExtraction)
{
    QTemporaryDir folder;
    const QString entries = QDir(folder.path()).filePath(QStringLiteral("p/cache2/entries"));
    QDir().mkpath(entries);
    const QByteArray movie = QByteArray("FWS") + QByteArray(5000, 'z');
    const QByteArray key = ":http://h/packed.swf";
    const QString name = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().toUpper());
    ASSERT_TRUE(
        writeFile(QDir(entries).filePath(name),
                  firefoxEntry(key, gzip(movie), "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n")));
    std::optional<CacheEntry> found;
    CacheEnumerator(CacheEnumerator::CachesBelow(folder.path()))
        .EnumerateEntries([&](const CacheEntry& entry, bool&) { found = entry; });
    ASSERT_TRUE(found);
    const QString target = QDir(folder.path()).filePath(QStringLiteral("packed.swf"));
    ASSERT_TRUE(ExtractCachedBody(*found, target));
    EXPECT_EQ(readFile(target), movie);
}

namespace {

/// A Firefox cache below `root` holding one gzip-encoded entry of `body`, as listed.
std::optional<CacheEntry> packedEntry(const QString& root, const QByteArray& body)
{
    const QString entries = QDir(root).filePath(QStringLiteral("p/cache2/entries"));
    QDir().mkpath(entries);
    const QByteArray key = ":http://h/packed.swf";
    const QString name = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().toUpper());
    EXPECT_TRUE(
        writeFile(QDir(entries).filePath(name),
                  firefoxEntry(key, body, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n")));
    std::optional<CacheEntry> found;
    CacheEnumerator(CacheEnumerator::CachesBelow(root))
        .EnumerateEntries([&](const CacheEntry& entry, bool&) { found = entry; });
    return found;
}

} // namespace

TEST(CacheEntries, EveryGzipMemberIsUnpackedAndABombIsRefused)
{
    QTemporaryDir folder;
    const QString target = QDir(folder.path()).filePath(QStringLiteral("out.swf"));
    const QByteArray first = QByteArray("FWS") + QByteArray(3000, 'a');
    const QByteArray second = QByteArray(4000, 'b');
    const auto twoMembers = packedEntry(folder.path(), gzip(first) + gzip(second));
    ASSERT_TRUE(twoMembers);
    QString error;
    ASSERT_TRUE(ExtractCachedBody(*twoMembers, target, &error)) << qPrintable(error);
    EXPECT_EQ(readFile(target), first + second) << "the second member is not dropped";

    // A small body that unpacks to far more than any movie.
    QTemporaryDir bombFolder;
    const auto bomb = packedEntry(bombFolder.path(), gzip(QByteArray(200 << 20, '\0')));
    ASSERT_TRUE(bomb);
    ASSERT_LT(bomb->bodySize, 1 << 20);
    const QString bombTarget = QDir(bombFolder.path()).filePath(QStringLiteral("bomb.swf"));
    EXPECT_FALSE(ExtractCachedBody(*bomb, bombTarget, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("unpacks to more than"))) << qPrintable(error);
    EXPECT_FALSE(QFile::exists(bombTarget));
}

TEST(CacheDiscovery, AFifoUnderACachesNameNeverHoldsTheWalk)
{
    QTemporaryDir home;
    // A FIFO named "index" where a Chromium cache's index would be, and profiles.ini as a FIFO.
    const QString folder = QDir(home.path()).filePath(QStringLiteral("cache/chromium/Cache"));
    QDir().mkpath(folder);
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + QStringLiteral("/index")).constData(), 0600), 0);
    const QString configHome = QDir(home.path()).filePath(QStringLiteral("config"));
    QDir().mkpath(configHome + QStringLiteral("/mozilla/firefox"));
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(configHome + QStringLiteral("/mozilla/firefox/profiles.ini"))
                     .constData(),
                 0600),
        0);
    EXPECT_TRUE(CacheEnumerator::CachesBelow(home.path()).isEmpty());
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CACHE_HOME",
            QFile::encodeName(QDir(home.path()).filePath(QStringLiteral("cache"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    const QList<CacheLocation> found = CacheEnumerator::DiscoverCaches();
    qputenv("XDG_CACHE_HOME", savedCache);
    qputenv("XDG_CONFIG_HOME", savedConfig);
    EXPECT_TRUE(found.isEmpty());
}

// Every cut and many bit flips of real entries: the readers answer or refuse, never reading
// outside the data (the sanitizers watch), and extraction stays within the file.
TEST(CacheEntries, TruncatedAndCorruptedEntriesNeverBreakTheReaders)
{
    QList<std::pair<QByteArray, bool>> samples;
    for (const QString& file :
         QDir(kFixtures + QStringLiteral("/chromium/Default/Cache/Cache_Data"))
             .entryList({QStringLiteral("*_0")}))
        samples.append(
            {readFile(kFixtures + QStringLiteral("/chromium/Default/Cache/Cache_Data/") + file),
             true});
    for (const QString& file :
         QDir(kFixtures + QStringLiteral("/firefox/cache2/entries")).entryList(QDir::Files))
        samples.append(
            {readFile(kFixtures + QStringLiteral("/firefox/cache2/entries/") + file), false});
    ASSERT_EQ(samples.size(), 7);

    QRandomGenerator random(1207);
    int accepted = 0;
    for (const auto& [bytes, chromium] : samples) {
        auto parse = [chromium = chromium](const QByteArray& data) {
            const MemoryEntryBytes view(data);
            const auto entry = chromium ? ParseChromiumEntry(view) : ParseFirefoxEntry(view);
            if (entry) {
                EXPECT_GE(entry->bodyOffset, 0);
                EXPECT_LE(entry->bodyOffset + entry->bodySize, data.size());
            }
            return entry.has_value();
        };
        ASSERT_TRUE(parse(bytes));
        for (qsizetype cut = 0; cut < bytes.size();
             cut += std::max<qsizetype>(1, bytes.size() / 300))
            accepted += parse(bytes.left(cut));
        for (int flip = 0; flip < 2000; ++flip) {
            QByteArray damaged = bytes;
            const auto at = random.bounded(static_cast<int>(damaged.size()));
            damaged[at] = static_cast<char>(damaged[at] ^ (1 << random.bounded(8)));
            parse(damaged);
        }
    }
    EXPECT_EQ(accepted, 0) << "no cut entry is taken for a whole one";
}

TEST(CacheEntries, TheWalkSkipsWhatIsNotARegularEntryFile)
{
    QTemporaryDir folder;
    const QString data = QDir(folder.path()).filePath(QStringLiteral("Default/Cache/Cache_Data"));
    QDir().mkpath(data);
    QFile::copy(kFixtures + QStringLiteral("/chromium/Default/Cache/Cache_Data/index"),
                data + QStringLiteral("/index"));
    // A FIFO named like an entry must not block the walk; a link is not followed.
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(data + QStringLiteral("/00000000000000aa_0")).constData(), 0600),
        0);
    ASSERT_TRUE(
        QFile::link(QStringLiteral("/etc/passwd"), data + QStringLiteral("/00000000000000bb_0")));
    ASSERT_TRUE(writeFile(data + QStringLiteral("/00000000000000cc_0"), "garbage"));
    const QString real = QDir(kFixtures + QStringLiteral("/chromium/Default/Cache/Cache_Data"))
                             .entryList({QStringLiteral("*_0")})
                             .first();
    QFile::copy(kFixtures + QStringLiteral("/chromium/Default/Cache/Cache_Data/") + real,
                data + u'/' + real);
    EXPECT_EQ(urlsIn(folder.path()).size(), 1);

    bool cancelledAfterOne = true;
    int seen = 0;
    CacheEnumerator(CacheEnumerator::CachesBelow(kFixtures))
        .EnumerateEntries([&](const CacheEntry&, bool& cancel) {
            ++seen;
            cancel = true;
        });
    EXPECT_EQ(seen, 1) << "cancel ends the walk";
    EXPECT_TRUE(cancelledAfterOne);
    EXPECT_FALSE(CacheEnumerator({}).LibraryFound());
    EXPECT_FALSE(CacheEnumerator({}).EnumerateEntries([](const CacheEntry&, bool&) {}));
}

TEST(CachePass, ListsTheSitesMoviesOnceWithoutTheirQuery)
{
    DetectionResults results;
    const QString host = CacheHostOf(QStringLiteral("http://host/dir/page.html"));
    EXPECT_EQ(host, QStringLiteral("host"));
    for (const char* url :
         {"http://host/a/movie.swf?v=2", "http://host/b/UPPER.SWF", "http://host/c/x.swf#frag",
          "http://elsewhere/m.swf", "http://otherhost.com/n.swf", "http://host/a/movie.swf",
          "http://host/a/Movie.swf"})
        CachePassEntry(entryWithUrl(url), host, false, results);
    QStringList addresses;
    for (const ResultRow& row : results.rows())
        addresses << row.address;
    EXPECT_EQ(addresses, (QStringList{"http://host/a/movie.swf", "http://otherhost.com/n.swf",
                                      "http://host/a/Movie.swf"}));
    EXPECT_EQ(results.rows().first().saveAs, QStringLiteral("movie.swf"));
    EXPECT_TRUE(results.rows().first().category.isEmpty());
    EXPECT_FALSE(results.rows().first().checked);

    DetectionResults everything;
    CachePassEntry(entryWithUrl("http://elsewhere/m.swf"), QString(), true, everything);
    CachePassEntry(entryWithUrl("http://elsewhere/m.swf"), QString(), false, everything);
    EXPECT_EQ(everything.rows().size(), 1)
        << "an empty host matches nothing unless every host is wanted";

    EXPECT_EQ(CacheHostOf(QStringLiteral("https://secure.example/x")),
              QStringLiteral("secure.example"));
    EXPECT_EQ(CacheHostOf(QStringLiteral("plain.example")), QStringLiteral("plain.example"));
}

TEST(CacheDiscovery, FindsChromiumProfilesAndFirefoxProfilesOfTheUser)
{
    QTemporaryDir home;
    const QString cacheHome = QDir(home.path()).filePath(QStringLiteral("cache"));
    const QString configHome = QDir(home.path()).filePath(QStringLiteral("config"));
    // A Chromium profile below the cache home, and its code cache, which is no HTTP cache.
    const QString chromium = cacheHome + QStringLiteral("/chromium/Default/Cache/Cache_Data");
    const QString codeCache = cacheHome + QStringLiteral("/chromium/Default/Code Cache/js");
    QDir().mkpath(chromium);
    QDir().mkpath(codeCache);
    for (const QString& folder : {chromium, codeCache})
        QFile::copy(kFixtures + QStringLiteral("/chromium/Default/Cache/Cache_Data/index"),
                    folder + QStringLiteral("/index"));
    // A Firefox profile named by profiles.ini, its cache below the cache home.
    QDir().mkpath(configHome + QStringLiteral("/mozilla/firefox"));
    ASSERT_TRUE(writeFile(configHome + QStringLiteral("/mozilla/firefox/profiles.ini"),
                          "[General]\nStartWithLastProfile=1\n\n[Profile0]\nName="
                          "default\nIsRelative=1\nPath=abcd.default\n"));
    const QString firefox =
        cacheHome + QStringLiteral("/mozilla/firefox/abcd.default/cache2/entries");
    QDir().mkpath(firefox);
    // Profiles that keep their cache inside: the one the program starts in its data folder, and
    // one a running browser names with --user-data-dir (a stand-in named like the browser).
    const QString data = QDir(home.path()).filePath(QStringLiteral("data"));
    const QString ownProfile = data + QStringLiteral("/browser-profile/Default/Cache/Cache_Data");
    const QString runningProfile = QDir(home.path()).filePath(QStringLiteral("running"));
    const QString running = runningProfile + QStringLiteral("/Default/Cache/Cache_Data");
    for (const QString& folder : {ownProfile, running}) {
        QDir().mkpath(folder);
        QFile::copy(kFixtures + QStringLiteral("/chromium/Default/Cache/Cache_Data/index"),
                    folder + QStringLiteral("/index"));
    }
    const QString standIn = QDir(home.path()).filePath(QStringLiteral("chromium"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sh"), standIn));
    QProcess browser;
    browser.start(standIn, {"-c", "sleep 60; true", "--user-data-dir=" + runningProfile});
    ASSERT_TRUE(browser.waitForStarted());

    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    const QStringList profiles = CacheEnumerator::ProfileFolders(data);
    const QList<CacheLocation> found =
        CacheEnumerator::DiscoverCaches(profiles + QStringList{cacheHome});
    qputenv("XDG_CACHE_HOME", savedCache);
    qputenv("XDG_CONFIG_HOME", savedConfig);
    browser.kill();
    browser.waitForFinished();

    // Only what this test made: the browsers the user runs meanwhile are theirs.
    QStringList folders;
    std::optional<CacheLocation::Format> lastFormat;
    for (const CacheLocation& location : found) {
        if (!location.folder.startsWith(QDir(home.path()).absolutePath() + u'/'))
            continue;
        folders << location.folder;
        lastFormat = location.format;
    }
    EXPECT_EQ(folders, (QStringList{QDir(chromium).absolutePath(), QDir(ownProfile).absolutePath(),
                                    QDir(running).absolutePath(), QDir(firefox).absolutePath()}))
        << "each once, the cache home named twice";
    EXPECT_EQ(lastFormat, CacheLocation::Format::FirefoxCache2);
}
