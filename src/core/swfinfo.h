#pragma once

#include <QByteArrayView>
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

/// The same for a file; reads only as much as the header needs.
std::optional<SwfInfo> ReadSwfInfoFromFile(const QString& path, QString* error = nullptr);
