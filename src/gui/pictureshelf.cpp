#include "pictureshelf.h"

#include "picturecache.h"

#include <QImageReader>

namespace {

/// Pictures waiting beyond this many are those scrolled past long ago: they are dropped.
constexpr std::size_t kMostWanted = 256;
/// A read hands this many pictures over at a time.
constexpr int kBatch = 8;

} // namespace

PictureShelf::PictureShelf(QSize box, qint64 budgetBytes, QObject* parent)
    : QObject(parent)
    , m_box(box)
    , m_shelf(static_cast<int>(std::min<qint64>(budgetBytes / 1024, INT_MAX)))
{
}

PictureShelf::~PictureShelf()
{
    m_reading.cancel();
    m_reading.wait();
}

const PictureShelf::Shelved* PictureShelf::find(const QByteArray& sha256)
{
    if (const Shelved* shelved = m_shelf.object(sha256))
        return shelved;
    if (!IsSha256Hex(sha256) || m_asked.contains(sha256))
        return nullptr;
    m_asked.insert(sha256);
    m_wanted.push_front(sha256);
    if (m_wanted.size() > kMostWanted) {
        m_asked.remove(m_wanted.back());
        m_wanted.pop_back();
    }
    readNext();
    return nullptr;
}

void PictureShelf::forget(const QByteArray& sha256)
{
    m_shelf.remove(sha256);
}

void PictureShelf::readNext()
{
    if (m_reading.isRunning() || m_wanted.empty())
        return;
    QList<QByteArray> batch;
    while (!m_wanted.empty() && batch.size() < kBatch) {
        batch.append(m_wanted.front());
        m_wanted.pop_front();
    }
    m_reading = Background::run(this, [this, batch, box = m_box](const BackgroundTask& task) {
        QList<std::pair<QByteArray, Shelved>> read;
        for (const QByteArray& sha256 : batch) {
            if (task.stopped())
                return;
            const PictureEntry entry = LookUpPicture(sha256);
            Shelved shelved;
            shelved.failure = entry.reason;
            if (entry.kind == PictureEntry::Kind::Picture) {
                // Scaled once here, in the screen's own pixel format: a tile is then drawn by
                // copying its pixels, the cheapest a frame of a scrolling grid can be.
                QImageReader reader(PicturePath(sha256));
                const QImage read = reader.read();
                if (!read.isNull())
                    shelved.picture =
                        read.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            }
            read.append({sha256, shelved});
        }
        task.post([this, read] {
            for (const auto& [sha256, found] : read) {
                m_asked.remove(sha256);
                const qint64 bytes = found.picture.sizeInBytes() + 1024;
                m_shelf.insert(sha256, new Shelved(found), int(bytes / 1024));
                emit shelved(sha256);
            }
            readNext();
        });
    });
}
