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
    // Read from a file only (-1 otherwise):
    qint64 fileSize = -1;    ///< bytes in the file
    qint64 movieLength = -1; ///< uncompressed bytes the file holds, header included
    qint64 trailing = 0;     ///< bytes after the end of a compressed movie's stream
};

/// What is odd about a whole movie's length, for a warning: a header that announces less than
/// the movie holds, or bytes after the compressed movie. Empty when nothing is.
QString SwfLengthWarning(const SwfInfo& info);

/// Reads the header of a movie. Returns nothing, with the reason in `error`, for anything that is
/// not a movie or is cut before the end of its header.
std::optional<SwfInfo> ReadSwfInfo(QByteArrayView bytes, QString* error = nullptr);

/// The same for a file, which must also hold the whole movie its header announces: a cut or
/// damaged file returns nothing with the reason.
std::optional<SwfInfo> ReadSwfInfoFromFile(const QString& path, QString* error = nullptr);

/// The uncompressed length of the movie read from `file` at its start (its signature known),
/// counted by decompressing it in pieces; -1 when the compressed data is damaged. A stream cut
/// early counts what it holds. `trailing` gets the bytes that follow a compressed stream's end.
qint64 MovieLength(QIODevice& file, const QString& signature, qint64* trailing = nullptr);
