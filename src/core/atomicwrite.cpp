#include "atomicwrite.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

QString CannotCreateFileMessage(const QString& path)
{
    return QStringLiteral("Cannot create file %1").arg(QDir::toNativeSeparators(path));
}

bool WriteFileAtomically(const QString& path, std::initializer_list<QByteArrayView> parts,
                         QString* error)
{
    return WriteFileAtomically(
        path,
        [&](const WriteBytes& write) {
            for (QByteArrayView part : parts) {
                if (!write(part))
                    return false;
            }
            return true;
        },
        error);
}

bool WriteFileAtomically(const QString& path, const std::function<bool(const WriteBytes&)>& produce,
                         QString* error)
{
    auto fail = [&] {
        if (error)
            *error = CannotCreateFileMessage(path);
        return false;
    };
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return fail();
    QSaveFile file(path);
    // Unbuffered: a buffered QSaveFile can lose the error of its last write (a full disk in the
    // final block) and still commit a cut file. Writing straight through shows every short write.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail();
    bool written = true;
    const bool produced = produce([&](QByteArrayView bytes) {
        written = written && file.write(bytes.data(), bytes.size()) == bytes.size();
        return written;
    });
    if (!produced || !written) {
        file.cancelWriting();
        return written ? false : fail();
    }
    if (!file.commit())
        return fail();
    return true;
}
