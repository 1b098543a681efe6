#include "swfcheck.h"
#include "swfcontents.h"
#include "swfinfo.h"
#include "swfreferences.h"

#include "swfwriter.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <numeric>

TEST(SwfInfo, ReadsTheHeaderOfPlainAndCompressedMovies)
{
    for (const char* signature : {"FWS", "CWS", "ZWS"}) {
        SwfMovie movie;
        movie.signature = signature;
        movie.version = 9;
        movie.widthPixels = 640;
        movie.heightPixels = 480;
        movie.frameRate = 12.5;
        movie.frameCount = 37;
        QString error;
        const auto info = ReadSwfInfo(WriteSwf(movie), &error);
        ASSERT_TRUE(info) << signature << ": " << qPrintable(error);
        EXPECT_EQ(info->signature, QString::fromLatin1(signature));
        EXPECT_EQ(info->version, 9);
        EXPECT_DOUBLE_EQ(info->width, 640);
        EXPECT_DOUBLE_EQ(info->height, 480);
        EXPECT_DOUBLE_EQ(info->frameRate, 12.5);
        EXPECT_EQ(info->frameCount, 37);
    }
}

TEST(SwfInfo, RefusesWhatIsNotAMovie)
{
    QString error;
    EXPECT_FALSE(ReadSwfInfo("<html>not a movie</html>", &error));
    EXPECT_TRUE(error.contains(QStringLiteral("not a Flash movie")));
    EXPECT_FALSE(ReadSwfInfo("FWS", &error));
    EXPECT_FALSE(ReadSwfInfo(QByteArray(), &error));

    const QByteArray movie = WriteSwf(SwfMovie{});
    EXPECT_FALSE(ReadSwfInfo(movie.left(10), &error)) << "cut inside the frame rectangle";
    QByteArray garbled = WriteSwf(SwfMovie{"CWS"});
    garbled.replace(8, 6, "garble");
    EXPECT_FALSE(ReadSwfInfo(garbled, &error)) << "a broken zlib stream";
    EXPECT_FALSE(ReadSwfInfoFromFile(QStringLiteral("/nonexistent/movie.swf"), &error));
}

