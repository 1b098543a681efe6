// Movies already on disk brought into the catalogue: what is found, what is filed, and what is
// left alone.

#include "catalogue.h"
#include "keptfiles.h"
#include "movieimport.h"

#include "exportfixture.h"
#include "scriptedprompt.h"
#include "swfwriter.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDirIterator>

#include <sys/resource.h>

namespace {

QByteArray movieColoured(std::uint8_t red)
{
    SwfMovie movie;
    movie.background = {red, 0, 0};
    return WriteSwf(movie);
}

/// A catalogue whose "Downloaded" category files into a folder of the test's.
class ImportTest : public ::testing::Test
{
protected:
    ImportTest()
    {
        CategoryRecord downloaded = CategoryNamed(QStringLiteral("Downloaded"));
        SetFieldText(downloaded.Folder, path("category"));
        catalogue.AddCategory(downloaded);
    }
    QString path(const QString& name) const { return QDir(folder.path()).filePath(name); }
    bool put(const QString& name, const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        return writeFile(path(name), bytes);
    }

    /// A zip of the entries, each stored as it is (so its bytes can be found in the archive)
    /// unless another method is asked.
    bool zip(const QString& name, const QList<std::pair<QByteArray, QByteArray>>& entries,
             zip_int32_t method = ZIP_CM_STORE) const
    {
        int error = 0;
        zip_t* archive = zip_open(QFile::encodeName(path(name)).constData(), ZIP_CREATE, &error);
        if (!archive)
            return false;
        for (const auto& [entry, bytes] : entries) {
            zip_source_t* data =
                zip_source_buffer(archive, bytes.constData(), zip_uint64_t(bytes.size()), 0);
            const zip_int64_t index = zip_file_add(archive, entry.constData(), data, 0);
            zip_set_file_compression(archive, zip_uint64_t(index), method, 0);
        }
        return zip_close(archive) == 0;
    }

    ImportSummary import(const QString& source, bool copy = false)
    {
        ImportPlan plan;
        QString error;
        if (!PlanImport(catalogue, {path(source), {}, copy}, plan, &error)) {
            ImportSummary refused;
            refused.error = error;
            return refused;
        }
        const std::atomic<bool> never{false};
        return FileFoundMovies(catalogue, {}, FindMoviesToImport(plan, never));
    }
    /// Each item's address and file, in order.
    QStringList filed() const
    {
        QStringList items;
        for (int i = 0; i < catalogue.itemCount(); ++i)
            items << FieldText(catalogue.item(i).Url) + u' ' + ItemFilePath(catalogue.item(i));
        return items;
    }
    /// Every file below a folder with its size, to see that nothing was written there.
    QStringList listing(const QString& name) const
    {
        QStringList files;
        QDirIterator it(path(name), QDir::Files | QDir::System | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo file = it.nextFileInfo();
            files << file.filePath() + u' ' + QString::number(file.size());
        }
        files.sort();
        return files;
    }

    QTemporaryDir folder;
    ScriptedPrompt prompt;
    OptionsRecord options = DefaultOptions();
    Catalogue catalogue{prompt, options};
};

} // namespace

