#include "importcopies.h"

#include "atomicwrite.h"
#include "importsource.h"
#include "replacingfile.h"
#include "sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <memory>
#include <sys/stat.h>

QString CopyEntry(const ImportSource& source, const SourceEntry& entry, const QString& folder,
                  const QString& below, qint64 maxBytes, Sha256* hash, qint64* size)
{
    transfer::ReplacingWriter writer(QFile::encodeName(folder).toStdString(),
                                     below.toUtf8().toStdString(), transfer::Placing::NeverOver);
    QString readError;
    std::string writeError;
    const bool read = source.read(
        entry, maxBytes,
        [&](std::string_view bytes) {
            if (hash)
                hash->addData(bytes);
            return writer.write(bytes, &writeError);
        },
        &readError);
    // An empty entry still makes its file.
    if (read && writeError.empty() && writer.size() == 0)
        writer.write({}, &writeError);
    if (!read || !writeError.empty() || !writer.commit(&writeError))
        return readError.isEmpty() ? QString::fromStdString(writeError) : readError;
    if (size)
        *size = qint64(writer.size());
    return {};
}

BundleDescription DescribeBundleOf(const ImportSource& bundle)
{
    return DescribeBundle(bundle.readSmall(kBundleInformation, kMaxDescriptionBytes));
}

QString UnpackContent(const ImportSource& bundle, const SourceEntry& movie, const QString& folder,
                      const SkippedEntry& skipped)
{
    if (const QString why = CopyEntry(bundle, movie, folder, movie.path.mid(kContent.size()),
                                      kMaxMovieBytes, nullptr);
        !why.isEmpty())
        return why;
    for (const SourceEntry& entry : bundle.entries()) {
        if (&entry == &movie || !entry.path.startsWith(kContent))
            continue;
        QString unsafe;
        if (!entry.skipReason.isEmpty())
            skipped(entry, entry.skipReason, true);
        else if (PathBelowFolder(folder, entry.path.mid(kContent.size()), &unsafe).isEmpty())
            skipped(entry, QStringLiteral("an unsafe name (%1)").arg(unsafe), true);
        else if (const QString why =
                     CopyEntry(bundle, entry, folder, entry.path.mid(kContent.size()),
                               kMaxKeptBytes, nullptr);
                 !why.isEmpty())
            skipped(entry, why, false);
    }
    return {};
}

QString MakeNewFolder(const QString& parent, const QString& name, QString* error)
{
    if (PathBelowFolder(parent, name, error).isEmpty() || !QDir().mkpath(parent)) {
        if (error->isEmpty())
            *error = CannotCreateFileMessage(parent);
        return {};
    }
    for (int number = 1; number < 1000; ++number) {
        const QString path = QDir(parent).filePath(
            number == 1 ? name : QStringLiteral("%1 (%2)").arg(name).arg(number));
        if (::mkdir(QFile::encodeName(path).constData(), 0755) == 0)
            return path;
        if (errno != EEXIST)
            break;
    }
    *error = CannotCreateFileMessage(QDir(parent).filePath(name));
    return {};
}

bool IsRuffleBundle(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QFileInfo(QDir(path).filePath(kBundleInformation)).isFile();
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly) || file.read(2) != "PK")
        return false;
    QString error;
    const std::unique_ptr<ImportSource> bundle = ImportSource::open(path, &error);
    return bundle && bundle->has(kBundleInformation);
}

QString UnpackRuffleBundle(const QString& bundle, const QString& folder, QString* error)
{
    const std::unique_ptr<ImportSource> source = ImportSource::open(bundle, error);
    if (!source)
        return {};
    const QString moviePath = DescribeBundleOf(*source).moviePath;
    const SourceEntry* movie = source->find(moviePath);
    if (moviePath.isEmpty() || !movie || !movie->skipReason.isEmpty()) {
        *error = QStringLiteral("the bundle names no movie it holds");
        return {};
    }
    const QString made =
        MakeNewFolder(QFileInfo(folder).path(), QFileInfo(folder).fileName(), error);
    if (made.isEmpty())
        return {};
    *error = UnpackContent(*source, *movie, made, [](const SourceEntry&, const QString&, bool) {});
    return error->isEmpty() ? QDir(made).filePath(moviePath.mid(kContent.size())) : QString();
}