TEST(SwfInfo, AFileMustHoldTheWholeMovieItsHeaderAnnounces)
{
    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath(QStringLiteral("m.swf"));
    for (const char* signature : {"FWS", "CWS", "ZWS"}) {
        SwfMovie movie;
        movie.signature = signature;
        movie.frameCount = 400;
        const QByteArray whole = WriteSwf(movie);
        QString error;
        ASSERT_TRUE(writeFile(path, whole));
        EXPECT_TRUE(ReadSwfInfoFromFile(path, &error)) << signature << ": " << qPrintable(error);

        ASSERT_TRUE(writeFile(path, whole.left(whole.size() * 2 / 3)));
        EXPECT_FALSE(ReadSwfInfoFromFile(path, &error)) << signature << " cut";
        EXPECT_TRUE(error.contains(QStringLiteral("cut short")) ||
                    error.contains(QStringLiteral("damaged")))
            << qPrintable(error);
    }

    // 23 bytes whose header claims 32: the frame size read from what is there means nothing.
    const QByteArray cut = QByteArray("FWS\x0a\x20\x00\x00\x00", 8) + QByteArray(15, '\xff');
    ASSERT_TRUE(writeFile(path, cut));
    QString error;
    EXPECT_FALSE(ReadSwfInfoFromFile(path, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(SwfInfo, AFileWhoseLengthDiffersFromItsHeaderIsToldHowAndACutOneHowMuch)
{
    QTemporaryDir folder;
    const QString path = QDir(folder.path()).filePath(QStringLiteral("m.swf"));
    for (const char* signature : {"FWS", "CWS", "ZWS"}) {
        SwfMovie movie;
        movie.signature = signature;
        // An unknown tag of bytes that do not compress: the compressed movie is long.
        movie.tags = QByteArray("\x3f\x03\x00\x02\x00\x00", 6);
        for (int i = 0; i < 512; ++i)
            movie.tags += static_cast<char>((i * 7919) >> 3 ^ i * 31);
        const QByteArray whole = WriteSwf(movie);
        QString error;
        ASSERT_TRUE(writeFile(path, whole));
        const auto info = ReadSwfInfoFromFile(path, &error);
        ASSERT_TRUE(info) << signature;
        EXPECT_EQ(info->fileSize, whole.size());
        EXPECT_EQ(SwfLengthWarning(*info), QString()) << signature;

        ASSERT_TRUE(writeFile(path, whole + "extra"));
        const auto longer = ReadSwfInfoFromFile(path, &error);
        ASSERT_TRUE(longer) << signature;
        EXPECT_FALSE(SwfLengthWarning(*longer).isEmpty()) << signature << " with bytes after it";

        // Cut inside its first hundred bytes, after the header.
        ASSERT_TRUE(writeFile(path, whole.left(60)));
        EXPECT_FALSE(ReadSwfInfoFromFile(path, &error));
        EXPECT_TRUE(error.contains(QStringLiteral(" bytes its header announces")))
            << signature << ": " << qPrintable(error);
    }
}

namespace {

/// A movie of 6 580 bytes or so: an unknown tag of bytes that do not compress, in a frame.
QByteArray largeMovie(const char* signature)
{
    SwfMovie movie;
    movie.signature = signature;
    movie.tags = QByteArray("\x3f\x03\x00\x19\x00\x00", 6);
    for (int i = 0; i < 0x1900; ++i)
        movie.tags += static_cast<char>((i * 7919) >> 3 ^ i * 31);
    return WriteSwf(movie);
}

} // namespace

TEST(MovieCheck, AMovieIsSoundOnlyWhenItsBodyUnpacksWholeAndItsTagsHoldTogether)
{
    const QByteArray plain = largeMovie("FWS");
    QByteArray garbledZlib = largeMovie("CWS");
    garbledZlib.replace(40, 12, "not-zlib-now");
    // A sound header, then noise for as long as it announces.
    QByteArray noise = plain.left(8 + 13);
    for (int i = 0; noise.size() < plain.size(); ++i)
        noise += static_cast<char>((i * 2654435761u) >> 13);
    QByteArray overrun = WriteSwf(SwfMovie{});
    overrun.chop(4);                       // its last ShowFrame and End
    overrun.append("\x54\x00\x00\x00", 4); // a ShowFrame claiming 20 bytes where 2 are left

    struct Case
    {
        const char* name;
        QByteArray bytes;
        const char* reason; ///< nullptr: sound
    };
    const Case cases[] = {
        {"plain", plain, nullptr},
        {"zlib", largeMovie("CWS"), nullptr},
        {"lzma", largeMovie("ZWS"), nullptr},
        {"bytes after its end", plain + "trailing", nullptr},
        {"cut to 300 bytes", plain.left(300), "cut short"},
        {"zlib cut to 300 bytes", largeMovie("CWS").left(300), "cut short"},
        {"lzma cut to 300 bytes", largeMovie("ZWS").left(300), "cut short"},
        {"a corrupt zlib stream", garbledZlib, "damaged"},
        {"a random body after a sound header", noise, "runs past"},
        {"the header only", plain.left(8 + 13), "cut short"},
        {"a tag running past the end", overrun, "runs past"},
        {"three bytes of signature", "FWS", "short"},
        {"no movie", "<html>", "not a Flash movie"},
        {"announcing 3 GiB", QByteArray("CWS\x0a\x00\x00\x00\xc0", 8) + plain.mid(8),
         "more than any movie"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string_view bytes(test.bytes.constData(), std::size_t(test.bytes.size()));
        const QString whole = WhyNotASoundMovie(bytes);
        if (!test.reason)
            EXPECT_EQ(whole, QString());
        else
            EXPECT_TRUE(whole.contains(QLatin1String(test.reason))) << qPrintable(whole);
        // Fed a byte at a time, as a slow copy hands it on, the verdict is the same.
        MovieCheck check;
        for (char byte : bytes) {
            if (!check.add(std::string_view(&byte, 1)))
                break;
        }
        EXPECT_EQ(check.finish(), whole);
    }
}

TEST(SwfContents, EveryFactOfAMovieMadeWithKnownContents)
{
    using namespace swftags;
    const QByteArray xmp =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
        "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:title><rdf:Alt><rdf:li "
        "xml:lang='x-default'>Robot Dance</rdf:li><rdf:li xml:lang='fr'>Danse</rdf:li></rdf:Alt>"
        "</dc:title><dc:description>A robot &amp; its moves</dc:description></rdf:Description>"
        "</rdf:RDF></x:xmpmeta>";
    SwfMovie movie;
    movie.version = 10;
    movie.tags = fileAttributes(0x08 | 0x01) + metadata(xmp) + frameLabel("intro") +
                 defineSprite(5, frameLabel("walk") + frameLabel("intro")) +
                 namedCharacters(56, {"RobotSymbol"}) + namedCharacters(76, {"game.Main"}) +
                 editText(7, "Score: 0", false) +
                 editText(8, "<p align='left'><b>Level</b> &amp; more</p>", true) +
                 doAbc({"levels/one.swf", "Sound"});
    const SwfContents facts = ReadSwfContents(WriteSwf(movie));
    EXPECT_EQ(facts.actionScript, 3);
    EXPECT_TRUE(facts.useNetwork);
    EXPECT_EQ(facts.title, QStringLiteral("Robot Dance"));
    EXPECT_EQ(facts.description, QStringLiteral("A robot & its moves"));
    EXPECT_EQ(facts.frameLabels, (QStringList{QStringLiteral("intro"), QStringLiteral("walk")}));
    EXPECT_EQ(facts.symbols,
              (QStringList{QStringLiteral("RobotSymbol"), QStringLiteral("game.Main")}));
    EXPECT_EQ(facts.texts,
              (QStringList{QStringLiteral("Score: 0"), QStringLiteral("Level & more")}));
    EXPECT_EQ(facts.addresses, QStringList{QStringLiteral("levels/one.swf")});
    EXPECT_TRUE(facts.contains(u"robot dance"));
    EXPECT_TRUE(facts.contains(u"LEVEL &"));
    EXPECT_FALSE(facts.contains(u"Danse")) << "one language of the title is kept";
}

TEST(SwfContents, TheClassesOfItsCodeAreFactsAndTheirPackagesNoFiles)
{
    SwfMovie movie;
    movie.version = 10;
    movie.tags = swftags::doAbc({"org.mangui.hls.flv", "happyworm.jPlayer.skin.flv",
                                 "com.example.flv", "levels/two.swf", "flv.flv"},
                                {{"happyworm.jPlayer", "JplayerMp3"}, {"", "Main"}});
    const QByteArray bytes = WriteSwf(movie);
    const SwfContents facts = ReadSwfContents(bytes);
    EXPECT_EQ(facts.symbols, (QStringList{"happyworm.jPlayer.JplayerMp3", "Main"}));
    EXPECT_TRUE(facts.contains(u"jplayermp3") && facts.contains(u"happyworm"));
    EXPECT_EQ(NamedFileReferences(bytes), (QStringList{"levels/two.swf", "flv.flv"}))
        << "names below the movie's own packages, or below com., org., net., flash., fl. and "
           "mx., are code";
}

TEST(SwfContents, AnOldMovieIsReadAsActionScript1AndItsTextInItsCodePage)
{
    SwfMovie movie;
    movie.version = 5;
    movie.tags =
        swftags::editText(1, "caf\xe9", false) + swftags::doAction(swftags::getUrl("x.swf", ""));
    const SwfContents facts = ReadSwfContents(WriteSwf(movie));
    EXPECT_EQ(facts.actionScript, 1);
    EXPECT_FALSE(facts.useNetwork);
    EXPECT_EQ(facts.texts, QStringList{QStringLiteral("caf\u00e9")});
    EXPECT_EQ(facts.addresses, QStringList{QStringLiteral("x.swf")});
}

TEST(SwfContents, AHostileMovieIsBoundedAndACutOneGivesWhatItHolds)
{
    SwfMovie movie;
    movie.version = 10;
    for (int i = 0; i < 100; ++i)
        movie.tags += swftags::frameLabel(QByteArray(2000, 'a') + QByteArray::number(i));
    const QByteArray bytes = WriteSwf(movie);
    const SwfContents bounded = ReadSwfContents(bytes);
    const qsizetype total =
        std::accumulate(bounded.frameLabels.cbegin(), bounded.frameLabels.cend(), qsizetype(0),
                        [](qsizetype sum, const QString& label) { return sum + label.size(); });
    EXPECT_LE(total, kMaxContentsText);
    EXPECT_GT(bounded.frameLabels.size(), 10);
    for (qsizetype cut = 0; cut < 200; cut += 7)
        EXPECT_LE(ReadSwfContents(bytes.first(cut)).frameLabels.size(), 1);
}
