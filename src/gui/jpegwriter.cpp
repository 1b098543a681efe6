#include "jpegwriter.h"

#include "atomicwrite.h"

#include <turbojpeg.h>

#include <memory>

bool SaveJpeg(const QImage& image, const QString& path, int quality, QString* error)
{
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (image.isNull())
        return fail(QStringLiteral("there is no picture to save"));
    // 32-bit RGB is stored B, G, R, X in memory on the little-endian machines this runs on.
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    const std::unique_ptr<void, int (*)(tjhandle)> compressor(tjInitCompress(), tjDestroy);
    if (!compressor)
        return fail(QStringLiteral("the JPEG encoder could not start"));
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(compressor.get(), pixels.constBits(), pixels.width(),
                    static_cast<int>(pixels.bytesPerLine()), pixels.height(), TJPF_BGRX, &jpeg,
                    &size, TJSAMP_420, quality, TJFLAG_ACCURATEDCT) != 0) {
        tjFree(jpeg);
        return fail(QString::fromUtf8(tjGetErrorStr2(compressor.get())));
    }
    const bool written = WriteFileAtomically(
        path, {QByteArrayView(reinterpret_cast<const char*>(jpeg), static_cast<qsizetype>(size))},
        error);
    tjFree(jpeg);
    return written;
}
