#pragma once

// A movie with files kept beside it, to export, and a zip's entries read back.

#include "keptfiles.h"
#include "movieexport.h"

#include "swfwriter.h"
#include "testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <zip.h>

#include <map>

/// A movie of example.com with two files kept: one beside it, one on another site.
struct ExportFixture
{
    ExportFixture()
    {
        source.movieUrl = QStringLiteral("https://example.com/games/parent.swf");
        source.movieFile = QDir(folder.path()).filePath(QStringLiteral("parent.swf"));
        source.keptRoot = KeptFolderOf(source.movieFile);
        source.title = QStringLiteral("A \"quoted\"\ntitle\\");
        SwfMovie movie;
        movie.tags = swftags::doAction(swftags::getUrl("levels/child.swf", "_level1"));
        writeFile(source.movieFile, WriteSwf(movie));
        KeptManifest manifest;
        manifest.movieUrl = source.movieUrl;
        for (const char* url :
             {"https://example.com/games/levels/child.swf", "http://cdn.example.org/music.mp3"}) {
            const QString path = *KeptPathFor(QUrl(QLatin1String(url)));
            QDir().mkpath(QFileInfo(QDir(source.keptRoot).filePath(path)).path());
            writeFile(QDir(source.keptRoot).filePath(path), QByteArray(url));
            manifest.put({QLatin1String(url), path, 3, "00", QDateTime::currentDateTimeUtc()});
        }
        WriteManifest(source.keptRoot, manifest);
    }
    QTemporaryDir folder;
    ExportSource source;
};

inline std::map<QString, QByteArray> unzipped(const QString& file)
{
    std::map<QString, QByteArray> entries;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(file).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
        QByteArray bytes(static_cast<qsizetype>(stat.size), '\0');
        zip_file_t* entry = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        zip_fread(entry, bytes.data(), stat.size);
        zip_fclose(entry);
        entries[QString::fromUtf8(stat.name)] = bytes;
    }
    zip_close(archive);
    return entries;
}