TEST_F(ImportTest, AFolderTreeBringsInEveryMovieByItsSignatureInPlaceAndWritesNothingThere)
{
    ASSERT_TRUE(put("tree/a.swf", movieColoured(1)));
    ASSERT_TRUE(put("tree/sub/renamed.bin", movieColoured(2)));
    ASSERT_TRUE(put("tree/sub/copy of a.swf", movieColoured(1)));
    ASSERT_TRUE(put("tree/page.swf", "<html>no movie</html>"));
    ASSERT_TRUE(put("tree/notes.txt", "notes"));
    // A captured movie: the files in its kept-files folder come with it, never as movies.
    ASSERT_TRUE(put("tree/kept/m.swf", movieColoured(3)));
    KeptManifest manifest;
    manifest.movieUrl = QStringLiteral("http://example.com/m.swf");
    manifest.put({QStringLiteral("http://example.com/level.swf"),
                  QStringLiteral("example.com/level.swf"),
                  1,
                  {},
                  QDateTime::currentDateTimeUtc()});
    ASSERT_TRUE(put("tree/kept/m.swf.files/example.com/level.swf", movieColoured(4)));
    ASSERT_TRUE(WriteManifest(path("tree/kept/m.swf.files"), manifest));
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc/passwd"), path("tree/link.swf")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("tree/pipe.swf")).constData(), 0600), 0);
    const QStringList before = listing("tree");

    const ImportSummary first = import("tree");
    ASSERT_TRUE(first.ok()) << qPrintable(first.error);
    EXPECT_EQ(first.added, 3);
    EXPECT_EQ(first.same, 1) << "the copy of a.swf";
    EXPECT_EQ(first.unreadable, 0);
    EXPECT_EQ(first.skipped, 4) << "page.swf, notes.txt, the link and the FIFO";
    // Every file left out is listed with its reason, the one of the same content with the
    // name it is there under; the text counts the skipped by reason.
    QStringList reasons;
    for (const ImportProblem& problem : first.problems)
        reasons << QFileInfo(problem.path).fileName() + u' ' + problem.reason;
    reasons.sort();
    EXPECT_EQ(reasons, QStringList({"copy of a.swf the same as \u00aba.swf\u00bb",
                                    "link.swf a link; links are not followed",
                                    "notes.txt not a Flash movie", "page.swf not a Flash movie",
                                    "pipe.swf not a file (a FIFO, a socket or a device)"}));
    EXPECT_EQ(first.text().section(u'\n', 0, 0),
              QStringLiteral("3 added, 1 the same, 0 unreadable, 4 skipped (1 a link; links are "
                             "not followed, 2 not a Flash movie, 1 not a file (a FIFO, a socket "
                             "or a device))"));
    EXPECT_FALSE(first.text().contains(QStringLiteral("notes.txt")))
        << "a file that is no movie is counted, not listed, in the text";
    QStringList items = filed();
    items.sort();
    const QString tree = path("tree");
    EXPECT_EQ(items,
              QStringList({QUrl::fromLocalFile(tree + "/a.swf").toString() + u' ' + tree + "/a.swf",
                           QUrl::fromLocalFile(tree + "/kept/m.swf").toString() + u' ' + tree +
                               "/kept/m.swf",
                           QUrl::fromLocalFile(tree + "/sub/renamed.bin").toString() + u' ' + tree +
                               "/sub/renamed.bin"}));
    const ItemRecord kept = catalogue.item(
        catalogue.FindItemByUrl(QUrl::fromLocalFile(tree + "/kept/m.swf").toString()));
    EXPECT_EQ(kept.state(), ItemState::Downloaded);
    EXPECT_EQ(kept.extras.sha256, FileSha256(tree + "/kept/m.swf"));
    EXPECT_EQ(kept.extras.keptFiles, 1);
    EXPECT_EQ(kept.extras.keepFiles, std::optional<bool>(false)) << "no site to fetch from";
    EXPECT_EQ(listing("tree"), before) << "nothing is written into the source";
    EXPECT_FALSE(QFileInfo::exists(path("category"))) << "nothing was copied";

    const ImportSummary again = import("tree");
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(again.same, 4);
}

TEST_F(ImportTest, CopiesGoToTheCategorysFolderUnderFreeNamesAndAnArchivesDamageIsReported)
{
    // A movie of the same name already in the category's folder is not replaced.
    ASSERT_TRUE(put("category/a.swf", "someone else's file"));
    ASSERT_TRUE(put("tree/a.swf", movieColoured(1)));
    const ImportSummary copied = import("tree", true);
    ASSERT_EQ(copied.added, 1);
    EXPECT_EQ(readFile(path("category/a.swf")), "someone else's file");
    EXPECT_EQ(readFile(path("category/a (2).swf")), movieColoured(1));
    EXPECT_EQ(FieldText(catalogue.item(0).Url),
              QUrl::fromLocalFile(path("tree/a.swf")).toString(QUrl::FullyEncoded))
        << "a folder's copy keeps the address of where it came from";
    EXPECT_EQ(FieldText(catalogue.item(0).FileName), QStringLiteral("a (2).swf"));

    // An archive: its movies are extracted; a name that leaves it and a damaged entry are not.
    const QString zipFile = path("movies.zip");
    const QByteArray inner = movieColoured(5);
    const QByteArray damaged = movieColoured(7) + QByteArray("DAMAGE-HERE");
    ASSERT_TRUE(zip("movies.zip", {{"games/inner.swf", inner},
                                   {"../evil.swf", movieColoured(6)},
                                   {"games/damaged.swf", damaged}}));
    QByteArray bytes = readFile(zipFile);
    const qsizetype mark = bytes.indexOf("DAMAGE-HERE");
    ASSERT_GT(mark, 0);
    bytes[mark] = 'X'; // the stored entry no longer matches its checksum
    ASSERT_TRUE(writeFile(zipFile, bytes));

    const ImportSummary zipped = import("movies.zip");
    ASSERT_TRUE(zipped.ok()) << qPrintable(zipped.error);
    EXPECT_EQ(zipped.added, 1);
    EXPECT_EQ(zipped.unreadable, 1);
    EXPECT_EQ(zipped.skipped, 1);
    EXPECT_EQ(readFile(path("category/inner.swf")), inner);
    EXPECT_FALSE(QFileInfo::exists(path("evil.swf")));
    EXPECT_FALSE(QFileInfo::exists(path("category/damaged.swf")));
    EXPECT_EQ(catalogue.FindItemByUrl(
                  QUrl::fromLocalFile(path("category/inner.swf")).toString(QUrl::FullyEncoded)),
              1);

    ASSERT_TRUE(put("not-a-zip.zip", "PK? no"));
    EXPECT_FALSE(import("not-a-zip.zip").ok());
    EXPECT_FALSE(import("missing").ok());
}

