#include "swfinfo.h"

#include "swfwriter.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
