#include "swfinfo.h"

#include "swfwriter.h"

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
