#pragma once

#include <QByteArrayView>
#include <QIODevice>
#include <QString>

#include <optional>

/// The facts a movie's header tells.
struct SwfInfo
{
    QString signature; ///< "FWS" plain, "CWS" zlib, "ZWS" LZMA
    int version = 0;
    double width = 0;  ///< pixels
    double height = 0; ///< pixels
    double frameRate = 0;
    int frameCount = 0;
    quint32 declaredLength = 0; ///< the uncompressed length the header announces
};

/// Reads the header of a movie. Returns nothing, with the reason in `error`, for anything that is
/// not a movie or is cut before the end of its header.
std::optional<SwfInfo> ReadSwfInfo(QByteArrayView bytes, QString* error = nullptr);

/// The same for a file, which must also hold the whole movie its header announces: a cut or
/// damaged file returns nothing with the reason.
std::optional<SwfInfo> ReadSwfInfoFromFile(const QString& path, QString* error = nullptr);

/// The uncompressed length of the movie read from `file` at its start (its signature known),
/// counted by decompressing it in pieces; -1 when the compressed data is damaged. A stream cut
/// early counts what it holds.
qint64 MovieLength(QIODevice& file, const QString& signature);