TEST_F(ImportTest, ABundleOrCurationComesBackAsTheMovieOfItsSiteWithItsFiles)
{
    ExportFixture exported;
    const QString bundle = path("game.ruf");
    const QString curation = path("curation");
    ASSERT_TRUE(ExportRuffleBundle(exported.source, bundle).ok());
    ASSERT_TRUE(ExportCuration(exported.source, curation, {}).ok());
    // A bundle made elsewhere names no site: its content comes out as a folder of its own.
    ASSERT_TRUE(
        put("plain/ruffle-bundle.toml", "[bundle]\nname = 'x'\nurl = \"file:///m/main.swf\"\n"));
    ASSERT_TRUE(put("plain/content/m/main.swf", movieColoured(9)));
    ASSERT_TRUE(put("plain/content/m/data.xml", "<data/>"));

    struct Case
    {
        const char* source;
        QStringList keptAddresses; ///< empty: none kept
    };
    const QString movie = QStringLiteral("https://example.com/games/parent.swf");
    const QString child = QStringLiteral("https://example.com/games/levels/child.swf");
    const Case cases[] = {
        {"game.ruf", {child}},
        {"curation", {child, QStringLiteral("http://cdn.example.org/music.mp3")}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.source);
        catalogue.clearItems();
        const ImportSummary summary = import(QLatin1String(test.source));
        ASSERT_TRUE(summary.ok()) << qPrintable(summary.error);
        ASSERT_EQ(summary.added, 1);
        const ItemRecord item = catalogue.item(0);
        EXPECT_EQ(FieldText(item.Url), movie);
        EXPECT_EQ(readFile(ItemFilePath(item)), readFile(exported.source.movieFile));
        const KeptManifest kept = ReadManifest(KeptFolderOf(ItemFilePath(item)));
        QStringList addresses;
        for (const KeptFile& file : kept.files)
            addresses << file.url;
        addresses.sort();
        QStringList expected = test.keptAddresses;
        expected.sort();
        EXPECT_EQ(addresses, expected);
        EXPECT_EQ(item.extras.keptFiles, expected.size());
        EXPECT_EQ(
            readFile(QDir(KeptFolderOf(ItemFilePath(item))).filePath(*KeptPathFor(QUrl(child)))),
            child.toUtf8());
    }

    catalogue.clearItems();
    const ImportSummary plain = import("plain");
    ASSERT_EQ(plain.added, 1) << qPrintable(plain.text());
    const QString extracted = path("category/plain/m/main.swf");
    EXPECT_EQ(FieldText(catalogue.item(0).Url),
              QUrl::fromLocalFile(extracted).toString(QUrl::FullyEncoded));
    EXPECT_EQ(readFile(path("category/plain/m/data.xml")), "<data/>") << "beside the movie";
}

