#include "atomicwrite.h"

#include "replacingfile.h"

#include <QDir>
#include <QFileInfo>

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
    // The program's one writer: a link planted at the name is replaced, never written through,
    // and the previous file stays whole until the new one is.
    transfer::ReplacingWriter file(
        QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString());
    bool written = true;
    const bool produced = produce([&](QByteArrayView bytes) {
        written = written &&
                  file.write(std::string_view(bytes.data(), std::size_t(bytes.size())), nullptr);
        return written;
    });
    // An empty file is a file too.
    if (produced && written && file.size() == 0)
        written = file.write({}, nullptr);
    if (!produced && written)
        return false;
    if (!written || !file.commit(nullptr)) {
        if (error)
            *error = CannotCreateFileMessage(path);
        return false;
    }
    return true;
}
