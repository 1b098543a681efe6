#include "picturekeeper.h"

#include "catalogue.h"
#include "keptfiles.h"
#include "picturecache.h"

#include <QDir>
#include <QFileInfo>

PictureKeeper::PictureKeeper(Catalogue& catalogue, const QString& program, QObject* parent)
    : QObject(parent)
    , m_catalogue(catalogue)
    , m_maker(program)
{
    connect(&m_maker, &PictureMaker::made, this, &PictureKeeper::made);
    connect(&m_folder, &QFileSystemWatcher::directoryChanged, this, &PictureKeeper::folderChanged);
}

PictureKeeper::~PictureKeeper()
{
    m_looking.cancel();
    m_looking.wait();
    m_maker.stop();
}

void PictureKeeper::gather()
{
    if (isGathering()) {
        m_again = true;
        return;
    }
    m_again = false;
    // Look-ups alone here: whether a file is there, its SHA-256 and what the cache holds are
    // asked off this thread.
    QList<Wanted> movies;
    m_catalogue.items().forEach([&](int, const ItemRecord& item) {
        if (item.State == static_cast<char>(ItemState::Downloaded))
            movies.append({ItemFilePath(item), item.extras.sha256, FieldText(item.Url)});
        return true;
    });
    m_looking = Background::run(this, [this, movies](const BackgroundTask& task) {
        QList<Wanted> wanted;
        QHash<QString, QByteArray> found; // SHA-256 the items lack, by file
        QSet<QByteArray> seen;            // a movie filed twice is drawn once
        for (Wanted movie : movies) {
            if (task.stopped())
                return;
            if (!QFileInfo(movie.file).isFile())
                continue;
            if (movie.sha256.isEmpty()) {
                movie.sha256 = FileSha256(movie.file);
                found.insert(movie.file, movie.sha256);
            }
            if (movie.sha256.isEmpty() || seen.contains(movie.sha256))
                continue;
            seen.insert(movie.sha256);
            if (LookUpPicture(movie.sha256).kind == PictureEntry::Kind::None)
                wanted.append(movie);
        }
        if (!wanted.isEmpty())
            QDir().mkpath(PicturesFolder());
        task.post([this, wanted, found] {
            noteSha256(found);
            watchFolder();
            take(wanted);
        });
    });
}

void PictureKeeper::watchFolder()
{
    const QString folder = PicturesFolder();
    if (m_folder.directories().isEmpty() && QFileInfo(folder).isDir())
        m_folder.addPath(folder);
}

void PictureKeeper::folderChanged()
{
    // Pictures come and go in it all the time; only the folder's end matters here.
    if (QFileInfo(PicturesFolder()).isDir())
        return;
    m_folder.removePaths(m_folder.directories());
    gather();
}

void PictureKeeper::take(const QList<Wanted>& wanted)
{
    // The look asked the cache off this thread; only this keeper draws into it.
    m_done = 0;
    m_total = 0;
    for (const Wanted& movie : wanted) {
        m_drawing.insert(movie.file, movie.sha256);
        m_maker.make(movie.file, PicturePath(movie.sha256), movie.address);
        ++m_total;
    }
    if (m_total > 0)
        emit progress(0, m_total);
    else if (m_again)
        gather();
}

void PictureKeeper::made(const QString& file, bool ok, const QString& reason)
{
    const QByteArray sha256 = m_drawing.take(file);
    if (sha256.isEmpty())
        return;
    if (!ok)
        StorePictureFailure(sha256, reason);
    emit pictureMade(sha256);
    emit progress(++m_done, m_total);
    if (m_maker.isIdle() && m_again)
        gather();
}

void PictureKeeper::noteSha256(const QHash<QString, QByteArray>& found)
{
    if (found.isEmpty())
        return;
    QList<int> positions;
    m_catalogue.items().forEach([&](int index, const ItemRecord& item) {
        if (item.extras.sha256.isEmpty() && found.contains(ItemFilePath(item)))
            positions.append(index);
        return true;
    });
    for (const int index : positions) {
        ItemRecord noted = m_catalogue.item(index);
        noted.extras.sha256 = found.value(ItemFilePath(noted));
        m_catalogue.updateItem(index, noted);
    }
}