TEST_F(ImportTest, AHostileBundleOrCurationWritesNothingOutsideTheFolderItMakes)
{
    // The user's file a hostile bundle aims at, and a body that passes a three-byte check.
    const QString victim = path("home/.bashrc");
    ASSERT_TRUE(put("home/.bashrc", "the user's own settings"));
    ASSERT_TRUE(QDir().mkpath(path("category")));
    const QByteArray shell = "FWS=1; echo owned\n";
    const QByteArray movie = movieColoured(1);
    const QByteArray absolute = QFile::encodeName(victim);
    const QByteArray upward = "../../home/.bashrc";

    struct Case
    {
        const char* name;
        QByteArray url; ///< what the description names
        QList<std::pair<QByteArray, QByteArray>> entries;
        const char* told; ///< what the summary must say
    };
    const QByteArray toml = "[bundle]\nname = \"x\"\nurl = \"";
    const Case cases[] = {
        {"absolute", "file:///" + absolute, {{"content/" + absolute, shell}}, "unsafe name"},
        {"upward", "file:///" + upward, {{"content/" + upward, shell}}, "unsafe name"},
        {"backslashes",
         "file:///..\\..\\home\\.bashrc",
         {{"content/..\\..\\home\\.bashrc", shell}},
         "not in it"},
        {"percent-encoded",
         "file:///%2e%2e/%2e%2e/home/.bashrc",
         {{"content/%2e%2e/%2e%2e/home/.bashrc", shell}},
         "unsafe name"},
        {"overlong",
         "file:///%C0%AE%C0%AE/%C0%AE%C0%AE/home/.bashrc",
         {{"content/\xC0\xAE\xC0\xAE/\xC0\xAE\xC0\xAE/home/.bashrc", shell}},
         "not in it"},
        {"a sound movie with an upward neighbour",
         "file:///m.swf",
         {{"content/m.swf", movie}, {"content/" + upward, shell}},
         "unsafe name"},
        {"a neighbour named upward in percent escapes",
         "file:///m.swf",
         {{"content/m.swf", movieColoured(2)}, {"content/%2e%2e/%2e%2e/home/.bashrc", shell}},
         "unsafe name"},
        {"a body that only begins as a movie",
         "file:///m.swf",
         {{"content/m.swf", shell}},
         "unreadable"},
        {"a source that is no web address",
         "file:///m.swf\"\nsource = \"file:///etc/passwd",
         {{"content/m.swf", movie}},
         "no http or https address"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        QList<std::pair<QByteArray, QByteArray>> entries = test.entries;
        entries.prepend({"ruffle-bundle.toml", toml + test.url + "\"\n"});
        const QString bundle = QStringLiteral("evil-%1.ruf").arg(&test - cases);
        ASSERT_TRUE(zip(bundle, entries));
        const QStringList before = listing("home");
        const ImportSummary summary = import(bundle);
        EXPECT_TRUE(summary.text().contains(QLatin1String(test.told)))
            << qPrintable(summary.text());
        EXPECT_EQ(readFile(victim), "the user's own settings");
        EXPECT_EQ(listing("home"), before);
        // Whatever was taken lies in a folder of its own in the category's folder.
        QDirIterator written(path("category"), QDir::Files | QDir::Hidden | QDir::System,
                             QDirIterator::Subdirectories);
        while (written.hasNext())
            EXPECT_NE(readFile(written.next()), shell) << qPrintable(written.filePath());
    }

    // A curation names its movie by its Launch Command: no scheme but the web's, no way out.
    for (const char* launch : {"file:///etc/passwd", "http://example.com/../../../home/.bashrc",
                               "javascript:alert(1)"}) {
        SCOPED_TRACE(launch);
        ASSERT_TRUE(put("curation/meta.yaml", QByteArray("Title: x\nLaunch Command: ") + launch));
        ASSERT_TRUE(put("curation/content/example.com/m.swf", movie));
        const ImportSummary summary = import("curation");
        EXPECT_EQ(summary.added, 0);
        EXPECT_FALSE(summary.ok()) << qPrintable(summary.text());
    }
    EXPECT_EQ(readFile(victim), "the user's own settings");
}

TEST_F(ImportTest, AnImportTakesAnyTreeWholeAndAnArchiveUnpacksToItsBoundOnly)
{
    // Three thousand folders of a movie each, under the everyday limit of open files.
    constexpr int kFolders = 3000;
    for (int i = 0; i < kFolders; ++i) {
        SwfMovie movie;
        movie.frameCount = i + 1; // each its own content
        ASSERT_TRUE(put(QStringLiteral("tree/%1/m.swf").arg(i), WriteSwf(movie)));
    }
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit everyday{std::min<rlim_t>(limit.rlim_cur, 1024), limit.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &everyday), 0);
    const ImportSummary tree = import("tree");
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_EQ(tree.added, kFolders) << qPrintable(tree.text(5));

    // 100 KiB that unpack to 50 MiB: past 200 times its size, an entry is left out, saying why.
    catalogue.clearItems();
    QByteArray noise;
    for (int i = 0; noise.size() < 100 * 1024; ++i)
        noise += static_cast<char>((i * 2654435761u) >> 13);
    ASSERT_TRUE(zip("bomb.zip",
                    {{"small.swf", movieColoured(3)},
                     {"noise.bin", noise},
                     {"huge.swf", QByteArray(50 << 20, '\0')}},
                    ZIP_CM_DEFLATE));
    ASSERT_LT(QFileInfo(path("bomb.zip")).size(), 160 * 1024);
    const ImportSummary bomb = import("bomb.zip");
    EXPECT_EQ(bomb.added, 1);
    EXPECT_TRUE(bomb.text().contains(QStringLiteral("huge.swf: over the import's bound")))
        << qPrintable(bomb.text());
    EXPECT_FALSE(QFile::exists(path("category/huge.swf")));

    // Two entries of one name: the first is taken, the second is reported.
    catalogue.clearItems();
    ASSERT_TRUE(zip("twice.zip", {{"a.swf", movieColoured(4)}, {"b.swf", movieColoured(5)}}));
    ASSERT_TRUE(
        writeFile(path("twice.zip"), readFile(path("twice.zip")).replace("b.swf", "a.swf")));
    const ImportSummary twice = import("twice.zip");
    EXPECT_EQ(twice.added, 1);
    EXPECT_TRUE(twice.text().contains(QStringLiteral("a.swf: a second entry of the same name")))
        << qPrintable(twice.text());
}
